// SPDX-License-Identifier: GPL-2.0-or-later

#include "qmemorybuffer.h"

#include <limits>

#include <QIODevice>

namespace {

constexpr qint64 kMaxOffset = std::numeric_limits<int>::max();

} // namespace

QMemoryBuffer::QMemoryBuffer(QObject* parent)
    : QHexBuffer(parent)
{ }

uchar QMemoryBuffer::at(qint64 offset)
{
    if (offset < 0 || offset >= m_buffer.size())
        return 0;
    return static_cast<uchar>(m_buffer.at(static_cast<int>(offset)));
}

qint64 QMemoryBuffer::length() const
{
    return m_buffer.size();
}

void QMemoryBuffer::insert(qint64 offset, const QByteArray& data)
{
    // Nothing at a negative offset (as QByteArray) or when the run would end
    // beyond 2^31 - 1: narrowed to 32 bits, such an offset could land inside
    // the data, and QByteArray's own size arithmetic overflows past that end.
    if (offset < 0 || offset > kMaxOffset - data.size())
        return;
    m_buffer.insert(static_cast<int>(offset), data);
}

void QMemoryBuffer::remove(qint64 offset, int length)
{
    if (offset < 0 || offset > kMaxOffset)
        return;
    m_buffer.remove(static_cast<int>(offset), length);
}

QByteArray QMemoryBuffer::read(qint64 offset, int length)
{
    if (offset > kMaxOffset)
        return {};
    if (offset < -kMaxOffset)
        return {};
    return m_buffer.mid(static_cast<int>(offset), length);
}

bool QMemoryBuffer::load(QIODevice* device)
{
    m_buffer = device->readAll();
    return true;
}

void QMemoryBuffer::write(QIODevice* device)
{
    device->write(m_buffer);
}

qint64 QMemoryBuffer::indexOf(const QByteArray& pattern, qint64 from)
{
    if (from > kMaxOffset)
        return -1;
    return m_buffer.indexOf(pattern, static_cast<int>(qMax(from, -kMaxOffset)));
}

qint64 QMemoryBuffer::lastIndexOf(const QByteArray& pattern, qint64 from)
{
    // QByteArray's rules: from past the end finds nothing, a negative from
    // counts from the end.
    return m_buffer.lastIndexOf(pattern, static_cast<int>(qBound(-kMaxOffset, from, kMaxOffset)));
}
