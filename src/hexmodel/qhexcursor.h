// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QObject>

enum InsertionMode { OverwriteMode = 0, InsertMode = 1 };

// A caret position: line, byte within the line, bytes per line, and which
// hex digit of the byte (1 = high-order, 0 = low-order). Equal when line,
// column and nibble are; ordered by line, then column.
struct QHexPosition
{
    quint64 line;
    int column;
    quint8 lineWidth;
    int nibbleIndex;

    // Computed modulo 2^64, so that a position far outside any document wraps
    // instead of overflowing.
    qint64 offset() const
    {
        return static_cast<qint64>(line * lineWidth + static_cast<quint64>(qint64(column)));
    }
    bool operator==(const QHexPosition& rhs) const
    {
        return line == rhs.line && column == rhs.column && nibbleIndex == rhs.nibbleIndex;
    }
    bool operator!=(const QHexPosition& rhs) const { return !(*this == rhs); }
    bool operator<(const QHexPosition& rhs) const
    {
        return line < rhs.line || (line == rhs.line && column < rhs.column);
    }
    bool operator>(const QHexPosition& rhs) const { return rhs < *this; }
};

// Where the caret of a document stands, what is selected (from the anchor to
// the position, both ends included) and the insertion mode. Knows nothing of
// the document's length: callers keep positions inside the data.
class QHexCursor : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QHexCursor)

public:
    explicit QHexCursor(QObject* parent = nullptr);

    const QHexPosition& position() const { return m_position; }
    const QHexPosition& selectionStart() const;
    const QHexPosition& selectionEnd() const;
    // Bytes from selectionStart() to selectionEnd(), both included; 1 without
    // a selection.
    int selectionLength() const;
    quint64 currentLine() const { return m_position.line; }
    int currentColumn() const { return m_position.column; }
    int currentNibble() const { return m_position.nibbleIndex; }
    quint64 anchorLine() const { return m_anchor.line; }
    int anchorColumn() const { return m_anchor.column; }
    int anchorNibble() const { return m_anchor.nibbleIndex; }
    InsertionMode insertionMode() const { return m_insertionmode; }
    bool hasSelection() const { return m_position != m_anchor; }
    bool isLineSelected(quint64 line) const;

    // Each of these emits positionChanged once, changed or not.
    void clearSelection();
    void moveTo(const QHexPosition& pos);
    void moveTo(quint64 line, int column, int nibbleIndex);
    // Nibble 1 of the byte at offset, with the cursor's line width.
    void moveTo(qint64 offset);
    // Moves the position only, extending the selection from the anchor.
    void select(const QHexPosition& pos);
    void select(quint64 line, int column, int nibbleIndex);
    // Extends the selection over length bytes on the position's own line,
    // never past its last byte.
    void select(int length);
    // moveTo(offset), then select(length): two emissions.
    void selectOffset(qint64 offset, int length);

    // Emits insertionModeChanged when the mode changes.
    void setInsertionMode(InsertionMode mode);
    // Always emits insertionModeChanged.
    void switchInsertionMode();
    // Lines and columns are not recomputed; emits nothing. width >= 1.
    void setLineWidth(quint8 width);

signals:
    void positionChanged();
    void insertionModeChanged();

private:
    InsertionMode m_insertionmode = OverwriteMode;
    quint8 m_lineWidth = 16;
    QHexPosition m_position { 0, 0, 16, 1 };
    QHexPosition m_anchor { 0, 0, 16, 1 };
};

// The bytes from the selection's start to its end, both included, counted
// in 64 bits: a selection may span more than an int holds. Positions so far
// apart that their offsets wrap give the largest count, never an overflow.
qint64 selectionSpan(const QHexCursor& cursor);
