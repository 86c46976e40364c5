// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlsstreambuffer.h"

#include <algorithm>
#include <cstring>

#include "tlsstream.h"

namespace {

constexpr std::size_t kCachedRecords = 8;

} // namespace

TlsStreamBuffer::TlsStreamBuffer(TlsStream& stream, QObject* parent)
    : QGrowingBuffer(parent)
    , m_stream(stream)
    , m_cache(kCachedRecords)
{ }

TlsStreamBuffer::~TlsStreamBuffer() = default;

void TlsStreamBuffer::appendRecord(std::size_t record)
{
    if (record >= m_stream.records().size() || record > UINT32_MAX)
        return;
    const TlsStream::Record& r = m_stream.records()[record];
    if (r.status != TlsStream::Status::Decrypted || r.content_length == 0)
        return;
    m_starts.push_back(baseLength());
    m_records.push_back(static_cast<std::uint32_t>(record));
    appendBase(r.content_length);
}

qint64 TlsStreamBuffer::baseOffsetOf(std::size_t record) const
{
    const auto at = std::lower_bound(m_records.begin(), m_records.end(), record);
    if (at == m_records.end() || *at != record)
        return -1;
    return m_starts[static_cast<std::size_t>(at - m_records.begin())];
}

const std::vector<std::uint8_t>* TlsStreamBuffer::opened(std::size_t index)
{
    const std::int64_t record = m_records[index];
    for (const Cached& cached : m_cache)
        if (cached.record == record)
            return &cached.bytes;
    Cached& slot = m_cache[m_next_cached];
    m_next_cached = (m_next_cached + 1) % m_cache.size();
    slot.record = -1;
    slot.bytes.resize(m_stream.records()[static_cast<std::size_t>(record)].content_length);
    if (!m_stream.read_content(static_cast<std::size_t>(record), slot.bytes.data()))
        return nullptr;
    slot.record = record;
    return &slot.bytes;
}

qint64 TlsStreamBuffer::readBase(qint64 offset, char* out, qint64 count)
{
    std::size_t index = static_cast<std::size_t>(
            std::upper_bound(m_starts.begin(), m_starts.end(), offset) - m_starts.begin() - 1);
    qint64 done = 0;
    while (done < count && index < m_starts.size()) {
        const qint64 start = m_starts[index];
        const qint64 end = index + 1 < m_starts.size() ? m_starts[index + 1] : baseLength();
        const qint64 from = offset + done - start;
        const qint64 part = qMin(count - done, end - start - from);
        if (from == 0 && part == end - start) {
            // A whole record: opened straight into the result.
            if (!m_stream.read_content(m_records[index],
                                       reinterpret_cast<std::uint8_t*>(out + done)))
                break;
        } else {
            const std::vector<std::uint8_t>* bytes = opened(index);
            if (bytes == nullptr)
                break;
            std::memcpy(out + done, bytes->data() + from, static_cast<std::size_t>(part));
        }
        done += part;
        ++index;
    }
    return done;
}
