// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>

#include <QObject>
#include <QTimer>

#include "ioseries.h"

class CaptureStore;
class PacketRows;
class QTableWidget;

// The traffic graph's counts, kept as the packet table's rows arrive, for
// as long as the table lives, so that the graph opens at once: each row's
// capture time (read from its frame's header in the store, a few times a
// second for the rows that came meanwhile) and its payload length. A row
// without a stored frame counts at the time of day its time field says.
// Emptying the table empties the counts.
class TrafficRows : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TrafficRows)

public:
    // A child of the table. store may be null.
    TrafficRows(QTableWidget* table, const PacketRows& rows, const CaptureStore* store);
    ~TrafficRows() override;

    // The counts, up to date with the rows.
    const IoSeries& series();
    // Counts the rows that came since; the timer does it as they come.
    void update();

signals:
    // The counts changed (once for many rows).
    void changed();

private:
    void clear();

    const PacketRows& m_rows;
    const CaptureStore* m_store;
    IoSeries m_series;
    QTimer m_timer;
    int m_next = 0; // the first row not counted yet
    // For rows without a frame: the last time of day seen, and the days
    // added for the times it went back over midnight.
    std::int64_t m_last_time_of_day = -1;
    std::int64_t m_days = 0;
};
