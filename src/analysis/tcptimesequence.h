// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include <QString>

class CaptureStore;

// One TCP connection's segments as a time-sequence graph draws them (as
// tcptrace does): for each direction, the sequence numbers each segment
// takes over time, and the other side's acknowledgements of them with the
// end of the window it offers. Read from the headers of the connection's
// frames in the capture store (the first bytes of each frame only).
//
// Direction 0 is the side that sent the connection's first segment.
// Sequence numbers are relative and unwrapped: 0 is a direction's SYN, 1
// its first byte (also when the SYN was not captured), and they go on past
// 2^32. Times are seconds since the connection's first segment.
//
// What the graph shows of each segment is kept until the caller has taken
// it (clear_taken()): a caller that draws as segments come keeps nothing
// twice.
class TcpTimeSequence
{
public:
    // A segment that takes sequence numbers: payload, and one each for SYN
    // and FIN.
    struct Segment
    {
        double time;
        std::int64_t seq; // of its first sequence number
        std::uint32_t length; // sequence numbers it takes
        int row;
        // It begins below the highest sequence number seen before: some or
        // all of its bytes were sent before, or it fills a hole behind them.
        bool retransmission;
        // Sequence numbers before it were never seen: a segment the capture
        // missed.
        bool gap_before;
    };
    // An acknowledgement of a direction's bytes, sent by the other side, and
    // the window it offers: the direction may send up to window_end.
    struct Ack
    {
        double time;
        std::int64_t ack; // the next sequence number the other side expects
        std::int64_t window_end; // ack plus the window, scaled
        int row;
    };

    // Reads the connection that the frame `followed` belongs to, among the
    // frames of its address and port pair (store numbers in capture order,
    // with their rows). A pair that a new SYN reuses holds another
    // connection, as a stream's follow tells them apart. Null, with the
    // reason in error, when that frame is no longer stored or holds no TCP
    // segment.
    static std::unique_ptr<TcpTimeSequence> open(const CaptureStore& store,
                                                 const std::vector<std::int64_t>& frames,
                                                 const std::vector<int>& rows,
                                                 std::int64_t followed, QString* error);
    TcpTimeSequence(const TcpTimeSequence&) = delete;
    TcpTimeSequence& operator=(const TcpTimeSequence&) = delete;

    // Frames of the pair captured since: those of the connection are added,
    // until the pair is reused by a new connection. Frames no longer stored
    // are left out.
    void add(const CaptureStore& store, const std::vector<std::int64_t>& frames,
             const std::vector<int>& rows);
    // Whether a later connection took the pair over: nothing more is added.
    bool ended() const { return m_ended; }

    // What came since the last clear_taken(), in capture order.
    const std::vector<Segment>& segments(int direction) const
    {
        return m_directions[static_cast<std::size_t>(direction)].segments;
    }
    const std::vector<Ack>& acks(int direction) const
    {
        return m_directions[static_cast<std::size_t>(direction)].acks;
    }
    void clear_taken();

    // The sender of each direction, as "address:port" ("[address]:port" for
    // IPv6).
    QString endpoint(int direction) const
    {
        return m_directions[static_cast<std::size_t>(direction)].endpoint;
    }
    // Payload bytes each direction sent, counted once per segment.
    std::uint64_t payload_bytes(int direction) const
    {
        return m_directions[static_cast<std::size_t>(direction)].payload;
    }
    // The capture time of the connection's first segment, which times count
    // from.
    std::int64_t start_seconds() const { return m_start_seconds; }
    std::int64_t start_nanoseconds() const { return m_start_nanoseconds; }

private:
    TcpTimeSequence() = default;
    bool read(const CaptureStore& store, const std::vector<std::int64_t>& frames,
              const std::vector<int>& rows, const std::int64_t* followed, QString* error);

    struct Direction
    {
        std::array<unsigned char, 16> address {};
        std::uint16_t port = 0;
        QString endpoint;
        bool based = false; // whether a sequence number of it was seen
        std::uint32_t last_raw = 0; // the last sequence number seen, as sent
        std::int64_t last = 0; // the same, relative
        std::int64_t next = 0; // one past the highest sequence number seen
        bool first_seq_known = false; // of its first segment, which tells reuse
        std::uint32_t first_seq = 0;
        std::int8_t syn_scale = -2; // window scale of its SYN; -1 none, -2 no SYN seen
        std::uint64_t payload = 0;
        std::vector<Segment> segments;
        std::vector<Ack> acks;
    };
    // The relative, unwrapped position of a sequence number of `direction`.
    std::int64_t position(Direction& direction, std::uint32_t raw, bool syn);
    // The shift that applies to the windows `sender` advertises.
    int window_shift(int sender) const;

    std::array<Direction, 2> m_directions;
    int m_version = 4;
    bool m_known = false; // whether the directions' endpoints are
    bool m_ended = false;
    std::int64_t m_start_seconds = 0;
    std::int64_t m_start_nanoseconds = 0;
};
