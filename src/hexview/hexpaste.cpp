// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexpaste.h"

#include "qhexcursor.h"
#include "qhexdocument.h"

namespace {

// The document pastes at its cursor's position once the selection is gone.
// With the position on the selection's first byte that is where the selection
// was, and never past the end of the data.
void prepareForPaste(QHexDocument& document)
{
    QHexCursor* cursor = document.cursor();
    const qint64 length = document.length();
    if (!cursor->hasSelection()) {
        if (cursor->position().offset() > length)
            cursor->moveTo(length);
        return;
    }
    if (cursor->selectionStart().offset() >= length) {
        cursor->moveTo(length); // nothing of the selection is data
        return;
    }
    const QHexPosition position = cursor->position();
    if (position.offset() <= cursor->selectionStart().offset())
        return;
    const QHexPosition anchor { cursor->anchorLine(), cursor->anchorColumn(), position.lineWidth,
                                cursor->anchorNibble() };
    cursor->moveTo(position);
    cursor->select(anchor);
}

} // namespace

void pasteOverSelection(QHexDocument& document, bool hex)
{
    prepareForPaste(document);
    document.paste(hex);
}
