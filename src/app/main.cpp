#include <cstdio>

#include <QApplication>
#include <QLocale>

#include "hexcommandline.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "startup.h"
#include "translation.h"

int main(int argc, char* argv[])
{
    startup::set_default_logging_rules();
    const QString no_display = startup::missing_display_message(argc, argv);
    if (!no_display.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(no_display));
        return 1;
    }

    QApplication app(argc, argv);
    // Names of the settings file: ~/.config/Tarnlook/tarnlook.conf
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnlook"));
    QCoreApplication::setApplicationName(QStringLiteral("tarnlook"));
    install_translation(app, QLocale::system());
    // tarnlook --hex FILE: the hex editor alone, over the file.
    if (const std::optional<QString> file = hexFileArgument(QApplication::arguments())) {
        if (HexWindow::openFileWindow(*file) == nullptr)
            return 1;
        return app.exec();
    }
    MainWindow window;
    window.show();
    return app.exec();
}
