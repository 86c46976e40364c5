// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>

// What a person may be shown, and a log may hold, of text that came from
// elsewhere (what another host's programs said, a file's words): control
// characters, line and paragraph separators and the marks that reorder
// text each replaced by U+FFFD, tabs by a space; empty lines left out; at
// most max_lines lines, the last ones (those before marked by a first line
// "…"), each of at most max_line_length characters (a longer one cut, with
// "…" at its end).
QString text_excerpt(const QString& text, int max_lines = 10, int max_line_length = 160);
