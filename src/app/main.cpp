#include <cstdio>

#include <QApplication>

#include "mainwindow.h"
#include "startup.h"

int main(int argc, char* argv[])
{
    startup::set_default_logging_rules();
    const QString no_display = startup::missing_display_message(argc, argv);
    if (!no_display.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(no_display));
        return 1;
    }

    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
