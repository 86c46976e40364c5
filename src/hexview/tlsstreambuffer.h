// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <vector>

#include "qgrowingbuffer.h"

class TlsStream;

// A store whose base is the plaintext of TLS records, opened when they are
// read (the view, a find, a save) rather than kept: a list of the records'
// places, 12 bytes each, and a few records opened last. The base grows at
// its end (appendRecord); edits stay in memory as in any store (see
// QGrowingBuffer), the capture is never written. A record that no longer
// opens (its file fell short) ends a read there.
class TlsStreamBuffer : public QGrowingBuffer
{
    Q_OBJECT
    Q_DISABLE_COPY(TlsStreamBuffer)

public:
    // The stream must outlive the buffer.
    explicit TlsStreamBuffer(TlsStream& stream, QObject* parent = nullptr);
    ~TlsStreamBuffer() override;

    // Appends the content of stream.records()[record] (decrypted
    // application data; anything else is ignored) at the end of the base.
    void appendRecord(std::size_t record);
    // Where the base holds that record's content: its offset, or -1.
    qint64 baseOffsetOf(std::size_t record) const;
    qint64 recordCount() const { return static_cast<qint64>(m_records.size()); }

private:
    struct Cached
    {
        std::int64_t record = -1;
        std::vector<std::uint8_t> bytes;
    };
    qint64 readBase(qint64 offset, char* out, qint64 count) override;
    // The opened content of the base's i-th record, or null.
    const std::vector<std::uint8_t>* opened(std::size_t index);

    TlsStream& m_stream;
    std::vector<qint64> m_starts; // of each record's content in the base
    std::vector<std::uint32_t> m_records; // its index in the stream
    std::vector<Cached> m_cache;
    std::size_t m_next_cached = 0; // the slot a new record takes
};
