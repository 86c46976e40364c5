// SPDX-License-Identifier: GPL-2.0-or-later

#include "qpiecebuffer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr int kMemory = -1;
// A run's place: its source's number plus one (0 for kMemory) above this
// bit, its offset in the source below.
constexpr int kOffsetBits = 48;
constexpr quint64 kOffsetMask = (quint64(1) << kOffsetBits) - 1;
constexpr int kMaxSources = (1 << (64 - kOffsetBits)) - 1;
// Runs of one file read in one system call when at most this many bytes (a
// pcap record header and the frame's own headers, say) lie between them.
constexpr qint64 kMaxGap = 4096;
constexpr int kMaxVectors = 256; // per call; IOV_MAX is 1024

} // namespace

int QPieceBuffer::Run::source() const
{
    return static_cast<int>(place >> kOffsetBits) - 1;
}

qint64 QPieceBuffer::Run::offset() const
{
    return static_cast<qint64>(place & kOffsetMask);
}

QPieceBuffer::QPieceBuffer(QObject* parent)
    : QGrowingBuffer(parent)
{ }

QPieceBuffer::~QPieceBuffer()
{
    for (const int fd : m_sources)
        ::close(fd);
}

int QPieceBuffer::addSource(int fd)
{
    if (fd < 0)
        return -1;
    if (m_sources.size() >= static_cast<size_t>(kMaxSources)) {
        ::close(fd);
        return -1;
    }
    m_sources.push_back(fd);
    return static_cast<int>(m_sources.size()) - 1;
}

void QPieceBuffer::appendRun(int source, qint64 offset, qint64 length)
{
    if (source < 0 || source >= static_cast<int>(m_sources.size()) || offset < 0
        || static_cast<quint64>(offset) > kOffsetMask || length <= 0)
        return;
    appendRunOf(source, offset, length);
}

void QPieceBuffer::appendBytes(const QByteArray& bytes)
{
    if (bytes.isEmpty() || m_bytes.size() > INT_MAX - bytes.size())
        return;
    const qint64 offset = m_bytes.size();
    m_bytes.append(bytes);
    appendRunOf(kMemory, offset, bytes.size());
}

void QPieceBuffer::appendRunOf(int source, qint64 offset, qint64 length)
{
    const qint64 end = baseLength();
    const bool joins = !m_runs.empty() && m_runs.back().source() == source
            && m_runs.back().offset() + (end - m_runs.back().start) == offset;
    if (!joins) {
        m_runs.push_back(Run { end,
                               static_cast<quint64>(source + 1) << kOffsetBits
                                       | static_cast<quint64>(offset) });
    }
    appendBase(length);
}

void QPieceBuffer::reserveRuns(qint64 count)
{
    if (count > 0)
        m_runs.reserve(static_cast<size_t>(count));
}

qint64 QPieceBuffer::readBase(qint64 offset, char* out, qint64 count)
{
    qint64 done = 0;
    while (done < count) {
        const qint64 got = readRuns(offset + done, out + done, count - done);
        if (got <= 0)
            break; // a file holds less than its runs say
        done += got;
    }
    return done;
}

qint64 QPieceBuffer::readRuns(qint64 offset, char* out, qint64 count) const
{
    // The run that holds `offset`: the last one that starts at or before it.
    auto run = std::upper_bound(m_runs.begin(), m_runs.end(), offset,
                                [](qint64 at, const Run& r) { return at < r.start; })
            - 1;
    const auto runEnd = [this](std::vector<Run>::const_iterator r) {
        return r + 1 != m_runs.end() ? (r + 1)->start : baseLength();
    };
    if (run->source() == kMemory) {
        const qint64 want = qMin(count, runEnd(run) - offset);
        std::memcpy(out, m_bytes.constData() + run->offset() + (offset - run->start),
                    static_cast<size_t>(want));
        return want;
    }

    // The runs that follow in the same file, close enough to read the bytes
    // between them too: those go to a scratch area, the runs' bytes to `out`.
    const int source = run->source();
    char scratch[kMaxGap];
    iovec vectors[kMaxVectors];
    int used = 0;
    const qint64 fileStart = run->offset() + (offset - run->start);
    qint64 fileEnd = fileStart;
    qint64 wanted = 0;
    for (; run != m_runs.end() && wanted < count && used + 2 <= kMaxVectors; ++run) {
        const qint64 at = run->offset() + (offset + wanted - run->start);
        if (used > 0) {
            const qint64 gap = at - fileEnd;
            if (run->source() != source || gap < 0 || gap > kMaxGap)
                break;
            if (gap > 0)
                vectors[used++] = iovec { scratch, static_cast<size_t>(gap) };
        }
        const qint64 want = qMin(count - wanted, runEnd(run) - (offset + wanted));
        vectors[used++] = iovec { out + wanted, static_cast<size_t>(want) };
        wanted += want;
        fileEnd = at + want;
    }
    ssize_t got = 0;
    do
        got = ::preadv(m_sources[static_cast<size_t>(source)], vectors, used,
                       static_cast<off_t>(fileStart));
    while (got < 0 && errno == EINTR);

    // The runs' bytes among what came: all of them unless the file ended.
    qint64 filled = 0;
    for (int i = 0; i < used && got > 0; ++i) {
        const qint64 part = qMin<qint64>(got, static_cast<qint64>(vectors[i].iov_len));
        if (vectors[i].iov_base != scratch)
            filled += part;
        got -= part;
    }
    return filled;
}
