// SPDX-License-Identifier: GPL-2.0-or-later

#include "qfilebuffer.h"

#include <cerrno>
#include <climits>

#include <unistd.h>

#include <QFile>

#include "deviceio.h"

namespace {

constexpr qint64 kWindow = 1 << 20;
constexpr qint64 kCopyChunk = qint64(1) << 20;

// The first data offset at or after `offset` in the file (SEEK_DATA), or
// `size` when only a hole follows. The descriptor's position is restored, so
// that the QFile reading through it does not notice.
qint64 fileDataStart(QFile& file, qint64 offset, qint64 size)
{
    const int fd = file.handle();
    if (fd < 0 || offset >= size)
        return qMin(offset, size);
    const off_t position = ::lseek(fd, 0, SEEK_CUR);
    if (position < 0)
        return offset;
    const off_t data = ::lseek(fd, offset, SEEK_DATA);
    const int error = errno;
    ::lseek(fd, position, SEEK_SET);
    if (data >= 0)
        return qMin<qint64>(data, size);
    return error == ENXIO ? size : offset; // ENXIO: no data after offset
}

} // namespace

QFileBuffer::QFileBuffer(QObject* parent)
    : QHexBuffer(parent)
{ }

QFileBuffer::~QFileBuffer()
{
    if (m_file == nullptr)
        return;
    if (m_file->isOpen())
        m_file->close();
    delete m_file;
    m_file = nullptr;
}

qint64 QFileBuffer::length() const
{
    if (m_edited)
        return m_length;
    return m_file != nullptr ? m_file->size() : 0;
}

void QFileBuffer::beginEditing()
{
    if (m_edited)
        return;
    m_pieces.clear();
    m_length = length();
    if (m_length > 0)
        m_pieces.push_back(Piece { false, 0, m_length });
    m_edited = true;
}

size_t QFileBuffer::splitAt(qint64 offset)
{
    qint64 start = 0;
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        Piece& piece = m_pieces[i];
        if (offset == start)
            return i;
        if (offset < start + piece.length) {
            const qint64 head = offset - start;
            const Piece tail { piece.added, piece.source + head, piece.length - head };
            piece.length = head;
            m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
            return i + 1;
        }
        start += piece.length;
    }
    return m_pieces.size();
}

void QFileBuffer::insert(qint64 offset, const QByteArray& data)
{
    if (!m_editable || offset < 0 || offset > length() || data.isEmpty()
        || m_added.size() > INT_MAX - data.size())
        return;
    beginEditing();
    const size_t at = splitAt(offset);
    m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(at),
                    Piece { true, m_added.size(), data.size() });
    m_added.append(data);
    m_length += data.size();
}

void QFileBuffer::remove(qint64 offset, int length)
{
    if (!m_editable || offset < 0 || length <= 0 || offset >= this->length())
        return;
    beginEditing();
    const qint64 end = qMin(offset + length, m_length);
    const size_t first = splitAt(offset);
    const size_t last = splitAt(end);
    m_pieces.erase(m_pieces.begin() + static_cast<std::ptrdiff_t>(first),
                   m_pieces.begin() + static_cast<std::ptrdiff_t>(last));
    m_length -= end - offset;
}

QByteArray QFileBuffer::read(qint64 offset, int length)
{
    if (m_file == nullptr)
        return {};
    if (!m_edited)
        return deviceRead(*m_file, offset, length);
    if (offset < 0 || length <= 0 || offset >= m_length)
        return {};
    const qint64 end = qMin(offset + length, m_length);
    QByteArray bytes;
    bytes.reserve(static_cast<int>(end - offset));
    qint64 start = 0;
    for (const Piece& piece : m_pieces) {
        const qint64 pieceEnd = start + piece.length;
        if (pieceEnd > offset && start < end) {
            const qint64 from = qMax(offset, start) - start;
            const int count = static_cast<int>(qMin(end, pieceEnd) - start - from);
            if (piece.added)
                bytes.append(m_added.constData() + piece.source + from, count);
            else
                bytes.append(deviceRead(*m_file, piece.source + from, count));
        }
        if (pieceEnd >= end)
            break;
        start = pieceEnd;
    }
    return bytes;
}

bool QFileBuffer::load(QIODevice* device)
{
    auto* file = qobject_cast<QFile*>(device);
    if (file == nullptr)
        return false;
    if (m_file != nullptr && m_file != file)
        delete m_file;
    m_file = file;
    m_edited = false;
    m_pieces.clear();
    m_added.clear();
    m_length = 0;
    m_file->setParent(this);
    // Read-write when the file allows it, as editors expect; never create a
    // file that is not there.
    if (!m_file->isOpen() && !m_file->open(QIODevice::ReadWrite | QIODevice::ExistingOnly))
        m_file->open(QIODevice::ReadOnly);
    return true;
}

void QFileBuffer::write(QIODevice* device)
{
    if (m_file == nullptr || device == nullptr)
        return;
    if (!m_edited) {
        deviceCopy(*m_file, *device);
        return;
    }
    for (qint64 offset = 0; offset < m_length; offset += kCopyChunk)
        device->write(read(offset, static_cast<int>(qMin(kCopyChunk, m_length - offset))));
}

qint64 QFileBuffer::indexOf(const QByteArray& pattern, qint64 from)
{
    if (m_file == nullptr)
        return -1;
    if (!m_edited)
        return deviceIndexOf(*m_file, pattern, from);
    if (from < 0)
        from = qMax<qint64>(0, from + m_length);
    if (from >= m_length)
        return -1;
    if (pattern.isEmpty())
        return from;
    const qint64 window = qMax<qint64>(kWindow, 2 * static_cast<qint64>(pattern.size()));
    for (qint64 start = from;;) {
        const QByteArray bytes = read(start, static_cast<int>(qMin(window, m_length - start)));
        const int at = bytes.indexOf(pattern);
        if (at >= 0)
            return start + at;
        if (start + bytes.size() >= m_length || bytes.size() <= pattern.size())
            return -1;
        start += bytes.size() - pattern.size(); // windows overlap at the seam
    }
}

qint64 QFileBuffer::lastIndexOf(const QByteArray& pattern, qint64 from)
{
    if (m_file == nullptr)
        return -1;
    if (!m_edited)
        return deviceLastIndexOf(*m_file, pattern, from);
    if (from < 0 || pattern.size() == INT_MAX)
        return -1;
    const qint64 window = qMax<qint64>(kWindow, 2 * static_cast<qint64>(pattern.size()));
    for (qint64 end = qMin(from, m_length);;) {
        const qint64 start = qMax<qint64>(0, end - window);
        const int at = read(start, static_cast<int>(end - start)).lastIndexOf(pattern);
        if (at >= 0)
            return start + at;
        if (start == 0)
            return -1;
        end = start + pattern.size();
    }
}

bool QFileBuffer::isFileWritable() const
{
    return m_file != nullptr && m_file->isWritable();
}

QString QFileBuffer::fileName() const
{
    return m_file != nullptr ? m_file->fileName() : QString();
}

qint64 QFileBuffer::dataStart(qint64 offset)
{
    if (m_file == nullptr || offset < 0)
        return qMax<qint64>(0, qMin(offset, length()));
    if (!m_edited)
        return fileDataStart(*m_file, offset, m_file->size());
    qint64 start = 0;
    for (const Piece& piece : m_pieces) {
        const qint64 pieceEnd = start + piece.length;
        if (pieceEnd > offset) {
            const qint64 from = qMax(offset, start);
            if (piece.added)
                return from;
            const qint64 inFile = fileDataStart(*m_file, piece.source + from - start,
                                                piece.source + piece.length);
            if (inFile < piece.source + piece.length)
                return start + inFile - piece.source;
        }
        start = pieceEnd;
    }
    return m_length;
}
