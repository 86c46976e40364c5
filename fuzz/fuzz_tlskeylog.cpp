// SPDX-License-Identifier: GPL-2.0-or-later

// The key log reader over any text, fed in pieces cut where the input's
// first byte says: the secrets found must be those of the whole text read
// at once, and every secret kept one of the lengths a key log may give.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tlskeylog.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_tlskeylog: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t cut = std::size_t(data[0]) + 1;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = size - 1;
    TlsKeyLog whole;
    whole.add(text, length);
    whole.finish();
    TlsKeyLog pieces;
    for (std::size_t at = 0; at < length; at += cut)
        pieces.add(text + at, length - at < cut ? length - at : cut);
    pieces.finish();
    if (whole.secret_count() != pieces.secret_count()
        || whole.malformed_lines() != pieces.malformed_lines())
        fail("pieces read otherwise than the whole");
    // Every random the text names in hex at a line's second field is
    // looked up through the table as the reader keeps it.
    std::array<std::uint8_t, 32> random {};
    for (std::size_t i = 0; i + 32 <= length && i < 64; ++i) {
        std::memcpy(random.data(), text + i, 32);
        const TlsSecrets found = whole.find(random);
        for (const TlsSecret& secret : found.secrets)
            if (secret.length != 0 && secret.length != 32 && secret.length != 48)
                fail("a secret of a length no key log gives");
    }
    return 0;
}
