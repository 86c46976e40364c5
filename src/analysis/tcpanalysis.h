// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <QByteArray>

#include "packetrecord.h"
#include "tcpmarks.h"

// One TCP connection of the rows, as the conversations table shows it.
// Direction 0 is from A, the side that sent the connection's first segment
// captured, to B; direction 1 the other way.
struct TcpConversation
{
    int version = 4; // of IP
    // A's and B's address (the first 4 bytes for IPv4) and port.
    std::array<std::array<unsigned char, 16>, 2> address {};
    std::array<std::uint16_t, 2> port {};
    std::array<std::uint64_t, 2> packets {};
    // Payload bytes as the headers state them (the rows' "数据长度"), every
    // segment captured counted once: retransmitted bytes again.
    std::array<std::uint64_t, 2> bytes {};
    // Capture times of the first and the last segment, in nanoseconds since
    // the epoch.
    std::int64_t first_ns = 0;
    std::int64_t last_ns = 0;
    std::uint64_t marked = 0; // rows with at least one mark
    int first_row = -1;
    // The host name of a TLS ClientHello that began one direction's bytes;
    // empty otherwise.
    std::string server_name;
};

// What the rows' TCP segments tell, worked out once per row as the rows
// arrive, in one pass over each row's header: the connections (an address
// and port pair that a new SYN reuses is another connection, as following
// a stream tells them apart) with their counts, and the marks of each row:
// what the peers' TCP analysis (tshark's tcp.analysis) says of the segment,
// and its RST flag.
//
// The marks follow that analysis' rules, which look only at what came
// before the segment in its connection: the highest sequence number each
// side sent, the last acknowledgement and window each side sent, and the
// time those came. Segments that go back behind the highest sequence number
// are retransmissions, or out of order when they come within the
// connection's first round-trip time (3 ms when the handshake was not
// seen) after the highest one and do not end where it ends. The window is
// scaled by the shift of its side's SYN; a side whose SYN was not seen has
// no full window.
//
// Memory: 4 bytes per row, 8 more per marked row, and some 300 bytes per
// connection and per address and port pair.
class TcpAnalysis
{
public:
    // The payload bytes of a row's segment as captured (empty when they
    // cannot be had): asked for the first segment with payload of each
    // direction of a connection, for a TLS ClientHello's server name. May
    // be null: no server names then.
    using PayloadReader = std::function<QByteArray(int row)>;
    explicit TcpAnalysis(PayloadReader payload = nullptr);

    // The next row, and its segment (null for a row without one). Rows come
    // in order from 0; a row number past the next makes the rows between
    // rows without a segment, one already added is ignored.
    void add(int row, const CapturedSegment* segment);
    void clear();

    // Counts the clears: a connection's number means another connection
    // after one.
    std::uint64_t generation() const { return m_generation; }
    int row_count() const { return static_cast<int>(m_connection_of_row.size()); }
    TcpMarks marks(int row) const;
    // The rows with at least one mark, ascending, with their marks.
    const std::vector<std::pair<int, TcpMarks>>& marked_rows() const { return m_marked; }
    // The connection of a row, from 0 in the order of their first rows; -1
    // for a row without a segment, or no such row. The connections of the
    // rows added since tell what changed.
    int connection_of(int row) const;

    int connection_count() const { return static_cast<int>(m_connections.size()); }
    // Valid until the next add() or clear(); `connection` must exist.
    const TcpConversation& conversation(int connection) const
    {
        return m_connections[static_cast<std::size_t>(connection)].conversation;
    }
    // The capture time of the first row with a segment, in nanoseconds since
    // the epoch.
    std::optional<std::int64_t> first_ns() const { return m_first_ns; }

private:
    // What one side of a connection sent last and furthest.
    struct Flow
    {
        std::uint32_t next_seq = 0; // one past the highest; SYN and FIN count one
        std::uint32_t last_ack = 0; // the acknowledgement field of the last segment
        std::uint32_t window = 0; // of the last segment, unscaled
        std::int64_t next_seq_ns = 0; // when next_seq last grew
        std::int64_t last_ack_ns = 0; // when the last segment came
        std::uint32_t duplicate_acks = 0; // in a row
        std::int8_t window_scale = -1; // -1: no SYN seen; -2: scaling off
        bool seq_known = false;
        bool window_known = false;
        bool acked_after_syn = false; // sent an ACK without SYN: windows scaled
        bool last_keep_alive = false;
        bool last_window_probe = false;
        bool payload_looked_at = false; // for a server name
    };
    struct Connection
    {
        TcpConversation conversation;
        std::array<Flow, 2> flows;
        // The sequence number each side began with (its SYN's, or the first
        // seen): a SYN with another one begins a new connection.
        std::array<std::optional<std::uint32_t>, 2> first_seq;
        std::int64_t syn_ns = 0; // the latest SYN without ACK
        std::int64_t first_rtt_ns = 0; // SYN to the first ACK without SYN; 0: unknown
    };
    struct PairKey
    {
        std::array<unsigned char, 36> endpoints {}; // the smaller address and port first
        int version = 4;
        bool operator==(const PairKey& other) const
        {
            return version == other.version && endpoints == other.endpoints;
        }
    };
    struct PairHash
    {
        std::size_t operator()(const PairKey& key) const;
    };

    int connection_for(const TcpSegmentHeader& header, int row, std::int64_t now);
    TcpMarks analyse(Connection& connection, int direction, const TcpSegmentHeader& header,
                     std::int64_t now) const;
    void look_for_server_name(Connection& connection, int direction, int row);

    PayloadReader m_payload;
    std::unordered_map<PairKey, int, PairHash> m_pairs; // the latest connection of each
    std::vector<Connection> m_connections;
    std::vector<std::uint32_t> m_connection_of_row; // kNone: no segment
    std::vector<std::pair<int, TcpMarks>> m_marked;
    std::optional<std::int64_t> m_first_ns;
    std::uint64_t m_generation = 0;
};
