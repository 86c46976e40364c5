// SPDX-License-Identifier: GPL-2.0-or-later

#include "tcpreassembly.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

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

void TcpReassembly::Runs::add(std::int64_t from, std::int64_t to)
{
    if (from >= to)
        return;
    auto it = m_runs.upper_bound(from);
    if (it != m_runs.begin() && std::prev(it)->second >= from) {
        --it;
        from = it->first;
    }
    while (it != m_runs.end() && it->first <= to) {
        to = std::max(to, it->second);
        it = m_runs.erase(it);
    }
    m_runs.emplace_hint(it, from, to);
}

bool TcpReassembly::Runs::meets(std::int64_t from, std::int64_t to) const
{
    const auto it = m_runs.upper_bound(from);
    if (it != m_runs.begin() && std::prev(it)->second > from)
        return true;
    return it != m_runs.end() && it->first < to;
}

std::int64_t TcpReassembly::Runs::end_before(std::int64_t at) const
{
    const auto it = m_runs.lower_bound(at);
    return it == m_runs.begin() ? -1 : std::prev(it)->second;
}

void TcpReassembly::Runs::drop_before(std::int64_t at)
{
    while (!m_runs.empty() && m_runs.begin()->second <= at)
        m_runs.erase(m_runs.begin());
    if (!m_runs.empty() && m_runs.begin()->first < at) {
        auto first = m_runs.extract(m_runs.begin());
        first.key() = at;
        m_runs.insert(std::move(first));
    }
}

std::size_t TcpReassembly::waiting(int direction) const
{
    const Direction& state = m_directions[direction == 0 ? 0 : 1];
    return state.captured.size() + state.missing.size();
}

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
            // The end of the last run that waits from before `acked` on.
            const auto last_captured = other.captured.lower_bound(acked);
            std::int64_t end = other.missing.end_before(acked);
            if (last_captured != other.captured.begin())
                end = std::max(end, std::prev(last_captured)->second.end);
            if (end >= 0)
                skip_to(1 - d, std::min(acked, end));
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

    if (own.captured.empty() && own.missing.empty() && begin <= own.next) {
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
    again |= hold_bytes(own, begin, bytes_end, segment.frame, segment.payload_offset);
    again |= hold_missing(own, bytes_end, stated_end);
    if (segment.fin)
        hold_fin(own, stated_end);
    if (again && stated > 0)
        ++m_retransmissions;
    drain(d);
    limit(d);
}

void TcpReassembly::finish()
{
    m_call_begin = m_events.size();
    for (int d = 0; d < 2; ++d) {
        const Direction& direction = m_directions[d];
        std::int64_t end = direction.acked;
        if (!direction.captured.empty())
            end = std::max(end, std::prev(direction.captured.end())->second.end);
        if (!direction.missing.empty())
            end = std::max(end, direction.missing.last_end());
        if (direction.started)
            skip_to(d, end);
    }
}

bool TcpReassembly::hold_bytes(Direction& direction, std::int64_t from, std::int64_t to,
                               std::int64_t frame, std::uint32_t frame_offset)
{
    const std::int64_t at = std::max(from, direction.next);
    if (at >= to)
        return false;
    const bool overlapped = direction.covered.meets(at, to);
    // Each hole costs a look-up; what lies between the holes, nothing.
    direction.covered.for_each_hole(at, to, [&](std::int64_t first, std::int64_t last) {
        direction.captured.emplace(
                first,
                Held { Held::Bytes, last, frame,
                       frame_offset + static_cast<std::uint32_t>(first - from) });
    });
    direction.covered.add(at, to);
    return overlapped;
}

bool TcpReassembly::hold_missing(Direction& direction, std::int64_t from, std::int64_t to)
{
    const std::int64_t at = std::max(from, direction.next);
    if (at >= to)
        return false;
    direction.missing.add(at, to);
    return direction.covered.meets(at, to);
}

void TcpReassembly::hold_fin(Direction& direction, std::int64_t at)
{
    if (at < direction.next || direction.covered.meets(at, at + 1))
        return;
    direction.captured.emplace(at, Held { Held::Fin, at + 1, 0, 0 });
    direction.covered.add(at, at + 1);
}

void TcpReassembly::advance(Direction& direction, std::int64_t to)
{
    direction.next = to;
    direction.covered.drop_before(to);
    direction.missing.drop_before(to);
}

void TcpReassembly::drain(int direction)
{
    Direction& state = m_directions[direction];
    for (;;) {
        if (!state.captured.empty() && state.captured.begin()->first == state.next) {
            const auto first = state.captured.begin();
            const Held& held = first->second;
            if (held.kind == Held::Bytes)
                add_bytes(direction, held.frame, held.frame_offset,
                          static_cast<std::uint32_t>(held.end - state.next), state.next);
            const std::int64_t end = held.end;
            state.captured.erase(first);
            advance(state, end);
        } else if (!state.missing.empty() && state.missing.first_begin() == state.next) {
            // Missing up to what was captured after it, if that comes first.
            std::int64_t end = state.missing.first_end();
            if (!state.captured.empty())
                end = std::min(end, state.captured.begin()->first);
            add_gap(direction, static_cast<std::uint64_t>(end - state.next), state.next);
            advance(state, end);
        } else {
            return;
        }
    }
}

void TcpReassembly::skip_to(int direction, std::int64_t target)
{
    Direction& state = m_directions[direction];
    drain(direction);
    while (state.next < target) {
        std::int64_t hole_end = target;
        if (!state.captured.empty())
            hole_end = std::min(hole_end, state.captured.begin()->first);
        if (!state.missing.empty())
            hole_end = std::min(hole_end, state.missing.first_begin());
        add_gap(direction, static_cast<std::uint64_t>(hole_end - state.next), state.next);
        advance(state, hole_end);
        drain(direction);
    }
}

void TcpReassembly::limit(int direction)
{
    Direction& state = m_directions[direction];
    while (state.captured.size() + state.missing.size() > m_waiting_limit) {
        // What waits does not begin at `next` (it would have been handed
        // out): the first hole is before it.
        std::int64_t first = state.missing.empty() ? state.captured.begin()->first
                                                   : state.missing.first_begin();
        if (!state.captured.empty())
            first = std::min(first, state.captured.begin()->first);
        ++m_holes_given_up;
        skip_to(direction, first);
    }
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
