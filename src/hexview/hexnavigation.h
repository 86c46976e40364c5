// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <optional>

#include <QtGlobal>

// Where the caret of a hex view stands: line, byte within the line and hex
// digit of that byte (1 = the first, high-order digit; 0 = the second).
struct HexCaret
{
    quint64 line;
    int column;
    int nibble;
};

// What moving the caret needs to know of a document and of the view over it.
// The append cell is the position at offset length, one past the last byte:
// it is on lastLine at lastColumn and has no second digit.
struct HexLayout
{
    qint64 length;
    int bytesPerLine; // >= 1
    quint64 lastLine;
    int lastColumn;
    quint64 pageLines; // lines one page key moves
    bool hexColumn; // a step is one digit (hex column) or one byte (text column)
};

// The caret moves of the navigation keys, in the order the keys are tried.
enum class HexMove {
    NextChar,
    PreviousChar,
    NextLine,
    PreviousLine,
    NextPage,
    PreviousPage,
    StartOfDocument,
    EndOfDocument,
    StartOfLine,
    EndOfLine
};

// Where a move takes the caret, or nothing when the caret stays where it is
// (at the start or the end of the document). Up, Down and the page moves keep
// the column, also onto a last line that holds fewer bytes; every target but
// the digit steps and End on a full line is on a first digit.
std::optional<HexCaret> hexMoveTarget(HexMove move, const HexLayout& layout, const HexCaret& caret);

// The value (0 to 15) of a hexadecimal digit of either case; nothing for any
// other byte.
std::optional<int> hexDigitValue(uchar key);

// The byte with its first (high-order) or second digit set to value (0 to 15).
uchar hexWithDigit(uchar byte, int value, bool firstDigit);
