// SPDX-License-Identifier: GPL-2.0-or-later

#include "qmemoryrefbuffer.h"

#include <QBuffer>

#include "deviceio.h"

QMemoryRefBuffer::QMemoryRefBuffer(QObject* parent)
    : QHexBuffer(parent)
{ }

qint64 QMemoryRefBuffer::length() const
{
    return m_buffer != nullptr ? m_buffer->size() : 0;
}

void QMemoryRefBuffer::insert(qint64 /*offset*/, const QByteArray& /*data*/)
{ }

void QMemoryRefBuffer::remove(qint64 /*offset*/, int /*length*/)
{ }

QByteArray QMemoryRefBuffer::read(qint64 offset, int length)
{
    return m_buffer != nullptr ? deviceRead(*m_buffer, offset, length) : QByteArray();
}

bool QMemoryRefBuffer::load(QIODevice* device)
{
    m_buffer = qobject_cast<QBuffer*>(device);
    if (m_buffer == nullptr)
        return false;
    m_buffer->setParent(this);
    return true;
}

void QMemoryRefBuffer::write(QIODevice* device)
{
    if (m_buffer != nullptr && device != nullptr)
        deviceCopy(*m_buffer, *device);
}

qint64 QMemoryRefBuffer::indexOf(const QByteArray& pattern, qint64 from)
{
    return m_buffer != nullptr ? deviceIndexOf(*m_buffer, pattern, from) : -1;
}

qint64 QMemoryRefBuffer::lastIndexOf(const QByteArray& pattern, qint64 from)
{
    return m_buffer != nullptr ? deviceLastIndexOf(*m_buffer, pattern, from) : -1;
}
