// SPDX-License-Identifier: GPL-2.0-or-later

#include "qhexmetadata.h"

#include <algorithm>
#include <limits>

#include <QStringList>

namespace {

// More lines than any screen shows: a repaint, which asks for each line
// once per column, makes every line only once.
constexpr std::size_t kCachedLines = 256;

// Offsets below 0 hold no byte: a range is taken from 0 on.
qint64 firstByte(const QHexMetadataRange& range)
{
    return std::max<qint64>(range.begin, 0);
}

} // namespace

QHexMetadata::QHexMetadata(QObject* parent)
    : QObject(parent)
{ }

bool QHexMetadata::hasMetadata(quint64 line) const
{
    return !itemsOf(line).isEmpty();
}

const QList<QHexMetadataItem>& QHexMetadata::lineItems(quint64 line) const
{
    return itemsOf(line);
}

QString QHexMetadata::comments(quint64 line, int column) const
{
    QStringList found;
    for (const QHexMetadataItem& item : itemsOf(line)) {
        if (item.comment.isEmpty())
            continue;
        if (item.start <= column && column < item.start + item.length)
            found.append(item.comment);
    }
    return found.join(QLatin1Char('\n'));
}

void QHexMetadata::addRange(qint64 begin, qint64 end, const QColor& foreground,
                            const QColor& background, const QString& comment)
{
    forgetItems();
    m_ranges.append({ begin, end, foreground, background, comment });
    const QHexMetadataRange& range = m_ranges.constLast();
    if (firstByte(range) < range.end)
        m_index.add(m_ranges.size() - 1);
    signalRange(range);
}

void QHexMetadata::addItem(quint64 line, int start, int length, const QColor& foreground,
                           const QColor& background, const QString& comment)
{
    const qint64 begin = static_cast<qint64>(line * m_lineWidth) + start;
    addRange(begin, begin + length, foreground, background, comment);
}

void QHexMetadata::setColors(quint64 line, int start, int length, const QColor& foreground,
                             const QColor& background)
{
    addItem(line, start, length, foreground, background, QString());
}

void QHexMetadata::setForeground(quint64 line, int start, int length, const QColor& foreground)
{
    setColors(line, start, length, foreground, QColor());
}

void QHexMetadata::setBackground(quint64 line, int start, int length, const QColor& background)
{
    setColors(line, start, length, QColor(), background);
}

void QHexMetadata::setComment(quint64 line, int start, int length, const QString& comment)
{
    addItem(line, start, length, QColor(), QColor(), comment);
}

void QHexMetadata::insertBytes(qint64 offset, qint64 length)
{
    if (length <= 0)
        return;
    bool moved = false;
    for (QHexMetadataRange& range : m_ranges) {
        if (range.begin >= offset) {
            range.begin += length;
            range.end += length;
            moved = true;
        } else if (range.end > offset) {
            range.end += length;
            moved = true;
        }
    }
    if (moved)
        rangesMoved(offset);
}

QHexMetadataCut QHexMetadata::removeBytes(qint64 offset, qint64 length)
{
    QHexMetadataCut cut;
    cut.generation = m_generation;
    if (length <= 0)
        return cut;
    const qint64 to = offset + length;
    // Offsets in the removed bytes go to where they were; those after, down.
    const auto moved = [offset, to, length](qint64 at) {
        return at < offset ? at : (at < to ? offset : at - length);
    };
    bool changed = false;
    for (int id = 0; id < m_ranges.size(); ++id) {
        QHexMetadataRange& range = m_ranges[id];
        if (range.end <= offset)
            continue;
        if (range.begin < to) { // shares a byte with the removed ones
            cut.ids.append(id);
            cut.before.append(range);
        }
        range.begin = moved(range.begin);
        range.end = moved(range.end);
        changed = true;
    }
    if (changed)
        rangesMoved(offset);
    return cut;
}

void QHexMetadata::restoreCut(const QHexMetadataCut& cut)
{
    if (cut.generation != m_generation || cut.ids.isEmpty())
        return;
    // Back where they were before the removal, in the order they had then:
    // the index's order stands; those the removal emptied come back to it.
    QVector<int> back;
    for (int i = 0; i < cut.ids.size(); ++i) {
        const int id = cut.ids.at(i);
        if (id >= m_ranges.size())
            continue;
        QHexMetadataRange& range = m_ranges[id];
        const bool covered = firstByte(range) < range.end;
        range.begin = cut.before.at(i).begin;
        range.end = cut.before.at(i).end;
        if (!covered && firstByte(range) < range.end)
            back.append(id);
    }
    rangesMoved(std::max<qint64>(0, cut.before.constFirst().begin));
    for (const int id : std::as_const(back))
        m_index.add(id);
}

void QHexMetadata::recolor(const RangeColours& colours)
{
    forgetItems();
    for (int id = 0; id < m_ranges.size(); ++id) {
        QHexMetadataRange& range = m_ranges[id];
        const QPair<QColor, QColor> pair = colours(id, range);
        range.foreground = pair.first;
        range.background = pair.second;
        if (firstByte(range) < range.end)
            emit metadataChanged(static_cast<quint64>(firstByte(range) / m_lineWidth));
    }
}

void QHexMetadata::rangesMoved(qint64 offset)
{
    m_index.shifted([](const QHexMetadataRange& range) { return firstByte(range) < range.end; });
    forgetItems();
    emit metadataChanged(static_cast<quint64>(std::max<qint64>(0, offset) / m_lineWidth));
}

void QHexMetadata::clear()
{
    ++m_generation;
    m_index.clear();
    m_ranges.clear();
    m_clearedBefore.clear();
    forgetItems();
    emit metadataCleared();
}

void QHexMetadata::clearLine(quint64 line)
{
    if (!hasMetadata(line))
        return;
    m_clearedBefore.insert(line, m_ranges.size());
    m_lineCache.erase(line);
    emit metadataChanged(line);
}

void QHexMetadata::setLineWidth(quint8 width)
{
    if (width == 0 || width == m_lineWidth)
        return;
    m_lineWidth = width;
    m_clearedBefore.clear();
    forgetItems();
    for (const QHexMetadataRange& range : std::as_const(m_ranges))
        signalRange(range);
}

// The ranges that share a byte with the line, in the order added, each cut
// to the line as the class comment says.
const QList<QHexMetadataItem>& QHexMetadata::itemsOf(quint64 line) const
{
    const auto cached = m_lineCache.find(line);
    if (cached != m_lineCache.end())
        return cached->second;
    if (m_lineCache.size() >= kCachedLines)
        m_lineCache.clear();

    QList<QHexMetadataItem> items;
    const qint64 width = m_lineWidth;
    if (line < static_cast<quint64>(std::numeric_limits<qint64>::max() / width)) {
        const auto number = static_cast<qint64>(line);
        const qint64 from = number * width;
        const int hidden = m_clearedBefore.value(line, 0);
        for (const int id : m_index.overlapping(from, from + width)) {
            if (id < hidden)
                continue;
            const QHexMetadataRange& range = m_ranges.at(id);
            const qint64 begin = firstByte(range);
            const qint64 start = begin / width == number ? begin % width : 0;
            const qint64 length = range.end / width == number ? range.end % width - start : width;
            items.append({ line, static_cast<int>(start), static_cast<int>(length),
                           range.foreground, range.background, range.comment });
        }
    }
    return m_lineCache.emplace(line, std::move(items)).first->second;
}

// One signal per line with an item for a short range, one for its first line
// for a long one: a range of a gigabyte would otherwise emit 67 million.
void QHexMetadata::signalRange(const QHexMetadataRange& range)
{
    const qint64 begin = firstByte(range);
    if (begin >= range.end)
        return;
    const qint64 width = m_lineWidth;
    const auto first = static_cast<quint64>(begin / width);
    const auto last = static_cast<quint64>((range.end - 1) / width);
    if (last - first >= kSignalledLines) {
        emit metadataChanged(first);
        return;
    }
    for (quint64 line = first; line <= last; ++line)
        emit metadataChanged(line);
}

void QHexMetadata::forgetItems()
{
    if (!m_lineCache.empty())
        m_lineCache.clear();
}
