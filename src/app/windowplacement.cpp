// SPDX-License-Identifier: GPL-2.0-or-later

#include "windowplacement.h"

#include <algorithm>

#include <QGuiApplication>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenuBar>
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

// The filter form opens beside the window, or under its menu bar, never
// over it (a click meant for "文件" ticked a box). Where the user put it
// stays, unless that covers the menu bar.
void place_filter_form(const QMainWindow& window, QWidget& form)
{
    if (form.isVisible() || window.screen() == nullptr)
        return;
    const QRect menu(window.menuBar()->mapToGlobal(QPoint(0, 0)), window.menuBar()->size());
    const auto frame_of = [](const QWidget& widget) {
        const QRect frame = widget.frameGeometry();
        const QRect inside = widget.geometry();
        return QMargins(inside.left() - frame.left(), inside.top() - frame.top(),
                        frame.right() - inside.right(), frame.bottom() - inside.bottom());
    };
    // A form never shown has no frame yet: taken to be the window's, but no
    // thinner than a usual frame (a maximised window may have none at its
    // sides). Its position is that of its frame either way.
    const QMargins known = frame_of(form);
    const QMargins guess = frame_of(window);
    const QMargins frame = !known.isNull()
            ? known
            : QMargins(std::max(guess.left(), 4), std::max(guess.top(), 24),
                       std::max(guess.right(), 4), std::max(guess.bottom(), 8));
    const QSize size = form.size().grownBy(frame);
    if (form.testAttribute(Qt::WA_Moved) && !QRect(form.pos(), size).intersects(menu))
        return;
    const QPoint at = beside_position(window.frameGeometry(), menu, size,
                                      window.screen()->availableGeometry());
    form.move(at);
}
