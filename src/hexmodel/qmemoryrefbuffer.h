// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include "qhexbuffer.h"

class QBuffer;

// A read-only store that reads through a QBuffer it is given (and then owns).
// Insert and remove do nothing. A backward search finds the last match that
// ends at or before `from`.
class QMemoryRefBuffer : public QHexBuffer
{
    Q_OBJECT
    Q_DISABLE_COPY(QMemoryRefBuffer)

public:
    explicit QMemoryRefBuffer(QObject* parent = nullptr);

    using QHexBuffer::load;

    qint64 length() const override;
    void insert(qint64 offset, const QByteArray& data) override;
    void remove(qint64 offset, int length) override;
    QByteArray read(qint64 offset, int length) override;
    // Accepts a QBuffer only (false otherwise, leaving no device); it is not
    // opened here.
    bool load(QIODevice* device) override;
    // Streams every byte to the device, in order.
    void write(QIODevice* device) override;
    qint64 indexOf(const QByteArray& pattern, qint64 from) override;
    qint64 lastIndexOf(const QByteArray& pattern, qint64 from) override;

private:
    QBuffer* m_buffer = nullptr;
};
