// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// Builds captured frames byte by byte, writes them to capture files and makes
// TCP traffic on 127.0.0.1, for the tests of the capture road.

#include <cstdint>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QVector>

namespace testframes {

// One IPv4 packet carrying TCP (or another protocol). Lengths and checksums
// the builder fills in unless a field says otherwise.
struct Ipv4Packet
{
    std::uint8_t src[4] = { 192, 168, 0, 1 };
    std::uint8_t dst[4] = { 10, 0, 0, 5 };
    std::uint16_t src_port = 80;
    std::uint16_t dst_port = 51000;
    std::uint8_t protocol = 6;
    QByteArray ip_options; // length a multiple of 4
    QByteArray tcp_options; // length a multiple of 4
    QByteArray payload;
    std::uint16_t fragment = 0; // flags and fragment offset, as on the wire
    int total_length = -1; // -1: the real one
    int version = 4;
    std::uint32_t seq = 0;
    std::uint32_t ack = 0;
    std::uint8_t tcp_flags = 0x18; // PSH, ACK
    std::uint16_t window = 65535;
};

inline void put16(QByteArray& bytes, int at, std::uint16_t value)
{
    bytes[at] = static_cast<char>(value >> 8);
    bytes[at + 1] = static_cast<char>(value & 0xFF);
}

// The transport header of a packet builder: TCP with its options when
// protocol is 6, else a UDP or ICMP header's worth with the ports.
template <typename Packet> QByteArray transport_header(const Packet& p)
{
    if (p.protocol != 6) {
        QByteArray transport(8, '\0');
        put16(transport, 0, p.src_port);
        put16(transport, 2, p.dst_port);
        return transport;
    }
    const int tcp_header = 20 + p.tcp_options.size();
    QByteArray transport(tcp_header, '\0');
    put16(transport, 0, p.src_port);
    put16(transport, 2, p.dst_port);
    for (int i = 0; i < 4; ++i) {
        transport[4 + i] = static_cast<char>(p.seq >> (24 - 8 * i));
        transport[8 + i] = static_cast<char>(p.ack >> (24 - 8 * i));
    }
    transport[12] = static_cast<char>((tcp_header / 4) << 4);
    transport[13] = static_cast<char>(p.tcp_flags);
    put16(transport, 14, p.window);
    std::memcpy(transport.data() + 20, p.tcp_options.constData(), p.tcp_options.size());
    return transport;
}

inline QByteArray ipv4(const Ipv4Packet& p)
{
    const int ip_header = 20 + p.ip_options.size();
    QByteArray ip(ip_header, '\0');
    ip[0] = static_cast<char>((p.version << 4) | (ip_header / 4));
    ip[8] = 64; // TTL
    ip[9] = static_cast<char>(p.protocol);
    put16(ip, 6, p.fragment);
    std::memcpy(ip.data() + 12, p.src, 4);
    std::memcpy(ip.data() + 16, p.dst, 4);
    std::memcpy(ip.data() + 20, p.ip_options.constData(), p.ip_options.size());

    const QByteArray transport = transport_header(p);
    QByteArray packet = ip + transport + p.payload;
    put16(packet, 2,
          static_cast<std::uint16_t>(p.total_length >= 0 ? p.total_length : packet.size()));
    return packet;
}

// One IPv6 packet: the extension headers in order, then TCP (or whatever
// protocol says). The builder fills in every next-header field and the
// payload length unless payload_length says otherwise.
struct Ipv6Extension
{
    std::uint8_t type; // 0 hop-by-hop, 43 routing, 44 fragment, 51 AH, 60 destination
    QByteArray bytes; // the whole header; byte 0 is filled in
};

struct Ipv6Packet
{
    // 2001:db8::1 to 2001:db8::2
    std::uint8_t src[16] = { 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 };
    std::uint8_t dst[16] = { 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2 };
    std::uint16_t src_port = 80;
    std::uint16_t dst_port = 51000;
    QVector<Ipv6Extension> extensions;
    std::uint8_t protocol = 6; // after the extension headers
    QByteArray tcp_options; // length a multiple of 4
    QByteArray payload;
    int payload_length = -1; // -1: the real one
    std::uint32_t seq = 0;
    std::uint32_t ack = 0;
    std::uint8_t tcp_flags = 0x18; // PSH, ACK
    std::uint16_t window = 65535;
};

// Hop-by-hop, routing or destination options of 8 * units bytes: the length
// field counts 8-byte units after the first.
inline Ipv6Extension ipv6_options(std::uint8_t type, int units = 1)
{
    QByteArray bytes(8 * units, '\0');
    bytes[1] = static_cast<char>(units - 1);
    if (type != 43) { // a PadN option fills the rest
        bytes[2] = 1;
        bytes[3] = static_cast<char>(8 * units - 4);
    }
    return { type, bytes };
}

// An authentication header with an ICV of icv_bytes (a multiple of 4): its
// length field counts 4-byte units after the first two.
inline Ipv6Extension ipv6_authentication(int icv_bytes = 12)
{
    QByteArray bytes(12 + icv_bytes, '\0');
    bytes[1] = static_cast<char>((12 + icv_bytes) / 4 - 2);
    return { 51, bytes };
}

// A fragment header; offset in 8-byte units.
inline Ipv6Extension ipv6_fragment(std::uint16_t offset, bool more = true)
{
    QByteArray bytes(8, '\0');
    put16(bytes, 2, static_cast<std::uint16_t>((offset << 3) | (more ? 1 : 0)));
    bytes[7] = 0x2a; // identification
    return { 44, bytes };
}

inline QByteArray ipv6(const Ipv6Packet& p)
{
    QByteArray ip(8, '\0');
    ip[0] = 0x60;
    ip[7] = 64; // hop limit
    ip.append(reinterpret_cast<const char*>(p.src), 16);
    ip.append(reinterpret_cast<const char*>(p.dst), 16);

    // Each next-header field names what follows it: the first stands in the
    // fixed header, the others at the start of each extension header.
    ip[6] = static_cast<char>(p.extensions.isEmpty() ? p.protocol : p.extensions.first().type);
    QByteArray chain;
    for (int i = 0; i < p.extensions.size(); ++i) {
        const bool last = i + 1 == p.extensions.size();
        const int at = chain.size();
        chain += p.extensions.at(i).bytes;
        chain[at] = static_cast<char>(last ? p.protocol : p.extensions.at(i + 1).type);
    }

    const QByteArray transport = transport_header(p);
    const QByteArray rest = chain + transport + p.payload;
    put16(ip, 4,
          static_cast<std::uint16_t>(p.payload_length >= 0 ? p.payload_length : rest.size()));
    return ip + rest;
}

inline QByteArray ethernet(const QByteArray& network, std::uint16_t ether_type = 0x0800,
                           const QVector<std::uint16_t>& vlan_types = {}, int min_size = 0)
{
    QByteArray frame(12, '\0');
    const char dst_mac[6] = { 0x02, 0, 0, 0, 0, 0x02 };
    const char src_mac[6] = { 0x02, 0, 0, 0, 0, 0x01 };
    std::memcpy(frame.data(), dst_mac, 6);
    std::memcpy(frame.data() + 6, src_mac, 6);
    for (const std::uint16_t tag_type : vlan_types) {
        QByteArray tag(4, '\0');
        put16(tag, 0, tag_type);
        put16(tag, 2, 100); // VLAN id
        frame += tag;
    }
    QByteArray type(2, '\0');
    put16(type, 0, ether_type);
    frame += type + network;
    if (frame.size() < min_size)
        frame += QByteArray(min_size - frame.size(), '\0');
    return frame;
}

// Linux cooked capture v1: 16 bytes, the protocol last.
inline QByteArray cooked_v1(const QByteArray& network, std::uint16_t protocol = 0x0800)
{
    QByteArray header(16, '\0');
    put16(header, 2, 1); // ARPHRD_ETHER
    put16(header, 4, 6);
    put16(header, 14, protocol);
    return header + network;
}

// Linux cooked capture v2: 20 bytes, the protocol first.
inline QByteArray cooked_v2(const QByteArray& network, std::uint16_t protocol = 0x0800)
{
    QByteArray header(20, '\0');
    put16(header, 0, protocol);
    header[4] = 0;
    header[7] = 1; // interface index
    put16(header, 8, 1);
    header[11] = 6;
    return header + network;
}

// A pcap packet header for a frame of the given size, all of it captured
// unless caplen says less.
inline pcap_pkthdr header_for(const QByteArray& frame, std::time_t seconds = 0, int caplen = -1)
{
    pcap_pkthdr header {};
    header.ts.tv_sec = seconds;
    header.len = static_cast<bpf_u_int32>(frame.size());
    header.caplen = static_cast<bpf_u_int32>(caplen >= 0 ? caplen : frame.size());
    return header;
}

// Writes the frames to a capture file of the given link type, one second
// apart from first_second on. Returns false when the file cannot be written.
inline bool write_capture(const QString& path, int link_type, const QVector<QByteArray>& frames,
                          std::time_t first_second = 0)
{
    pcap_t* dead = pcap_open_dead(link_type, 65536);
    if (dead == nullptr)
        return false;
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.toLocal8Bit().constData());
    if (dumper == nullptr) {
        pcap_close(dead);
        return false;
    }
    std::time_t second = first_second;
    for (const QByteArray& frame : frames) {
        const pcap_pkthdr header = header_for(frame, second++);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header,
                  reinterpret_cast<const u_char*>(frame.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

// Opens a TCP connection to a listener bound to `address` (its port 0: any),
// sends payload from the connecting side and reply from the accepting side,
// and closes both. Returns the listening port, or 0 on failure.
template <typename Address>
std::uint16_t exchange_at(Address address, std::uint16_t Address::*port_field,
                          const QByteArray& payload, const QByteArray& reply)
{
    auto* const socket_address = reinterpret_cast<sockaddr*>(&address);
    const int family = socket_address->sa_family;
    const int listener = socket(family, SOCK_STREAM, 0);
    if (listener < 0)
        return 0;
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (bind(listener, socket_address, sizeof address) == 0 && listen(listener, 1) == 0
        && getsockname(listener, socket_address, &length) == 0) {
        const int client = socket(family, SOCK_STREAM, 0);
        if (client >= 0 && ::connect(client, socket_address, sizeof address) == 0) {
            const int server = accept(listener, nullptr, nullptr);
            if (server >= 0) {
                bool sent = send(client, payload.constData(), payload.size(), 0) == payload.size();
                if (!reply.isEmpty())
                    sent = sent && send(server, reply.constData(), reply.size(), 0) == reply.size();
                if (sent)
                    port = ntohs(address.*port_field);
                close(server);
            }
        }
        if (client >= 0)
            close(client);
    }
    close(listener);
    return port;
}

// exchange_at on a loopback address (127.0.0.1 unless said otherwise; any of
// 127.0.0.0/8).
inline std::uint16_t exchange_on_loopback(const QByteArray& payload, const QByteArray& reply = {},
                                          std::uint32_t loopback_address = INADDR_LOOPBACK)
{
    if ((loopback_address >> 24) != 127)
        return 0; // never anywhere but the loopback range
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(loopback_address);
    return exchange_at(address, &sockaddr_in::sin_port, payload, reply);
}

// The same over IPv6, on ::1 only.
inline std::uint16_t exchange_on_ipv6_loopback(const QByteArray& payload,
                                               const QByteArray& reply = {})
{
    sockaddr_in6 address {};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    return exchange_at(address, &sockaddr_in6::sin6_port, payload, reply);
}

// Whether this process may capture on lo; the reason when it may not.
inline bool can_capture_on_loopback(QString* reason)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_create("lo", errbuf);
    if (handle == nullptr) {
        *reason = QString::fromLocal8Bit(errbuf);
        return false;
    }
    const int status = pcap_activate(handle);
    if (status < 0)
        *reason = QStringLiteral("cannot capture on lo (needs root or cap_net_raw): ")
                + QString::fromLocal8Bit(pcap_geterr(handle));
    pcap_close(handle);
    return status >= 0;
}

} // namespace testframes
