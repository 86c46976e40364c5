#include "memoryrelease.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace memory_release {

namespace {

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
