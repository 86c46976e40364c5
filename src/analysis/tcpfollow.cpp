// SPDX-License-Identifier: GPL-2.0-or-later

#include "tcpfollow.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <QCoreApplication>

#include "packetrecord.h"

namespace {

// The reassembly knows each frame by where its bytes lie: the follow's index
// of its file above bit 47, its offset in the file below.
constexpr int kOffsetBits = 47;
constexpr std::int64_t kOffsetMask = (std::int64_t(1) << kOffsetBits) - 1;
constexpr std::size_t kMaxFiles = std::size_t(1) << 16;
// The bytes of a frame read for its headers: the link layer, IP with its
// options or extension headers, TCP with its options. A frame whose headers
// run longer is read whole.
constexpr int kHead = 256;
// Frames between two looks at a follow's progress.
constexpr std::size_t kProgressStep = 256;

QString endpoint_text(int version, const std::array<unsigned char, 16>& address, quint16 port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(version == 4 ? AF_INET : AF_INET6, address.data(), text, sizeof text) == nullptr)
        return QString();
    const QString name = QString::fromLatin1(text);
    return (version == 4 ? name : QStringLiteral("[%1]").arg(name))
            + QStringLiteral(":%1").arg(port);
}

// The segment of a frame of which `head` holds the first bytes and
// `captured` were captured.
std::optional<TcpSegmentHeader> decode_head(const StoredFrame& head, std::uint32_t captured)
{
    pcap_pkthdr header {};
    header.caplen = static_cast<bpf_u_int32>(head.bytes.size());
    header.len = head.wire_length;
    std::optional<TcpSegmentHeader> decoded = decode_tcp_segment(
            head.link_type, header, reinterpret_cast<const unsigned char*>(head.bytes.constData()));
    // Decoded from the head, it holds what the frame holds but the count of
    // payload bytes captured.
    if (decoded)
        decoded->captured = std::min(decoded->stated, captured - decoded->payload_offset);
    return decoded;
}

// The segment of a stored frame, from its head or, when its headers run
// longer, from the whole frame.
std::optional<TcpSegmentHeader> decode_frame(const CaptureStore& store, std::int64_t seq,
                                             const StoredFrame& head, const StoredFramePlace& place)
{
    std::optional<TcpSegmentHeader> decoded = decode_head(head, place.captured);
    if (!decoded && place.captured > static_cast<std::uint32_t>(head.bytes.size())) {
        if (const std::optional<StoredFrame> whole = store.read_frame(seq))
            decoded = decode_head(*whole, place.captured);
    }
    return decoded;
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
                                           QString* error, Progress* progress)
{
    std::unique_ptr<TcpFollow> follow(new TcpFollow);
    if (!follow->read(store, frames, rows, followed, error, progress))
        return nullptr;
    return follow;
}

void TcpFollow::add(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                    const std::vector<int>& rows)
{
    if (m_ended)
        m_frames_seen += frames.size();
    else
        add(read_frames(store, frames, rows));
}

TcpFollow::Frames TcpFollow::read_frames(const CaptureStore& store,
                                         const std::vector<std::int64_t>& frames,
                                         const std::vector<int>& rows,
                                         const std::atomic<bool>* cancel)
{
    Frames result;
    result.m_count = frames.size();
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
    result.m_frames.reserve(kept.size());
    std::size_t index = 0;
    // A read cut short keeps what it read: the frames before stay in order.
    (void)store.read_frames(
            kept,
            [&](const StoredFrame& head, const StoredFramePlace& place) {
                const std::size_t at = index++;
                if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
                    return false;
                if (const std::optional<TcpSegmentHeader> decoded
                    = decode_frame(store, kept[at], head, place))
                    result.m_frames.push_back({ *decoded, place.offset, head.seconds,
                                                head.nanoseconds, place.file, kept_rows[at] });
                return true;
            },
            &result.m_files, kHead);
    return result;
}

void TcpFollow::add(Frames frames)
{
    m_frames_seen += frames.m_count;
    if (m_ended)
        return;
    // The follow's index of each of the read's files: all of them taken
    // over, those no segment of the connection lies in too.
    std::vector<std::size_t> file_of;
    file_of.reserve(frames.m_files.size());
    for (const StoreFile& file : frames.m_files)
        file_of.push_back(static_cast<std::size_t>(file_index(file)));
    frames.m_files.clear();
    bool reached = true;
    for (const Frames::Frame& frame : frames.m_frames) {
        if (take(frame.segment, file_of[static_cast<std::size_t>(frame.file)], frame.offset,
                 frame.seconds, frame.nanoseconds, frame.row, false, reached)
            != Taken::Yes)
            break;
    }
}

void TcpFollow::finish()
{
    m_reassembly.finish();
    take_events(m_last_row);
}

void TcpFollow::take_events(int row)
{
    for (const TcpStreamEvent& event : m_reassembly.events()) {
        if (event.direction != m_last_direction) {
            m_chunks.push_back(
                    { m_pieces.size(), row, event.seq, event.seconds, event.nanoseconds });
            m_last_direction = event.direction;
        }
        const auto direction = static_cast<std::uint32_t>(event.direction);
        if (event.kind == TcpStreamEvent::Gap) {
            for (std::uint64_t missing = event.missing; missing > 0;) {
                const auto part
                        = static_cast<std::uint32_t>(std::min<std::uint64_t>(missing, UINT32_MAX));
                m_pieces.push_back({ 0, part, 0, direction, 1 });
                missing -= part;
            }
        } else if (event.piece.length > 0) {
            const std::int64_t name = event.piece.frame;
            m_pieces.push_back({ (name & kOffsetMask) + event.piece.frame_offset,
                                 event.piece.length,
                                 static_cast<std::uint32_t>(name >> kOffsetBits), direction, 0 });
        }
    }
    m_reassembly.clear_events();
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

TcpFollow::Taken TcpFollow::take(const TcpSegmentHeader& segment, std::size_t file,
                                 std::int64_t offset, std::int64_t seconds,
                                 std::int64_t nanoseconds, int row, bool followed, bool& reached)
{
    // Until the followed frame is reached, a new connection on the pair (as
    // split_connections tells them apart) starts the follow anew; after it,
    // a new connection ends it.
    const Endpoint source { segment.source, segment.source_port };
    const auto begin_connection = [&] {
        m_first = source;
        m_second = { segment.destination, segment.destination_port };
        m_version = segment.version;
        m_first_seq = {};
        m_known = true;
    };
    if (!m_known)
        begin_connection();
    TcpSegmentIn in;
    in.direction = source == m_first ? 0 : 1;
    in.seq = segment.seq;
    in.syn = (segment.flags & TcpSegmentHeader::Syn) != 0;
    in.has_ack = (segment.flags & TcpSegmentHeader::Ack) != 0;
    std::optional<std::uint32_t>& first_seq = m_first_seq[static_cast<std::size_t>(in.direction)];
    if (in.syn && !in.has_ack && first_seq && *first_seq != in.seq) {
        // The pair reused.
        if (reached) {
            m_ended = true;
            return Taken::Ended;
        }
        begin_connection();
        in.direction = 0;
        m_reassembly = TcpReassembly();
        m_pieces.clear();
        m_chunks.clear();
        m_last_direction = -1;
    }
    std::optional<std::uint32_t>& own_first = m_first_seq[static_cast<std::size_t>(in.direction)];
    if (!own_first)
        own_first = in.seq;
    reached = reached || followed;

    if (file >= kMaxFiles)
        return Taken::TooManyFiles;
    in.frame = static_cast<std::int64_t>(file) << kOffsetBits | (offset & kOffsetMask);
    in.seconds = seconds;
    in.nanoseconds = nanoseconds;
    in.ack = segment.ack;
    in.fin = (segment.flags & TcpSegmentHeader::Fin) != 0;
    in.rst = (segment.flags & TcpSegmentHeader::Rst) != 0;
    in.payload_offset = segment.payload_offset;
    in.captured = segment.captured;
    in.stated = segment.stated;
    m_reassembly.add(in);
    m_last_row = row;
    take_events(row);
    return Taken::Yes;
}

bool TcpFollow::read(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                     const std::vector<int>& rows, std::int64_t followed, QString* error,
                     Progress* progress)
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
    if (!std::binary_search(kept.cbegin(), kept.cend(), followed)) {
        if (error != nullptr)
            *error = QCoreApplication::translate("TcpFollow", "该行的帧已不在存储中。");
        return false;
    }

    // One pass: the segments go to the reassembly as they are read.
    bool reached = false;
    bool stopped = false;
    bool cancelled = false;
    std::vector<StoreFile> files;
    std::vector<int> file_of; // the follow's index of each of the read's files
    std::size_t index = 0;
    m_pieces.reserve(kept.size());
    const bool read = store.read_frames(
            kept,
            [&](const StoredFrame& head, const StoredFramePlace& place) {
                const std::size_t at = index++;
                if (progress != nullptr && at % kProgressStep == 0) {
                    // Counted as looked at: the frames left out before.
                    progress->frames.store(frames.size() * at / kept.size(),
                                           std::memory_order_relaxed);
                    if (progress->cancel.load(std::memory_order_relaxed)) {
                        cancelled = true;
                        return false;
                    }
                }
                const std::optional<TcpSegmentHeader> decoded
                        = decode_frame(store, kept[at], head, place);
                if (!decoded)
                    return true;
                if (file_of.size() < files.size()) {
                    for (std::size_t i = file_of.size(); i < files.size(); ++i)
                        file_of.push_back(file_index(files[i]));
                }
                const auto file
                        = static_cast<std::size_t>(file_of[static_cast<std::size_t>(place.file)]);
                switch (take(*decoded, file, place.offset, head.seconds, head.nanoseconds,
                             kept_rows[at], kept[at] == followed, reached)) {
                case Taken::Yes:
                    return true;
                case Taken::Ended:
                    stopped = true;
                    return false;
                case Taken::TooManyFiles:
                    return false;
                }
                return false;
            },
            &files, kHead);
    // Files the reading opened but no segment of the connection lay in.
    for (std::size_t i = file_of.size(); i < files.size(); ++i)
        file_of.push_back(file_index(files[i]));
    if (cancelled) {
        if (error != nullptr)
            *error = QCoreApplication::translate("TcpFollow", "追踪已取消。");
        return false;
    }
    if (progress != nullptr)
        progress->frames.store(frames.size(), std::memory_order_relaxed);
    if (!read && !stopped) {
        if (error != nullptr)
            *error = QCoreApplication::translate("TcpFollow", "无法读取存储中的帧: %1")
                             .arg(store.errorString());
        return false;
    }
    if (!reached) {
        if (error != nullptr)
            *error = QCoreApplication::translate("TcpFollow", "该行不是可追踪的TCP分段。");
        return false;
    }
    m_endpoints = { endpoint_text(m_version, m_first.address, m_first.port),
                    endpoint_text(m_version, m_second.address, m_second.port) };
    m_frames_seen = frames.size();
    // The room kept for the frames that carry no bytes given back.
    if (m_pieces.capacity() > m_pieces.size() + m_pieces.size() / 4)
        m_pieces.shrink_to_fit();
    return true;
}

TcpFollow::Frames::~Frames()
{
    close_files();
}

TcpFollow::Frames::Frames(Frames&& other) noexcept
    : m_frames(std::move(other.m_frames))
    , m_files(std::exchange(other.m_files, {}))
    , m_count(other.m_count)
{ }

TcpFollow::Frames& TcpFollow::Frames::operator=(Frames&& other) noexcept
{
    if (this != &other) {
        close_files();
        m_frames = std::move(other.m_frames);
        m_files = std::exchange(other.m_files, {});
        m_count = other.m_count;
    }
    return *this;
}

void TcpFollow::Frames::visit(const Visit& visit) const
{
    for (const Frame& frame : m_frames)
        visit(m_files[static_cast<std::size_t>(frame.file)], frame.offset, frame.row, frame.seconds,
              frame.nanoseconds);
}

void TcpFollow::Frames::close_files()
{
    for (const StoreFile& file : m_files)
        ::close(file.fd);
    m_files.clear();
}
