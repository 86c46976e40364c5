#include <QApplication>
#include <QLocale>

#include "mainwindow.h"
#include "translation.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Names of the settings file: ~/.config/Tarnlook/tarnlook.conf
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnlook"));
    QCoreApplication::setApplicationName(QStringLiteral("tarnlook"));
    install_translation(app, QLocale::system());
    MainWindow window;
    window.show();
    return app.exec();
}
