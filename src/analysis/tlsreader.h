// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstddef>
#include <cstdint>

// Reads the big-endian fields of TLS messages off a bounded run of bytes. A
// read past the end fails and leaves the reader failed: it then reads
// nothing more, and has nothing left.
class TlsReader
{
public:
    TlsReader(const std::uint8_t* data, std::size_t length);

    bool ok() const { return m_ok; }
    std::size_t left() const { return m_ok ? std::size_t(m_end - m_data) : 0; }
    // Where the next byte is.
    const std::uint8_t* here() const { return m_data; }

    // An unsigned number of `bytes` bytes (1 to 4); 0 when fewer are left.
    std::uint32_t number(int bytes);
    // The next `count` bytes, or null when fewer are left.
    const std::uint8_t* bytes(std::size_t count);
    bool skip(std::size_t count) { return bytes(count) != nullptr; }
    // A field with a length of `bytes` bytes before it, as a reader of its
    // own; a failed one when the field runs past the end.
    TlsReader vector(int bytes);
    // The next `count` bytes as a reader of their own, this one moving past
    // them; fewer when fewer are left (a record cut short), so that a field
    // that lies in what was given can still be read.
    TlsReader part(std::size_t count);

private:
    TlsReader(const std::uint8_t* data, std::size_t length, bool ok);

    const std::uint8_t* m_data;
    const std::uint8_t* m_end;
    bool m_ok = true;
};
