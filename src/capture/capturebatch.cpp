// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturebatch.h"

#include <chrono>
#include <utility>

namespace {

constexpr std::chrono::milliseconds kStopLook { 100 };

} // namespace

CaptureBacklog::CaptureBacklog(std::size_t max_rows, std::size_t max_bytes)
    : m_max_rows(max_rows)
    , m_max_bytes(max_bytes)
{ }

std::size_t CaptureBacklog::line_bytes(std::size_t size)
{
    // The line in the batch's text and the row's own fields.
    return size + sizeof(CaptureRow);
}

bool CaptureBacklog::fits(std::size_t rows, std::size_t bytes) const
{
    const std::size_t queued = m_rows.load(std::memory_order_relaxed);
    if (queued == 0 && rows <= 1)
        return true;
    return queued + rows <= m_max_rows
            && m_bytes.load(std::memory_order_relaxed) + bytes <= m_max_bytes;
}

bool CaptureBacklog::has_room(std::size_t rows, std::size_t bytes) const
{
    // A stale count is a higher one: the answer errs on the side of waiting.
    return fits(rows, bytes);
}

bool CaptureBacklog::wait_for_room(std::size_t rows, std::size_t bytes,
                                   const std::atomic<bool>& stop)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!fits(rows, bytes)) {
        if (stop.load())
            return false;
        m_room.wait_for(lock, kStopLook);
    }
    return !stop.load();
}

bool CaptureBacklog::push(CaptureBatch&& batch)
{
    if (batch.rows.empty())
        return false;
    const std::lock_guard<std::mutex> lock(m_mutex);
    const bool was_empty = m_batches.empty();
    m_rows += batch.rows.size();
    m_bytes += batch.bytes;
    m_batches.push_back(std::move(batch));
    return was_empty;
}

std::optional<CaptureBatch> CaptureBacklog::take()
{
    std::optional<CaptureBatch> batch;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_batches.empty())
            return std::nullopt;
        batch = std::move(m_batches.front());
        m_batches.pop_front();
        m_rows -= batch->rows.size();
        m_bytes -= batch->bytes;
    }
    m_room.notify_one();
    return batch;
}

std::size_t CaptureBacklog::discard()
{
    std::deque<CaptureBatch> gone; // freed outside the lock
    std::size_t rows = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        gone.swap(m_batches);
        rows = m_rows.exchange(0);
        m_bytes = 0;
    }
    m_room.notify_one();
    return rows;
}

std::size_t CaptureBacklog::rows() const
{
    return m_rows.load();
}

std::size_t CaptureBacklog::bytes() const
{
    return m_bytes.load();
}
