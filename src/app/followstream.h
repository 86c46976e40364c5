// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

#include "followreading.h"

class CaptureStore;
class HexWindow;
class PacketRows;
class QTableWidget;
class QWidget;

// Opens a stream window over the TCP connection of the row's segment, a
// child window of `parent`, and shows it; while `capturing` says a capture
// runs, the window takes the connection's new rows. Null, having told the
// user why in a box, when the row cannot be followed (no such row, its
// frame is no longer stored, it holds no TCP segment).
//
// The frames are read on a thread of their own while the interface goes on;
// a follow that takes longer than a moment shows its progress in a dialog
// over `parent`, which can cancel it: null then, without a box. The
// window's new rows are read in the same way.
HexWindow* open_stream_window(QWidget* parent, const PacketRows& rows, const CaptureStore* store,
                              int row, const std::function<bool()>& capturing);

// "追踪TCP流" for the table: in its context menu (on the row clicked) and
// as Ctrl+Alt+Shift+T in `window` (on the current row). `follow` is called
// with the row.
void add_follow_action(QTableWidget* table, QWidget* window,
                       const std::function<void(int)>& follow);
