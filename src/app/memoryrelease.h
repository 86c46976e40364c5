// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

// Memory that the interface thread gives up in bulk, a million rows' worth at
// a time, is released on a thread of its own so that emptying the table does
// not wait for it: buffers are freed or unmapped there, and the heap's free
// pages can be given back there (malloc_trim).
namespace memory_release {

// Runs `release` on the release thread, after the jobs handed over before
// it, once a short while has passed without a new job. `release` must touch
// nothing but what it owns.
void later(std::function<void()> release);

// Returns once every job handed over so far has run.
void wait_idle();

} // namespace memory_release
