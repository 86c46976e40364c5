#include <QApplication>

#include "hexcommandline.h"
#include "hexwindow.h"
#include "mainwindow.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
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
