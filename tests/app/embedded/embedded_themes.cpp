// Loads both themes through the app library and says whether each one was
// found; exits 0 only when both were.
#include <cstdio>

#include <QApplication>

#include "mainwindow.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    MainWindow window;
    window.load_theme(1);
    const QString dark = app.styleSheet();
    window.load_theme(2);
    const QString light = app.styleSheet();
    std::printf("dark theme: %d characters, light theme: %d characters\n",
                static_cast<int>(dark.size()), static_cast<int>(light.size()));
    return !dark.isEmpty() && !light.isEmpty() && dark != light ? 0 : 1;
}
