// SPDX-License-Identifier: GPL-2.0-or-later

#include "fileread.h"

#include <cerrno>

#include <unistd.h>

bool read_exactly(int fd, void* out, std::size_t size, off_t at)
{
    auto* next = static_cast<char*>(out);
    while (size > 0) {
        const ssize_t got = ::pread(fd, next, size, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        next += got;
        size -= static_cast<std::size_t>(got);
        at += got;
    }
    return true;
}
