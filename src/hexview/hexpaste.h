// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

class QHexDocument;

// A paste as the view's keys and the window's Edit menu do it: the
// clipboard's bytes (or, with hex, the bytes its hex digits stand for) go
// where the selection begins, replacing it, or at the cursor without one;
// never past the end of the data. Nothing when the clipboard is empty.
void pasteOverSelection(QHexDocument& document, bool hex);
