// SPDX-License-Identifier: GPL-2.0-or-later

// The analysis of rows whose segments come in any order and with any
// header fields, on a few address and port pairs: it never fails, and its
// counts hold together. Input: 14 bytes per row:
//   [0]      bit 0-1 the pair, 2 direction, 3 IPv6, 7 a row without segment
//   [1]      TCP flags
//   [2-5]    sequence number, [6-9] acknowledgement number
//   [10]     window (high byte; the low byte is 0), [11] window scale (-1..)
//   [12]     payload length, [13] microseconds since the last row

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tcpanalysis.h"

namespace {

std::uint32_t read32(const std::uint8_t* at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8
            | at[3];
}

void check(bool holds)
{
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    constexpr std::size_t kRow = 14;
    TcpAnalysis analysis(
            [](int) { return QByteArray("\x16\x03\x01\x00\x05\x01\x00\x00\x01\x03", 10); });
    std::int64_t microseconds = 0;
    int segments = 0;
    for (std::size_t at = 0; at + kRow <= size; at += kRow) {
        const std::uint8_t* row = data + at;
        microseconds += row[13];
        if ((row[0] & 0x80) != 0) {
            analysis.add(analysis.row_count(), nullptr);
            continue;
        }
        CapturedSegment segment;
        TcpSegmentHeader& header = segment.header;
        header.version = (row[0] & 0x08) != 0 ? 6 : 4;
        const bool back = (row[0] & 0x04) != 0;
        header.source[0] = back ? 10 : 192;
        header.destination[0] = back ? 192 : 10;
        header.source_port = back ? 80 : std::uint16_t(40000 + (row[0] & 0x03));
        header.destination_port = back ? std::uint16_t(40000 + (row[0] & 0x03)) : 80;
        header.flags = row[1];
        header.seq = read32(row + 2);
        header.ack = read32(row + 6);
        header.window = std::uint16_t(row[10] << 8);
        header.window_scale = static_cast<std::int8_t>(int(row[11] % 17) - 1);
        header.stated = row[12];
        header.captured = row[12] / 2;
        segment.seconds = microseconds / 1000000;
        segment.nanoseconds = std::uint32_t(microseconds % 1000000) * 1000;
        analysis.add(analysis.row_count(), &segment);
        ++segments;
    }

    // Every segment's row belongs to a connection that counts it.
    std::uint64_t packets = 0;
    std::uint64_t marked = 0;
    for (int c = 0; c < analysis.connection_count(); ++c) {
        const TcpConversation& conversation = analysis.conversation(c);
        packets += conversation.packets[0] + conversation.packets[1];
        marked += conversation.marked;
        check(analysis.connection_of(conversation.first_row) == c);
        check(conversation.last_ns >= conversation.first_ns);
    }
    check(packets == std::uint64_t(segments));
    check(marked == analysis.marked_rows().size());
    int last = -1;
    for (const auto& [row, marks] : analysis.marked_rows()) {
        check(row > last && marks != 0 && analysis.marks(row) == marks);
        check(analysis.connection_of(row) >= 0);
        last = row;
    }
    for (int row = 0; row < analysis.row_count(); ++row)
        check(analysis.connection_of(row) < analysis.connection_count());
    return 0;
}
