// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlscipher.h"

#include <cstring>
#include <iterator>
#include <vector>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

namespace {

using Aead = TlsSuite::Aead;

constexpr TlsSuite kSuites[] = {
    { 0x1301, true, Aead::Aes128Gcm, "SHA256", 16, 12, 32 },
    { 0x1302, true, Aead::Aes256Gcm, "SHA384", 32, 12, 48 },
    { 0x1303, true, Aead::ChaCha20Poly1305, "SHA256", 32, 12, 32 },
    { 0x009C, false, Aead::Aes128Gcm, "SHA256", 16, 4, 32 }, // RSA
    { 0x009D, false, Aead::Aes256Gcm, "SHA384", 32, 4, 48 },
    { 0x009E, false, Aead::Aes128Gcm, "SHA256", 16, 4, 32 }, // DHE_RSA
    { 0x009F, false, Aead::Aes256Gcm, "SHA384", 32, 4, 48 },
    { 0xC02B, false, Aead::Aes128Gcm, "SHA256", 16, 4, 32 }, // ECDHE_ECDSA
    { 0xC02C, false, Aead::Aes256Gcm, "SHA384", 32, 4, 48 },
    { 0xC02F, false, Aead::Aes128Gcm, "SHA256", 16, 4, 32 }, // ECDHE_RSA
    { 0xC030, false, Aead::Aes256Gcm, "SHA384", 32, 4, 48 },
    { 0xCCA8, false, Aead::ChaCha20Poly1305, "SHA256", 32, 12, 32 }, // ECDHE_RSA
    { 0xCCA9, false, Aead::ChaCha20Poly1305, "SHA256", 32, 12, 32 }, // ECDHE_ECDSA
    { 0xCCAA, false, Aead::ChaCha20Poly1305, "SHA256", 32, 12, 32 }, // DHE_RSA
};

constexpr int kTag = 16;
constexpr int kExplicitNonce = 8; // TLS 1.2 AES-GCM

// Derives `length` bytes with the named EVP_KDF and its parameters.
bool derive(const char* kdf_name, OSSL_PARAM* params, std::uint8_t* out, std::size_t length)
{
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, kdf_name, nullptr);
    EVP_KDF_CTX* context = kdf != nullptr ? EVP_KDF_CTX_new(kdf) : nullptr;
    const bool done = context != nullptr && EVP_KDF_derive(context, out, length, params) > 0;
    EVP_KDF_CTX_free(context);
    EVP_KDF_free(kdf);
    return done;
}

// HKDF-Expand-Label(secret, label, "", length) of TLS 1.3.
bool expand_label(const TlsSuite& suite, const TlsSecret& secret, const char* label,
                  std::uint8_t* out, std::size_t length)
{
    // struct { uint16 length; opaque label<7..255>; opaque context<0..255>; }
    const std::size_t label_length = std::strlen(label);
    std::vector<std::uint8_t> info;
    info.push_back(static_cast<std::uint8_t>(length >> 8));
    info.push_back(static_cast<std::uint8_t>(length));
    info.push_back(static_cast<std::uint8_t>(6 + label_length));
    for (const char c : { 't', 'l', 's', '1', '3', ' ' })
        info.push_back(static_cast<std::uint8_t>(c));
    info.insert(info.end(), label, label + label_length);
    info.push_back(0);
    int mode = EVP_KDF_HKDF_MODE_EXPAND_ONLY;
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(suite.digest), 0),
        OSSL_PARAM_construct_octet_string(
                OSSL_KDF_PARAM_KEY, const_cast<std::uint8_t*>(secret.bytes.data()), secret.length),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
        OSSL_PARAM_construct_end(),
    };
    return derive("HKDF", params, out, length);
}

const EVP_CIPHER* cipher_of(Aead aead)
{
    switch (aead) {
    case Aead::Aes128Gcm:
        return EVP_aes_128_gcm();
    case Aead::Aes256Gcm:
        return EVP_aes_256_gcm();
    case Aead::ChaCha20Poly1305:
        return EVP_chacha20_poly1305();
    }
    return nullptr;
}

} // namespace

const TlsSuite* TlsSuite::find(std::uint16_t id)
{
    for (const TlsSuite& suite : kSuites)
        if (suite.id == id)
            return &suite;
    return nullptr;
}

TlsKeys::~TlsKeys()
{
    OPENSSL_cleanse(key.data(), key.size());
    OPENSSL_cleanse(iv.data(), iv.size());
}

std::optional<TlsKeys> tlskeys::from_traffic_secret(const TlsSuite& suite, const TlsSecret& secret)
{
    if (!suite.tls13 || secret.length != suite.hash_length)
        return std::nullopt;
    TlsKeys keys;
    if (!expand_label(suite, secret, "key", keys.key.data(), std::size_t(suite.key_length))
        || !expand_label(suite, secret, "iv", keys.iv.data(), std::size_t(suite.iv_length)))
        return std::nullopt;
    return keys;
}

std::optional<TlsSecret> tlskeys::next_traffic_secret(const TlsSuite& suite,
                                                      const TlsSecret& secret)
{
    if (!suite.tls13 || secret.length != suite.hash_length)
        return std::nullopt;
    TlsSecret next;
    next.length = secret.length;
    if (!expand_label(suite, secret, "traffic upd", next.bytes.data(), next.length))
        return std::nullopt;
    return next;
}

std::optional<std::array<TlsKeys, 2>>
tlskeys::from_master_secret(const TlsSuite& suite, const TlsSecret& master,
                            const std::array<std::uint8_t, 32>& client_random,
                            const std::array<std::uint8_t, 32>& server_random)
{
    if (suite.tls13 || master.length != 48)
        return std::nullopt;
    // seed = "key expansion" + server_random + client_random; the block is
    // client and server MAC keys (none for AEAD), write keys, then IVs.
    static const char kLabel[] = "key expansion";
    std::uint8_t seed[sizeof kLabel - 1 + 64];
    std::memcpy(seed, kLabel, sizeof kLabel - 1);
    std::memcpy(seed + sizeof kLabel - 1, server_random.data(), 32);
    std::memcpy(seed + sizeof kLabel - 1 + 32, client_random.data(), 32);
    const std::size_t key = std::size_t(suite.key_length);
    const std::size_t iv = std::size_t(suite.iv_length);
    std::array<std::uint8_t, 2 * (32 + 12)> block {};
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(suite.digest), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET,
                                          const_cast<std::uint8_t*>(master.bytes.data()),
                                          master.length),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, seed, sizeof seed),
        OSSL_PARAM_construct_end(),
    };
    if (!derive("TLS1-PRF", params, block.data(), 2 * (key + iv))) {
        OPENSSL_cleanse(block.data(), block.size());
        return std::nullopt;
    }
    std::array<TlsKeys, 2> keys;
    for (std::size_t side = 0; side < 2; ++side) {
        std::memcpy(keys[side].key.data(), block.data() + side * key, key);
        std::memcpy(keys[side].iv.data(), block.data() + 2 * key + side * iv, iv);
    }
    OPENSSL_cleanse(block.data(), block.size());
    return keys;
}

std::unique_ptr<TlsCipher> TlsCipher::create(const TlsSuite& suite, const TlsKeys& keys)
{
    std::unique_ptr<TlsCipher> cipher(new TlsCipher);
    cipher->m_suite = &suite;
    cipher->m_iv = keys.iv;
    cipher->m_context = EVP_CIPHER_CTX_new();
    if (cipher->m_context == nullptr
        || EVP_DecryptInit_ex(cipher->m_context, cipher_of(suite.aead), nullptr, keys.key.data(),
                              nullptr)
                <= 0)
        return nullptr;
    return cipher;
}

TlsCipher::~TlsCipher()
{
    EVP_CIPHER_CTX_free(m_context); // wipes the key schedule
    OPENSSL_cleanse(m_iv.data(), m_iv.size());
}

int TlsCipher::overhead() const
{
    return m_suite->tls13 || m_suite->aead == Aead::ChaCha20Poly1305 ? kTag : kTag + kExplicitNonce;
}

std::optional<std::size_t> TlsCipher::open(std::uint64_t seq, const std::uint8_t* header,
                                           const std::uint8_t* fragment, std::size_t length,
                                           std::uint8_t* out)
{
    if (length < std::size_t(overhead()) || length > INT32_MAX)
        return std::nullopt;
    std::uint8_t nonce[12];
    const std::uint8_t* text = fragment;
    std::size_t text_length = length - kTag;
    std::uint8_t aad[13];
    std::size_t aad_length = 0;
    if (!m_suite->tls13 && m_suite->aead != Aead::ChaCha20Poly1305) {
        // The fixed IV, then the record's explicit nonce.
        std::memcpy(nonce, m_iv.data(), 4);
        std::memcpy(nonce + 4, fragment, kExplicitNonce);
        text += kExplicitNonce;
        text_length -= kExplicitNonce;
    } else {
        // The IV with the sequence number in its last eight bytes.
        std::memcpy(nonce, m_iv.data(), sizeof nonce);
        for (int i = 0; i < 8; ++i)
            nonce[4 + i] ^= static_cast<std::uint8_t>(seq >> (56 - 8 * i));
    }
    if (m_suite->tls13) {
        std::memcpy(aad, header, 5);
        aad_length = 5;
    } else {
        // seq_num + type + version + the plaintext's length
        for (int i = 0; i < 8; ++i)
            aad[i] = static_cast<std::uint8_t>(seq >> (56 - 8 * i));
        aad[8] = header[0];
        aad[9] = header[1];
        aad[10] = header[2];
        aad[11] = static_cast<std::uint8_t>(text_length >> 8);
        aad[12] = static_cast<std::uint8_t>(text_length);
        aad_length = 13;
    }
    int done = 0;
    int last = 0;
    std::uint8_t tag[kTag];
    std::memcpy(tag, fragment + length - kTag, kTag);
    if (EVP_DecryptInit_ex(m_context, nullptr, nullptr, nullptr, nonce) <= 0
        || EVP_DecryptUpdate(m_context, nullptr, &done, aad, static_cast<int>(aad_length)) <= 0
        || EVP_DecryptUpdate(m_context, out, &done, text, static_cast<int>(text_length)) <= 0
        || EVP_CIPHER_CTX_ctrl(m_context, EVP_CTRL_AEAD_SET_TAG, kTag, tag) <= 0
        || EVP_DecryptFinal_ex(m_context, out + done, &last) <= 0) {
        OPENSSL_cleanse(out, text_length);
        return std::nullopt;
    }
    return std::size_t(done + last);
}
