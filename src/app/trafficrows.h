// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>

#include <QObject>
#include <QTimer>

#include "ioseries.h"

class PacketRows;
class QTableWidget;
struct CapturedSegment;

// The traffic graph's counts, kept as the packet table's rows arrive, for
// as long as the table lives, so that the graph opens at once: each row's
// capture time, its payload length and its marks, handed in by whoever
// sees the rows arrive (add) and empties them with the table (clear). A row
// without a segment counts at the time of day its time field says.
class TrafficRows : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TrafficRows)

public:
    // A child of the table.
    TrafficRows(QTableWidget* table, const PacketRows& rows);
    ~TrafficRows() override;

    // Counts the row just appended, of this segment (null: none) and marks.
    void add(int row, const CapturedSegment* segment, TcpMarks marks);
    // The rows went: so do the counts.
    void clear();
    const IoSeries& series() const { return m_series; }

signals:
    // The counts changed (once for many rows, a few times a second).
    void changed();

private:
    const PacketRows& m_rows;
    IoSeries m_series;
    QTimer m_timer;
    // For rows without a segment: the last time of day seen, and the days
    // added for the times it went back over midnight.
    std::int64_t m_last_time_of_day = -1;
    std::int64_t m_days = 0;
};
