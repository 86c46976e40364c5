// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstdio>
#include <functional>

// A stdio stream over the reading end of a pipe whose reads give up, as at
// the end of the stream, once stop_flag is set; they look at it at least
// every tenth of a second. The stream owns fd from here on (fclose closes
// it); on failure (null) fd stays the caller's. stop_flag must outlive the
// stream.
FILE* open_pipe_stream(int fd, const std::atomic<bool>& stop_flag);

// Called by this thread's pipe stream reads when the pipe has nothing to
// read yet, before they wait for it: the reader can hand on what it holds
// rather than keep it for as long as the pipe is quiet. Empty: none. For
// the calling thread only.
void set_pipe_wait_hook(std::function<void()> hook);
