// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstdio>

// A stdio stream over the reading end of a pipe whose reads give up, as at
// the end of the stream, once stop_flag is set; they look at it at least
// every tenth of a second. The stream owns fd from here on (fclose closes
// it); on failure (null) fd stays the caller's. stop_flag must outlive the
// stream.
FILE* open_pipe_stream(int fd, const std::atomic<bool>& stop_flag);
