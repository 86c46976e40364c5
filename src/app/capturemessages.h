// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>

// What the user is told when a capture ends by itself: failure is a
// CUpdate::Failure, detail what the capture said with it, rows how many rows
// the table holds now.
QString capture_failure_text(int failure, const QString& detail, int rows);
