// SPDX-License-Identifier: GPL-2.0-or-later

#include "pipestream.h"

#include <cerrno>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace {

// How long a read waits between looks at the stop flag.
constexpr int kStopPollMs = 100;

thread_local std::function<void()> t_wait_hook;

struct StreamSource
{
    int fd;
    const std::atomic<bool>* stop_flag;
    int side_fd; // -1: none, or ended
    PipeTail* side;
};

ssize_t read_stream(void* cookie, char* buffer, size_t size)
{
    auto* source = static_cast<StreamSource*>(cookie);
    for (;;) {
        if (source->stop_flag->load())
            return 0;
        pollfd fds[2] {};
        fds[0].fd = source->fd;
        fds[0].events = POLLIN;
        fds[1].fd = source->side_fd;
        fds[1].events = POLLIN;
        const nfds_t count = source->side_fd >= 0 ? 2 : 1;
        int ready = poll(fds, count, 0);
        if (ready == 0) {
            if (t_wait_hook)
                t_wait_hook();
            ready = poll(fds, count, kStopPollMs);
        }
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready <= 0)
            continue;
        if (source->side_fd >= 0 && fds[1].revents != 0 && !source->side->drain(source->side_fd))
            source->side_fd = -1;
        if (fds[0].revents == 0)
            continue;
        const ssize_t got = read(source->fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

int close_stream(void* cookie)
{
    auto* source = static_cast<StreamSource*>(cookie);
    const int result = close(source->fd);
    delete source;
    return result;
}

} // namespace

bool PipeTail::drain(int fd)
{
    char buffer[1 << 16];
    // A program that never stops talking still lets the stream be read.
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got == 0)
            return false;
        if (got < 0)
            return errno == EINTR || errno == EAGAIN;
        m_bytes.append(buffer, std::size_t(got));
        // Cut back now and then rather than on every read.
        if (m_bytes.size() > 2 * m_limit) {
            m_bytes.erase(0, m_bytes.size() - m_limit);
            m_cut = true;
        }
    }
    return true;
}

std::string PipeTail::text() const
{
    std::size_t from = m_bytes.size() > m_limit ? m_bytes.size() - m_limit : 0;
    if (m_cut || from > 0) {
        const std::size_t line = m_bytes.find('\n', from);
        if (line != std::string::npos)
            from = line + 1;
    }
    return m_bytes.substr(from);
}

FILE* open_pipe_stream(int fd, const std::atomic<bool>& stop_flag, int side_fd, PipeTail* side)
{
    auto* source = new StreamSource { fd, &stop_flag, side != nullptr ? side_fd : -1, side };
    const cookie_io_functions_t functions { read_stream, nullptr, nullptr, close_stream };
    FILE* stream = fopencookie(source, "r", functions);
    if (stream == nullptr)
        delete source;
    return stream;
}

void set_pipe_wait_hook(std::function<void()> hook)
{
    t_wait_hook = std::move(hook);
}
