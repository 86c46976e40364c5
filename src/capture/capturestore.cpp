// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturestore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>

#include "fileread.h"

namespace {

Q_LOGGING_CATEGORY(lcStore, "tarnlook.store")

constexpr int kSnapLength = 262144; // what libpcap itself allows, so no frame is cut
const QString kFolderPrefix = QStringLiteral("tarnlook-");
// The lock file in each store's folder, held for the store's life. The
// parent folder itself is locked while a folder is made or leftovers are
// removed, so that a folder is never seen between its making and its
// locking.
constexpr char kLockName[] = ".lock";
// Folders nested deeper than this in a leftover are left alone: a store
// makes none, and each level holds a descriptor open.
constexpr int kMaxDepth = 16;
constexpr int kMaxNameTries = 100;
// The records' write buffer: far fewer writes than stdio's default of a block,
// and small enough to be still in the cache when the kernel copies it (a
// buffer of a megabyte made the copies up to five times slower).
constexpr std::size_t kWriteBuffer = 1 << 16;
// How long the files of a clear wait before they are removed, unless the
// store goes or is cleared again first.
constexpr std::chrono::milliseconds kReapAfter { 150 };
// A record's own header in a pcap file: seconds, microseconds, captured
// length, wire length; four 32-bit values in the writer's byte order.
constexpr int kRecordHeader = 16;
constexpr std::int64_t kNanosPerMicro = 1000;

// A file mapped for reading, as long as it is when mapped.
class FileMap
{
public:
    FileMap() = default;
    ~FileMap()
    {
        if (m_data != nullptr)
            ::munmap(m_data, m_length);
    }
    FileMap(const FileMap&) = delete;
    FileMap& operator=(const FileMap&) = delete;

    // False when the file is shorter than `at_least` or cannot be mapped.
    bool map(int fd, std::int64_t at_least)
    {
        struct stat info
        {
        };
        if (::fstat(fd, &info) != 0 || info.st_size < at_least)
            return false;
        if (info.st_size == 0)
            return true;
        void* data = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_SHARED,
                            fd, 0);
        if (data == MAP_FAILED)
            return false;
        m_data = data;
        m_length = static_cast<std::size_t>(info.st_size);
        return true;
    }
    // False when the file holds not all of them.
    bool copy(std::int64_t offset, void* out, std::size_t count) const
    {
        if (offset < 0 || static_cast<std::size_t>(offset) > m_length
            || count > m_length - static_cast<std::size_t>(offset))
            return false;
        if (count > 0)
            std::memcpy(out, static_cast<const char*>(m_data) + offset, count);
        return true;
    }

private:
    void* m_data = nullptr;
    std::size_t m_length = 0;
};

QString system_error(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A store's folder: tarnlook-<pid>-XXXXXX.
bool is_store_name(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^tarnlook-[0-9]+-[A-Za-z0-9]{6}$"));
    return pattern.match(name).hasMatch();
}

// Whether `info` is a real folder of this user's with mode 0700.
bool is_private_folder(const struct stat& info)
{
    return S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 07777) == 0700;
}

QString describe(const struct stat& info)
{
    if (S_ISLNK(info.st_mode))
        return QStringLiteral("a symbolic link");
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("not a folder");
    return QStringLiteral("owner %1, mode %2 (must be owner %3, mode 0700)")
            .arg(info.st_uid)
            .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'))
            .arg(::geteuid());
}

// Opens the parent folder after checking it: a real folder (the last part of
// the path is not followed), the user's own, mode 0700. With `create`, a
// missing one is made so. Returns -1 with the reason in `error`.
int open_parent(const QString& path, bool create, QString* error)
{
    const QByteArray name = QFile::encodeName(path);
    bool made = false;
    if (create) {
        made = ::mkdir(name.constData(), 0700) == 0;
        if (!made && errno != EEXIST) {
            *error = QStringLiteral("%1: %2").arg(path, system_error(errno));
            return -1;
        }
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int reason = errno;
        struct stat info = {};
        if ((reason == ELOOP || reason == ENOTDIR) && ::lstat(name.constData(), &info) == 0)
            *error = QStringLiteral("%1: %2").arg(path, describe(info));
        else
            *error = QStringLiteral("%1: %2").arg(path, system_error(reason));
        return -1;
    }
    struct stat info = {};
    if (made && ::fstat(fd, &info) == 0 && info.st_uid == ::geteuid())
        ::fchmod(fd, 0700); // whatever the umask
    if (::fstat(fd, &info) != 0 || !is_private_folder(info)) {
        *error = QStringLiteral("%1: %2").arg(path, describe(info));
        ::close(fd);
        return -1;
    }
    return fd;
}

// Takes the lock on the parent folder open at `parent_fd` (each caller
// opens the folder anew) until the descriptor is closed or unlocked.
bool lock_parent(int parent_fd)
{
    while (::flock(parent_fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// Removes everything in the open folder `dir_fd` on device `device`, by names
// relative to it: a link is unlinked, never followed; a folder on another
// file system, or nested too deep, stays. Returns whether all went.
bool remove_contents(int dir_fd, dev_t device, int depth = 0)
{
    const int list_fd = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = list_fd >= 0 ? ::fdopendir(list_fd) : nullptr;
    if (dir == nullptr) {
        if (list_fd >= 0)
            ::close(list_fd);
        return false;
    }
    // Names first, removals after: a folder is not changed while it is read.
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);

    bool all = true;
    for (const QByteArray& name : names) {
        struct stat info = {};
        if (::fstatat(dir_fd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            all = false;
            continue;
        }
        if (!S_ISDIR(info.st_mode)) {
            all = ::unlinkat(dir_fd, name.constData(), 0) == 0 && all;
            continue;
        }
        if (info.st_dev != device || depth + 1 >= kMaxDepth) {
            all = false;
            continue;
        }
        const int sub = ::openat(dir_fd, name.constData(),
                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            all = false;
            continue;
        }
        struct stat opened = {};
        const bool same = ::fstat(sub, &opened) == 0 && opened.st_dev == info.st_dev
                && opened.st_ino == info.st_ino;
        all = same && remove_contents(sub, device, depth + 1) && all;
        ::close(sub);
        all = same && ::unlinkat(dir_fd, name.constData(), AT_REMOVEDIR) == 0 && all;
    }
    return all;
}

// The sub-second fields of a frame from its record's second field.
void set_fraction(StoredFrame& frame, std::uint32_t fraction, CaptureStore::Precision precision)
{
    if (precision == CaptureStore::Precision::Nanoseconds) {
        frame.nanoseconds = fraction;
        frame.microseconds = fraction / kNanosPerMicro;
    } else {
        frame.microseconds = fraction;
        frame.nanoseconds = fraction * kNanosPerMicro;
    }
}

} // namespace

struct CaptureStore::Segment
{
    int link_type = 0;
    Precision precision = Precision::Microseconds;
    std::int64_t first_seq = 0;
    int dir_fd = -1; // the store's folder, which outlives every segment
    QByteArray name; // of the file in the folder; empty: nothing to remove
    pcap_t* dead = nullptr;
    // Wrote the file's header; null once the file takes no more records.
    pcap_dumper_t* dumper = nullptr;
    int write_fd = -1; // the dumper's file, written past stdio
    // The records not yet written, as pcap_dump writes them: a frame costs
    // a copy here rather than two trips through stdio.
    std::unique_ptr<char[]> buffer;
    std::size_t buffered = 0;
    int write_error = 0; // errno of the first failed write
    int read_fd = -1;
    std::int64_t flushed_end = 0; // what the file holds for certain
    std::int64_t end = 0; // where the next record goes
    std::vector<std::int64_t> offsets; // of each record, in sequence order

    // Writes what the buffer holds; false (and write_error set) when the
    // file did not take all of it.
    bool flush()
    {
        if (buffered > 0 && write_error == 0) {
            if (!write_all(buffer.get(), buffered))
                write_error = errno != 0 ? errno : EIO;
            buffered = 0;
        }
        flushed_end = end;
        return write_error == 0;
    }

    // Queues a record: the pcap record header in this machine's byte order,
    // as pcap_dump writes it, then the captured bytes.
    bool put(const struct pcap_pkthdr& header, const unsigned char* data)
    {
        const std::uint32_t fields[4] = {
            static_cast<std::uint32_t>(header.ts.tv_sec),
            static_cast<std::uint32_t>(header.ts.tv_usec),
            header.caplen,
            header.len,
        };
        const std::size_t size = kRecordHeader + std::size_t(header.caplen);
        if (buffered + size > kWriteBuffer && !flush())
            return false;
        if (size > kWriteBuffer) {
            // Larger than the buffer: straight to the file.
            if (!write_all(fields, sizeof fields) || !write_all(data, header.caplen)) {
                write_error = errno != 0 ? errno : EIO;
                return false;
            }
            end += static_cast<std::int64_t>(size);
            flushed_end = end;
            return true;
        }
        char* at = buffer.get() + buffered;
        std::memcpy(at, fields, sizeof fields);
        std::memcpy(at + sizeof fields, data, header.caplen);
        buffered += size;
        end += static_cast<std::int64_t>(size);
        return true;
    }

    bool write_all(const void* bytes, std::size_t size)
    {
        const auto* next = static_cast<const char*>(bytes);
        while (size > 0) {
            const ssize_t wrote = ::write(write_fd, next, size);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                if (wrote == 0)
                    errno = EIO;
                return false;
            }
            next += wrote;
            size -= static_cast<std::size_t>(wrote);
        }
        return true;
    }

    ~Segment()
    {
        // What the buffer holds goes with the file.
        if (dumper != nullptr)
            pcap_dump_close(dumper);
        if (dead != nullptr)
            pcap_close(dead);
        if (read_fd >= 0)
            ::close(read_fd);
        if (!name.isEmpty())
            ::unlinkat(dir_fd, name.constData(), 0);
    }
};

CaptureStore::CaptureStore(const QString& parent)
{
    const QString base = parent.isEmpty() ? default_parent() : parent;
    const auto fail = [this](const QString& what, int error) {
        if (error != 0)
            m_error = QStringLiteral("%1: %2").arg(what, system_error(error));
        qCWarning(lcStore).noquote() << "no folder for the captured frames:" << m_error;
    };
    // Only the folder of our own making is made when missing.
    const bool own = parent.isEmpty() && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR");
    m_parent_fd = open_parent(base, own, &m_error);
    if (m_parent_fd < 0) {
        fail(base, 0);
        return;
    }
    if (!lock_parent(m_parent_fd)) {
        fail(base, errno);
        return;
    }
    const auto unlock = qScopeGuard([this] { ::flock(m_parent_fd, LOCK_UN); });

    static const QString letters
            = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    int error = EEXIST;
    for (int tries = 0; tries < kMaxNameTries && error == EEXIST; ++tries) {
        QString name = kFolderPrefix + QString::number(QCoreApplication::applicationPid())
                + QLatin1Char('-');
        for (int i = 0; i < 6; ++i)
            name += letters.at(QRandomGenerator::global()->bounded(letters.size()));
        const QByteArray encoded = QFile::encodeName(name);
        error = ::mkdirat(m_parent_fd, encoded.constData(), 0700) == 0 ? 0 : errno;
        if (error == 0)
            m_name = encoded;
    }
    if (error != 0) {
        fail(base, error);
        return;
    }
    m_folder = base + QLatin1Char('/') + QFile::decodeName(m_name);
    const int dir_fd = ::openat(m_parent_fd, m_name.constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir_fd < 0) {
        fail(m_folder, errno);
        return;
    }
    ::fchmod(dir_fd, 0700); // whatever the umask
    m_lock_fd
            = ::openat(dir_fd, kLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_lock_fd < 0 || ::flock(m_lock_fd, LOCK_EX | LOCK_NB) != 0) {
        fail(m_folder, errno);
        struct stat info = {};
        if (::fstat(dir_fd, &info) == 0)
            remove_contents(dir_fd, info.st_dev);
        ::close(dir_fd);
        ::unlinkat(m_parent_fd, m_name.constData(), AT_REMOVEDIR);
        return;
    }
    m_dir_fd = dir_fd;
}

CaptureStore::~CaptureStore()
{
    finish_reaper();
    m_segments.clear(); // closes the files before the folder goes
    if (m_dir_fd >= 0) {
        struct stat info = {};
        if (::fstat(m_dir_fd, &info) == 0)
            remove_contents(m_dir_fd, info.st_dev);
        ::close(m_dir_fd);
        ::unlinkat(m_parent_fd, m_name.constData(), AT_REMOVEDIR);
    }
    if (m_lock_fd >= 0)
        ::close(m_lock_fd);
    if (m_parent_fd >= 0)
        ::close(m_parent_fd);
}

bool CaptureStore::isValid() const
{
    return m_dir_fd >= 0;
}

QString CaptureStore::errorString() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

QString CaptureStore::folder() const
{
    return m_folder;
}

CaptureStore::Segment* CaptureStore::segment_for(int link_type, Precision precision)
{
    if (!m_segments.empty() && m_segments.back()->link_type == link_type
        && m_segments.back()->precision == precision && m_segments.back()->dumper != nullptr)
        return m_segments.back().get();
    if (!isValid())
        return nullptr;

    auto segment = std::make_unique<Segment>();
    segment->link_type = link_type;
    segment->precision = precision;
    segment->first_seq = m_next_seq.load(std::memory_order_relaxed);
    segment->dir_fd = m_dir_fd;
    segment->dead = pcap_open_dead_with_tstamp_precision(link_type, kSnapLength,
                                                         precision == Precision::Nanoseconds
                                                                 ? PCAP_TSTAMP_PRECISION_NANO
                                                                 : PCAP_TSTAMP_PRECISION_MICRO);
    if (segment->dead == nullptr) {
        m_error = QStringLiteral("pcap_open_dead failed");
        return nullptr;
    }
    const QByteArray name = QByteArrayLiteral("frames-") + QByteArray::number(++m_files)
            + QByteArrayLiteral(".pcap");
    const int fd = ::openat(m_dir_fd, name.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    FILE* file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        m_error = system_error(errno);
        if (fd >= 0) {
            ::close(fd);
            segment->name = name; // made: to be removed
        }
        return nullptr;
    }
    segment->name = name;
    // libpcap writes the file's header; the records go past stdio.
    segment->dumper = pcap_dump_fopen(segment->dead, file);
    if (segment->dumper == nullptr) {
        m_error = QString::fromLocal8Bit(pcap_geterr(segment->dead));
        std::fclose(file);
        return nullptr;
    }
    if (pcap_dump_flush(segment->dumper) != 0) {
        m_error = system_error(errno != 0 ? errno : EIO);
        return nullptr;
    }
    segment->write_fd = fd;
    segment->buffer = std::make_unique<char[]>(kWriteBuffer);
    segment->end = pcap_dump_ftell64(segment->dumper); // just past the file header
    segment->flushed_end = segment->end;
    segment->read_fd = ::openat(m_dir_fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (segment->read_fd < 0) {
        m_error = system_error(errno);
        return nullptr;
    }
    m_segments.push_back(std::move(segment));
    return m_segments.back().get();
}

std::optional<std::int64_t> CaptureStore::append(int link_type, const struct pcap_pkthdr& header,
                                                 const unsigned char* data, Precision precision)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    Segment* segment = segment_for(link_type, precision);
    if (segment == nullptr)
        return std::nullopt;
    const std::int64_t at = segment->end;
    if (segment->write_error != 0 || !segment->put(header, data)) {
        // A full disk: the frame, and those still in the buffer, may be
        // half written. Later frames go to a new file, so the records stay
        // whole.
        m_error = system_error(segment->write_error);
        pcap_dump_close(segment->dumper);
        segment->dumper = nullptr;
        segment->flushed_end = INT64_MAX; // all that was written is in the file
        return std::nullopt;
    }
    segment->offsets.push_back(at);
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
    if (at + kRecordHeader > segment->flushed_end && segment->dumper != nullptr)
        const_cast<Segment*>(segment)->flush();

    std::uint32_t fields[4] = {};
    if (!read_exactly(segment->read_fd, reinterpret_cast<char*>(fields), sizeof fields, at))
        return std::nullopt;
    StoredFrame frame;
    frame.link_type = segment->link_type;
    frame.seconds = fields[0];
    set_fraction(frame, fields[1], segment->precision);
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
    return read_frames(
            seqs,
            [&visit](const StoredFrame& frame, const StoredFramePlace&) { return visit(frame); },
            nullptr);
}

bool CaptureStore::read_frames(
        const std::vector<std::int64_t>& seqs,
        const std::function<bool(const StoredFrame&, const StoredFramePlace&)>& visit,
        std::vector<StoreFile>* files_out, int head) const
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
    std::vector<QByteArray> paths; // names in the folder
    std::vector<int> link_types;
    std::vector<Precision> precisions;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& segment : m_segments) {
            if (segment->dumper != nullptr)
                segment->flush();
        }
        places.reserve(seqs.size());
        const Segment* last = nullptr;
        int file = -1; // of the last segment
        for (const std::int64_t seq : seqs) {
            const Segment* segment = segment_of(seq);
            if (segment == nullptr)
                return false;
            if (segment != last) {
                const auto known = std::find(paths.cbegin(), paths.cend(), segment->name);
                file = static_cast<int>(known - paths.cbegin());
                if (known == paths.cend()) {
                    paths.push_back(segment->name);
                    link_types.push_back(segment->link_type);
                    precisions.push_back(segment->precision);
                }
                last = segment;
            }
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
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const int fd = ::openat(m_dir_fd, paths[i].constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        files[i] = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
        if (files[i] == nullptr) {
            if (fd >= 0)
                ::close(fd);
            return false;
        }
    }
    if (files_out != nullptr) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            const int fd = ::fcntl(::fileno(files[i]), F_DUPFD_CLOEXEC, 0);
            if (fd < 0) {
                for (const StoreFile& taken : *files_out)
                    ::close(taken.fd);
                files_out->clear();
                return false;
            }
            files_out->push_back({ paths[i], fd });
        }
    }
    StoredFrame frame;
    const auto fill = [&](const std::uint32_t(&fields)[4], int file) {
        frame.link_type = link_types[static_cast<std::size_t>(file)];
        frame.seconds = fields[0];
        set_fraction(frame, fields[1], precisions[static_cast<std::size_t>(file)]);
        frame.wire_length = fields[3];
    };
    if (head >= 0) {
        // Each file mapped up to the end of the last frame wanted in it: the
        // store only appends, so those bytes are there for good.
        std::vector<std::int64_t> ends(paths.size(), 0);
        for (const Place& place : places) {
            std::int64_t& end = ends[static_cast<std::size_t>(place.file)];
            end = std::max(end, place.offset + kRecordHeader);
        }
        std::vector<FileMap> maps(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (!maps[i].map(::fileno(files[i]), ends[i]))
                return false;
        }
        for (const Place& place : places) {
            const FileMap& map = maps[static_cast<std::size_t>(place.file)];
            std::uint32_t fields[4] = {};
            if (!map.copy(place.offset, fields, sizeof fields)
                || fields[2] > static_cast<std::uint32_t>(kSnapLength))
                return false;
            fill(fields, place.file);
            const std::uint32_t taken = std::min(fields[2], static_cast<std::uint32_t>(head));
            frame.bytes.resize(static_cast<int>(taken));
            if (!map.copy(place.offset + kRecordHeader, frame.bytes.data(), taken))
                return false;
            if (!visit(frame,
                       StoredFramePlace { place.file, place.offset + kRecordHeader, fields[2] }))
                return false;
        }
    } else {
        std::vector<std::int64_t> positions(paths.size(), -1);
        for (const Place& place : places) {
            FILE* file = files[static_cast<std::size_t>(place.file)];
            std::int64_t& position = positions[static_cast<std::size_t>(place.file)];
            if (position != place.offset && fseeko(file, place.offset, SEEK_SET) != 0)
                return false;
            std::uint32_t fields[4] = {};
            if (std::fread(fields, sizeof fields, 1, file) != 1
                || fields[2] > static_cast<std::uint32_t>(kSnapLength))
                return false;
            fill(fields, place.file);
            frame.bytes.resize(static_cast<int>(fields[2]));
            if (fields[2] > 0 && std::fread(frame.bytes.data(), fields[2], 1, file) != 1)
                return false;
            position = place.offset + kRecordHeader + fields[2];
            if (!visit(frame,
                       StoredFramePlace { place.file, place.offset + kRecordHeader, fields[2] }))
                return false;
        }
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
        // A store without a folder stays unable to keep frames, and says so.
        if (isValid())
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

bool CaptureStore::has_nanoseconds(const std::vector<std::int64_t>& seqs) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const bool any = std::any_of(m_segments.cbegin(), m_segments.cend(), [](const auto& segment) {
        return segment->precision == Precision::Nanoseconds;
    });
    return any && std::any_of(seqs.cbegin(), seqs.cend(), [this](std::int64_t seq) {
               const Segment* segment = segment_of(seq);
               return segment != nullptr && segment->precision == Precision::Nanoseconds;
           });
}

QString CaptureStore::default_parent()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime;
    return QDir::tempPath() + QLatin1Char('/') + kFolderPrefix + QString::number(::geteuid());
}

int CaptureStore::remove_stale_folders(const QString& parent)
{
    QString error;
    const int parent_fd = open_parent(parent.isEmpty() ? default_parent() : parent, false, &error);
    if (parent_fd < 0)
        return 0; // none made yet, or not ours: nothing to remove
    const auto close_parent = qScopeGuard([parent_fd] { ::close(parent_fd); });
    if (!lock_parent(parent_fd))
        return 0;

    const int list_fd = ::openat(parent_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = list_fd >= 0 ? ::fdopendir(list_fd) : nullptr;
    if (dir == nullptr) {
        if (list_fd >= 0)
            ::close(list_fd);
        return 0;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (is_store_name(QFile::decodeName(entry->d_name)))
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);

    int removed = 0;
    for (const QByteArray& name : names) {
        struct stat info = {};
        if (::fstatat(parent_fd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0
            || !is_private_folder(info))
            continue;
        const int dir_fd = ::openat(parent_fd, name.constData(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir_fd < 0)
            continue;
        const auto close_dir = qScopeGuard([dir_fd] { ::close(dir_fd); });
        struct stat opened = {};
        if (::fstat(dir_fd, &opened) != 0 || opened.st_dev != info.st_dev
            || opened.st_ino != info.st_ino || !is_private_folder(opened))
            continue;
        // A live store holds the lock. A folder without a lock file was
        // left half made (folders are made and locked under the parent's
        // lock, which is held here); one whose lock is no regular file (a
        // link, a FIFO, a device) holds no store's lock either, and is not
        // opened: a FIFO's open would wait for a writer forever.
        struct stat lock_info = {};
        if (::fstatat(dir_fd, kLockName, &lock_info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                continue;
            lock_info.st_mode = 0;
        }
        int lock_fd = -1;
        const auto close_lock = qScopeGuard([&lock_fd] {
            if (lock_fd >= 0)
                ::close(lock_fd);
        });
        if (S_ISREG(lock_info.st_mode)) {
            lock_fd = ::openat(dir_fd, kLockName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            struct stat locked = {};
            if (lock_fd < 0 || ::fstat(lock_fd, &locked) != 0 || locked.st_ino != lock_info.st_ino
                || locked.st_dev != lock_info.st_dev || ::flock(lock_fd, LOCK_EX | LOCK_NB) != 0)
                continue;
        }
        if (remove_contents(dir_fd, opened.st_dev)
            && ::unlinkat(parent_fd, name.constData(), AT_REMOVEDIR) == 0)
            ++removed;
    }
    return removed;
}

std::optional<CapturedSegment> decode_stored_segment(const StoredFrame& frame)
{
    pcap_pkthdr header {};
    header.ts.tv_sec = frame.seconds;
    header.ts.tv_usec = frame.microseconds;
    header.caplen = static_cast<bpf_u_int32>(frame.bytes.size());
    header.len = frame.wire_length;
    const std::optional<TcpSegmentHeader> tcp
            = decode_tcp_segment(frame.link_type, header,
                                 reinterpret_cast<const unsigned char*>(frame.bytes.constData()));
    if (!tcp)
        return std::nullopt;
    return CapturedSegment { *tcp, frame.seconds, static_cast<std::uint32_t>(frame.nanoseconds) };
}

QByteArray stored_payload(const StoredFrame& frame)
{
    const std::optional<CapturedSegment> segment = decode_stored_segment(frame);
    if (!segment || segment->header.payload_offset > std::size_t(frame.bytes.size()))
        return {};
    return frame.bytes.mid(static_cast<int>(segment->header.payload_offset),
                           static_cast<int>(segment->header.captured));
}
