// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

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
HexWindow* open_stream_window(QWidget* parent, const PacketRows& rows, const CaptureStore* store,
                              int row, const std::function<bool()>& capturing);

// "追踪TCP流" for the table: in its context menu (on the row clicked) and
// as Ctrl+Alt+Shift+T in `window` (on the current row). `follow` is called
// with the row.
void add_follow_action(QTableWidget* table, QWidget* window,
                       const std::function<void(int)>& follow);
