#include <cstdio>

#include <QApplication>
#include <QLocale>

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
    MainWindow window;
    window.show();
    return app.exec();
}
