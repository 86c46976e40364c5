// SPDX-License-Identifier: GPL-2.0-or-later

#include "qfilebuffer.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

#include <QFile>

#include "deviceio.h"

namespace {

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
        return m_pieces.length();
    return m_file != nullptr ? m_file->size() : 0;
}

void QFileBuffer::beginEditing()
{
    if (m_edited)
        return;
    m_pieces.reset(length());
    m_edited = true;
}

void QFileBuffer::insert(qint64 offset, const QByteArray& data)
{
    if (!m_editable || offset < 0 || offset > length() || data.isEmpty())
        return;
    beginEditing();
    m_pieces.insert(offset, data);
}

void QFileBuffer::remove(qint64 offset, int length)
{
    if (!m_editable || offset < 0 || length <= 0 || offset >= this->length())
        return;
    beginEditing();
    m_pieces.remove(offset, length);
}

qint64 QFileBuffer::readFile(qint64 offset, char* out, qint64 count)
{
    const QByteArray bytes = deviceRead(*m_file, offset, static_cast<int>(count));
    std::memcpy(out, bytes.constData(), static_cast<size_t>(bytes.size()));
    return bytes.size();
}

QByteArray QFileBuffer::read(qint64 offset, int length)
{
    if (m_file == nullptr)
        return {};
    if (!m_edited)
        return deviceRead(*m_file, offset, length);
    return m_pieces.read(offset, length, [this](qint64 from, char* out, qint64 count) {
        return readFile(from, out, count);
    });
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
    m_pieces.reset(0);
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
    const qint64 length = m_pieces.length();
    for (qint64 offset = 0; offset < length; offset += kCopyChunk)
        device->write(read(offset, static_cast<int>(qMin(kCopyChunk, length - offset))));
}

qint64 QFileBuffer::indexOf(const QByteArray& pattern, qint64 from)
{
    if (m_file == nullptr)
        return -1;
    if (!m_edited)
        return deviceIndexOf(*m_file, pattern, from);
    return windowIndexOf([this](qint64 offset, int length) { return read(offset, length); },
                         m_pieces.length(), pattern, from);
}

qint64 QFileBuffer::lastIndexOf(const QByteArray& pattern, qint64 from)
{
    if (m_file == nullptr)
        return -1;
    if (!m_edited)
        return deviceLastIndexOf(*m_file, pattern, from);
    return windowLastIndexOf([this](qint64 offset, int length) { return read(offset, length); },
                             m_pieces.length(), pattern, from);
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
    qint64 found = m_pieces.length();
    m_pieces.forEachFrom(offset, [&](const HexPieceTable::Piece& piece, qint64 start) {
        const qint64 from = qMax(offset, start);
        if (piece.added) {
            found = from;
            return false;
        }
        const qint64 inFile
                = fileDataStart(*m_file, piece.source + from - start, piece.source + piece.length);
        if (inFile < piece.source + piece.length) {
            found = start + inFile - piece.source;
            return false;
        }
        return true;
    });
    return found;
}
