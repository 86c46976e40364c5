// SPDX-License-Identifier: GPL-2.0-or-later

#include "ioseries.h"

namespace {

constexpr std::int64_t kNano = 1000000000;

// The interval [n, n + 1) seconds that `nanoseconds` lies in, also below 0.
std::int64_t second_of(std::int64_t nanoseconds)
{
    const std::int64_t second = nanoseconds / kNano;
    return nanoseconds % kNano < 0 ? second - 1 : second;
}

} // namespace

void IoSeries::add(std::int64_t seconds, std::int64_t nanoseconds, std::uint32_t payload_bytes,
                   TcpMarks marks)
{
    if (m_rows == 0) {
        m_start_seconds = seconds;
        m_start_nanoseconds = nanoseconds;
    }
    const std::int64_t second
            = second_of((seconds - m_start_seconds) * kNano + (nanoseconds - m_start_nanoseconds));
    // Rows come in time order but for the odd one: the second of the last
    // row is tried first.
    if (m_last == m_seconds.end() || m_last->first != second)
        m_last = m_seconds.try_emplace(second).first;
    Second& bin = m_last->second;
    if (bin.first_row < 0)
        bin.first_row = m_rows;
    ++bin.packets;
    bin.bytes += payload_bytes;
    for (int kind = 0; kind < kTcpMarkKinds; ++kind)
        if ((marks & (1U << kind)) != 0)
            ++bin.marked[static_cast<std::size_t>(kind)];
    m_marks_seen |= marks;
    ++m_rows;
    ++m_revision;
}

void IoSeries::clear()
{
    m_seconds.clear();
    m_last = m_seconds.end();
    m_rows = 0;
    m_marks_seen = 0;
    ++m_revision;
}
