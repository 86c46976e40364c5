// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>
#include <QtGlobal>

// What a "go to offset" entry asks for. The text is hexadecimal with a 0x
// prefix ("0x1F40"), decimal ("8000"), or either form after + or - for a
// distance from the current offset ("+100", "-0x10"); spaces around it are
// ignored. The target must lie in [0, length]: length is the append
// position.
struct HexOffsetEntry
{
    enum Error { None, Malformed, OutOfRange };

    Error error = Malformed;
    qint64 offset = -1; // the target when error is None, else -1

    static HexOffsetEntry parse(const QString& text, qint64 current, qint64 length);
};
