// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include "hexpiecetable.h"
#include "qhexbuffer.h"

// A store whose unedited bytes (its base) are read by the subclass on
// demand, from wherever it keeps them, and grow at its end while the store is
// in use (appendBase): no byte already there moves, and bytes appended after
// edits land after the current last byte. Edits stay in memory as pieces of
// the base and of added bytes (HexPieceTable); the base is never written.
// An insert past the end or at a negative offset changes nothing. A read
// that the base cannot yield in full ends there, and so does a write. A
// backward search finds the last match that ends at or before `from`, as the
// other stores that read through a device do.
class QGrowingBuffer : public QHexBuffer
{
    Q_OBJECT
    Q_DISABLE_COPY(QGrowingBuffer)

public:
    ~QGrowingBuffer() override;

    using QHexBuffer::load;

    // Bytes of the base, edits aside.
    qint64 baseLength() const { return m_baseLength; }

    qint64 length() const override;
    void insert(qint64 offset, const QByteArray& data) override;
    void remove(qint64 offset, int length) override;
    QByteArray read(qint64 offset, int length) override;
    // Not meaningful for a base read from elsewhere: false, the store
    // unchanged.
    bool load(QIODevice* device) override;
    // Streams the store's bytes to the device, in order, up to base bytes
    // that cannot be read.
    void write(QIODevice* device) override;
    qint64 indexOf(const QByteArray& pattern, qint64 from) override;
    qint64 lastIndexOf(const QByteArray& pattern, qint64 from) override;

protected:
    explicit QGrowingBuffer(QObject* parent = nullptr);

    // The base grew by `length` bytes at its end (> 0).
    void appendBase(qint64 length);
    // Copies base bytes [offset, offset + count) to `out`, within the base;
    // returns how many it copied, fewer only when they could not be read.
    virtual qint64 readBase(qint64 offset, char* out, qint64 count) = 0;

private:
    qint64 m_baseLength = 0;
    HexPieceTable m_pieces;
};
