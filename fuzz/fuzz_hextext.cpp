// SPDX-License-Identifier: GPL-2.0-or-later

// The hex text codec. The input is used twice: as bytes, which must survive
// bytes_to_hex and hex_to_bytes unchanged, and as a text of any characters,
// which hex_to_bytes must turn into exactly text.size() / 2 bytes, each pair
// read as strtol reads it in base 16, touching nothing after them.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "packetrecord.h"

namespace {

constexpr std::size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0xA5;

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_hextext: %s\n", what);
    std::abort();
}

bool is_upper_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// Decodes text into an area of text.size() / 2 bytes, pre-filled with fill,
// followed by guard bytes that must stay untouched.
std::vector<unsigned char> decode(const std::string& text, unsigned char fill)
{
    const std::size_t n = text.size() / 2;
    std::vector<unsigned char> area(n + kGuard, kGuardByte);
    std::memset(area.data(), fill, n);
    hex_to_bytes(text, area.data());
    for (std::size_t i = n; i < area.size(); ++i) {
        if (area[i] != kGuardByte)
            fail("hex_to_bytes wrote past text.size() / 2 bytes");
    }
    area.resize(n);
    return area;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Bytes to text and back.
    const std::string hex = bytes_to_hex(data, static_cast<int>(size));
    if (hex.size() != 2 * size)
        fail("bytes_to_hex must give two characters per byte");
    for (const char c : hex) {
        if (!is_upper_hex(c))
            fail("bytes_to_hex gave a character that is no upper-case hex digit");
    }
    const std::vector<unsigned char> back = decode(hex, 0x00);
    if (size > 0 && std::memcmp(back.data(), data, size) != 0)
        fail("hex_to_bytes(bytes_to_hex(bytes)) differs from the bytes");

    // Any text. Two fills tell a byte written from a byte left as it was.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<unsigned char> zeros = decode(text, 0x00);
    const std::vector<unsigned char> ones = decode(text, 0xFF);
    if (zeros != ones)
        fail("hex_to_bytes left a byte of its text.size() / 2 unwritten");
    for (std::size_t i = 0; i < zeros.size(); ++i) {
        const char pair[3] = { text[2 * i], text[2 * i + 1], '\0' };
        const auto expected = static_cast<unsigned char>(std::strtol(pair, nullptr, 16));
        if (zeros[i] != expected)
            fail("a pair decodes other than strtol reads it in base 16");
    }
    return 0;
}
