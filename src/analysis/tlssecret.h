// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>

#include <openssl/crypto.h>

// Storage for secrets that wipes what it gives back, so that a secret does
// not linger in freed memory (a vector that grows moves its elements).
template <typename T> struct CleansingAllocator
{
    using value_type = T;
    CleansingAllocator() = default;
    template <typename U> CleansingAllocator(const CleansingAllocator<U>&) noexcept { }
    T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T))); }
    void deallocate(T* pointer, std::size_t count) noexcept
    {
        OPENSSL_cleanse(pointer, count * sizeof(T));
        ::operator delete(pointer);
    }
    template <typename U> bool operator==(const CleansingAllocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U> bool operator!=(const CleansingAllocator<U>&) const noexcept
    {
        return false;
    }
};

// One secret of a key log: up to 48 bytes (a TLS 1.2 master secret, a TLS
// 1.3 traffic secret of SHA-384). Wiped when it ends.
struct TlsSecret
{
    std::uint8_t length = 0; // 0: none
    std::array<std::uint8_t, 48> bytes {};

    TlsSecret() = default;
    TlsSecret(const TlsSecret&) = default;
    TlsSecret& operator=(const TlsSecret&) = default;
    ~TlsSecret() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
    bool empty() const { return length == 0; }
};

// The secrets of one connection that a key log gives.
struct TlsSecrets
{
    enum Label {
        MasterSecret, // CLIENT_RANDOM: TLS 1.2
        ClientHandshake,
        ServerHandshake,
        ClientTraffic,
        ServerTraffic,
        kLabels
    };
    std::array<TlsSecret, kLabels> secrets;

    const TlsSecret& operator[](Label label) const { return secrets[label]; }
    TlsSecret& operator[](Label label) { return secrets[label]; }
    bool empty() const
    {
        for (const TlsSecret& secret : secrets)
            if (!secret.empty())
                return false;
        return true;
    }
};
