// SPDX-License-Identifier: GPL-2.0-or-later

#include "tcpreassembly.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

// The largest jump an acknowledgement may make past the bytes seen: the
// largest window TCP allows (2^30 with window scaling). A larger one is no
// acknowledgement of real bytes, and skipping it would make a vast gap.
constexpr std::int64_t kMaxAckJump = std::int64_t(1) << 30;

// The position of `seq` nearest to `reference` (within 2^31 either side).
std::int64_t unwrap(std::int64_t reference, std::uint32_t seq)
{
    const std::uint32_t delta = seq - static_cast<std::uint32_t>(reference);
    return delta < 0x80000000U
            ? reference + delta
            : reference + static_cast<std::int64_t>(delta) - (std::int64_t(1) << 32);
}

} // namespace

void TcpReassembly::add(const TcpSegmentIn& segment)
{
    ++m_segments;
    m_frame = segment.frame;
    m_seconds = segment.seconds;
    m_nanoseconds = segment.nanoseconds;
    m_call_begin = m_events.size();

    const int d = segment.direction == 0 ? 0 : 1;
    // Bytes captured beyond the stated length (a short frame's padding) are
    // no data.
    const std::uint32_t captured = std::min(segment.captured, segment.stated);
    const std::uint32_t stated = segment.stated;

    // The other side has these bytes. Those never seen before bytes that
    // wait are lost to the capture, not merely late; those after the last
    // waiting byte may still come in a copy sent again (a spurious
    // retransmission after a capture drop), so they wait for finish().
    Direction& other = m_directions[1 - d];
    if (segment.has_ack && other.started) {
        const std::int64_t acked = unwrap(other.next, segment.ack);
        if (acked > other.next && acked - other.next <= kMaxAckJump) {
            other.acked = std::max(other.acked, acked);
            const auto after = other.waiting.lower_bound(acked);
            if (after != other.waiting.begin())
                skip_to(1 - d, std::min(acked, std::prev(after)->second.end));
        }
    }

    Direction& own = m_directions[d];
    if (!own.started) {
        // As tshark: a direction begins with its SYN or its first data.
        if (!segment.syn && stated == 0)
            return;
        own.started = true;
        own.next = static_cast<std::int64_t>(segment.seq) + (segment.syn ? 1 : 0);
    }
    // A RST takes no sequence number and its data counts as any other
    // (tshark's follow shows it, and what follows it).
    const std::int64_t begin = unwrap(own.next, segment.seq) + (segment.syn ? 1 : 0);
    const std::int64_t bytes_end = begin + captured;
    const std::int64_t stated_end = begin + stated;
    const std::int64_t end = stated_end + (segment.fin ? 1 : 0);

    if (own.waiting.empty() && begin <= own.next) {
        // In order, the usual case: nothing to keep.
        if (stated > 0 && begin < own.next)
            ++m_retransmissions;
        if (bytes_end > own.next) {
            const auto skipped = static_cast<std::uint32_t>(own.next - begin);
            add_bytes(d, segment.frame, segment.payload_offset + skipped, captured - skipped,
                      own.next);
            own.next = bytes_end;
        }
        if (stated_end > own.next) {
            add_gap(d, static_cast<std::uint64_t>(stated_end - own.next), own.next);
            own.next = stated_end;
        }
        own.next = std::max(own.next, end);
        return;
    }

    bool again = stated > 0 && begin < own.next;
    again |= hold(own, begin, bytes_end,
                  Held { Held::Bytes, bytes_end, segment.frame, segment.payload_offset });
    again |= hold(own, bytes_end, stated_end, Held { Held::Missing, stated_end, 0, 0 });
    if (segment.fin)
        hold(own, stated_end, end, Held { Held::Fin, end, 0, 0 });
    if (again && stated > 0)
        ++m_retransmissions;
    drain(d);
}

void TcpReassembly::finish()
{
    m_call_begin = m_events.size();
    for (int d = 0; d < 2; ++d) {
        const Direction& direction = m_directions[d];
        std::int64_t end = direction.acked;
        if (!direction.waiting.empty())
            end = std::max(end, std::prev(direction.waiting.end())->second.end);
        if (direction.started)
            skip_to(d, end);
    }
}

bool TcpReassembly::hold(Direction& direction, std::int64_t from, std::int64_t to, const Held& held)
{
    std::map<std::int64_t, Held>& waiting = direction.waiting;
    const auto put = [&](std::int64_t first, std::int64_t last) {
        Held piece = held;
        piece.end = last;
        if (piece.kind == Held::Bytes)
            piece.frame_offset += static_cast<std::uint32_t>(first - from);
        waiting.emplace(first, piece);
    };

    bool overlapped = false;
    std::int64_t at = std::max(from, direction.next);
    while (at < to) {
        auto it = waiting.upper_bound(at);
        if (it != waiting.begin() && std::prev(it)->second.end > at)
            --it;
        if (it == waiting.end() || it->first >= to) {
            put(at, to);
            break;
        }
        if (it->first > at) {
            put(at, it->first);
            at = it->first;
            continue;
        }
        // Something waits at `at` already: it stays, unless it is a cut
        // tail and this is something captured.
        const std::int64_t stop = std::min(to, it->second.end);
        if (it->second.kind != Held::Missing || held.kind == Held::Missing) {
            overlapped |= it->second.kind != Held::Missing;
            at = stop;
            continue;
        }
        const std::int64_t old_begin = it->first;
        const Held old = it->second;
        if (old_begin < at)
            it->second.end = at;
        else
            waiting.erase(it);
        if (old.end > stop)
            waiting.emplace(stop, old);
        put(at, stop);
        at = stop;
    }
    return overlapped;
}

void TcpReassembly::hand_out(int direction, std::int64_t from, const Held& held)
{
    switch (held.kind) {
    case Held::Bytes:
        add_bytes(direction, held.frame, held.frame_offset,
                  static_cast<std::uint32_t>(held.end - from), from);
        break;
    case Held::Missing:
        add_gap(direction, static_cast<std::uint64_t>(held.end - from), from);
        break;
    case Held::Fin:
        break;
    }
    m_directions[direction].next = held.end;
}

void TcpReassembly::drain(int direction)
{
    std::map<std::int64_t, Held>& waiting = m_directions[direction].waiting;
    while (!waiting.empty() && waiting.begin()->first == m_directions[direction].next) {
        const auto first = waiting.begin();
        hand_out(direction, first->first, first->second);
        waiting.erase(first);
    }
}

void TcpReassembly::skip_to(int direction, std::int64_t target)
{
    Direction& state = m_directions[direction];
    while (state.next < target) {
        if (!state.waiting.empty() && state.waiting.begin()->first == state.next) {
            drain(direction);
            continue;
        }
        const std::int64_t hole_end
                = state.waiting.empty() ? target : std::min(target, state.waiting.begin()->first);
        add_gap(direction, static_cast<std::uint64_t>(hole_end - state.next), state.next);
        state.next = hole_end;
    }
    drain(direction);
}

void TcpReassembly::add_bytes(int direction, std::int64_t frame, std::uint32_t frame_offset,
                              std::uint32_t length, std::int64_t position)
{
    if (length == 0)
        return;
    m_bytes[direction] += length;
    if (m_events.size() > m_call_begin) {
        TcpStreamEvent& last = m_events.back();
        if (last.kind == TcpStreamEvent::Bytes && last.direction == direction
            && last.piece.frame == frame
            && last.piece.frame_offset + last.piece.length == frame_offset
            && last.seq + last.piece.length == static_cast<std::uint32_t>(position)) {
            last.piece.length += length;
            return;
        }
    }
    m_events.push_back(TcpStreamEvent { TcpStreamEvent::Bytes, direction,
                                        TcpStreamPiece { frame, frame_offset, length, direction },
                                        0, m_frame, m_seconds, m_nanoseconds,
                                        static_cast<std::uint32_t>(position) });
}

void TcpReassembly::add_gap(int direction, std::uint64_t missing, std::int64_t position)
{
    if (missing == 0)
        return;
    m_missing += missing;
    if (m_events.size() > m_call_begin) {
        TcpStreamEvent& last = m_events.back();
        if (last.kind == TcpStreamEvent::Gap && last.direction == direction
            && static_cast<std::uint32_t>(last.seq + last.missing)
                    == static_cast<std::uint32_t>(position)) {
            last.missing += missing;
            return;
        }
    }
    ++m_gaps;
    m_events.push_back(TcpStreamEvent {
            TcpStreamEvent::Gap, direction, TcpStreamPiece { 0, 0, 0, direction }, missing, m_frame,
            m_seconds, m_nanoseconds, static_cast<std::uint32_t>(position) });
}

std::vector<int> split_connections(const std::vector<TcpSegmentIn>& segments)
{
    std::vector<int> connections;
    connections.reserve(segments.size());
    int current = 0;
    // The sequence number each direction of the current connection began
    // with: its SYN's, or the first one seen.
    std::array<std::optional<std::uint32_t>, 2> first_seq;
    for (const TcpSegmentIn& segment : segments) {
        const int d = segment.direction == 0 ? 0 : 1;
        if (segment.syn && !segment.has_ack && first_seq[d] && *first_seq[d] != segment.seq) {
            ++current;
            first_seq = {};
        }
        if (!first_seq[d])
            first_seq[d] = segment.seq;
        connections.push_back(current);
    }
    return connections;
}
