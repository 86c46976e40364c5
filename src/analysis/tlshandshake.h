// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// What the hellos of a TLS handshake say, read from their handshake
// messages' bodies (after the 4-byte message header). Nothing for a body
// that does not read as one.
struct TlsClientHello
{
    std::array<std::uint8_t, 32> random {};
    std::uint8_t session_id_length = 0;
    std::array<std::uint8_t, 32> session_id {};
    bool offers_tls13 = false; // supported_versions lists 0x0304
    bool offers_psk = false; // pre_shared_key: a TLS 1.3 resumption
    bool offers_early_data = false;
};

struct TlsServerHello
{
    std::array<std::uint8_t, 32> random {};
    std::uint8_t session_id_length = 0;
    std::array<std::uint8_t, 32> session_id {};
    std::uint16_t version = 0; // negotiated: supported_versions, else legacy_version
    std::uint16_t suite = 0;
    bool retry = false; // a HelloRetryRequest, not a ServerHello
    bool accepts_psk = false; // TLS 1.3 resumption
};

namespace tlshandshake {
// Handshake message types.
enum Type : std::uint8_t {
    ClientHello = 1,
    ServerHello = 2,
    NewSessionTicket = 4,
    EndOfEarlyData = 5,
    EncryptedExtensions = 8,
    Finished = 20,
    KeyUpdate = 24,
};
std::optional<TlsClientHello> read_client_hello(const std::uint8_t* body, std::size_t length);
std::optional<TlsServerHello> read_server_hello(const std::uint8_t* body, std::size_t length);
} // namespace tlshandshake
