// SPDX-License-Identifier: GPL-2.0-or-later

#include "trafficrows.h"

#include <utility>
#include <vector>

#include <QTableWidget>
#include <QTime>

#include "capturestore.h"
#include "packetrows.h"

namespace {

constexpr int kTimeColumn = 0;
constexpr int kLengthColumn = 6;
// Rows are counted this often while they come, at most this many at once
// (then again at once, the event loop run in between).
constexpr int kUpdateInterval = 250; // ms
constexpr int kRowsPerUpdate = 1 << 18;
constexpr std::int64_t kDay = 24 * 3600;

} // namespace

TrafficRows::TrafficRows(QTableWidget* table, const PacketRows& rows, const CaptureStore* store)
    : QObject(table)
    , m_rows(rows)
    , m_store(store)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TrafficRows::update);
    // Rows are only appended, and removed all at once.
    connect(table->model(), &QAbstractItemModel::rowsInserted, this, [this] {
        if (!m_timer.isActive())
            m_timer.start(kUpdateInterval);
    });
    // The model is asked, not the table: it empties itself as it goes,
    // after the table's own destructor ran.
    const QAbstractItemModel* model = table->model();
    const auto cleared = [this, model] {
        if (model->rowCount() == 0)
            clear();
    };
    connect(model, &QAbstractItemModel::rowsRemoved, this, cleared);
    connect(model, &QAbstractItemModel::modelReset, this, cleared);
}

TrafficRows::~TrafficRows() = default;

const IoSeries& TrafficRows::series()
{
    while (m_next < m_rows.count())
        update();
    return m_series;
}

void TrafficRows::clear()
{
    m_timer.stop();
    m_next = 0;
    m_last_time_of_day = -1;
    m_days = 0;
    m_series.clear();
    emit changed();
}

void TrafficRows::update()
{
    const int end = std::min(m_rows.count(), m_next + kRowsPerUpdate);
    if (end <= m_next)
        return;
    // The capture times of the rows' frames, read in one go.
    std::vector<std::int64_t> frames;
    std::vector<bool> stored(static_cast<std::size_t>(end - m_next));
    if (m_store != nullptr) {
        frames.reserve(stored.size());
        for (int row = m_next; row < end; ++row) {
            const std::optional<std::int64_t> frame = m_rows.frame(row);
            if (frame && m_store->contains(*frame)) {
                frames.push_back(*frame);
                stored[static_cast<std::size_t>(row - m_next)] = true;
            }
        }
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> times;
    times.reserve(frames.size());
    if (!frames.empty()
        && !m_store->read_frames(
                frames,
                [&times](const StoredFrame& frame, const StoredFramePlace&) {
                    times.emplace_back(frame.seconds, frame.nanoseconds);
                    return true;
                },
                nullptr, 0))
        times.clear(); // gone meanwhile: counted by their time of day
    std::size_t next_time = 0;
    for (int row = m_next; row < end; ++row) {
        std::pair<std::int64_t, std::int64_t> time;
        if (stored[static_cast<std::size_t>(row - m_next)] && next_time < times.size()) {
            time = times[next_time++];
        } else {
            const QTime of_day
                    = QTime::fromString(m_rows.field(row, kTimeColumn), QStringLiteral("HH:mm:ss"));
            const std::int64_t seconds
                    = of_day.isValid() ? of_day.msecsSinceStartOfDay() / 1000 : 0;
            if (m_last_time_of_day >= 0 && seconds < m_last_time_of_day - kDay / 2)
                ++m_days;
            m_last_time_of_day = seconds;
            time = { m_days * kDay + seconds, 0 };
        }
        m_series.add(time.first, time.second, m_rows.field(row, kLengthColumn).toUInt(), 0);
    }
    m_next = end;
    if (m_next < m_rows.count())
        m_timer.start(0);
    emit changed();
}
