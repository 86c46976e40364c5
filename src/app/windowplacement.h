// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class AppSettings;
class QHeaderView;
class QMainWindow;
class QWidget;

// The size at which a window whose contents want `wanted` (its frame not
// included) opens on a screen whose free area (without panels) is
// `available`, its frame taking `frame` around it: `wanted` where that fits,
// else as much as fits in each direction, but never less than `minimum`.
QSize fitted_size(QSize wanted, QSize minimum, const QRect& available, const QMargins& frame);

// Where a tool window whose frame has `size` goes by the window whose frame
// is `owner`, on a screen whose free area is `available`: beside it (right,
// then left), else below it, with its top level with the owner's or just
// under it, as far as the screen allows; where none of these has room (a
// maximised owner), inside the owner's bottom right corner, and at the
// highest a few pixels under `keep_clear` (the owner's menu bar): never
// over it.
QPoint beside_position(const QRect& owner, const QRect& keep_clear, QSize size,
                       const QRect& available);

// Before the window is first shown: gives it its remembered size (else its
// size hint) fitted into its screen, maximised if it was, and the table
// under `header` its remembered column widths when there is one for every
// column.
void restore_placement(QMainWindow& window, QHeaderView& header, const AppSettings& settings);
// Remembers the window's size (when not maximised) and maximised state and
// the column widths; does nothing for a window not shown (never, or no
// longer: remember it as it closes).
void save_placement(const QMainWindow& window, const QHeaderView& header, AppSettings& settings);

// The filter form opens beside the window, or under its menu bar, never
// over it. Where the user put it stays, unless that covers the menu bar.
// Does nothing while the form is shown.
void place_filter_form(const QMainWindow& window, QWidget& form);
