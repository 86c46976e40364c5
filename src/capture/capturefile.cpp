#include "capturefile.h"

#include <cerrno>
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

namespace {

constexpr int kSnapLength = 262144;
constexpr std::size_t kProgressEvery = 4096;
constexpr int kMaxNameTries = 100;

QString system_error(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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
    // byte is written; a new file follows the umask.
    const QByteArray to = QFile::encodeName(target.absoluteFilePath());
    struct stat old = {};
    const bool replacing = ::stat(to.constData(), &old) == 0 && S_ISREG(old.st_mode);
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
    pcap_t* dead = pcap_open_dead(link_type, kSnapLength);
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
        header.ts.tv_usec = frame.microseconds;
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
