// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <QString>

struct pcap_pkthdr;

// The hex text of n bytes: two upper-case digits per byte, high nibble first,
// no separators. Empty for n <= 0.
std::string bytes_to_hex(const unsigned char* data, int n);

// Writes text.size() / 2 bytes to out, byte i being the pair of characters at
// 2i and 2i + 1 read as strtol reads base 16 ("ab" is 0xAB, "1G" is 0x01,
// "G1" is 0). A last odd character is ignored; nothing is written for a text
// of fewer than two characters. The caller sizes out from the text's length.
void hex_to_bytes(const std::string& text, unsigned char* out);

// What the TCP header of a decoded frame says, and where its payload lies.
struct TcpSegmentHeader
{
    enum Flag : std::uint8_t {
        Fin = 0x01,
        Syn = 0x02,
        Rst = 0x04,
        Psh = 0x08,
        Ack = 0x10,
        Urg = 0x20,
        Ece = 0x40,
        Cwr = 0x80,
    };
    int version = 4; // of IP
    // The first 4 bytes for IPv4, all 16 for IPv6; the rest zero.
    std::array<unsigned char, 16> source {};
    std::array<unsigned char, 16> destination {};
    std::uint16_t source_port = 0;
    std::uint16_t destination_port = 0;
    std::uint32_t seq = 0;
    std::uint32_t ack = 0;
    std::uint8_t flags = 0; // Flag bits
    std::uint16_t window = 0; // as the header states it, not scaled
    // The shift of the window scale option (0 to 14 as sent; larger values
    // are kept as sent), -1 when the segment carries none.
    std::int8_t window_scale = -1;
    std::uint32_t payload_offset = 0; // in the frame's bytes
    std::uint32_t stated = 0; // payload bytes the headers state
    std::uint32_t captured = 0; // of them, those the frame holds
};

// A row's segment as the capture decoded it, with the frame's capture time:
// what the analysis of the rows (marks, conversations, graphs) looks at,
// once per row as it arrives.
struct CapturedSegment
{
    TcpSegmentHeader header;
    std::int64_t seconds = 0; // capture time, since the epoch
    std::uint32_t nanoseconds = 0; // within the second
};

// The record line of one captured frame, or nothing when the frame is not a
// whole-enough TCP segment over IPv4 or IPv6. link_type is the pcap DLT_
// value of the source: Ethernet II (with up to two VLAN tags), Linux cooked
// capture v1 and v2, raw IP (either version, by its first nibble), and
// DLT_IPV4 and DLT_IPV6 are decoded; anything else yields nothing. IPv6
// extension headers (hop-by-hop, routing, destination options,
// authentication, a fragment at offset 0) are walked to the TCP header; a
// later fragment or a chain that does not lead to TCP yields nothing.
//
// The line has eight "|"-separated fields: local time (HH:MM:SS), "TCP",
// source address, source port, destination address, destination port, the
// payload length the headers state, and the hex text of the payload bytes
// actually captured (fewer when the snapshot cut the frame). IPv4 addresses
// are dotted decimal, IPv6 addresses RFC 5952 text (as inet_ntop writes
// them: "::1", "2001:db8::2", "::ffff:192.0.2.1"). An IP length of 0 runs to
// the end of the frame. Link-layer padding is never payload. Nothing past
// header.caplen is read.
std::optional<QString> make_record_line(int link_type, const struct pcap_pkthdr& header,
                                        const unsigned char* data);
// The same, and when there is a line, `segment` (unless null) receives the
// frame's TCP header as decode_tcp_segment gives it, decoded in the same
// pass. Without payload_hex the eighth field is left empty, for a frame
// whose bytes are kept elsewhere.
std::optional<QString> make_record_line(int link_type, const struct pcap_pkthdr& header,
                                        const unsigned char* data, TcpSegmentHeader* segment,
                                        bool payload_hex = true);

// The same line in UTF-8 (every character of it is ASCII), written at
// `out`, which has room for record_line_room(header.caplen) bytes: its
// length, or nothing when the frame makes no line. Many lines can then
// share one buffer.
std::optional<std::size_t> write_record_line(char* out, int link_type,
                                             const struct pcap_pkthdr& header,
                                             const unsigned char* data,
                                             TcpSegmentHeader* segment = nullptr,
                                             bool payload_hex = true);
// The most bytes write_record_line writes for a frame of `caplen` captured
// bytes.
std::size_t record_line_room(std::uint32_t caplen);

// The TCP segment of the frames that make_record_line decodes, or nothing
// for the others; the payload is the bytes that the line's hex field shows.
std::optional<TcpSegmentHeader> decode_tcp_segment(int link_type, const struct pcap_pkthdr& header,
                                                   const unsigned char* data);

// Whether make_record_line decodes frames of this pcap link type at all.
[[nodiscard]] bool link_type_supported(int link_type);

// libpcap's name and description of a link type, as "EN10MB (Ethernet)";
// "DLT <number>" for one libpcap does not know.
QString link_type_text(int link_type);
