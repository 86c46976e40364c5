// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

class CaptureStore;
class HexWindow;
class PacketRows;
class QTableWidget;
class QWidget;
class TlsKeyLogs;

// Opens a TLS stream window over the TCP connection of the row's segment,
// decrypted with the secrets of the key logs, a child window of `parent`,
// and shows it; while `capturing` says a capture runs, the window takes the
// connection's new rows. Null, having told the user why in a box, when the
// row cannot be followed (no such row, its frame is no longer stored), the
// connection is not TLS, or the key logs hold no secrets for it.
//
// The frames are read as "追踪TCP流" reads them (open_stream_window()): on
// a thread of their own, with their progress in a dialog over `parent` that
// can cancel. Null then, without a box, and *cancelled set when given.
HexWindow* open_tls_stream_window(QWidget* parent, const PacketRows& rows,
                                  const CaptureStore* store, int row,
                                  const std::function<bool()>& capturing, const TlsKeyLogs& keys,
                                  bool* cancelled = nullptr);

// "追踪TLS流" for the table: in its context menu (beside "追踪TCP流") and
// as Ctrl+Alt+Shift+S in `window` (on the current row). `follow` is called
// with the row.
void add_follow_tls_action(QTableWidget* table, QWidget* window,
                           const std::function<void(int)>& follow);

// In the stream window of a TCP connection that is TLS: "解密TLS流" in its
// bar, which calls `open`, enabled while the key logs hold the
// connection's secrets.
void offer_tls_view(HexWindow* window, const TlsKeyLogs& keys, const std::function<void()>& open);
