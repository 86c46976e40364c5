// SPDX-License-Identifier: GPL-2.0-or-later

#include "qhexmetadata.h"

#include <QStringList>

QHexMetadata::QHexMetadata(QObject* parent)
    : QObject(parent)
{ }

bool QHexMetadata::hasMetadata(quint64 line) const
{
    return m_metadata.contains(line);
}

const QList<QHexMetadataItem>& QHexMetadata::lineItems(quint64 line) const
{
    const auto it = m_metadata.constFind(line);
    if (it != m_metadata.cend())
        return *it;
    static const QList<QHexMetadataItem> none;
    return none;
}

QString QHexMetadata::comments(quint64 line, int column) const
{
    if (!hasMetadata(line))
        return {};
    QStringList found;
    for (const QHexMetadataItem& item : m_metadata[line]) {
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
    m_ranges.append({ begin, end, foreground, background, comment });
    spreadRange(m_ranges.constLast());
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

void QHexMetadata::clear()
{
    m_ranges.clear();
    m_metadata.clear();
    emit metadataCleared();
}

void QHexMetadata::clearLine(quint64 line)
{
    if (m_metadata.remove(line) > 0)
        emit metadataChanged(line);
}

void QHexMetadata::setLineWidth(quint8 width)
{
    if (width == 0 || width == m_lineWidth)
        return;
    m_lineWidth = width;
    m_metadata.clear();
    for (const QHexMetadataRange& range : std::as_const(m_ranges))
        spreadRange(range);
}

void QHexMetadata::spreadRange(const QHexMetadataRange& range)
{
    const qint64 width = m_lineWidth;
    const qint64 first = range.begin / width;
    const qint64 last = range.end / width;
    for (qint64 line = first; line <= last; ++line) {
        const qint64 start = line == first ? range.begin % width : 0;
        const qint64 length = line == last ? range.end % width - start : width;
        if (length > 0)
            addLineItem({ static_cast<quint64>(line), static_cast<int>(start),
                          static_cast<int>(length), range.foreground, range.background,
                          range.comment });
    }
}

void QHexMetadata::addLineItem(const QHexMetadataItem& item)
{
    m_metadata[item.line].append(item);
    emit metadataChanged(item.line);
}
