// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexnavigation.h"

namespace {

// One step right: a digit in the hex column, a byte in the text column. The
// append cell is the last stop; it has a first digit only.
std::optional<HexCaret> stepForward(const HexLayout& layout, HexCaret caret)
{
    const bool atEnd = caret.line >= layout.lastLine && caret.column >= layout.lastColumn;
    if (atEnd && (!layout.hexColumn || caret.nibble == 0))
        return std::nullopt;

    if (layout.hexColumn && caret.nibble == 1) {
        const qint64 offset = static_cast<qint64>(caret.line * layout.bytesPerLine) + caret.column;
        if (offset >= layout.length)
            return std::nullopt;
        caret.nibble = 0;
    } else {
        ++caret.column;
        caret.nibble = 1;
    }

    if (caret.column >= layout.bytesPerLine) {
        caret.line = qMin(caret.line + 1, layout.lastLine);
        caret.column = 0;
        caret.nibble = 1;
    }
    caret.column = qMin(caret.column, layout.bytesPerLine - 1);
    return caret;
}

// One step left; from the first byte of a line onto the second digit of the
// previous line's last byte.
std::optional<HexCaret> stepBackward(const HexLayout& layout, HexCaret caret)
{
    if (caret.line == 0 && caret.column == 0 && (!layout.hexColumn || caret.nibble == 1))
        return std::nullopt;

    if (layout.hexColumn && caret.nibble == 0) {
        caret.nibble = 1;
    } else {
        --caret.column;
        caret.nibble = layout.hexColumn ? 0 : 1;
    }

    if (caret.column < 0 && caret.line > 0) {
        --caret.line;
        caret.column = layout.bytesPerLine - 1;
        caret.nibble = 0;
    }
    caret.column = qMax(caret.column, 0);
    return caret;
}

} // namespace

std::optional<HexCaret> hexMoveTarget(HexMove move, const HexLayout& layout, const HexCaret& caret)
{
    // A caret past the last line (left there by an undo that shortened the
    // document) is treated as being on it: no line move goes further out.
    const bool onLastLine = caret.line >= layout.lastLine;
    switch (move) {
    case HexMove::NextChar:
        return stepForward(layout, caret);
    case HexMove::PreviousChar:
        return stepBackward(layout, caret);
    case HexMove::NextLine:
        if (onLastLine)
            return std::nullopt;
        return HexCaret { caret.line + 1, caret.column, 1 };
    case HexMove::PreviousLine:
        if (caret.line == 0)
            return std::nullopt;
        return HexCaret { caret.line - 1, caret.column, 1 };
    case HexMove::NextPage:
        if (onLastLine)
            return std::nullopt;
        // Compared before adding: a page of 2^64 - 1 lines must not wrap.
        return HexCaret { layout.lastLine - caret.line > layout.pageLines
                                  ? caret.line + layout.pageLines
                                  : layout.lastLine,
                          caret.column, 1 };
    case HexMove::PreviousPage:
        if (caret.line == 0)
            return std::nullopt;
        return HexCaret { caret.line > layout.pageLines ? caret.line - layout.pageLines : 0,
                          caret.column, 1 };
    case HexMove::StartOfDocument:
        if (caret.line == 0)
            return std::nullopt;
        return HexCaret { 0, 0, 1 };
    case HexMove::EndOfDocument:
        if (caret.line == layout.lastLine)
            return std::nullopt;
        return HexCaret { layout.lastLine, layout.lastColumn, 1 };
    case HexMove::StartOfLine:
        return HexCaret { caret.line, 0, 1 };
    case HexMove::EndOfLine:
        if (onLastLine)
            return HexCaret { caret.line, layout.lastColumn, 1 };
        return HexCaret { caret.line, layout.bytesPerLine - 1, 0 };
    }
    return std::nullopt;
}

std::optional<int> hexDigitValue(uchar key)
{
    if (key >= '0' && key <= '9')
        return key - '0';
    if (key >= 'a' && key <= 'f')
        return key - 'a' + 10;
    // The hex column shows upper-case digits, so it takes them too.
    if (key >= 'A' && key <= 'F')
        return key - 'A' + 10;
    return std::nullopt;
}

uchar hexWithDigit(uchar byte, int value, bool firstDigit)
{
    if (firstDigit)
        return static_cast<uchar>((byte & 0x0F) | ((value & 0x0F) << 4));
    return static_cast<uchar>((byte & 0xF0) | (value & 0x0F));
}
