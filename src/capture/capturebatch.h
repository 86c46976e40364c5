// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packetrecord.h"

// One accepted frame on its way to the packet table.
struct CaptureRow
{
    // Where its record line lies in the batch's text (see CaptureBatch::line).
    std::uint32_t line_at = 0;
    std::uint32_t line_size = 0;
    std::optional<std::int64_t> frame; // the store's number for its frame
    // Its TCP segment, decoded with the line; none for a line handed in
    // without a frame.
    std::optional<CapturedSegment> segment;
};

// Rows handed from the capture thread to the window at once. Their record
// lines share one text: no row costs an allocation of its own.
struct CaptureBatch
{
    std::vector<CaptureRow> rows;
    // The rows' lines, in UTF-8, one after another. For a row with a stored
    // frame the line's payload field is empty, as the frame's bytes give it.
    std::string text;
    std::size_t bytes = 0; // what the rows and their lines take, roughly

    // A row's record line, valid while the batch's text is unchanged.
    std::string_view line(const CaptureRow& row) const
    {
        return std::string_view(text).substr(row.line_at, row.line_size);
    }
};

// The rows between a capture thread and the window, bounded in rows and
// bytes: one producer (the capture thread) and one consumer (the interface
// thread), safe across the two.
class CaptureBacklog
{
public:
    CaptureBacklog(std::size_t max_rows, std::size_t max_bytes);
    CaptureBacklog(const CaptureBacklog&) = delete;
    CaptureBacklog& operator=(const CaptureBacklog&) = delete;

    // What a row whose line has `size` bytes takes in the backlog, roughly.
    static std::size_t line_bytes(std::size_t size);

    // Producer: whether the producer may hold `rows` more rows of `bytes`
    // besides what is queued. A first row always fits an empty backlog,
    // whatever its size.
    bool has_room(std::size_t rows, std::size_t bytes) const;
    // Producer: waits until has_room(rows, bytes) or stop is set; false for
    // the stop. Looks at stop at least every tenth of a second.
    bool wait_for_room(std::size_t rows, std::size_t bytes, const std::atomic<bool>& stop);
    // Producer: queues a batch (an empty one is ignored). True when the
    // backlog was empty before: the consumer is to be told, as it will not
    // be again until it has taken everything.
    bool push(CaptureBatch&& batch);

    // Consumer: the oldest batch, or nothing when none waits.
    std::optional<CaptureBatch> take();
    // Consumer: drops every queued batch; returns how many rows went.
    std::size_t discard();

    // Rows and bytes queued; either side.
    std::size_t rows() const;
    std::size_t bytes() const;

private:
    bool fits(std::size_t rows, std::size_t bytes) const;

    const std::size_t m_max_rows;
    const std::size_t m_max_bytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    std::deque<CaptureBatch> m_batches;
    // Changed under m_mutex, read without it: the producer looks at them for
    // every row.
    std::atomic<std::size_t> m_rows { 0 };
    std::atomic<std::size_t> m_bytes { 0 };
};
