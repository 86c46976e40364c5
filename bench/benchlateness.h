// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <algorithm>
#include <vector>

#include <QElapsedTimer>
#include <QTimer>

namespace bench {

constexpr int kLatenessTickMs = 10;

// How late a 10 ms timer on the GUI thread fires beyond its due times: the
// worst delay, and every due time's delay for percentiles. A stall of a
// whole gap makes every due time within it late, by less for the later
// ones, so that a long stall weighs as much as the ticks it swallowed.
class Lateness
{
public:
    Lateness()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { take(m_clock.nsecsElapsed()); });
    }
    void start()
    {
        m_samples.clear();
        m_clock.start();
        m_last = 0;
        m_timer.start(kLatenessTickMs);
    }
    // Stops, the last wait included.
    void stop()
    {
        m_timer.stop();
        take(m_clock.nsecsElapsed());
        std::sort(m_samples.begin(), m_samples.end());
    }
    // In milliseconds, once stopped.
    double worst_ms() const { return m_samples.empty() ? 0 : m_samples.back() / 1e6; }
    double percentile_ms(double p) const
    {
        if (m_samples.empty())
            return 0;
        const auto at = static_cast<std::size_t>(p / 100 * (m_samples.size() - 1) + 0.5);
        return m_samples[std::min(at, m_samples.size() - 1)] / 1e6;
    }

private:
    void take(qint64 now)
    {
        constexpr qint64 tick = kLatenessTickMs * 1000000LL;
        const qint64 gap = now - m_last;
        m_samples.push_back(std::max<qint64>(0, gap - tick));
        for (qint64 late = gap - 2 * tick; late > 0; late -= tick)
            m_samples.push_back(late);
        m_last = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    std::vector<qint64> m_samples; // nanoseconds
};

} // namespace bench
