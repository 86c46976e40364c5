#include <QApplication>

#include "mainwindow.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Names of the settings file: ~/.config/Tarnlook/tarnlook.conf
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnlook"));
    QCoreApplication::setApplicationName(QStringLiteral("tarnlook"));
    MainWindow window;
    window.show();
    return app.exec();
}
