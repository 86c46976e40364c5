// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The server name that a TLS ClientHello asks for (the host_name of its
// server_name extension), when `data` begins with a handshake record that
// holds one: the first bytes a client sends on a TLS connection. Only the
// bytes given are read, and only the first record: a ClientHello whose
// extension lies beyond them (cut by the snapshot length, or in a later
// segment) gives nothing, as does anything that is not a ClientHello, or a
// name that is empty, longer than 255 bytes or holds other bytes than
// printable ASCII (a host name is letters, digits, '-' and '.').
std::optional<std::string> tls_server_name(const unsigned char* data, std::size_t size);
