// SPDX-License-Identifier: GPL-2.0-or-later

#include "qpiecebuffer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include <unistd.h>

#include <QIODevice>

#include "deviceio.h"

namespace {

constexpr int kMemory = -1;
constexpr qint64 kCopyChunk = qint64(1) << 20;

// Up to `count` bytes at `offset` of the descriptor; fewer only at its end or
// on an error.
qint64 readFully(int fd, char* out, qint64 count, qint64 offset)
{
    qint64 done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, out + done, static_cast<size_t>(count - done),
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += got;
    }
    return done;
}

} // namespace

QPieceBuffer::QPieceBuffer(QObject* parent)
    : QHexBuffer(parent)
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
    m_sources.push_back(fd);
    return static_cast<int>(m_sources.size()) - 1;
}

void QPieceBuffer::appendRun(int source, qint64 offset, qint64 length)
{
    if (source < 0 || source >= static_cast<int>(m_sources.size()) || offset < 0 || length <= 0)
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
    const bool joins = !m_runs.empty() && m_runs.back().source == source
            && m_runs.back().offset + (m_baseLength - m_runs.back().start) == offset;
    if (!joins)
        m_runs.push_back(Run { m_baseLength, offset, source });
    m_pieces.appendBase(m_baseLength, length);
    m_baseLength += length;
}

void QPieceBuffer::reserveRuns(qint64 count)
{
    if (count > 0)
        m_runs.reserve(static_cast<size_t>(count));
}

qint64 QPieceBuffer::length() const
{
    return m_pieces.length();
}

void QPieceBuffer::insert(qint64 offset, const QByteArray& data)
{
    m_pieces.insert(offset, data);
}

void QPieceBuffer::remove(qint64 offset, int length)
{
    m_pieces.remove(offset, length);
}

qint64 QPieceBuffer::readBase(qint64 offset, char* out, qint64 count) const
{
    if (offset < 0 || count <= 0 || offset >= m_baseLength)
        return 0;
    count = qMin(count, m_baseLength - offset);
    // The run that holds `offset`: the last one that starts at or before it.
    auto run = std::upper_bound(m_runs.begin(), m_runs.end(), offset,
                                [](qint64 at, const Run& r) { return at < r.start; })
            - 1;
    qint64 done = 0;
    for (; done < count; ++run) {
        const qint64 runEnd = run + 1 != m_runs.end() ? (run + 1)->start : m_baseLength;
        const qint64 from = offset + done - run->start;
        const qint64 want = qMin(count - done, runEnd - run->start - from);
        qint64 got = 0;
        if (run->source == kMemory) {
            std::memcpy(out + done, m_bytes.constData() + run->offset + from,
                        static_cast<size_t>(want));
            got = want;
        } else {
            got = readFully(m_sources[static_cast<size_t>(run->source)], out + done, want,
                            run->offset + from);
        }
        done += got;
        if (got < want)
            break;
    }
    return done;
}

QByteArray QPieceBuffer::read(qint64 offset, int length)
{
    return m_pieces.read(offset, length, [this](qint64 from, char* out, qint64 count) {
        return readBase(from, out, count);
    });
}

bool QPieceBuffer::load(QIODevice* device)
{
    Q_UNUSED(device)
    return false;
}

void QPieceBuffer::write(QIODevice* device)
{
    if (device == nullptr)
        return;
    const qint64 total = length();
    for (qint64 offset = 0; offset < total; offset += kCopyChunk) {
        const QByteArray bytes = read(offset, static_cast<int>(qMin(kCopyChunk, total - offset)));
        device->write(bytes);
        if (bytes.size() < qMin(kCopyChunk, total - offset))
            return; // a file fell short: what follows would be out of place
    }
}

qint64 QPieceBuffer::indexOf(const QByteArray& pattern, qint64 from)
{
    return windowIndexOf([this](qint64 offset, int length) { return read(offset, length); },
                         length(), pattern, from);
}

qint64 QPieceBuffer::lastIndexOf(const QByteArray& pattern, qint64 from)
{
    return windowLastIndexOf([this](qint64 offset, int length) { return read(offset, length); },
                             length(), pattern, from);
}
