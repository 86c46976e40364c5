// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>

// What the analysis of a connection's segments tells of one segment, as the
// "备注" column shows it; several may hold at once (a bit each).
enum TcpMark : std::uint16_t {
    // Its bytes were all sent before (fast and spurious retransmissions too).
    Retransmission = 1U << 0,
    // It fills a hole behind bytes already seen.
    OutOfOrder = 1U << 1,
    // Bytes before it were never captured.
    PreviousSegmentLost = 1U << 2,
    // The same acknowledgement again, with no data and the same window.
    DuplicateAck = 1U << 3,
    // The receiver's window is 0.
    ZeroWindow = 1U << 4,
    // The sender filled the receiver's window.
    WindowFull = 1U << 5,
    KeepAlive = 1U << 6,
    Reset = 1U << 7,
};
using TcpMarks = std::uint16_t; // TcpMark bits
constexpr int kTcpMarkKinds = 8;
