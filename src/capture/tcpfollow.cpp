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

QString endpoint_text(int version, const std::array<unsigned char, 16>& address, quint16 port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(version == 4 ? AF_INET : AF_INET6, address.data(), text, sizeof text) == nullptr)
        return QString();
    const QString name = QString::fromLatin1(text);
    return (version == 4 ? name : QStringLiteral("[%1]").arg(name))
            + QStringLiteral(":%1").arg(port);
}

} // namespace

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

    // The segments, each way told from the first sender's address and port
    // (until the followed connection is known: of the first segment read).
    std::vector<TcpSegmentIn> segments;
    std::vector<Place> places;
    segments.reserve(kept.size());
    places.reserve(kept.size());
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
                    if (segments.empty() && m_places.empty()) {
                        m_first = { decoded->source, decoded->source_port };
                        m_second = { decoded->destination, decoded->destination_port };
                        m_version = decoded->version;
                    }
                    TcpSegmentIn in;
                    in.frame = kept[index];
                    in.seconds = frame.seconds;
                    in.nanoseconds = frame.nanoseconds;
                    in.direction = decoded->source == m_first.address
                                    && decoded->source_port == m_first.port
                            ? 0
                            : 1;
                    in.seq = decoded->seq;
                    in.ack = decoded->ack;
                    in.has_ack = (decoded->flags & TcpSegmentHeader::Ack) != 0;
                    in.syn = (decoded->flags & TcpSegmentHeader::Syn) != 0;
                    in.fin = (decoded->flags & TcpSegmentHeader::Fin) != 0;
                    in.rst = (decoded->flags & TcpSegmentHeader::Rst) != 0;
                    in.payload_offset = decoded->payload_offset;
                    in.captured = decoded->captured;
                    in.stated = decoded->stated;
                    segments.push_back(in);
                    places.push_back({ kept[index], place.offset, place.file, kept_rows[index] });
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
        const auto at = std::find_if(segments.cbegin(), segments.cend(),
                                     [&](const TcpSegmentIn& s) { return s.frame == *followed; });
        if (at == segments.cend()) {
            if (error != nullptr)
                *error = QCoreApplication::translate("TcpFollow", "该行不是可追踪的TCP分段。");
            return false;
        }
        const std::vector<int> connections = split_connections(segments);
        const int connection = connections[static_cast<std::size_t>(at - segments.cbegin())];
        begin = static_cast<std::size_t>(
                std::find(connections.cbegin(), connections.cend(), connection)
                - connections.cbegin());
        end = begin;
        while (end < segments.size() && connections[end] == connection)
            ++end;
        // A later connection on the pair: this one grows no more.
        later = end < segments.size();
        if (segments[begin].direction == 1) {
            // The other side opened this connection: direction 0 is its.
            std::swap(m_first, m_second);
            for (std::size_t i = begin; i < end; ++i)
                segments[i].direction ^= 1;
        }
        m_endpoints = { endpoint_text(m_version, m_first.address, m_first.port),
                        endpoint_text(m_version, m_second.address, m_second.port) };
        // Once: later additions grow as vectors do.
        m_reassembly.reserve(end - begin);
        m_places.reserve(end - begin);
        m_frames_seen = frames.size();
    }

    for (std::size_t i = begin; i < end && !m_ended; ++i) {
        const TcpSegmentIn& segment = segments[i];
        // As split_connections tells connections apart: needed for the
        // frames of a live capture, which it has not seen.
        std::optional<std::uint32_t>& first_seq
                = m_first_seq[static_cast<std::size_t>(segment.direction)];
        if (segment.syn && !segment.has_ack && first_seq && *first_seq != segment.seq) {
            m_ended = true; // the pair reused
            break;
        }
        if (!first_seq)
            first_seq = segment.seq;
        Place place = places[i];
        place.file = file_of[static_cast<std::size_t>(place.file)];
        m_places.push_back(place);
        m_reassembly.add(segment);
    }
    m_ended = m_ended || later;
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
