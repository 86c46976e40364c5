// SPDX-License-Identifier: GPL-2.0-or-later

// Loads both themes through the app library and says whether each one was
// found; exits 0 only when both were.
#include <cstdio>

#include <QApplication>

#include "mainwindow.h"

namespace {

// A theme's sheet names the icons of its own palette.
bool is_theme(const QString& sheet, const char* theme)
{
    return sheet.contains(QStringLiteral(":/qss_icons/%1/rc/").arg(QLatin1String(theme)));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    MainWindow window;
    window.load_theme(1);
    const bool dark = is_theme(app.styleSheet(), "dark");
    window.load_theme(2);
    const bool light = is_theme(app.styleSheet(), "light");
    std::printf("dark theme %s, light theme %s\n", dark ? "loaded" : "MISSING",
                light ? "loaded" : "MISSING");
    return dark && light ? 0 : 1;
}
