// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QColor>
#include <QObject>
#include <QString>

#include "tcpmarks.h"

class QTableWidget;
class TcpAnalysis;

// The "备注" column of the packet table: what the analysis tells of each
// row's segment, in words joined by ", ", and the colour of a marked row
// (one for loss and retransmission and the other troubles, another for a
// reset), light or dark as the table's theme is. Only marked rows have a
// cell in the column: an unmarked row costs nothing here.
class MarksColumn : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(MarksColumn)

public:
    static constexpr int kColumn = 8;

    // A child of the table; the analysis outlives it.
    MarksColumn(QTableWidget* table, const TcpAnalysis& analysis);
    ~MarksColumn() override;

    // After the analysis took the row: a marked row gets its cell.
    void row_added(int row);

    // The marks in words, in the order of their bits, joined by ", ".
    static QString text(TcpMarks marks);
    QString text_of(int row) const;
    // A marked row's colours in the table's theme; invalid for an
    // unmarked row.
    QColor background(int row) const;
    QColor foreground(int row) const;

    // The column of this table, if it has one.
    static const MarksColumn* of(const QTableWidget* table);

private:
    bool dark() const;

    QTableWidget* m_table;
    const TcpAnalysis& m_analysis;
};
