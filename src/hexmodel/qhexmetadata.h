// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>
#include <unordered_map>

#include <QColor>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>

#include "hexrangeindex.h"

// One annotation on one line: columns [start, start + length). An invalid
// colour or an empty comment means none.
struct QHexMetadataItem
{
    quint64 line;
    int start;
    int length;
    QColor foreground;
    QColor background;
    QString comment;
};

// One annotation over the bytes [begin, end).
struct QHexMetadataRange
{
    qint64 begin;
    qint64 end;
    QColor foreground;
    QColor background;
    QString comment;
};

// Where the ranges that a removal of bytes cut lay before it, so that its
// undo puts them back (see QHexMetadata::removeBytes).
struct QHexMetadataCut
{
    quint64 generation = 0; // of the ranges it belongs to
    QVector<int> ids; // positions among the ranges
    QVector<QHexMetadataRange> before; // each as it was, colours included
};

// Annotations of a document's bytes, kept as absolute ranges. A line's items
// are made when the line is asked for, from the ranges that touch it, so a
// range costs the same whatever its length (a followed stream colours chunks
// of up to gigabytes) and a change of the line width lays every range out
// again at no cost.
//
// A range is spread over lines as follows, with w the line width: on its
// first line it starts at begin mod w and, unless that line is also its
// last, has length w (running on past the line's end); lines in between are
// covered whole; on its last line it has length end mod w. Offsets below 0
// hold no byte: a range is taken from 0 on. A line's items come in the order
// their ranges were added.
//
// Finding a line's items costs O(log n + k) for n ranges and k found (see
// HexRangeIndex). The queries fill a cache, so the object belongs to one
// thread, queries included.
class QHexMetadata : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QHexMetadata)

public:
    explicit QHexMetadata(QObject* parent = nullptr);

    bool hasMetadata(quint64 line) const;
    // Empty when hasMetadata(line) is false. The list is made on demand and
    // kept in a small cache: the reference stays valid until the next change
    // and until the next query (any of these three) about another line.
    const QList<QHexMetadataItem>& lineItems(quint64 line) const;
    // The non-empty comments of the line's items that cover the column, in
    // the order added, joined by "\n"; empty when there are none.
    QString comments(quint64 line, int column) const;

    // Emits metadataChanged for each line the range gives an item when
    // those are at most kSignalledLines; for a longer range, once, for its
    // first line: whoever repaints by line must repaint from there on.
    void addRange(qint64 begin, qint64 end, const QColor& foreground, const QColor& background,
                  const QString& comment);
    void addItem(quint64 line, int start, int length, const QColor& foreground,
                 const QColor& background, const QString& comment);
    void setColors(quint64 line, int start, int length, const QColor& foreground,
                   const QColor& background);
    void setForeground(quint64 line, int start, int length, const QColor& foreground);
    void setBackground(quint64 line, int start, int length, const QColor& background);
    void setComment(quint64 line, int start, int length, const QString& comment);

    // Edits move the ranges with the bytes they mark. Bytes [offset, offset +
    // length) were inserted: every range from offset on moves up by length,
    // and one that offset lies inside (begin < offset < end) grows by it;
    // one that ends at offset does not. Emits metadataChanged for offset's
    // line when a range changed.
    void insertBytes(qint64 offset, qint64 length);
    // Bytes [offset, offset + length) were removed: ranges after them move
    // down by length, ranges they cut shrink, to nothing when wholly inside
    // (such a range stays, empty, in its place among the ranges). Returns
    // where the cut ranges were, for restoreCut. Emits as insertBytes does.
    QHexMetadataCut removeBytes(qint64 offset, qint64 length);
    // Undoes a removal once its bytes are back and insertBytes has moved the
    // others: the cut ranges are as they were. Nothing when the ranges were
    // cleared since.
    void restoreCut(const QHexMetadataCut& cut);

    // Every range added, in that order, where edits have moved it.
    const QVector<QHexMetadataRange>& ranges() const { return m_ranges; }
    // Gives range i the colours `colours(i, range)` returns (foreground,
    // background), keeping where it is: a new theme, say. Emits
    // metadataChanged for the first line of each range that covers a byte.
    using RangeColours = std::function<QPair<QColor, QColor>(int, const QHexMetadataRange&)>;
    void recolor(const RangeColours& colours);

    // Forgets every annotation; emits metadataCleared once.
    void clear();
    // Drops the line's items (the ranges stay, so a new line width brings
    // them back); emits metadataChanged(line) when there were any.
    void clearLine(quint64 line);
    // Lays every range out again over lines of the new width (>= 1; 0 is
    // ignored); emits metadataChanged per range in the order added, as
    // addRange does.
    void setLineWidth(quint8 width);

    // Ranges over more lines than this signal their first line only.
    static constexpr quint64 kSignalledLines = 16;

signals:
    void metadataChanged(quint64 line);
    void metadataCleared();

private:
    const QList<QHexMetadataItem>& itemsOf(quint64 line) const;
    void signalRange(const QHexMetadataRange& range);
    void forgetItems();
    // After ranges moved in their order: the index follows, no line made,
    // one signal.
    void rangesMoved(qint64 offset);

    quint8 m_lineWidth = 16;
    QVector<QHexMetadataRange> m_ranges; // every range added, in that order
    quint64 m_generation = 0; // counts the clears
    HexRangeIndex m_index { m_ranges }; // the ranges that cover a byte
    // Lines emptied by clearLine: ranges before this position stay off them
    // until the line width changes.
    QHash<quint64, int> m_clearedBefore;
    // Lines made lately; emptied by every change and when full.
    mutable std::unordered_map<quint64, QList<QHexMetadataItem>> m_lineCache;
};
