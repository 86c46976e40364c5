// SPDX-License-Identifier: GPL-2.0-or-later

#include "memoryrelease.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace memory_release {

namespace {

// How long the release thread waits after the last job handed over.
constexpr std::chrono::milliseconds kSettle { 150 };

class Releaser
{
public:
    Releaser()
        : m_thread([this] { run(); })
    {
        // Never joined: the object lives as long as the process, and a job
        // still running when the process ends has nothing left to give back.
        m_thread.detach();
    }

    void add(std::function<void()> job)
    {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(job));
            ++m_added;
            m_last_added = std::chrono::steady_clock::now();
        }
        m_changed.notify_all();
    }

    void wait_idle()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const unsigned long long target = m_added;
        m_changed.wait(lock, [this, target] { return m_done >= target; });
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return !m_jobs.empty(); });
            // The interface thread first finishes what it is doing (a table
            // emptied is repainted next): releasing alongside would compete
            // with it for the memory bus and the heap's lock.
            while (std::chrono::steady_clock::now() < m_last_added + kSettle)
                m_changed.wait_until(lock, m_last_added + kSettle);
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr; // what it captured goes here too
            lock.lock();
            ++m_done;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    unsigned long long m_added = 0;
    unsigned long long m_done = 0;
    std::chrono::steady_clock::time_point m_last_added;
    std::thread m_thread;
};

Releaser& releaser()
{
    // Never destroyed: its thread may still wait on it while the process
    // ends.
    static auto* instance = new Releaser;
    return *instance;
}

} // namespace

void later(std::function<void()> release)
{
    releaser().add(std::move(release));
}

void wait_idle()
{
    releaser().wait_idle();
}

} // namespace memory_release
