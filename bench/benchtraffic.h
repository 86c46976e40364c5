// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// The traffic of the live capture benchmarks: raw TCP segments of
// kPayloadSize bytes from 127.0.0.1:47011 to 127.0.0.1:47012, sent on the lo
// of a private network namespace.

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

constexpr int kPayloadSize = 64;

// The namespace's own lo, up; false when this process may not make one.
inline bool private_loopback()
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request {};
    std::strcpy(request.ifr_name, "lo");
    const bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0
            && (request.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &request) == 0);
    if (fd >= 0)
        close(fd);
    return up;
}

inline void put_be16(unsigned char* at, std::uint16_t value)
{
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value & 0xFF);
}

// TCP segments to 127.0.0.1 through a raw socket, with a wrong checksum so
// that the stack drops them after the capture saw them (no replies).
inline bool send_segment(int fd, std::uint32_t sequence)
{
    unsigned char packet[40 + kPayloadSize] = {};
    unsigned char* ip = packet;
    ip[0] = 0x45;
    put_be16(ip + 2, sizeof packet);
    ip[8] = 64;
    ip[9] = IPPROTO_TCP;
    const unsigned char loopback[4] = { 127, 0, 0, 1 };
    std::memcpy(ip + 12, loopback, 4);
    std::memcpy(ip + 16, loopback, 4);
    unsigned char* tcp = packet + 20;
    put_be16(tcp, 47011);
    put_be16(tcp + 2, 47012);
    put_be16(tcp + 4, static_cast<std::uint16_t>(sequence >> 16));
    put_be16(tcp + 6, static_cast<std::uint16_t>(sequence & 0xFFFF));
    tcp[12] = 5 << 4;
    tcp[13] = 0x18;
    put_be16(tcp + 14, 65535);
    put_be16(tcp + 16, 0xBAD0);
    std::memset(tcp + 20, 'T', kPayloadSize);
    sockaddr_in destination {};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&destination),
                  sizeof destination)
            == static_cast<ssize_t>(sizeof packet);
}

// Sends segments to the socket at `rate` a second for `seconds`, each on
// time; returns how many went and how long that took in seconds.
struct Sent
{
    long segments = 0;
    double seconds = 0;
};

inline Sent send_at_rate(int fd, int rate, int seconds)
{
    using Clock = std::chrono::steady_clock;
    Sent sent;
    const Clock::time_point begin = Clock::now();
    const Clock::time_point end = begin + std::chrono::seconds(seconds);
    for (Clock::time_point now = begin; now < end; now = Clock::now()) {
        const Clock::time_point due = begin
                + std::chrono::nanoseconds(static_cast<long long>(sent.segments * 1e9 / rate));
        if (due - now > std::chrono::microseconds(20))
            std::this_thread::sleep_until(due);
        if (send_segment(fd, static_cast<std::uint32_t>(sent.segments)))
            ++sent.segments;
    }
    sent.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    return sent;
}

} // namespace bench
