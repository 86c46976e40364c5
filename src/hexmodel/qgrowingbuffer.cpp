// SPDX-License-Identifier: GPL-2.0-or-later

#include "qgrowingbuffer.h"

#include <QIODevice>

#include "deviceio.h"

namespace {

constexpr qint64 kCopyChunk = qint64(1) << 20;

} // namespace

QGrowingBuffer::QGrowingBuffer(QObject* parent)
    : QHexBuffer(parent)
{ }

QGrowingBuffer::~QGrowingBuffer() = default;

void QGrowingBuffer::appendBase(qint64 length)
{
    m_pieces.appendBase(m_baseLength, length);
    m_baseLength += length;
}

qint64 QGrowingBuffer::length() const
{
    return m_pieces.length();
}

void QGrowingBuffer::insert(qint64 offset, const QByteArray& data)
{
    m_pieces.insert(offset, data);
}

void QGrowingBuffer::remove(qint64 offset, int length)
{
    m_pieces.remove(offset, length);
}

QByteArray QGrowingBuffer::read(qint64 offset, int length)
{
    return m_pieces.read(offset, length, [this](qint64 from, char* out, qint64 count) {
        if (from < 0 || count <= 0 || from >= m_baseLength)
            return qint64(0);
        return readBase(from, out, qMin(count, m_baseLength - from));
    });
}

bool QGrowingBuffer::load(QIODevice* device)
{
    Q_UNUSED(device)
    return false;
}

void QGrowingBuffer::write(QIODevice* device)
{
    if (device == nullptr)
        return;
    const qint64 total = length();
    for (qint64 offset = 0; offset < total; offset += kCopyChunk) {
        const QByteArray bytes = read(offset, static_cast<int>(qMin(kCopyChunk, total - offset)));
        device->write(bytes);
        if (bytes.size() < qMin(kCopyChunk, total - offset))
            return; // the base fell short: what follows would be out of place
    }
}

qint64 QGrowingBuffer::indexOf(const QByteArray& pattern, qint64 from)
{
    return windowIndexOf([this](qint64 offset, int length) { return read(offset, length); },
                         length(), pattern, from);
}

qint64 QGrowingBuffer::lastIndexOf(const QByteArray& pattern, qint64 from)
{
    return windowLastIndexOf([this](qint64 offset, int length) { return read(offset, length); },
                             length(), pattern, from);
}
