// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturefile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <pcap/pcap.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include "capturestore.h"

namespace {

constexpr int kSnapLength = 262144;
constexpr std::size_t kProgressEvery = 4096;

QString system_error(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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

    QTemporaryFile temporary(target.absolutePath() + QLatin1Char('/') + QLatin1Char('.')
                             + target.fileName() + QStringLiteral(".XXXXXX"));
    if (!temporary.open()) {
        *error = temporary.errorString();
        return false;
    }
    const int fd = dup(temporary.handle());
    FILE* stream = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (stream == nullptr) {
        *error = system_error(errno);
        if (fd >= 0)
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
    const QByteArray from = QFile::encodeName(temporary.fileName());
    const QByteArray to = QFile::encodeName(target.absoluteFilePath());
    if (std::rename(from.constData(), to.constData()) != 0) {
        *error = system_error(errno);
        return false;
    }
    temporary.setAutoRemove(false); // it is the target now
    // A temporary file is private to its owner; a saved capture is not.
    QFile::setPermissions(target.absoluteFilePath(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                  | QFile::ReadOther);
    return true;
}
