// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The store's frame numbers of the lines a capture emitted, in order, from
// the thread that emits the lines (the only writer) to the receiver of the
// lines (the only reader), without a lock: a capture file gives millions of
// lines a second. Each side is used by one thread at a time. It grows as far
// as the reader lags behind.
class FrameTickets
{
public:
    FrameTickets();
    ~FrameTickets();
    FrameTickets(const FrameTickets&) = delete;
    FrameTickets& operator=(const FrameTickets&) = delete;

    // Writer: queues one number.
    void push(std::int64_t number);
    // Reader: takes the oldest number into `number`; false when none waits.
    bool pop(std::int64_t* number);
    // Numbers queued and not yet taken; either side.
    std::uint64_t size() const;

private:
    static constexpr std::size_t kBlockSize = 4096;
    struct Block
    {
        std::int64_t numbers[kBlockSize];
        std::atomic<Block*> next { nullptr };
    };

    // The writer's side.
    Block* m_tail;
    std::size_t m_tail_used = 0;
    std::atomic<std::uint64_t> m_pushed { 0 };
    // The reader's side, on a cache line of its own.
    alignas(64) Block* m_head;
    std::size_t m_head_used = 0;
    std::atomic<std::uint64_t> m_popped { 0 };
};
