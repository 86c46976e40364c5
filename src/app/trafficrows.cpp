// SPDX-License-Identifier: GPL-2.0-or-later

#include "trafficrows.h"

#include <QTableWidget>
#include <QTime>

#include "packetrecord.h"
#include "packetrows.h"

namespace {

constexpr int kTimeColumn = 0;
constexpr int kLengthColumn = 6;
// How often a change is told while rows come.
constexpr int kChangedInterval = 250; // ms
constexpr std::int64_t kDay = 24 * 3600;

} // namespace

TrafficRows::TrafficRows(QTableWidget* table, const PacketRows& rows)
    : QObject(table)
    , m_rows(rows)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TrafficRows::changed);
}

TrafficRows::~TrafficRows() = default;

void TrafficRows::add(int row, const CapturedSegment* segment, TcpMarks marks)
{
    if (segment != nullptr) {
        m_series.add(segment->seconds, segment->nanoseconds, segment->header.stated, marks);
    } else {
        const QTime of_day
                = QTime::fromString(m_rows.field(row, kTimeColumn), QStringLiteral("HH:mm:ss"));
        const std::int64_t seconds = of_day.isValid() ? of_day.msecsSinceStartOfDay() / 1000 : 0;
        if (m_last_time_of_day >= 0 && seconds < m_last_time_of_day - kDay / 2)
            ++m_days;
        m_last_time_of_day = seconds;
        m_series.add(m_days * kDay + seconds, 0, m_rows.field(row, kLengthColumn).toUInt(), marks);
    }
    if (!m_timer.isActive())
        m_timer.start(kChangedInterval);
}

void TrafficRows::clear()
{
    m_timer.stop();
    m_last_time_of_day = -1;
    m_days = 0;
    m_series.clear();
    emit changed();
}
