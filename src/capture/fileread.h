// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstddef>

#include <sys/types.h>

// Reads exactly size bytes of the file from offset at into out, however many
// reads that takes (an interrupted read is repeated). False on an error or
// when the file ends first; out then holds what was read so far.
[[nodiscard]] bool read_exactly(int fd, void* out, std::size_t size, off_t at);
