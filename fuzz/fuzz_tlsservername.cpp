// SPDX-License-Identifier: GPL-2.0-or-later

// The server name of a TLS ClientHello read from any bytes: never past the
// bytes given, and a name found is a host name's worth of printable ASCII
// that lies within them.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "tlsservername.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of its own size, so that a read past the end is seen.
    auto* bytes = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
    if (size > 0)
        std::memcpy(bytes, data, size);
    const std::optional<std::string> name = tls_server_name(bytes, size);
    if (name) {
        if (name->empty() || name->size() > 255 || name->size() > size)
            std::abort();
        for (const char c : *name)
            if (c <= 0x20 || c >= 0x7F)
                std::abort();
        if (std::string(reinterpret_cast<const char*>(bytes), size).find(*name)
            == std::string::npos)
            std::abort();
    }
    std::free(bytes);
    return 0;
}
