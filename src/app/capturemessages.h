// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>

class QWidget;

// What the user is told when a capture ends by itself: failure is a
// CUpdate::Failure, detail what the capture said with it, rows how many rows
// the table holds now.
QString capture_failure_text(int failure, const QString& detail, int rows);
// A warning box over parent whose text is shown as plain text, whatever it
// holds: for texts that carry what a file, another host or a path said,
// which a box would otherwise take for rich text when it looks like it.
void show_plain_warning(QWidget* parent, const QString& title, const QString& text);
