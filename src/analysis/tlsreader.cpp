// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlsreader.h"

TlsReader::TlsReader(const std::uint8_t* data, std::size_t length)
    : TlsReader(data, length, true)
{ }

TlsReader::TlsReader(const std::uint8_t* data, std::size_t length, bool ok)
    : m_data(data)
    , m_end(data + length)
    , m_ok(ok)
{ }

std::uint32_t TlsReader::number(int bytes)
{
    if (left() < std::size_t(bytes)) {
        m_ok = false;
        return 0;
    }
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | *m_data++;
    return value;
}

const std::uint8_t* TlsReader::bytes(std::size_t count)
{
    if (left() < count) {
        m_ok = false;
        return nullptr;
    }
    const std::uint8_t* at = m_data;
    m_data += count;
    return at;
}

TlsReader TlsReader::vector(int bytes)
{
    const std::size_t length = number(bytes);
    const std::uint8_t* at = this->bytes(length);
    return at != nullptr ? TlsReader(at, length) : TlsReader(nullptr, 0, false);
}

TlsReader TlsReader::part(std::size_t count)
{
    const std::size_t size = count < left() ? count : left();
    const std::uint8_t* at = m_data;
    m_data += size;
    return TlsReader(at, size, m_ok);
}
