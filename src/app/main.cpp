// SPDX-License-Identifier: GPL-2.0-or-later

#include <cstdio>
#include <optional>

#include <QApplication>
#include <QLocale>

#include "appsettings.h"
#include "commandline.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "privileges.h"
#include "quitsignals.h"
#include "startup.h"
#include "translation.h"

int main(int argc, char* argv[])
{
    startup::set_default_logging_rules();
    // The command line first: --help and a bad option need no display.
    // Names of the settings file: ~/.config/Tarnlook/tarnlook.conf
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnlook"));
    QCoreApplication::setApplicationName(QStringLiteral("tarnlook"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNLOOK_VERSION));
    std::optional<CommandLine> commandLine;
    {
        const QCoreApplication parsing(argc, argv); // the parser's help text wants one
        // Before the parser is built: its texts are translated as it takes them.
        install_translation(*QCoreApplication::instance(), QLocale::system());
        commandLine.emplace();
        if (commandLine->parse(QCoreApplication::arguments()) == CommandLine::Outcome::Exit) {
            std::fputs(commandLine->output().toLocal8Bit().constData(),
                       commandLine->exitCode() == 0 ? stdout : stderr);
            return commandLine->exitCode();
        }
    }
    const QString no_display = startup::missing_display_message(argc, argv);
    if (!no_display.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(no_display));
        return 1;
    }

    QApplication app(argc, argv);
    install_translation(app, QLocale::system());
    QuitSignals quitSignals;
    // Said once, here and not by the window, so that tests and programs that
    // embed the window as root are not interrupted.
    const QString privileged = privileges::running_privileged() ? privileges::warning() : QString();
    if (!privileged.isEmpty())
        std::fprintf(stderr, "tarnlook: %s\n", privileged.toLocal8Bit().constData());
    // tarnlook --hex FILE: the hex editor alone, over the file.
    if (!commandLine->hex_file.isEmpty()) {
        MainWindow::load_theme(AppSettings().dark_theme() ? 1 : 2);
        if (HexWindow::openFileWindow(commandLine->hex_file) == nullptr)
            return 1;
        return app.exec();
    }
    MainWindow window;
    if (!privileged.isEmpty())
        window.show_notice(privileged);
    window.show();
    if (!commandLine->adapter.isEmpty() && !window.select_adapter(commandLine->adapter)) {
        std::fprintf(stderr, "tarnlook: %s\n",
                     QCoreApplication::translate("CommandLine", "没有这个网卡: %1")
                             .arg(commandLine->adapter)
                             .toLocal8Bit()
                             .constData());
        return 2;
    }
    if (!commandLine->tls_keylog.isEmpty())
        window.load_tls_keylog(commandLine->tls_keylog);
    if (commandLine->start_capture)
        window.start_capture();
    if (!commandLine->file.isEmpty())
        window.open_capture_file(commandLine->file);
    const int status = app.exec();
    window.end_with_process();
    return status;
}
