// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QColor>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

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

// Annotations of a document's bytes. Kept as absolute ranges (the source of
// truth) and spread over the lines they touch, so that a change of the line
// width lays them out again.
class QHexMetadata : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QHexMetadata)

public:
    explicit QHexMetadata(QObject* parent = nullptr);

    bool hasMetadata(quint64 line) const;
    // Only valid while hasMetadata(line) is true.
    const QList<QHexMetadataItem>& lineItems(quint64 line) const;
    // The non-empty comments of the line's items that cover the column, in
    // the order added, joined by "\n"; empty when there are none.
    QString comments(quint64 line, int column) const;

    void addRange(qint64 begin, qint64 end, const QColor& foreground, const QColor& background,
                  const QString& comment);
    void addItem(quint64 line, int start, int length, const QColor& foreground,
                 const QColor& background, const QString& comment);
    void setColors(quint64 line, int start, int length, const QColor& foreground,
                   const QColor& background);
    void setForeground(quint64 line, int start, int length, const QColor& foreground);
    void setBackground(quint64 line, int start, int length, const QColor& background);
    void setComment(quint64 line, int start, int length, const QString& comment);

    // Forgets every annotation; emits metadataCleared once.
    void clear();
    // Drops the line's items (the ranges stay, so a new line width brings
    // them back); emits metadataChanged(line) when there were any.
    void clearLine(quint64 line);
    // Lays every range out again over lines of the new width (>= 1; 0 is
    // ignored); emits metadataChanged per item added.
    void setLineWidth(quint8 width);

signals:
    void metadataChanged(quint64 line);
    void metadataCleared();

private:
    void spreadRange(const QHexMetadataRange& range);
    void addLineItem(const QHexMetadataItem& item);

    quint8 m_lineWidth = 16;
    QHash<quint64, QList<QHexMetadataItem>> m_metadata;
    QVector<QHexMetadataRange> m_ranges;
};
