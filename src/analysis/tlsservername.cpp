// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlsservername.h"

#include <cstdint>

#include "tlsreader.h"

namespace {

constexpr unsigned char kHandshakeRecord = 22;
constexpr unsigned char kClientHello = 1;
constexpr std::uint16_t kServerNameExtension = 0;
constexpr unsigned char kHostName = 0;
constexpr std::size_t kRecordHeader = 5;
constexpr std::size_t kMaxName = 255;

bool is_host_name(const char* name, std::size_t size)
{
    if (size == 0 || size > kMaxName)
        return false;
    for (std::size_t i = 0; i < size; ++i)
        if (static_cast<unsigned char>(name[i]) <= 0x20
            || static_cast<unsigned char>(name[i]) >= 0x7F)
            return false;
    return true;
}

} // namespace

std::optional<std::string> tls_server_name(const unsigned char* data, std::size_t size)
{
    if (data == nullptr || size < kRecordHeader)
        return std::nullopt;
    TlsReader bytes(reinterpret_cast<const std::uint8_t*>(data), size);
    // The record: a handshake of TLS 1.0 to 1.3 (all say major version 3).
    if (bytes.number(1) != kHandshakeRecord || bytes.number(1) != 3)
        return std::nullopt;
    bytes.skip(1);
    TlsReader record = bytes.part(bytes.number(2));
    if (record.number(1) != kClientHello)
        return std::nullopt;
    TlsReader hello = record.part(record.number(3));
    hello.skip(2 + 32); // version, random
    hello.skip(hello.number(1)); // session id
    hello.skip(hello.number(2)); // cipher suites
    hello.skip(hello.number(1)); // compression methods
    TlsReader extensions = hello.part(hello.number(2));
    while (extensions.ok() && extensions.left() > 0) {
        const std::uint32_t type = extensions.number(2);
        TlsReader extension = extensions.part(extensions.number(2));
        if (!extensions.ok())
            break;
        if (type != kServerNameExtension)
            continue;
        TlsReader list = extension.part(extension.number(2));
        while (list.ok() && list.left() > 0) {
            const std::uint32_t kind = list.number(1);
            const std::size_t length = list.number(2);
            const auto* name = reinterpret_cast<const char*>(list.here());
            if (!list.skip(length))
                return std::nullopt;
            if (kind == kHostName)
                return is_host_name(name, length)
                        ? std::optional<std::string>(std::string(name, length))
                        : std::nullopt;
        }
        return std::nullopt;
    }
    return std::nullopt;
}
