// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturestore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>

namespace {

constexpr int kSnapLength = 262144; // what libpcap itself allows, so no frame is cut
const QString kFolderPrefix = QStringLiteral("tarnlook-");
// The dump file's buffer: far fewer writes than stdio's default of a block,
// and small enough to be still in the cache when the kernel copies it (a
// buffer of a megabyte made the copies up to five times slower).
constexpr std::size_t kWriteBuffer = 1 << 16;
// How long the files of a clear wait before they are removed, unless the
// store goes or is cleared again first.
constexpr std::chrono::milliseconds kReapAfter { 150 };
// A record's own header in a pcap file: seconds, microseconds, captured
// length, wire length; four 32-bit values in the writer's byte order.
constexpr int kRecordHeader = 16;

QString base_folder(const QString& parent)
{
    return parent.isEmpty() ? QDir::tempPath() : parent;
}

bool read_exactly(int fd, char* out, std::size_t size, off_t at)
{
    while (size > 0) {
        const ssize_t got = pread(fd, out, size, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<std::size_t>(got);
        at += got;
    }
    return true;
}

} // namespace

struct CaptureStore::Segment
{
    int link_type = 0;
    std::int64_t first_seq = 0;
    QString path;
    pcap_t* dead = nullptr;
    pcap_dumper_t* dumper = nullptr;
    std::unique_ptr<char[]> buffer; // the dump file's, while it is open
    int read_fd = -1;
    std::int64_t flushed_end = 0; // what the file holds for certain
    std::int64_t end = 0; // where the next record goes
    std::vector<std::int64_t> offsets; // of each record, in sequence order

    ~Segment()
    {
        if (dumper != nullptr)
            pcap_dump_close(dumper);
        if (dead != nullptr)
            pcap_close(dead);
        if (read_fd >= 0)
            ::close(read_fd);
        if (!path.isEmpty())
            QFile::remove(path);
    }
};

CaptureStore::CaptureStore(const QString& parent)
    : m_dir(std::make_unique<QTemporaryDir>(base_folder(parent) + QLatin1Char('/') + kFolderPrefix
                                            + QString::number(QCoreApplication::applicationPid())
                                            + QStringLiteral("-XXXXXX")))
{
    if (!m_dir->isValid())
        m_error = m_dir->errorString();
}

CaptureStore::~CaptureStore()
{
    finish_reaper();
    m_segments.clear(); // closes the files before the folder goes
}

bool CaptureStore::isValid() const
{
    return m_dir->isValid();
}

QString CaptureStore::errorString() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

QString CaptureStore::folder() const
{
    return m_dir->path();
}

CaptureStore::Segment* CaptureStore::segment_for(int link_type)
{
    if (!m_segments.empty() && m_segments.back()->link_type == link_type
        && m_segments.back()->dumper != nullptr)
        return m_segments.back().get();
    if (!m_dir->isValid())
        return nullptr;

    auto segment = std::make_unique<Segment>();
    segment->link_type = link_type;
    segment->first_seq = m_next_seq.load(std::memory_order_relaxed);
    segment->path = m_dir->filePath(QStringLiteral("frames-%1.pcap").arg(++m_files));
    segment->dead = pcap_open_dead(link_type, kSnapLength);
    if (segment->dead == nullptr) {
        m_error = QStringLiteral("pcap_open_dead failed");
        return nullptr;
    }
    const QByteArray path = QFile::encodeName(segment->path);
    FILE* file = std::fopen(path.constData(), "wbe");
    if (file == nullptr) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        segment->path.clear(); // nothing to remove
        return nullptr;
    }
    // Every use of the file is under m_mutex, so stdio's own lock on each
    // call (two writes and a look at the error flag per frame) can go.
    __fsetlocking(file, FSETLOCKING_BYCALLER);
    segment->buffer = std::make_unique<char[]>(kWriteBuffer);
    setvbuf(file, segment->buffer.get(), _IOFBF, kWriteBuffer);
    segment->dumper = pcap_dump_fopen(segment->dead, file);
    if (segment->dumper == nullptr) {
        m_error = QString::fromLocal8Bit(pcap_geterr(segment->dead));
        std::fclose(file);
        return nullptr;
    }
    segment->end = pcap_dump_ftell64(segment->dumper); // just past the file header
    segment->read_fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (segment->read_fd < 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    m_segments.push_back(std::move(segment));
    return m_segments.back().get();
}

std::optional<std::int64_t> CaptureStore::append(int link_type, const struct pcap_pkthdr& header,
                                                 const unsigned char* data)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    Segment* segment = segment_for(link_type);
    if (segment == nullptr)
        return std::nullopt;
    // Counted rather than asked for: ftell costs a system call per frame.
    const std::int64_t at = segment->end;
    pcap_dump(reinterpret_cast<u_char*>(segment->dumper), &header, data);
    if (ferror(pcap_dump_file(segment->dumper)) != 0) {
        // A full disk: the frame may be half written. Later frames go to a
        // new file, so the records stay whole.
        m_error = QString::fromLocal8Bit(std::strerror(errno != 0 ? errno : EIO));
        pcap_dump_close(segment->dumper);
        segment->dumper = nullptr;
        segment->flushed_end = INT64_MAX; // all that was written is in the file
        return std::nullopt;
    }
    segment->offsets.push_back(at);
    segment->end += kRecordHeader + header.caplen;
    const std::int64_t seq = m_next_seq.load(std::memory_order_relaxed);
    m_next_seq.store(seq + 1, std::memory_order_release);
    return seq;
}

const CaptureStore::Segment* CaptureStore::segment_of(std::int64_t seq) const
{
    if (seq < m_first_seq || seq >= m_next_seq)
        return nullptr;
    for (auto it = m_segments.crbegin(); it != m_segments.crend(); ++it) {
        const Segment& segment = **it;
        if (seq >= segment.first_seq) {
            const auto index = static_cast<std::size_t>(seq - segment.first_seq);
            return index < segment.offsets.size() ? &segment : nullptr;
        }
    }
    return nullptr;
}

std::optional<StoredFrame> CaptureStore::read_frame(std::int64_t seq) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const Segment* segment = segment_of(seq);
    if (segment == nullptr)
        return std::nullopt;
    const std::int64_t at = segment->offsets[static_cast<std::size_t>(seq - segment->first_seq)];
    if (at + kRecordHeader > segment->flushed_end && segment->dumper != nullptr) {
        pcap_dump_flush(segment->dumper);
        const_cast<Segment*>(segment)->flushed_end = pcap_dump_ftell64(segment->dumper);
    }

    std::uint32_t fields[4] = {};
    if (!read_exactly(segment->read_fd, reinterpret_cast<char*>(fields), sizeof fields, at))
        return std::nullopt;
    StoredFrame frame;
    frame.link_type = segment->link_type;
    frame.seconds = fields[0];
    frame.microseconds = fields[1];
    frame.wire_length = fields[3];
    if (fields[2] > static_cast<std::uint32_t>(kSnapLength))
        return std::nullopt;
    frame.bytes.resize(static_cast<int>(fields[2]));
    if (!read_exactly(segment->read_fd, frame.bytes.data(), fields[2], at + kRecordHeader))
        return std::nullopt;
    return frame;
}

bool CaptureStore::read_frames(const std::vector<std::int64_t>& seqs,
                               const std::function<bool(const StoredFrame&)>& visit) const
{
    // Where each frame is, taken under the lock; the bytes up to there are
    // in the files for good, so the reading needs no lock and a running
    // capture goes on appending meanwhile.
    struct Place
    {
        int file; // index into paths
        std::int64_t offset;
    };
    std::vector<Place> places;
    std::vector<QString> paths;
    std::vector<int> link_types;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& segment : m_segments) {
            if (segment->dumper != nullptr)
                pcap_dump_flush(segment->dumper);
        }
        places.reserve(seqs.size());
        const Segment* last = nullptr;
        for (const std::int64_t seq : seqs) {
            const Segment* segment = segment_of(seq);
            if (segment == nullptr)
                return false;
            if (segment != last) {
                const auto known = std::find(paths.cbegin(), paths.cend(), segment->path);
                if (known == paths.cend()) {
                    paths.push_back(segment->path);
                    link_types.push_back(segment->link_type);
                }
                last = segment;
            }
            const int file = static_cast<int>(std::find(paths.cbegin(), paths.cend(), segment->path)
                                              - paths.cbegin());
            places.push_back(
                    { file, segment->offsets[static_cast<std::size_t>(seq - segment->first_seq)] });
        }
    }

    std::vector<FILE*> files(paths.size(), nullptr);
    const auto close_all = qScopeGuard([&files] {
        for (FILE* file : files)
            if (file != nullptr)
                std::fclose(file);
    });
    std::vector<std::int64_t> positions(paths.size(), -1);
    StoredFrame frame;
    for (const Place& place : places) {
        FILE*& file = files[static_cast<std::size_t>(place.file)];
        if (file == nullptr) {
            file = std::fopen(
                    QFile::encodeName(paths[static_cast<std::size_t>(place.file)]).constData(),
                    "rb");
            if (file == nullptr)
                return false;
        }
        std::int64_t& position = positions[static_cast<std::size_t>(place.file)];
        if (position != place.offset && fseeko(file, place.offset, SEEK_SET) != 0)
            return false;
        std::uint32_t fields[4] = {};
        if (std::fread(fields, sizeof fields, 1, file) != 1
            || fields[2] > static_cast<std::uint32_t>(kSnapLength))
            return false;
        frame.link_type = link_types[static_cast<std::size_t>(place.file)];
        frame.seconds = fields[0];
        frame.microseconds = fields[1];
        frame.wire_length = fields[3];
        frame.bytes.resize(static_cast<int>(fields[2]));
        if (fields[2] > 0 && std::fread(frame.bytes.data(), fields[2], 1, file) != 1)
            return false;
        position = place.offset + kRecordHeader + fields[2];
        if (!visit(frame))
            return false;
    }
    return true;
}

void CaptureStore::clear(Removal removal)
{
    std::vector<std::unique_ptr<Segment>> old;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        old.swap(m_segments);
        m_first_seq.store(m_next_seq.load(std::memory_order_relaxed), std::memory_order_release);
        m_error.clear();
    }
    finish_reaper();
    m_reaper_now = removal == Removal::Now;
    m_reaper = std::thread([this, old = std::move(old)]() mutable {
        // Removing the files of a million frames keeps the disk and the
        // memory bus busy: the interface first empties its table.
        {
            std::unique_lock<std::mutex> lock(m_reaper_mutex);
            m_reaper_wake.wait_for(lock, kReapAfter, [this] { return m_reaper_now; });
        }
        old.clear();
    });
}

void CaptureStore::finish_reaper()
{
    if (!m_reaper.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_reaper_mutex);
        m_reaper_now = true;
    }
    m_reaper_wake.notify_all();
    m_reaper.join();
}

bool CaptureStore::contains(std::int64_t seq) const
{
    // Without the lock: the rows ask once each, while the capture appends.
    return seq >= m_first_seq.load(std::memory_order_acquire)
            && seq < m_next_seq.load(std::memory_order_acquire);
}

std::int64_t CaptureStore::frame_count() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_next_seq - m_first_seq;
}

int CaptureStore::remove_stale_folders(const QString& parent)
{
    const QDir base(base_folder(parent));
    const QStringList names = base.entryList({ kFolderPrefix + QLatin1Char('*') },
                                             QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    int removed = 0;
    for (const QString& name : names) {
        // tarnlook-<pid>-XXXXXX
        const QStringList parts = name.split(QLatin1Char('-'));
        bool ok = false;
        const qint64 pid = parts.size() == 3 ? parts.at(1).toLongLong(&ok) : 0;
        if (!ok || pid <= 0 || pid == QCoreApplication::applicationPid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue; // still running, or not ours to judge
        struct stat info
        {
        };
        const QByteArray path = QFile::encodeName(base.filePath(name));
        if (::stat(path.constData(), &info) != 0 || info.st_uid != ::getuid())
            continue;
        if (QDir(base.filePath(name)).removeRecursively())
            ++removed;
    }
    return removed;
}
