#include <QApplication>
#include <QLocale>

#include "mainwindow.h"
#include "translation.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    install_translation(app, QLocale::system());
    MainWindow window;
    window.show();
    return app.exec();
}
