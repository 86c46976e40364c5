// SPDX-License-Identifier: GPL-2.0-or-later

#include "frametickets.h"

#include <utility>

FrameTickets::FrameTickets()
    : m_tail(new Block)
    , m_head(m_tail)
{ }

FrameTickets::~FrameTickets()
{
    while (m_head != nullptr)
        delete std::exchange(m_head, m_head->next.load(std::memory_order_relaxed));
}

void FrameTickets::push(std::int64_t number)
{
    if (m_tail_used == kBlockSize) {
        auto* block = new Block;
        m_tail->next.store(block, std::memory_order_release);
        m_tail = block;
        m_tail_used = 0;
    }
    m_tail->numbers[m_tail_used++] = number;
    // Only this side writes the count: no read-modify-write needed.
    m_pushed.store(m_pushed.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

bool FrameTickets::pop(std::int64_t* number)
{
    const std::uint64_t popped = m_popped.load(std::memory_order_relaxed);
    if (popped == m_pushed.load(std::memory_order_acquire))
        return false;
    if (m_head_used == kBlockSize) {
        // The writer has moved on to the next block: this one is the
        // reader's alone.
        delete std::exchange(m_head, m_head->next.load(std::memory_order_acquire));
        m_head_used = 0;
    }
    *number = m_head->numbers[m_head_used++];
    m_popped.store(popped + 1, std::memory_order_release);
    return true;
}

std::uint64_t FrameTickets::size() const
{
    const std::uint64_t popped = m_popped.load(std::memory_order_acquire);
    return m_pushed.load(std::memory_order_acquire) - popped;
}
