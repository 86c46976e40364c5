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
// Between a window put under another's menu bar and that bar, in pixels.
constexpr int kClearance = 4;

} // namespace

QSize fitted_size(QSize wanted, QSize minimum, const QRect& available, const QMargins& frame)
{
    const QSize room = available.marginsRemoved(frame).size();
    return wanted.boundedTo(room).expandedTo(minimum);
}

QPoint beside_position(const QRect& owner, const QRect& keep_clear, QSize size,
                       const QRect& available)
{
    // Level with the owner's top, moved up as far as needed to fit.
    const int top = std::max(available.top(),
                             std::min(owner.top(), available.bottom() + 1 - size.height()));
    if (owner.right() + size.width() <= available.right())
        return { owner.right() + 1, top };
    if (owner.left() - size.width() >= available.left())
        return { owner.left() - size.width(), top };
    const int left = std::max(available.left(),
                              std::min(owner.left(), available.right() + 1 - size.width()));
    if (owner.bottom() + size.height() <= available.bottom())
        return { left, owner.bottom() + 1 };
    // Inside the owner, in its bottom right corner, over what it shows
    // least (not its buttons at the top), but a few pixels under the menu
    // bar at the highest (room for a frame guessed a little wrong) even
    // where that leaves its bottom off the screen.
    const int right = std::min(owner.right(), available.right());
    const int bottom = std::min(owner.bottom(), available.bottom());
    return { std::max(available.left(), right + 1 - size.width()),
             std::max(keep_clear.bottom() + 1 + kClearance,
                      bottom + 1 - size.height() - kClearance) };
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
