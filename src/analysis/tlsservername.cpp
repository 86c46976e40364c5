// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlsservername.h"

#include <cstdint>

namespace {

constexpr unsigned char kHandshakeRecord = 22;
constexpr unsigned char kClientHello = 1;
constexpr std::uint16_t kServerNameExtension = 0;
constexpr unsigned char kHostName = 0;
constexpr std::size_t kRecordHeader = 5;
constexpr std::size_t kMaxName = 255;

// Reads big-endian fields from a bounded run of bytes; a read past the end
// fails and leaves the reader failed.
class Reader
{
public:
    Reader(const unsigned char* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    { }

    bool ok() const { return m_ok; }
    std::size_t left() const { return m_size - m_at; }

    std::uint32_t number(std::size_t bytes)
    {
        if (!take(bytes))
            return 0;
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            value = (value << 8) | m_data[m_at - bytes + i];
        return value;
    }
    bool skip(std::size_t bytes) { return take(bytes); }
    // The next `bytes` bytes as a reader of their own; this one moves past
    // them. Fewer when fewer are left (a record cut short), so that a field
    // that lies in what was given can still be read.
    Reader part(std::size_t bytes)
    {
        const std::size_t size = bytes < left() ? bytes : left();
        Reader inner(m_ok ? m_data + m_at : m_data, m_ok ? size : 0);
        m_at += m_ok ? size : 0;
        return inner;
    }
    const unsigned char* here() const { return m_data + m_at; }

private:
    bool take(std::size_t bytes)
    {
        if (!m_ok || bytes > left()) {
            m_ok = false;
            return false;
        }
        m_at += bytes;
        return true;
    }

    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    bool m_ok = true;
};

bool is_host_name(const unsigned char* name, std::size_t size)
{
    if (size == 0 || size > kMaxName)
        return false;
    for (std::size_t i = 0; i < size; ++i)
        if (name[i] <= 0x20 || name[i] >= 0x7F)
            return false;
    return true;
}

} // namespace

std::optional<std::string> tls_server_name(const unsigned char* data, std::size_t size)
{
    if (data == nullptr || size < kRecordHeader)
        return std::nullopt;
    Reader bytes(data, size);
    // The record: a handshake of TLS 1.0 to 1.3 (all say major version 3).
    if (bytes.number(1) != kHandshakeRecord || bytes.number(1) != 3)
        return std::nullopt;
    bytes.skip(1);
    Reader record = bytes.part(bytes.number(2));
    if (record.number(1) != kClientHello)
        return std::nullopt;
    Reader hello = record.part(record.number(3));
    hello.skip(2 + 32); // version, random
    hello.skip(hello.number(1)); // session id
    hello.skip(hello.number(2)); // cipher suites
    hello.skip(hello.number(1)); // compression methods
    Reader extensions = hello.part(hello.number(2));
    while (extensions.ok() && extensions.left() > 0) {
        const std::uint32_t type = extensions.number(2);
        Reader extension = extensions.part(extensions.number(2));
        if (!extensions.ok())
            break;
        if (type != kServerNameExtension)
            continue;
        Reader list = extension.part(extension.number(2));
        while (list.ok() && list.left() > 0) {
            const std::uint32_t kind = list.number(1);
            const std::size_t length = list.number(2);
            const unsigned char* name = list.here();
            if (!list.skip(length))
                return std::nullopt;
            if (kind == kHostName)
                return is_host_name(name, length) ? std::optional<std::string>(
                               std::string(reinterpret_cast<const char*>(name), length))
                                                  : std::nullopt;
        }
        return std::nullopt;
    }
    return std::nullopt;
}
