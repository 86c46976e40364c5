#include <cstdio>

#include <QApplication>

#include "commandline.h"
#include "mainwindow.h"
#include "quitsignals.h"

int main(int argc, char* argv[])
{
    // The command line first: --help and a bad option need no display.
    QCoreApplication::setApplicationName(QStringLiteral("tarnlook"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNLOOK_VERSION));
    CommandLine commandLine;
    {
        const QCoreApplication parsing(argc, argv); // the parser's help text wants one
        if (commandLine.parse(QCoreApplication::arguments()) == CommandLine::Outcome::Exit) {
            std::fputs(commandLine.output().toLocal8Bit().constData(),
                       commandLine.exitCode() == 0 ? stdout : stderr);
            return commandLine.exitCode();
        }
    }

    QApplication app(argc, argv);
    QuitSignals quitSignals;
    MainWindow window;
    window.show();
    if (!commandLine.adapter.isEmpty() && !window.select_adapter(commandLine.adapter)) {
        std::fprintf(stderr, "tarnlook: %s\n",
                     QCoreApplication::translate("CommandLine", "没有这个网卡: %1")
                             .arg(commandLine.adapter)
                             .toLocal8Bit()
                             .constData());
        return 2;
    }
    if (commandLine.start_capture)
        window.start_capture();
    if (!commandLine.file.isEmpty())
        window.open_capture_file(commandLine.file);
    return app.exec();
}
