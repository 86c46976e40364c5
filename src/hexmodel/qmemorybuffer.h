// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include "qhexbuffer.h"

// The editable store: all bytes in one array, so at most 2^31 - 1 of them.
// Edits, reads and searches follow QByteArray's rules: an insert past the end
// pads the gap with spaces (0x20), a remove past the end cuts at the offset,
// a backward search finds the last match that begins at or before `from`
// (from -1: anywhere). An edit at a negative offset, or an insert whose end
// would lie beyond 2^31 - 1, changes nothing.
class QMemoryBuffer : public QHexBuffer
{
    Q_OBJECT
    Q_DISABLE_COPY(QMemoryBuffer)

public:
    explicit QMemoryBuffer(QObject* parent = nullptr);

    using QHexBuffer::load;

    uchar at(qint64 offset) override;
    qint64 length() const override;
    void insert(qint64 offset, const QByteArray& data) override;
    void remove(qint64 offset, int length) override;
    QByteArray read(qint64 offset, int length) override;
    // Takes everything the device yields from its current position.
    bool load(QIODevice* device) override;
    void write(QIODevice* device) override;
    qint64 indexOf(const QByteArray& pattern, qint64 from) override;
    qint64 lastIndexOf(const QByteArray& pattern, qint64 from) override;

private:
    QByteArray m_buffer;
};
