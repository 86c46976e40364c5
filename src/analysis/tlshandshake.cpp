// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlshandshake.h"

#include <cstring>

#include "tlsreader.h"

namespace {

// The random of a HelloRetryRequest: SHA-256 of "HelloRetryRequest".
constexpr std::uint8_t kRetryRandom[32] = {
    0xCF, 0x21, 0xAD, 0x74, 0xE5, 0x9A, 0x61, 0x11, 0xBE, 0x1D, 0x8C, 0x02, 0x1E, 0x65, 0xB8, 0x91,
    0xC2, 0xA2, 0x11, 0x16, 0x7A, 0xBB, 0x8C, 0x5E, 0x07, 0x9E, 0x09, 0xE2, 0xC8, 0xA8, 0x33, 0x9C,
};

constexpr std::uint16_t kPreSharedKey = 41;
constexpr std::uint16_t kEarlyData = 42;
constexpr std::uint16_t kSupportedVersions = 43;
constexpr std::uint16_t kTls13 = 0x0304;

// random, then session id: the start both hellos share.
bool read_start(TlsReader& reader, std::array<std::uint8_t, 32>& random, std::uint8_t& id_length,
                std::array<std::uint8_t, 32>& id)
{
    reader.number(2); // legacy_version
    const std::uint8_t* at = reader.bytes(32);
    TlsReader session = reader.vector(1);
    if (at == nullptr || !session.ok() || session.left() > 32)
        return false;
    std::memcpy(random.data(), at, 32);
    id_length = static_cast<std::uint8_t>(session.left());
    std::memcpy(id.data(), session.bytes(id_length), id_length);
    return true;
}

// Calls take(type, body) for each extension; false when they do not parse.
template <typename Take> bool read_extensions(TlsReader& reader, Take take)
{
    if (reader.left() == 0)
        return true; // none
    TlsReader extensions = reader.vector(2);
    while (extensions.ok() && extensions.left() > 0) {
        const std::uint16_t type = static_cast<std::uint16_t>(extensions.number(2));
        TlsReader body = extensions.vector(2);
        if (!body.ok())
            return false;
        take(type, body);
    }
    return extensions.ok();
}

} // namespace

std::optional<TlsClientHello> tlshandshake::read_client_hello(const std::uint8_t* body,
                                                              std::size_t length)
{
    TlsClientHello hello;
    TlsReader reader(body, length);
    if (!read_start(reader, hello.random, hello.session_id_length, hello.session_id))
        return std::nullopt;
    reader.vector(2); // cipher_suites
    reader.vector(1); // compression methods
    const bool read = read_extensions(reader, [&](std::uint16_t type, TlsReader& extension) {
        if (type == kSupportedVersions) {
            TlsReader versions = extension.vector(1);
            while (versions.left() >= 2)
                hello.offers_tls13 |= versions.number(2) == kTls13;
        } else if (type == kPreSharedKey) {
            hello.offers_psk = true;
        } else if (type == kEarlyData) {
            hello.offers_early_data = true;
        }
    });
    if (!read || !reader.ok())
        return std::nullopt;
    return hello;
}

std::optional<TlsServerHello> tlshandshake::read_server_hello(const std::uint8_t* body,
                                                              std::size_t length)
{
    TlsServerHello hello;
    TlsReader reader(body, length);
    if (length >= 2)
        hello.version = static_cast<std::uint16_t>(body[0] << 8 | body[1]);
    if (!read_start(reader, hello.random, hello.session_id_length, hello.session_id))
        return std::nullopt;
    hello.suite = static_cast<std::uint16_t>(reader.number(2));
    reader.number(1); // compression method
    hello.retry = std::memcmp(hello.random.data(), kRetryRandom, 32) == 0;
    const bool read = read_extensions(reader, [&](std::uint16_t type, TlsReader& extension) {
        if (type == kSupportedVersions && extension.left() >= 2)
            hello.version = static_cast<std::uint16_t>(extension.number(2));
        else if (type == kPreSharedKey)
            hello.accepts_psk = true;
    });
    if (!read || !reader.ok())
        return std::nullopt;
    return hello;
}
