// SPDX-License-Identifier: GPL-2.0-or-later

#include "qhexbuffer.h"

#include <QBuffer>

QHexBuffer::QHexBuffer(QObject* parent)
    : QObject(parent)
{ }

bool QHexBuffer::isEmpty() const
{
    return length() <= 0;
}

uchar QHexBuffer::at(qint64 offset)
{
    if (offset < 0 || offset >= length())
        return 0;
    const QByteArray byte = read(offset, 1);
    return byte.isEmpty() ? 0 : static_cast<uchar>(byte.at(0));
}

void QHexBuffer::replace(qint64 offset, const QByteArray& data)
{
    remove(offset, data.length());
    insert(offset, data);
}

bool QHexBuffer::load(const char* data, int size)
{
    return load(QByteArray(data, size));
}

bool QHexBuffer::load(const QByteArray& data)
{
    // Kept as a child: a store that reads through it needs it afterwards.
    auto* device = new QBuffer(this);
    device->setData(data);
    if (!device->isOpen())
        device->open(QIODevice::ReadWrite);
    return load(device);
}
