// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

// The last bytes that a program wrote to a pipe, at most a limit of them:
// its standard error, read while its output streams, so that the program
// never waits on a full pipe however much it says.
class PipeTail
{
public:
    explicit PipeTail(std::size_t limit)
        : m_limit(limit)
    { }

    // Reads what the non-blocking fd holds now; false once it has ended
    // (or failed).
    bool drain(int fd);
    // The bytes kept: the last ones, from the start of a line when earlier
    // ones were dropped.
    std::string text() const;

private:
    std::size_t m_limit;
    std::string m_bytes;
    bool m_cut = false;
};

// A stdio stream over the reading end of a pipe whose reads give up, as at
// the end of the stream, once stop_flag is set; they look at it at least
// every tenth of a second. The stream owns fd from here on (fclose closes
// it); on failure (null) fd stays the caller's. stop_flag must outlive the
// stream. While a read waits, what side_fd (non-blocking, when not -1)
// holds goes to *side, which must outlive the stream's reads; side_fd stays
// the caller's and open while the stream is read.
FILE* open_pipe_stream(int fd, const std::atomic<bool>& stop_flag, int side_fd = -1,
                       PipeTail* side = nullptr);

// Called by this thread's pipe stream reads when the pipe has nothing to
// read yet, before they wait for it: the reader can hand on what it holds
// rather than keep it for as long as the pipe is quiet. Empty: none. For
// the calling thread only.
void set_pipe_wait_hook(std::function<void()> hook);
