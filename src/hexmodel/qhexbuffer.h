// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QByteArray>
#include <QObject>

class QIODevice;

// The byte store under a hex document. Offsets are signed 64-bit, range
// lengths signed 32-bit. Reads outside the data yield empty arrays and at()
// outside [0, length()) yields 0; searches return -1 for "not found".
class QHexBuffer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QHexBuffer)

public:
    explicit QHexBuffer(QObject* parent = nullptr);

    bool isEmpty() const;

    // The byte at offset; 0 outside [0, length()).
    virtual uchar at(qint64 offset);
    // remove(offset, data.length()), then insert(offset, data).
    virtual void replace(qint64 offset, const QByteArray& data);
    // Loads a copy of the bytes through an in-memory device kept as a child
    // of this buffer, then load(device).
    virtual bool load(const char* data, int size);
    virtual bool load(const QByteArray& data);

    virtual qint64 length() const = 0;
    virtual void insert(qint64 offset, const QByteArray& data) = 0;
    virtual void remove(qint64 offset, int length) = 0;
    virtual QByteArray read(qint64 offset, int length) = 0;
    virtual bool load(QIODevice* device) = 0;
    virtual void write(QIODevice* device) = 0;
    virtual qint64 indexOf(const QByteArray& pattern, qint64 from) = 0;
    virtual qint64 lastIndexOf(const QByteArray& pattern, qint64 from) = 0;
};
