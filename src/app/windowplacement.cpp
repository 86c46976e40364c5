// SPDX-License-Identifier: GPL-2.0-or-later

#include "windowplacement.h"

#include <algorithm>

#include <QGuiApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QScreen>

#include "appsettings.h"

namespace {

// What the window manager's title bar and borders take, guessed: before the
// window is shown nobody knows.
const QMargins kFrameAllowance(8, 40, 8, 8);

} // namespace

QSize fitted_size(QSize wanted, QSize minimum, const QRect& available, const QMargins& frame)
{
    const QSize room = available.marginsRemoved(frame).size();
    return wanted.boundedTo(room).expandedTo(minimum);
}

void restore_placement(QMainWindow& window, QHeaderView& header, const AppSettings& settings)
{
    const QScreen* screen = window.screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QSize wanted = settings.window_size().value_or(window.sizeHint());
    if (screen != nullptr)
        window.resize(fitted_size(wanted, window.minimumSizeHint(), screen->availableGeometry(),
                                  kFrameAllowance));
    else
        window.resize(wanted);
    if (settings.window_maximized())
        window.setWindowState(window.windowState() | Qt::WindowMaximized);

    const QList<int> widths = settings.column_widths();
    if (widths.size() == header.count())
        for (int column = 0; column < widths.size(); ++column)
            header.resizeSection(column, widths.at(column));
}

void save_placement(const QMainWindow& window, const QHeaderView& header, AppSettings& settings)
{
    if (!window.isVisible())
        return;
    const bool maximized = window.isMaximized();
    settings.set_window_maximized(maximized);
    settings.set_window_size(maximized ? window.normalGeometry().size() : window.size());
    QList<int> widths;
    for (int column = 0; column < header.count(); ++column)
        widths.append(header.sectionSize(column));
    settings.set_column_widths(widths);
}
