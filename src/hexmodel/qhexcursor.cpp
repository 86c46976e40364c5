// SPDX-License-Identifier: GPL-2.0-or-later

#include "qhexcursor.h"

#include <algorithm>
#include <limits>

QHexCursor::QHexCursor(QObject* parent)
    : QObject(parent)
{ }

const QHexPosition& QHexCursor::selectionStart() const
{
    return m_position < m_anchor ? m_position : m_anchor;
}

const QHexPosition& QHexCursor::selectionEnd() const
{
    return m_position > m_anchor ? m_position : m_anchor;
}

int QHexCursor::selectionLength() const
{
    // In 32-bit arithmetic: the ends of a selection far outside any document
    // can lie more than 2^63 apart, which a signed difference cannot hold.
    const quint64 span = static_cast<quint64>(selectionEnd().offset())
            - static_cast<quint64>(selectionStart().offset()) + 1;
    return static_cast<int>(static_cast<quint32>(span));
}

bool QHexCursor::isLineSelected(quint64 line) const
{
    if (!hasSelection())
        return false;
    return selectionStart().line <= line && line <= selectionEnd().line;
}

void QHexCursor::clearSelection()
{
    m_anchor = m_position;
    emit positionChanged();
}

void QHexCursor::moveTo(const QHexPosition& pos)
{
    moveTo(pos.line, pos.column, pos.nibbleIndex);
}

void QHexCursor::moveTo(quint64 line, int column, int nibbleIndex)
{
    m_position.line = line;
    m_position.column = column;
    m_position.nibbleIndex = nibbleIndex;
    m_anchor = m_position;
    emit positionChanged();
}

void QHexCursor::moveTo(qint64 offset)
{
    const qint64 line = offset / m_lineWidth;
    moveTo(static_cast<quint64>(line), static_cast<int>(offset - line * m_lineWidth), 1);
}

void QHexCursor::select(const QHexPosition& pos)
{
    select(pos.line, pos.column, pos.nibbleIndex);
}

void QHexCursor::select(quint64 line, int column, int nibbleIndex)
{
    m_position.line = line;
    m_position.column = column;
    m_position.nibbleIndex = nibbleIndex;
    emit positionChanged();
}

void QHexCursor::select(int length)
{
    m_position.nibbleIndex = 1;
    m_position.column = qMin(m_position.column + length - 1, m_lineWidth - 1);
    emit positionChanged();
}

void QHexCursor::selectOffset(qint64 offset, int length)
{
    moveTo(offset);
    select(length);
}

void QHexCursor::setInsertionMode(InsertionMode mode)
{
    if (mode == m_insertionmode)
        return;
    m_insertionmode = mode;
    emit insertionModeChanged();
}

void QHexCursor::switchInsertionMode()
{
    m_insertionmode = m_insertionmode == OverwriteMode ? InsertMode : OverwriteMode;
    emit insertionModeChanged();
}

void QHexCursor::setLineWidth(quint8 width)
{
    if (width == 0)
        return; // would make every offset a division by zero
    m_lineWidth = width;
    m_position.lineWidth = width;
    m_anchor.lineWidth = width;
}

qint64 selectionSpan(const QHexCursor& cursor)
{
    // Offsets count modulo 2^64 (QHexPosition::offset): so does their
    // difference.
    const quint64 span = static_cast<quint64>(cursor.selectionEnd().offset())
            - static_cast<quint64>(cursor.selectionStart().offset()) + 1;
    constexpr auto kMost = static_cast<quint64>(std::numeric_limits<qint64>::max());
    return static_cast<qint64>(std::min(span, kMost));
}
