// SPDX-License-Identifier: GPL-2.0-or-later

#include "tcpanalysis.h"

#include <algorithm>
#include <cstring>

#include "tlsservername.h"

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::int64_t kNanoseconds = 1000000000;
// A retransmission this soon after the duplicate acknowledgements that
// asked for it is a fast one.
constexpr std::int64_t kFastRetransmissionNs = 20000000;
// How soon after the highest segment an earlier one counts as out of order
// when the connection's round-trip time is not known.
constexpr std::int64_t kOutOfOrderNs = 3000000;
constexpr int kMaxWindowScale = 14; // RFC 7323

// Sequence number order, modulo 2^32.
bool before(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::int32_t>(a - b) < 0;
}
bool after(std::uint32_t a, std::uint32_t b)
{
    return static_cast<std::int32_t>(a - b) > 0;
}

// 0 for a segment from the connection's A, 1 for one from B.
int direction_of(const TcpConversation& conversation, const TcpSegmentHeader& header)
{
    return header.source == conversation.address[0] && header.source_port == conversation.port[0]
            ? 0
            : 1;
}

} // namespace

TcpAnalysis::TcpAnalysis(PayloadReader payload)
    : m_payload(std::move(payload))
{ }

void TcpAnalysis::clear()
{
    ++m_generation;
    std::vector<std::uint32_t>().swap(m_slots);
    m_pairs = 0;
    std::vector<std::unique_ptr<Connection[]>>().swap(m_blocks);
    m_connection_count = 0;
    m_server_names.clear();
    std::vector<std::uint32_t>().swap(m_connection_of_row);
    std::vector<std::pair<int, TcpMarks>>().swap(m_marked);
    m_first_ns.reset();
}

void TcpAnalysis::add(int row, const CapturedSegment* segment)
{
    if (row < row_count())
        return;
    m_connection_of_row.resize(static_cast<std::size_t>(row), kNone);
    if (segment == nullptr) {
        m_connection_of_row.push_back(kNone);
        return;
    }
    const TcpSegmentHeader& header = segment->header;
    const std::int64_t now = segment->seconds * kNanoseconds + segment->nanoseconds;
    if (!m_first_ns)
        m_first_ns = now;
    const int number = connection_for(header, row, now);
    m_connection_of_row.push_back(static_cast<std::uint32_t>(number));
    Connection& connection = at(number);
    TcpConversation& conversation = connection.conversation;
    const int direction = direction_of(conversation, header);
    const TcpMarks marks = analyse(connection, direction, header, now);

    ++conversation.packets[static_cast<std::size_t>(direction)];
    conversation.bytes[static_cast<std::size_t>(direction)] += header.stated;
    conversation.last_ns = now;
    if (marks != 0) {
        ++conversation.marked;
        m_marked.emplace_back(row, marks);
    }
    if (header.captured > 0)
        look_for_server_name(number, direction, row);
}

std::size_t TcpAnalysis::slot_of(const TcpSegmentHeader& header) const
{
    // Both directions give one hash: the smaller endpoint first (FNV-1a).
    const int source_first = std::memcmp(header.source.data(), header.destination.data(), 16);
    const bool forward = source_first < 0
            || (source_first == 0 && header.source_port <= header.destination_port);
    std::uint64_t hash = 14695981039346656037ULL ^ header.version;
    const auto mix = [&hash](const std::array<unsigned char, 16>& address, std::uint16_t port) {
        for (const unsigned char byte : address)
            hash = (hash ^ byte) * 1099511628211ULL;
        hash = (hash ^ (port >> 8)) * 1099511628211ULL;
        hash = (hash ^ (port & 0xFF)) * 1099511628211ULL;
    };
    mix(forward ? header.source : header.destination,
        forward ? header.source_port : header.destination_port);
    mix(forward ? header.destination : header.source,
        forward ? header.destination_port : header.source_port);
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t slot = static_cast<std::size_t>(hash ^ (hash >> 32)) & mask;;
         slot = (slot + 1) & mask) {
        if (m_slots[slot] == kNone)
            return slot;
        const TcpConversation& c = at(static_cast<int>(m_slots[slot])).conversation;
        if (c.version != header.version)
            continue;
        if ((c.address[0] == header.source && c.port[0] == header.source_port
             && c.address[1] == header.destination && c.port[1] == header.destination_port)
            || (c.address[1] == header.source && c.port[1] == header.source_port
                && c.address[0] == header.destination && c.port[0] == header.destination_port))
            return slot;
    }
}

void TcpAnalysis::grow_slots()
{
    std::vector<std::uint32_t> old(std::max<std::size_t>(1024, m_slots.size() * 2), kNone);
    old.swap(m_slots);
    for (const std::uint32_t connection : old) {
        if (connection == kNone)
            continue;
        const TcpConversation& c = at(static_cast<int>(connection)).conversation;
        TcpSegmentHeader endpoints;
        endpoints.version = c.version;
        endpoints.source = c.address[0];
        endpoints.destination = c.address[1];
        endpoints.source_port = c.port[0];
        endpoints.destination_port = c.port[1];
        m_slots[slot_of(endpoints)] = connection;
    }
}

int TcpAnalysis::begin_connection(const TcpSegmentHeader& header, int row, std::int64_t now)
{
    const int number = m_connection_count;
    if ((number >> kBlockBits) >= static_cast<int>(m_blocks.size()))
        m_blocks.emplace_back(new Connection[std::size_t(1) << kBlockBits]);
    ++m_connection_count;
    TcpConversation& conversation = at(number).conversation;
    conversation.version = static_cast<std::uint8_t>(header.version);
    conversation.address = { header.source, header.destination };
    conversation.port = { header.source_port, header.destination_port };
    conversation.first_ns = now;
    conversation.first_row = row;
    return number;
}

int TcpAnalysis::connection_for(const TcpSegmentHeader& header, int row, std::int64_t now)
{
    if ((m_pairs + 1) * 2 > m_slots.size())
        grow_slots();
    const std::size_t slot = slot_of(header);
    if (m_slots[slot] == kNone) {
        ++m_pairs;
        m_slots[slot] = static_cast<std::uint32_t>(begin_connection(header, row, now));
        return static_cast<int>(m_slots[slot]);
    }
    const int current = static_cast<int>(m_slots[slot]);
    const Flow& flow = at(current).flows[static_cast<std::size_t>(
            direction_of(at(current).conversation, header))];
    const bool syn_only = (header.flags & (TcpSegmentHeader::Syn | TcpSegmentHeader::Ack))
            == TcpSegmentHeader::Syn;
    if (syn_only && flow.first_seq_known && flow.first_seq != header.seq) {
        // The pair reused: the same endpoints, so the same slot.
        m_slots[slot] = static_cast<std::uint32_t>(begin_connection(header, row, now));
        return static_cast<int>(m_slots[slot]);
    }
    return current;
}

TcpMarks TcpAnalysis::analyse(Connection& connection, int direction, const TcpSegmentHeader& header,
                              std::int64_t now) const
{
    Flow& out = connection.flows[static_cast<std::size_t>(direction)];
    Flow& back = connection.flows[static_cast<std::size_t>(1 - direction)];
    if (!out.first_seq_known) {
        out.first_seq = header.seq;
        out.first_seq_known = true;
    }

    const std::uint8_t flags = header.flags;
    const bool syn = (flags & TcpSegmentHeader::Syn) != 0;
    const bool fin = (flags & TcpSegmentHeader::Fin) != 0;
    const bool rst = (flags & TcpSegmentHeader::Rst) != 0;
    const bool ack = (flags & TcpSegmentHeader::Ack) != 0;
    const bool control = syn || fin || rst;
    const std::uint32_t seq = header.seq;
    const std::uint32_t length = header.stated;
    const std::uint16_t window = header.window;
    TcpMarks marks = rst ? TcpMark::Reset : 0;

    // The round-trip time of the handshake, from the SYN to the first ACK
    // without SYN, either way.
    if (syn && !ack)
        connection.syn_ns = now;
    if (ack && !syn && connection.syn_ns != 0 && connection.first_rtt_ns == 0)
        connection.first_rtt_ns = now - connection.syn_ns;
    if (syn) {
        // Windows are scaled only when both SYNs offered it.
        out.window_scale = header.window_scale < 0
                ? std::int8_t(-2)
                : static_cast<std::int8_t>(std::min<int>(header.window_scale, kMaxWindowScale));
        if (out.window_scale == -2 && back.window_scale != -1)
            back.window_scale = -2;
        else if (back.window_scale == -2)
            out.window_scale = -2;
    } else if (ack) {
        out.acked_after_syn = true;
    }

    bool keep_alive = false;
    bool window_probe = false;
    bool duplicate_ack = false;
    const auto checks = [&] {
        // A probe of a closed window: the next byte alone. Nothing else is
        // told of it.
        if (length == 1 && out.seq_known && seq == out.next_seq && back.window_known
            && back.window == 0) {
            window_probe = true;
            return;
        }
        if (window == 0 && !control)
            marks |= TcpMark::ZeroWindow;
        if (out.seq_known && after(seq, out.next_seq) && !rst)
            marks |= TcpMark::PreviousSegmentLost;
        if (length <= 1 && out.seq_known && seq == out.next_seq - 1 && !control) {
            keep_alive = true;
            marks |= TcpMark::KeepAlive;
        }
        if (length > 0 && back.window_scale != -1 && back.window_known && !control) {
            const int shift
                    = back.window_scale < 0 || !back.acked_after_syn ? 0 : back.window_scale;
            if (seq + length == back.last_ack + (std::uint32_t(back.window) << shift))
                marks |= TcpMark::WindowFull;
        }
        const bool repeats = length == 0 && !control && out.seq_known && seq == out.next_seq
                && out.window_known && header.ack == out.last_ack;
        // The answer to a keep-alive or to a probe of the window repeats
        // the last acknowledgement by design.
        if (repeats && window != 0 && window == out.window && back.last_keep_alive)
            return;
        if (length == 0 && !control && window == 0 && out.window_known && out.window == 0
            && out.seq_known && seq == out.next_seq
            && (header.ack == out.last_ack || header.ack == out.last_ack + 1)
            && back.last_window_probe)
            return;
        if (repeats && window != 0 && window == out.window) {
            duplicate_ack = true;
            if (out.duplicate_acks < UINT16_MAX) // only two or more matter
                ++out.duplicate_acks;
            marks |= TcpMark::DuplicateAck;
        }
    };
    checks();
    if (!duplicate_ack)
        out.duplicate_acks = 0;

    // Bytes (or a SYN or FIN) that do not go beyond the highest sequence
    // number sent: a retransmission, or out of order.
    if ((length > 0 || syn || fin) && !keep_alive) {
        bool behind = out.seq_known && before(seq, out.next_seq);
        // More than the byte before the highest: new bytes after a probe.
        if (length > 1 && out.seq_known && out.next_seq - 1 == seq)
            behind = false;
        const std::int64_t first_rtt
                = connection.first_rtt_ns != 0 ? connection.first_rtt_ns : kOutOfOrderNs;
        if (length > 0 && back.last_ack != 0 && !after(seq + length, back.last_ack)) {
            marks |= TcpMark::Retransmission; // the other side had them all
        } else if (behind && back.duplicate_acks >= 2 && back.last_ack == seq
                   && now - back.last_ack_ns < kFastRetransmissionNs) {
            marks |= TcpMark::Retransmission; // a fast one
        } else if (behind && now - out.next_seq_ns < first_rtt
                   && out.next_seq != seq + length + (syn || fin ? 1 : 0)) {
            marks |= TcpMark::OutOfOrder;
        } else if (behind) {
            marks |= TcpMark::Retransmission;
        }
    }

    const std::uint32_t next = seq + length + (syn || fin ? 1 : 0);
    if ((!out.seq_known || after(next, out.next_seq)) && !window_probe) {
        out.next_seq = next;
        out.next_seq_ns = now;
        out.seq_known = true;
    }
    out.window = window;
    out.window_known = true;
    out.last_ack = header.ack;
    out.last_ack_ns = now;
    out.last_keep_alive = keep_alive;
    out.last_window_probe = window_probe;
    return marks;
}

void TcpAnalysis::look_for_server_name(int connection, int direction, int row)
{
    Flow& flow = at(connection).flows[static_cast<std::size_t>(direction)];
    if (!m_payload || flow.payload_looked_at || m_server_names.count(connection) != 0)
        return;
    flow.payload_looked_at = true;
    const QByteArray payload = m_payload(row);
    if (const std::optional<std::string> name
        = tls_server_name(reinterpret_cast<const unsigned char*>(payload.constData()),
                          static_cast<std::size_t>(payload.size())))
        m_server_names.emplace(connection, *name);
}

std::string TcpAnalysis::server_name(int connection) const
{
    const auto found = m_server_names.find(connection);
    return found != m_server_names.end() ? found->second : std::string();
}

TcpMarks TcpAnalysis::marks(int row) const
{
    const auto found = std::lower_bound(m_marked.cbegin(), m_marked.cend(), row,
                                        [](const std::pair<int, TcpMarks>& marked, int wanted) {
                                            return marked.first < wanted;
                                        });
    return found != m_marked.cend() && found->first == row ? found->second : 0;
}

int TcpAnalysis::connection_of(int row) const
{
    if (row < 0 || row >= row_count())
        return -1;
    const std::uint32_t connection = m_connection_of_row[static_cast<std::size_t>(row)];
    return connection == kNone ? -1 : static_cast<int>(connection);
}
