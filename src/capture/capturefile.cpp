// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturefile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QScopeGuard>

#include "capturestore.h"
#include "fileread.h"

namespace {

constexpr int kSnapLength = 262144;
constexpr std::size_t kProgressEvery = 4096;
constexpr int kMaxNameTries = 100;

// The magic numbers of a pcap file's header, as read in the file's byte
// order, and the pcapng blocks this file looks at.
constexpr std::uint32_t kPcapMagic = 0xa1b2c3d4;
constexpr std::uint32_t kPcapNanoMagic = 0xa1b23c4d;
constexpr std::uint32_t kSectionHeaderBlock = 0x0a0d0d0a;
constexpr std::uint32_t kByteOrderMagic = 0x1a2b3c4d;
constexpr std::uint32_t kInterfaceBlock = 1;
constexpr std::uint16_t kEndOfOptions = 0;
constexpr std::uint16_t kTimestampResolution = 9; // if_tsresol
// How far into a pcapng file its first interface is looked for.
constexpr int kMaxBlocksBeforeInterface = 64;
constexpr std::uint32_t kMaxBlock = 1 << 24;

QString system_error(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Reads 16- and 32-bit values in a file's byte order.
struct Order
{
    bool big = false;

    std::uint32_t u32(const unsigned char* p) const
    {
        return big ? (std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16
                      | std::uint32_t(p[2]) << 8 | p[3])
                   : (std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16
                      | std::uint32_t(p[1]) << 8 | p[0]);
    }
    std::uint16_t u16(const unsigned char* p) const
    {
        return static_cast<std::uint16_t>(big ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]));
    }
};

// The first interface's timestamp resolution in a pcapng file: finer than a
// microsecond or not (the default, without the option, is a microsecond).
std::optional<bool> pcapng_has_nanoseconds(int fd)
{
    unsigned char section[12] = {};
    if (!read_exactly(fd, section, sizeof section, 0))
        return std::nullopt;
    Order order;
    if (order.u32(section + 8) != kByteOrderMagic) {
        order.big = true;
        if (order.u32(section + 8) != kByteOrderMagic)
            return std::nullopt;
    }
    off_t at = 0;
    for (int block = 0; block < kMaxBlocksBeforeInterface; ++block) {
        unsigned char head[8] = {};
        if (!read_exactly(fd, head, sizeof head, at))
            return std::nullopt;
        const std::uint32_t length = order.u32(head + 4);
        if (length < 12 || length % 4 != 0 || length > kMaxBlock)
            return std::nullopt;
        if (order.u32(head) != kInterfaceBlock) {
            at += length;
            continue;
        }
        // Link type, reserved, snapshot length; then the options, up to the
        // block's closing length.
        constexpr std::uint32_t kOptionsAt = 16;
        if (length < kOptionsAt + 4)
            return std::nullopt;
        std::vector<unsigned char> options(length - kOptionsAt - 4);
        if (!read_exactly(fd, options.data(), options.size(), at + kOptionsAt))
            return std::nullopt;
        for (std::size_t i = 0; i + 4 <= options.size();) {
            const std::uint16_t code = order.u16(&options[i]);
            const std::uint16_t size = order.u16(&options[i + 2]);
            if (code == kEndOfOptions)
                break;
            if (code == kTimestampResolution && size >= 1 && i + 4 < options.size()) {
                // 10^-n seconds, or 2^-n when the top bit is set.
                const unsigned value = options[i + 4];
                return (value & 0x80) != 0 ? (value & 0x7f) >= 20 : value > 6;
            }
            i += 4 + ((size + 3u) & ~3u);
        }
        return false;
    }
    return std::nullopt;
}

// Makes a new file beside `target` (hidden, named after it) with `mode`
// less the umask; returns its descriptor and its path in `made`, or -1 with
// errno set.
int create_beside(const QFileInfo& target, mode_t mode, QByteArray* made)
{
    static const QString letters
            = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    for (int tries = 0; tries < kMaxNameTries; ++tries) {
        QString name = target.absolutePath() + QStringLiteral("/.") + target.fileName()
                + QLatin1Char('.');
        for (int i = 0; i < 6; ++i)
            name += letters.at(QRandomGenerator::global()->bounded(letters.size()));
        const QByteArray path = QFile::encodeName(name);
        const int fd = ::open(path.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            *made = path;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

// Gives the new file at `fd` the owner, group and mode of the file it is to
// replace, as far as this process may: a group it may not give loses its
// rights rather than pass them to another group.
void take_over(int fd, const struct stat& old)
{
    mode_t mode = old.st_mode & 0777;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0
        && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0)
        mode &= ~static_cast<mode_t>(S_IRWXG);
    ::fchmod(fd, mode);
}

} // namespace

std::optional<bool> capture_file_has_nanoseconds(int fd)
{
    struct stat info = {};
    unsigned char head[4] = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || !read_exactly(fd, head, sizeof head, 0))
        return std::nullopt;
    for (const bool big : { false, true }) {
        const std::uint32_t magic = Order { big }.u32(head);
        if (magic == kPcapNanoMagic)
            return true;
        if (magic == kPcapMagic)
            return false;
    }
    if (Order {}.u32(head) == kSectionHeaderBlock)
        return pcapng_has_nanoseconds(fd);
    return std::nullopt;
}

std::optional<QString> capture_file_problem(const QString& path, int* link_type)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (handle == nullptr)
        return QString::fromLocal8Bit(errbuf);
    if (link_type != nullptr)
        *link_type = pcap_datalink(handle);
    pcap_close(handle);
    return std::nullopt;
}

bool save_frames(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                 const QString& path, QString* error,
                 const std::function<bool(std::size_t)>& progress)
{
    const QFileInfo target(path);
    // Every frame is read before anything is written only for its link type:
    // one pcap file holds one.
    int link_type = DLT_EN10MB;
    if (!frames.empty()) {
        const std::optional<StoredFrame> first = store.read_frame(frames.front());
        if (!first) {
            *error = QStringLiteral("the first frame is no longer stored");
            return false;
        }
        link_type = first->link_type;
    }

    // A replaced file's mode, owner and group go to the new one before a
    // byte is written; a new file follows the umask. A link at the target is
    // replaced, not what it points to: the new file is a new one.
    const QByteArray to = QFile::encodeName(target.absoluteFilePath());
    struct stat old = {};
    const bool replacing = ::lstat(to.constData(), &old) == 0 && S_ISREG(old.st_mode);
    QByteArray made;
    const int fd = create_beside(target, replacing ? 0600 : 0666, &made);
    if (fd < 0) {
        *error = system_error(errno);
        return false;
    }
    bool renamed = false;
    const auto remove_made = qScopeGuard([&made, &renamed] {
        if (!renamed)
            ::unlink(made.constData());
    });
    if (replacing)
        take_over(fd, old);
    FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        *error = system_error(errno);
        ::close(fd);
        return false;
    }
    const bool nanoseconds = store.has_nanoseconds(frames);
    pcap_t* dead = pcap_open_dead_with_tstamp_precision(link_type, kSnapLength,
                                                        nanoseconds ? PCAP_TSTAMP_PRECISION_NANO
                                                                    : PCAP_TSTAMP_PRECISION_MICRO);
    pcap_dumper_t* dumper = dead != nullptr ? pcap_dump_fopen(dead, stream) : nullptr;
    if (dumper == nullptr) {
        *error = dead != nullptr ? QString::fromLocal8Bit(pcap_geterr(dead))
                                 : QStringLiteral("pcap_open_dead failed");
        std::fclose(stream);
        if (dead != nullptr)
            pcap_close(dead);
        return false;
    }

    bool ok = true;
    std::size_t written = 0;
    const bool read = store.read_frames(frames, [&](const StoredFrame& frame) {
        if (frame.link_type != link_type) {
            *error = QStringLiteral("the rows come from sources of different link types (%1 and "
                                    "%2), which one pcap file cannot hold")
                             .arg(QString::fromLatin1(pcap_datalink_val_to_name(link_type)),
                                  QString::fromLatin1(pcap_datalink_val_to_name(frame.link_type)));
            ok = false;
            return false;
        }
        pcap_pkthdr header {};
        header.ts.tv_sec = frame.seconds;
        header.ts.tv_usec = nanoseconds ? frame.nanoseconds : frame.microseconds;
        header.caplen = static_cast<bpf_u_int32>(frame.bytes.size());
        header.len = frame.wire_length;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header,
                  reinterpret_cast<const u_char*>(frame.bytes.constData()));
        if (std::ferror(stream) != 0) {
            *error = system_error(errno != 0 ? errno : EIO);
            ok = false;
            return false;
        }
        if (++written % kProgressEvery == 0 && progress && !progress(written)) {
            *error = QStringLiteral("cancelled");
            ok = false;
            return false;
        }
        return true;
    });
    if (!read && ok) {
        *error = QStringLiteral("a frame is no longer stored");
        ok = false;
    }
    if (ok
        && (pcap_dump_flush(dumper) != 0 || std::ferror(stream) != 0
            || fsync(fileno(stream)) != 0)) {
        *error = system_error(errno != 0 ? errno : EIO);
        ok = false;
    }
    pcap_dump_close(dumper); // closes the stream
    pcap_close(dead);
    if (!ok)
        return false;

    // The rename replaces the target at once; until then it is untouched.
    if (std::rename(made.constData(), to.constData()) != 0) {
        *error = system_error(errno);
        return false;
    }
    renamed = true; // it is the target now
    return true;
}
