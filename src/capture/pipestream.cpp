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
};

ssize_t read_stream(void* cookie, char* buffer, size_t size)
{
    const auto* source = static_cast<StreamSource*>(cookie);
    for (;;) {
        if (source->stop_flag->load())
            return 0;
        pollfd pfd {};
        pfd.fd = source->fd;
        pfd.events = POLLIN;
        int ready = poll(&pfd, 1, 0);
        if (ready == 0) {
            if (t_wait_hook)
                t_wait_hook();
            ready = poll(&pfd, 1, kStopPollMs);
        }
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready <= 0)
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

FILE* open_pipe_stream(int fd, const std::atomic<bool>& stop_flag)
{
    auto* source = new StreamSource { fd, &stop_flag };
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
