// SPDX-License-Identifier: GPL-2.0-or-later

#include "tcpfollow.h"

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <QCoreApplication>

#include "packetrecord.h"

namespace {

QString endpoint_text(const TcpSegmentHeader& segment)
{
    char text[INET6_ADDRSTRLEN] = {};
    const int family = segment.version == 4 ? AF_INET : AF_INET6;
    if (inet_ntop(family, segment.source.data(), text, sizeof text) == nullptr)
        return QString();
    const QString address = QString::fromLatin1(text);
    return (segment.version == 4 ? address : QStringLiteral("[%1]").arg(address))
            + QStringLiteral(":%1").arg(segment.source_port);
}

} // namespace

struct TcpFollow::Segment
{
    TcpSegmentIn in;
    TcpSegmentHeader header;
    Place place;
};

TcpFollow::~TcpFollow()
{
    for (const StoreFile& file : m_files)
        ::close(file.fd);
}

std::unique_ptr<TcpFollow> TcpFollow::open(const CaptureStore& store,
                                           const std::vector<std::int64_t>& frames,
                                           const std::vector<int>& rows, std::int64_t followed,
                                           QString* error)
{
    std::unique_ptr<TcpFollow> follow(new TcpFollow);
    if (!follow->read(store, frames, rows, followed, error))
        return nullptr;
    return follow;
}

void TcpFollow::add(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                    const std::vector<int>& rows)
{
    m_frames_seen += frames.size();
    if (!m_ended)
        read(store, frames, rows, std::nullopt, nullptr);
}

void TcpFollow::finish()
{
    m_reassembly.finish();
}

int TcpFollow::file_index(const StoreFile& file)
{
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        if (m_files[i].name == file.name) {
            ::close(file.fd);
            return static_cast<int>(i);
        }
    }
    m_files.push_back(file);
    return static_cast<int>(m_files.size()) - 1;
}

bool TcpFollow::read(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                     const std::vector<int>& rows, std::optional<std::int64_t> followed,
                     QString* error)
{
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
    if (followed && !std::binary_search(kept.cbegin(), kept.cend(), *followed)) {
        if (error != nullptr)
            *error = QCoreApplication::translate("TcpFollow", "该行的帧已不在存储中。");
        return false;
    }

    std::vector<Segment> segments;
    segments.reserve(kept.size());
    std::vector<StoreFile> files;
    std::size_t index = 0;
    const bool read = store.read_frames(
            kept,
            [&](const StoredFrame& frame, const StoredFramePlace& place) {
                pcap_pkthdr header {};
                header.caplen = static_cast<bpf_u_int32>(frame.bytes.size());
                header.len = frame.wire_length;
                const auto data = reinterpret_cast<const unsigned char*>(frame.bytes.constData());
                const std::optional<TcpSegmentHeader> decoded
                        = decode_tcp_segment(frame.link_type, header, data);
                if (decoded) {
                    Segment segment;
                    segment.in.frame = kept[index];
                    segment.in.seconds = frame.seconds;
                    segment.in.nanoseconds = frame.nanoseconds;
                    segment.in.seq = decoded->seq;
                    segment.in.ack = decoded->ack;
                    segment.in.has_ack = (decoded->flags & TcpSegmentHeader::Ack) != 0;
                    segment.in.syn = (decoded->flags & TcpSegmentHeader::Syn) != 0;
                    segment.in.fin = (decoded->flags & TcpSegmentHeader::Fin) != 0;
                    segment.in.rst = (decoded->flags & TcpSegmentHeader::Rst) != 0;
                    segment.in.payload_offset = decoded->payload_offset;
                    segment.in.captured = decoded->captured;
                    segment.in.stated = decoded->stated;
                    segment.header = *decoded;
                    segment.place = { kept[index], place.offset, place.file, kept_rows[index] };
                    segments.push_back(segment);
                }
                ++index;
                return true;
            },
            &files);
    std::vector<int> file_of(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        file_of[i] = file_index(files[i]);
    if (!read) {
        if (error != nullptr)
            *error = QCoreApplication::translate("TcpFollow", "无法读取存储中的帧: %1")
                             .arg(store.errorString());
        return false;
    }

    std::size_t begin = 0;
    std::size_t end = segments.size();
    bool later = false;
    if (followed) {
        // The connection of the followed frame, among those of the pair.
        std::vector<TcpSegmentIn> ins;
        ins.reserve(segments.size());
        for (const Segment& segment : segments) {
            ins.push_back(segment.in);
            ins.back().direction = segment.header.source == segments.front().header.source
                            && segment.header.source_port == segments.front().header.source_port
                    ? 0
                    : 1;
        }
        const std::vector<int> connections = split_connections(ins);
        const auto at = std::find_if(segments.cbegin(), segments.cend(),
                                     [&](const Segment& s) { return s.in.frame == *followed; });
        if (at == segments.cend()) {
            if (error != nullptr)
                *error = QCoreApplication::translate("TcpFollow", "该行不是可追踪的TCP分段。");
            return false;
        }
        const int connection = connections[static_cast<std::size_t>(at - segments.cbegin())];
        begin = static_cast<std::size_t>(
                std::find(connections.cbegin(), connections.cend(), connection)
                - connections.cbegin());
        end = begin;
        while (end < segments.size() && connections[end] == connection)
            ++end;
        // A later connection on the pair: this one grows no more.
        later = end < segments.size();
        const TcpSegmentHeader& first = segments[begin].header;
        m_first_address = first.source;
        m_first_port = first.source_port;
        for (const Segment& segment : segments) {
            const TcpSegmentHeader& h = segment.header;
            if (h.source == first.source && h.source_port == first.source_port
                && m_endpoints[0].isEmpty())
                m_endpoints[0] = endpoint_text(h);
            else if (!(h.source == first.source && h.source_port == first.source_port)
                     && m_endpoints[1].isEmpty())
                m_endpoints[1] = endpoint_text(h);
        }
        if (m_endpoints[1].isEmpty()) { // only one side seen: the other from the header
            TcpSegmentHeader other = first;
            other.source = first.destination;
            other.source_port = first.destination_port;
            m_endpoints[1] = endpoint_text(other);
        }
    }

    if (followed) { // once: later additions grow as vectors do
        m_reassembly.reserve(end - begin);
        m_places.reserve(end - begin);
    }
    for (std::size_t i = begin; i < end && !m_ended; ++i) {
        Segment& segment = segments[i];
        segment.in.direction = segment.header.source == m_first_address
                        && segment.header.source_port == m_first_port
                ? 0
                : 1;
        // As split_connections tells connections apart.
        std::optional<std::uint32_t>& first_seq
                = m_first_seq[static_cast<std::size_t>(segment.in.direction)];
        if (segment.in.syn && !segment.in.has_ack && first_seq && *first_seq != segment.in.seq) {
            m_ended = true; // the pair reused
            break;
        }
        if (!first_seq)
            first_seq = segment.in.seq;
        segment.place.file = file_of[static_cast<std::size_t>(segment.place.file)];
        m_places.push_back(segment.place);
        m_reassembly.add(segment.in);
    }
    m_ended = m_ended || later;
    if (followed)
        m_frames_seen = frames.size();
    return true;
}

TcpFollow::Run TcpFollow::run_of(const TcpStreamEvent& event) const
{
    const auto at = std::lower_bound(
            m_places.cbegin(), m_places.cend(), event.piece.frame,
            [](const Place& place, std::int64_t frame) { return place.frame < frame; });
    if (at == m_places.cend() || at->frame != event.piece.frame)
        return { -1, 0, 0 };
    return { at->file, at->offset + event.piece.frame_offset, event.piece.length };
}

int TcpFollow::row_of(std::int64_t frame) const
{
    const auto at = std::lower_bound(
            m_places.cbegin(), m_places.cend(), frame,
            [](const Place& place, std::int64_t value) { return place.frame < value; });
    return at != m_places.cend() && at->frame == frame ? at->row : -1;
}
