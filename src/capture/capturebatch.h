// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include <QString>

#include "packetrecord.h"

// One accepted frame on its way to the packet table.
struct CaptureRow
{
    // The record line; for a row with a stored frame its payload field is
    // empty, as the frame's bytes give it.
    QString line;
    std::optional<std::int64_t> frame; // the store's number for its frame
    // Its TCP segment, decoded with the line; none for a line handed in
    // without a frame.
    std::optional<CapturedSegment> segment;
};

// Rows handed from the capture thread to the window at once.
struct CaptureBatch
{
    std::vector<CaptureRow> rows;
    std::size_t bytes = 0; // what the rows' lines take, roughly
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

    // What a row's line of `characters` takes in the backlog, roughly.
    static std::size_t line_bytes(int characters);

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
