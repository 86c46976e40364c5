// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
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
    std::uint8_t version = 4; // of IP
    // A's and B's address (the first 4 bytes for IPv4) and port.
    std::array<std::array<unsigned char, 16>, 2> address {};
    std::array<std::uint16_t, 2> port {};
    std::array<std::uint32_t, 2> packets {};
    // Payload bytes as the headers state them (the rows' "数据长度"), every
    // segment captured counted once: retransmitted bytes again.
    std::array<std::uint64_t, 2> bytes {};
    // Capture times of the first and the last segment, in nanoseconds since
    // the epoch.
    std::int64_t first_ns = 0;
    std::int64_t last_ns = 0;
    std::uint32_t marked = 0; // rows with at least one mark
    int first_row = -1;
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
// Memory: 4 bytes per row, 8 more per marked row, some 200 bytes per
// connection and 8 to 16 per address and port pair.
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

    int connection_count() const { return m_connection_count; }
    // Valid until the next clear(); `connection` must exist.
    const TcpConversation& conversation(int connection) const
    {
        return at(connection).conversation;
    }
    // The host name of a TLS ClientHello that began one direction's bytes;
    // empty otherwise.
    std::string server_name(int connection) const;
    // The capture time of the first row with a segment, in nanoseconds since
    // the epoch.
    std::optional<std::int64_t> first_ns() const { return m_first_ns; }

private:
    // What one side of a connection sent last and furthest.
    struct Flow
    {
        std::int64_t next_seq_ns = 0; // when next_seq last grew
        std::int64_t last_ack_ns = 0; // when the last segment came
        std::uint32_t next_seq = 0; // one past the highest; SYN and FIN count one
        std::uint32_t last_ack = 0; // the acknowledgement field of the last segment
        // The sequence number the side began with (its SYN's, or the first
        // seen): a SYN with another one begins a new connection.
        std::uint32_t first_seq = 0;
        std::uint16_t window = 0; // of the last segment, unscaled
        std::uint16_t duplicate_acks = 0; // in a row
        std::int8_t window_scale = -1; // -1: no SYN seen; -2: scaling off
        bool first_seq_known : 1;
        bool seq_known : 1;
        bool window_known : 1;
        bool acked_after_syn : 1; // sent an ACK without SYN: windows scaled
        bool last_keep_alive : 1;
        bool last_window_probe : 1;
        bool payload_looked_at : 1; // for a server name
        Flow()
            : first_seq_known(false)
            , seq_known(false)
            , window_known(false)
            , acked_after_syn(false)
            , last_keep_alive(false)
            , last_window_probe(false)
            , payload_looked_at(false)
        { }
    };
    struct Connection
    {
        TcpConversation conversation;
        std::array<Flow, 2> flows;
        std::int64_t syn_ns = 0; // the latest SYN without ACK
        std::int64_t first_rtt_ns = 0; // SYN to the first ACK without SYN; 0: unknown
    };
    // Connections live in blocks that never move: no copies as they grow.
    static constexpr int kBlockBits = 10;
    const Connection& at(int connection) const
    {
        return m_blocks[static_cast<std::size_t>(connection >> kBlockBits)]
                       [connection & ((1 << kBlockBits) - 1)];
    }
    Connection& at(int connection)
    {
        return m_blocks[static_cast<std::size_t>(connection >> kBlockBits)]
                       [connection & ((1 << kBlockBits) - 1)];
    }
    int begin_connection(const TcpSegmentHeader& header, int row, std::int64_t now);
    int connection_for(const TcpSegmentHeader& header, int row, std::int64_t now);
    // The slot of the pair's latest connection in m_slots, or the empty
    // slot where it goes.
    std::size_t slot_of(const TcpSegmentHeader& header) const;
    void grow_slots();
    TcpMarks analyse(Connection& connection, int direction, const TcpSegmentHeader& header,
                     std::int64_t now) const;
    void look_for_server_name(int connection, int direction, int row);

    PayloadReader m_payload;
    // Open addressing: each address and port pair's latest connection, at
    // most half of the slots taken; kEmpty elsewhere.
    std::vector<std::uint32_t> m_slots;
    std::size_t m_pairs = 0;
    std::vector<std::unique_ptr<Connection[]>> m_blocks;
    int m_connection_count = 0;
    // Few connections have one: by connection.
    std::unordered_map<int, std::string> m_server_names;
    std::vector<std::uint32_t> m_connection_of_row; // kNone: no segment
    std::vector<std::pair<int, TcpMarks>> m_marked;
    std::optional<std::int64_t> m_first_ns;
    std::uint64_t m_generation = 0;
};
