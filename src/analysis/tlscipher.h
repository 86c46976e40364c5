// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "tlssecret.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

// A cipher suite this program decrypts: the AEAD suites of TLS 1.3 and
// those of TLS 1.2 (ECDHE, DHE and RSA key exchange over AES-GCM and
// ChaCha20-Poly1305).
struct TlsSuite
{
    enum class Aead : std::uint8_t { Aes128Gcm, Aes256Gcm, ChaCha20Poly1305 };
    std::uint16_t id;
    bool tls13;
    Aead aead;
    const char* digest; // of the key schedule: "SHA256" or "SHA384"
    int key_length;
    int iv_length; // the fixed part of the nonce: 4 (TLS 1.2 AES-GCM) or 12
    int hash_length; // of the digest

    // The suite of this number, or null for one not decrypted here.
    static const TlsSuite* find(std::uint16_t id);
};

// The key and IV of one direction of a connection while its keys last (an
// epoch): the bytes a record's AEAD takes.
struct TlsKeys
{
    std::array<std::uint8_t, 32> key {};
    std::array<std::uint8_t, 12> iv {};
    TlsKeys() = default;
    TlsKeys(const TlsKeys&) = default;
    TlsKeys& operator=(const TlsKeys&) = default;
    ~TlsKeys();
};

// The key schedules, through OpenSSL's EVP_KDF: HKDF-Expand-Label for TLS
// 1.3 ("HKDF", expand only), the key block of TLS 1.2 ("TLS1-PRF"). Nothing
// when the secret does not suit the suite or libcrypto fails.
namespace tlskeys {
// A TLS 1.3 traffic secret's key and IV.
std::optional<TlsKeys> from_traffic_secret(const TlsSuite& suite, const TlsSecret& secret);
// The next traffic secret after a KeyUpdate.
std::optional<TlsSecret> next_traffic_secret(const TlsSuite& suite, const TlsSecret& secret);
// The client's and the server's write keys from a TLS 1.2 master secret.
std::optional<std::array<TlsKeys, 2>>
from_master_secret(const TlsSuite& suite, const TlsSecret& master,
                   const std::array<std::uint8_t, 32>& client_random,
                   const std::array<std::uint8_t, 32>& server_random);
} // namespace tlskeys

// Opens the records of one direction under one set of keys: AES-GCM or
// ChaCha20-Poly1305 through EVP_CIPHER, every tag verified. Not for use from
// two threads at once.
class TlsCipher
{
public:
    // Null when libcrypto cannot set the cipher up.
    static std::unique_ptr<TlsCipher> create(const TlsSuite& suite, const TlsKeys& keys);
    ~TlsCipher();
    TlsCipher(const TlsCipher&) = delete;
    TlsCipher& operator=(const TlsCipher&) = delete;

    // The bytes a record's fragment of `length` bytes takes beyond its
    // plaintext (TLS 1.3: the tag; the inner content type is plaintext).
    int overhead() const;
    // Opens the record (its 5-byte header, then `length` bytes of fragment)
    // with sequence number seq into out (room for `length` bytes): returns
    // the plaintext's length (TLS 1.3: inner content type and padding
    // included), or nothing when the tag does not verify or the fragment
    // is too short.
    std::optional<std::size_t> open(std::uint64_t seq, const std::uint8_t* header,
                                    const std::uint8_t* fragment, std::size_t length,
                                    std::uint8_t* out);

private:
    TlsCipher() = default;

    const TlsSuite* m_suite = nullptr;
    std::array<std::uint8_t, 12> m_iv {};
    EVP_CIPHER_CTX* m_context = nullptr;
};
