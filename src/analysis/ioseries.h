// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <map>

#include "tcpmarks.h"

// The packet table's rows counted per second of capture time, as the rows
// arrive: packets, payload bytes and the packets of each mark, what a
// traffic graph draws. Seconds are counted from the first row's capture
// time, as intervals [n, n + 1) (n may be negative for a row captured before
// the first one). Only seconds that hold a row take memory (about 100 bytes
// each), so that a capture with a far-off time stamp costs no more than one
// without.
class IoSeries
{
public:
    struct Second
    {
        std::int64_t packets = 0;
        std::int64_t bytes = 0; // payload bytes as the headers state them
        std::array<std::int64_t, kTcpMarkKinds> marked {}; // packets with mark bit i
        int first_row = -1; // the first row added to this second
    };

    IoSeries() = default;
    IoSeries(const IoSeries&) = delete;
    IoSeries& operator=(const IoSeries&) = delete;

    // Row row_count() (rows come in order from 0): a segment captured at
    // `seconds` since the epoch and `nanoseconds` (0 to 999,999,999) into
    // that second, with `payload_bytes` of payload and these marks.
    void add(std::int64_t seconds, std::int64_t nanoseconds, std::uint32_t payload_bytes,
             TcpMarks marks);
    void clear();

    int row_count() const { return m_rows; }
    // The capture time of the first row, which second 0 begins with.
    std::int64_t start_seconds() const { return m_start_seconds; }
    std::int64_t start_nanoseconds() const { return m_start_nanoseconds; }
    // The seconds that hold rows, by their number from the start.
    const std::map<std::int64_t, Second>& seconds() const { return m_seconds; }
    // The marks that any row had.
    TcpMarks marks_seen() const { return m_marks_seen; }
    // Changes with every add() and clear(): a view redraws when it did.
    std::uint64_t revision() const { return m_revision; }

private:
    std::map<std::int64_t, Second> m_seconds;
    std::map<std::int64_t, Second>::iterator m_last = m_seconds.end(); // the last added to
    int m_rows = 0;
    std::int64_t m_start_seconds = 0;
    std::int64_t m_start_nanoseconds = 0;
    TcpMarks m_marks_seen = 0;
    std::uint64_t m_revision = 0;
};
