// SPDX-License-Identifier: GPL-2.0-or-later

#include "tcptimesequence.h"

#include <algorithm>
#include <optional>

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <QCoreApplication>

#include "capturestore.h"
#include "packetrecord.h"

namespace {

// The bytes of a frame read for its headers: the link layer, IP with its
// options or extension headers, TCP with its options. A frame whose headers
// run longer is read whole.
constexpr int kHead = 256;
// The largest shift a window scale option may ask for (RFC 7323).
constexpr int kMaxWindowShift = 14;

QString endpoint_text(int version, const std::array<unsigned char, 16>& address, quint16 port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(version == 4 ? AF_INET : AF_INET6, address.data(), text, sizeof text) == nullptr)
        return QString();
    const QString name = QString::fromLatin1(text);
    return (version == 4 ? name : QStringLiteral("[%1]").arg(name))
            + QStringLiteral(":%1").arg(port);
}

std::optional<TcpSegmentHeader> decode(const StoredFrame& frame)
{
    pcap_pkthdr header {};
    header.caplen = static_cast<bpf_u_int32>(frame.bytes.size());
    header.len = frame.wire_length;
    return decode_tcp_segment(frame.link_type, header,
                              reinterpret_cast<const unsigned char*>(frame.bytes.constData()));
}

} // namespace

std::unique_ptr<TcpTimeSequence> TcpTimeSequence::open(const CaptureStore& store,
                                                       const std::vector<std::int64_t>& frames,
                                                       const std::vector<int>& rows,
                                                       std::int64_t followed, QString* error)
{
    std::unique_ptr<TcpTimeSequence> sequence(new TcpTimeSequence);
    if (!sequence->read(store, frames, rows, &followed, error))
        return nullptr;
    return sequence;
}

void TcpTimeSequence::add(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                          const std::vector<int>& rows)
{
    if (!m_ended)
        read(store, frames, rows, nullptr, nullptr);
}

void TcpTimeSequence::clear_taken()
{
    // Their memory goes too: the first reading of a long connection holds
    // much of it.
    for (Direction& direction : m_directions) {
        std::vector<Segment>().swap(direction.segments);
        std::vector<Ack>().swap(direction.acks);
    }
}

std::int64_t TcpTimeSequence::position(Direction& direction, std::uint32_t raw, bool syn)
{
    if (!direction.based) {
        // 0 is the SYN's sequence number, 1 the first byte's.
        direction.based = true;
        direction.last_raw = syn ? raw : raw - 1;
        direction.last = 0;
    }
    // The nearest position that the 32 bits name.
    direction.last += static_cast<std::int32_t>(raw - direction.last_raw);
    direction.last_raw = raw;
    return direction.last;
}

int TcpTimeSequence::window_shift(int sender) const
{
    // Windows are scaled only when both SYNs offered scaling; with a SYN
    // not captured the scale is not known, and the window is taken as sent.
    const std::int8_t own = m_directions[static_cast<std::size_t>(sender)].syn_scale;
    const std::int8_t other = m_directions[static_cast<std::size_t>(1 - sender)].syn_scale;
    if (own < 0 || other < 0)
        return 0;
    return std::min<int>(own, kMaxWindowShift);
}

bool TcpTimeSequence::read(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                           const std::vector<int>& rows, const std::int64_t* followed,
                           QString* error)
{
    const auto fail = [error](const char* text, const QString& detail = QString()) {
        if (error != nullptr) {
            *error = QCoreApplication::translate("TcpTimeSequence", text);
            if (!detail.isNull())
                *error = error->arg(detail);
        }
        return false;
    };
    // Rows without a frame of their own, and frames a clear took away, are
    // left out.
    std::vector<std::int64_t> kept;
    std::vector<int> kept_rows;
    kept.reserve(frames.size());
    kept_rows.reserve(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i] >= 0 && store.contains(frames[i])) {
            kept.push_back(frames[i]);
            kept_rows.push_back(i < rows.size() ? rows[i] : -1);
        }
    }
    if (followed != nullptr && std::find(kept.cbegin(), kept.cend(), *followed) == kept.cend())
        return fail(QT_TRANSLATE_NOOP("TcpTimeSequence", "该行的帧已不在存储中。"));

    // Until the followed frame is reached, a new connection on the pair
    // starts the reading anew; after it, a new connection ends it.
    bool reached = followed == nullptr;
    bool stopped = false;
    std::size_t index = 0;
    const bool read = store.read_frames(
            kept,
            [&](const StoredFrame& head, const StoredFramePlace& place) {
                const std::size_t at = index++;
                std::optional<TcpSegmentHeader> segment = decode(head);
                if (!segment && place.captured > static_cast<std::uint32_t>(head.bytes.size())) {
                    // Headers longer than the head.
                    if (const std::optional<StoredFrame> whole = store.read_frame(kept[at]))
                        segment = decode(*whole);
                }
                if (!segment)
                    return true;
                const auto begin_connection = [&] {
                    m_directions = {};
                    m_directions[0].address = segment->source;
                    m_directions[0].port = segment->source_port;
                    m_directions[1].address = segment->destination;
                    m_directions[1].port = segment->destination_port;
                    m_version = segment->version;
                    m_start_seconds = head.seconds;
                    m_start_nanoseconds = head.nanoseconds;
                    m_known = true;
                };
                if (!m_known)
                    begin_connection();
                const bool syn = (segment->flags & TcpSegmentHeader::Syn) != 0;
                const bool has_ack = (segment->flags & TcpSegmentHeader::Ack) != 0;
                int sender = segment->source == m_directions[0].address
                                && segment->source_port == m_directions[0].port
                        ? 0
                        : 1;
                if (syn && !has_ack
                    && m_directions[static_cast<std::size_t>(sender)].first_seq_known
                    && m_directions[static_cast<std::size_t>(sender)].first_seq != segment->seq) {
                    // The pair reused.
                    if (reached) {
                        m_ended = true;
                        stopped = true;
                        return false;
                    }
                    begin_connection();
                    sender = 0;
                }
                if (followed != nullptr && kept[at] == *followed)
                    reached = true;

                Direction& own = m_directions[static_cast<std::size_t>(sender)];
                Direction& other = m_directions[static_cast<std::size_t>(1 - sender)];
                const double time = double(head.seconds - m_start_seconds)
                        + double(head.nanoseconds - m_start_nanoseconds) / 1e9;
                const int row = kept_rows[at];
                const bool fin = (segment->flags & TcpSegmentHeader::Fin) != 0;
                const std::int64_t seq = position(own, segment->seq, syn);
                const auto length = static_cast<std::uint32_t>(segment->stated + (syn ? 1 : 0)
                                                               + (fin ? 1 : 0));
                if (syn)
                    own.syn_scale = segment->window_scale;
                bool retransmission = false;
                bool gap = false;
                if (own.first_seq_known) {
                    // A keep-alive repeats the byte before the next one.
                    const bool keep_alive = length <= 1 && !syn && !fin && seq == own.next - 1;
                    retransmission = length > 0 && seq < own.next && !keep_alive;
                    gap = seq > own.next;
                } else {
                    own.first_seq_known = true;
                    own.first_seq = segment->seq;
                    own.next = seq;
                }
                own.next = std::max(own.next, seq + length);
                own.payload += segment->stated;
                if (length > 0)
                    own.segments.push_back({ time, seq, length, row, retransmission, gap });
                if (has_ack) {
                    const std::int64_t ack = position(other, segment->ack, false);
                    const int shift = syn ? 0 : window_shift(sender);
                    other.acks.push_back(
                            { time, ack, ack + (std::int64_t(segment->window) << shift), row });
                }
                return true;
            },
            nullptr, kHead);
    if (!read && !stopped)
        return fail(QT_TRANSLATE_NOOP("TcpTimeSequence", "无法读取存储中的帧: %1"),
                    store.errorString());
    if (!reached)
        return fail(QT_TRANSLATE_NOOP("TcpTimeSequence", "该行不是TCP分段。"));
    for (Direction& direction : m_directions)
        direction.endpoint = endpoint_text(m_version, direction.address, direction.port);
    return true;
}
