// SPDX-License-Identifier: GPL-2.0-or-later

// The reading of TLS hellos. The input's first byte chooses the hello
// (even: a ClientHello, odd: a ServerHello), the rest is its body. What
// reads must say no more than the body holds: a session id of at most 32
// bytes found in it, and the random its first bytes after the version.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tlshandshake.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_tlshandshake: %s\n", what);
    std::abort();
}

template <typename Hello> void check(const Hello& hello, const std::uint8_t* body, std::size_t size)
{
    if (size < 35 || std::memcmp(hello.random.data(), body + 2, 32) != 0)
        fail("random not the body's");
    if (hello.session_id_length > 32 || body[34] != hello.session_id_length
        || std::size_t(35) + hello.session_id_length > size
        || std::memcmp(hello.session_id.data(), body + 35, hello.session_id_length) != 0)
        fail("session id not the body's");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t* body = data + 1;
    const std::size_t length = size - 1;
    if (data[0] % 2 == 0) {
        if (const auto hello = tlshandshake::read_client_hello(body, length))
            check(*hello, body, length);
    } else if (const auto hello = tlshandshake::read_server_hello(body, length)) {
        check(*hello, body, length);
    }
    return 0;
}
