// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <vector>

// One captured TCP segment of a connection, as the reassembly takes it: where
// its payload lies in the captured frame, and what its header says.
struct TcpSegmentIn
{
    std::int64_t frame = 0; // the caller's name for the frame (a store number)
    std::int64_t seconds = 0; // capture time
    std::int64_t nanoseconds = 0; // within the second
    int direction = 0; // 0: from the connection's first sender, 1: towards it
    std::uint32_t seq = 0;
    std::uint32_t ack = 0;
    bool has_ack = false;
    bool syn = false;
    bool fin = false;
    bool rst = false;
    std::uint32_t payload_offset = 0; // where the payload begins in the frame's bytes
    std::uint32_t captured = 0; // payload bytes captured
    std::uint32_t stated = 0; // payload bytes the IP and TCP headers state (>= captured)
};

// A run of bytes of the conversation: `length` captured bytes of `frame`
// from `frame_offset` on, the next bytes of `direction`.
struct TcpStreamPiece
{
    std::int64_t frame;
    std::uint32_t frame_offset;
    std::uint32_t length;
    int direction;
};

// What the reassembly hands out, in the order the conversation happened:
// the bytes of a piece, or a gap of bytes that were never captured.
struct TcpStreamEvent
{
    enum Kind : std::uint8_t { Bytes, Gap };
    Kind kind;
    int direction;
    // Bytes: the piece. Gap: piece.length is 0 and `missing` counts the bytes.
    TcpStreamPiece piece;
    std::uint64_t missing;
    // The segment whose capture made these bytes (or this gap) known, and
    // the sequence number of the first byte, for the chunk's comment.
    std::int64_t frame;
    std::int64_t seconds;
    std::int64_t nanoseconds;
    std::uint32_t seq;
};

// The two byte streams of one TCP connection, put together from its captured
// segments in capture order: each direction's bytes in sequence-number order,
// each byte once. Out-of-order segments wait for the bytes before them;
// retransmitted and overlapping bytes count once, the copy captured first
// winning: bytes already handed out (a live view shows them) cannot change,
// and waiting bytes follow the same rule, so that a byte does not depend on
// when the hole before it closed. tshark's follow agrees on bytes it has
// written, but of overlapping bytes that wait it writes those that reach the
// next position first; real retransmissions carry the same bytes, where the
// two cannot differ. SYN and FIN take one sequence number each, and data on
// a SYN counts; sequence numbers wrap at 2^32. A RST takes no sequence number; its
// data counts as any other, and so does what follows it (tshark's follow
// shows both). A direction begins with its SYN or, when that was not
// captured, with its first segment that carries data.
//
// Bytes never captured are never invented: a segment cut by the snapshot
// length leaves a gap of its missing tail; bytes the other side acknowledges
// that were never seen become gaps of the missing count once bytes after them
// were captured (they wait), as in tshark's follow: until then a copy sent
// again, as after a capture that dropped the first, still brings them. The
// holes before out-of-order bytes, and acknowledged bytes never seen, when
// the capture ends (finish()), become gaps too. An
// acknowledgement more than 2^30 (the largest window) past the bytes seen is
// no acknowledgement of real bytes and is ignored. A FIN that the capture
// lost but the other side acknowledged cannot be told from a lost byte and
// counts as one.
//
// What waits is kept as runs, not positions: a segment costs the logarithm
// of what waits plus the runs it fills or hands out, whatever it spans.
// Each direction holds at most waiting_limit() runs of out-of-order bytes
// and cut tails; a segment that would make more gives up the first hole
// instead: it becomes a gap (counted in gaps() and holes_given_up()) and
// the bytes after it are handed out. Bytes of that hole captured later are
// then retransmissions of bytes handed out, and left out as those are.
//
// add() may be called as segments arrive (a live capture); the events it
// makes are appended to events() and never change afterwards, so a view of
// them only grows. Events of one call that continue each other (the next
// bytes of the same frame, or the next missing bytes) are one event; no
// event spans two frames.
class TcpReassembly
{
public:
    // The runs a direction holds by default: some 190 MiB of 1448-byte
    // segments waiting for one hole, far more than a real window lets
    // through; about 120 bytes each.
    static constexpr std::size_t kDefaultWaitingLimit = std::size_t(1) << 17;

    void add(const TcpSegmentIn& segment);
    // Makes room for the events of this many segments (in-order data makes
    // one each), so that a caller who knows the count spares the events'
    // growth: the copying, and up to half their memory unused.
    void reserve(std::size_t segments) { m_events.reserve(segments); }
    // No more segments come: out-of-order bytes still waiting are handed out
    // after gaps for the holes before them, as made known by the last
    // segment added. Calling it again does nothing more.
    void finish();

    const std::vector<TcpStreamEvent>& events() const { return m_events; }
    // Forgets the events made so far, for a caller who keeps what it needs
    // of them as they come: later events begin events() anew.
    void clear_events()
    {
        m_events.clear();
        m_call_begin = 0;
    }

    // Runs of waiting bytes and cut tails a direction may hold (at least 1);
    // takes effect with the next segment.
    void set_waiting_limit(std::size_t runs) { m_waiting_limit = runs > 0 ? runs : 1; }
    std::size_t waiting_limit() const { return m_waiting_limit; }
    // The runs a direction holds now.
    std::size_t waiting(int direction) const;

    // Bytes handed out per direction (gaps not counted).
    std::array<std::uint64_t, 2> bytes() const { return m_bytes; }
    std::int64_t segments() const { return m_segments; }
    // Segments that carried only bytes already had, or some of them.
    std::int64_t retransmissions() const { return m_retransmissions; }
    std::int64_t gaps() const { return m_gaps; }
    std::uint64_t missing_bytes() const { return m_missing; }
    // Holes made gaps because too much waited behind them.
    std::int64_t holes_given_up() const { return m_holes_given_up; }

private:
    // Disjoint runs of positions, merged where they touch.
    class Runs
    {
    public:
        bool empty() const { return m_runs.empty(); }
        std::size_t size() const { return m_runs.size(); }
        std::int64_t first_begin() const { return m_runs.begin()->first; }
        std::int64_t first_end() const { return m_runs.begin()->second; }
        std::int64_t last_end() const { return std::prev(m_runs.end())->second; }
        // Adds [from, to).
        void add(std::int64_t from, std::int64_t to);
        // Whether some position of [from, to) is held.
        bool meets(std::int64_t from, std::int64_t to) const;
        // Calls visit(begin, end) for each run of [from, to) not held, in
        // order.
        template <typename Visit>
        void for_each_hole(std::int64_t from, std::int64_t to, Visit visit) const
        {
            auto it = m_runs.upper_bound(from);
            if (it != m_runs.begin() && std::prev(it)->second > from)
                from = std::prev(it)->second;
            for (; from < to; ++it) {
                if (it == m_runs.end() || it->first >= to) {
                    visit(from, to);
                    return;
                }
                if (it->first > from)
                    visit(from, it->first);
                from = std::max(from, it->second);
            }
        }
        // The end of the last run that begins before `at`; -1 when none does.
        std::int64_t end_before(std::int64_t at) const;
        // Forgets the positions before `at`.
        void drop_before(std::int64_t at);

    private:
        std::map<std::int64_t, std::int64_t> m_runs; // begin, end
    };

    // Sequence numbers are unwrapped into 64-bit positions per direction.
    // What was captured out of order: bytes of a frame, or the sequence
    // number of a FIN.
    struct Held
    {
        enum Kind : std::uint8_t { Bytes, Fin };
        Kind kind;
        std::int64_t end; // one past the last position
        std::int64_t frame; // Bytes: the frame and where the first byte lies
        std::uint32_t frame_offset;
    };
    struct Direction
    {
        bool started = false;
        std::int64_t next = 0; // position of the next byte to hand out
        std::int64_t acked = 0; // the furthest position the other side acknowledged
        // Disjoint, keyed by first position, each at or after `next`: the
        // first thing captured at each position.
        std::map<std::int64_t, Held> captured;
        Runs covered; // the positions of `captured`
        // Positions the headers stated but no frame held (cut tails), at or
        // after `next`: gaps, unless `covered` holds them too.
        Runs missing;
    };

    // Puts [from, to) of a frame where nothing was captured earlier; returns
    // whether some of it was there already.
    bool hold_bytes(Direction& direction, std::int64_t from, std::int64_t to, std::int64_t frame,
                    std::uint32_t frame_offset);
    // Notes [from, to) as stated but not captured; returns whether some of
    // it was captured already.
    bool hold_missing(Direction& direction, std::int64_t from, std::int64_t to);
    void hold_fin(Direction& direction, std::int64_t at);
    // Moves `next` on, forgetting what lies before it.
    void advance(Direction& direction, std::int64_t to);
    // Hands out what waits from `next` on while it is contiguous.
    void drain(int direction);
    // Hands out everything up to `target`, gaps for the holes.
    void skip_to(int direction, std::int64_t target);
    // Gives up holes while the direction holds more than the limit.
    void limit(int direction);
    void add_bytes(int direction, std::int64_t frame, std::uint32_t frame_offset,
                   std::uint32_t length, std::int64_t position);
    void add_gap(int direction, std::uint64_t missing, std::int64_t position);

    std::array<Direction, 2> m_directions;
    std::size_t m_waiting_limit = kDefaultWaitingLimit;
    // The segment being added (or the last one, for finish()), and the first
    // event it made: only events of the same call may be merged.
    std::int64_t m_frame = 0;
    std::int64_t m_seconds = 0;
    std::int64_t m_nanoseconds = 0;
    std::size_t m_call_begin = 0;

    std::vector<TcpStreamEvent> m_events;
    std::array<std::uint64_t, 2> m_bytes {};
    std::int64_t m_segments = 0;
    std::int64_t m_retransmissions = 0;
    std::int64_t m_gaps = 0;
    std::uint64_t m_missing = 0;
    std::int64_t m_holes_given_up = 0;
};

// Splits the segments of one address and port pair, in capture order, into
// connections: a SYN without ACK whose sequence number differs from the
// current connection's own SYN begins a new connection (the pair reused).
// Returns the connection number of each segment, from 0.
std::vector<int> split_connections(const std::vector<TcpSegmentIn>& segments);
