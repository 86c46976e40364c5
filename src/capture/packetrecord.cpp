// SPDX-License-Identifier: GPL-2.0-or-later

#include "packetrecord.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <arpa/inet.h>
#include <pcap/pcap.h>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::uint16_t kEtherTypeIPv4 = 0x0800;
constexpr std::uint16_t kEtherTypeIPv6 = 0x86DD;
constexpr std::uint16_t kEtherTypeVlan = 0x8100; // 802.1Q
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8; // 802.1ad
constexpr int kMaxVlanTags = 2;
constexpr int kIpProtocolTcp = 6;
constexpr std::uint32_t kMinIpHeader = 20;
constexpr std::uint32_t kMinTcpHeader = 20;
constexpr std::uint32_t kIpv6Header = 40;
// IPv6 next-header values of the extension headers walked to reach TCP.
constexpr int kIpv6HopByHop = 0;
constexpr int kIpv6Routing = 43;
constexpr int kIpv6Fragment = 44;
constexpr int kIpv6AuthenticationHeader = 51;
constexpr int kIpv6DestinationOptions = 60;

// Not every libpcap names DLT_IPV4 and DLT_IPV6.
#ifndef DLT_IPV4
#define DLT_IPV4 228
#endif
#ifndef DLT_IPV6
#define DLT_IPV6 229
#endif

std::uint16_t read_be16(const unsigned char* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The upper-case hex digits of every byte value as two UTF-16 code units.
struct HexPairs
{
    char16_t utf16[256][2];
};

const HexPairs& hex_pairs()
{
    static const HexPairs pairs = [] {
        HexPairs table {};
        for (int value = 0; value < 256; ++value) {
            table.utf16[value][0] = static_cast<char16_t>(kHexDigits[value >> 4]);
            table.utf16[value][1] = static_cast<char16_t>(kHexDigits[value & 0x0F]);
        }
        return table;
    }();
    return pairs;
}

// Sixteen bytes as 32 upper-case hex digits: each nibble becomes '0' + n,
// plus 7 from 10 on ('A' - '9' - 1), then the digits are interleaved.
#if defined(__SSE2__)
struct HexDigitBlocks
{
    __m128i first; // the digits of bytes 0-7
    __m128i second; // of bytes 8-15
};

HexDigitBlocks hex_digit_blocks_sse2(const unsigned char* bytes)
{
    const __m128i low_nibble = _mm_set1_epi8(0x0F);
    const auto to_digits = [](__m128i nibbles) {
        const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)),
                                              _mm_set1_epi8('A' - '9' - 1));
        return _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), letters);
    };
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i high = to_digits(_mm_and_si128(_mm_srli_epi16(in, 4), low_nibble));
    const __m128i low = to_digits(_mm_and_si128(in, low_nibble));
    return { _mm_unpacklo_epi8(high, low), _mm_unpackhi_epi8(high, low) };
}

// The digits widened to two UTF-16 code units per byte.
void put_hex_block_sse2(char16_t* out, const unsigned char* bytes)
{
    const HexDigitBlocks digits = hex_digit_blocks_sse2(bytes);
    const __m128i zero = _mm_setzero_si128();
    auto* to = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(to, _mm_unpacklo_epi8(digits.first, zero));
    _mm_storeu_si128(to + 1, _mm_unpackhi_epi8(digits.first, zero));
    _mm_storeu_si128(to + 2, _mm_unpacklo_epi8(digits.second, zero));
    _mm_storeu_si128(to + 3, _mm_unpackhi_epi8(digits.second, zero));
}

// The digits as they are, one byte each.
void put_hex_block_sse2(char* out, const unsigned char* bytes)
{
    const HexDigitBlocks digits = hex_digit_blocks_sse2(bytes);
    auto* to = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(to, digits.first);
    _mm_storeu_si128(to + 1, digits.second);
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// The same with AVX2, where the processor has it: a digit is looked up by
// its nibble, and the widening takes one instruction per 16 digits.
__attribute__((target("avx2"))) void put_hex_blocks_avx2(char16_t* out, const unsigned char* bytes,
                                                         std::uint32_t blocks)
{
    const __m128i digits = _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B',
                                         'C', 'D', 'E', 'F');
    const __m128i low_nibble = _mm_set1_epi8(0x0F);
    for (std::uint32_t b = 0; b < blocks; ++b, bytes += 16, out += 32) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
        const __m128i high
                = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(in, 4), low_nibble));
        const __m128i low = _mm_shuffle_epi8(digits, _mm_and_si128(in, low_nibble));
        auto* to = reinterpret_cast<__m256i*>(out);
        _mm256_storeu_si256(to, _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(high, low)));
        _mm256_storeu_si256(to + 1, _mm256_cvtepu8_epi16(_mm_unpackhi_epi8(high, low)));
    }
}

bool has_avx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    return avx2;
}
#endif

// Writes `count` bytes as upper-case hex, two UTF-16 code units per byte.
void put_hex(char16_t* out, const unsigned char* bytes, std::uint32_t count)
{
#if defined(__SSE2__)
    if (count >= 16) {
        // Whole blocks, then the last sixteen bytes again for the rest: the
        // overlap writes the same digits twice.
        const std::uint32_t blocks = count / 16;
#if defined(__x86_64__) && defined(__GNUC__)
        if (has_avx2()) {
            put_hex_blocks_avx2(out, bytes, blocks);
            if (count % 16 != 0)
                put_hex_blocks_avx2(out + 2 * (count - 16), bytes + count - 16, 1);
            return;
        }
#endif
        for (std::uint32_t b = 0; b < blocks; ++b)
            put_hex_block_sse2(out + 32 * b, bytes + 16 * b);
        if (count % 16 != 0)
            put_hex_block_sse2(out + 2 * (count - 16), bytes + count - 16);
        return;
    }
#endif
    // Two UTF-16 digits per byte, copied as one unit from a table.
    const HexPairs& pairs = hex_pairs();
    for (std::uint32_t i = 0; i < count; ++i, out += 2)
        std::memcpy(out, &pairs.utf16[bytes[i]], sizeof(char16_t[2]));
}

// The same, one byte per digit.
void put_hex(char* out, const unsigned char* bytes, std::uint32_t count)
{
#if defined(__SSE2__)
    if (count >= 16) {
        for (std::uint32_t b = 0; b < count / 16; ++b)
            put_hex_block_sse2(out + 32 * b, bytes + 16 * b);
        if (count % 16 != 0)
            put_hex_block_sse2(out + 2 * (count - 16), bytes + count - 16);
        return;
    }
#endif
    for (std::uint32_t i = 0; i < count; ++i, out += 2) {
        out[0] = kHexDigits[bytes[i] >> 4];
        out[1] = kHexDigits[bytes[i] & 0x0F];
    }
}

// The record line's fields, written straight into its text (UTF-16 for a
// QString, bytes for the rows of a batch) without the cost of a format
// string. Every character of a line made from a frame is ASCII.

template <typename Char> Char* put_latin1(Char* out, const char* text)
{
    while (*text != '\0')
        *out++ = static_cast<unsigned char>(*text++);
    return out;
}

template <typename Char> Char* put_two_digits(Char* out, int value)
{
    *out++ = static_cast<Char>('0' + value / 10 % 10);
    *out++ = static_cast<Char>('0' + value % 10);
    return out;
}

// "00" to "99", made when the program is compiled.
template <typename Char> struct DecimalPairs
{
    Char text[100][2];
};

template <typename Char> constexpr DecimalPairs<Char> make_decimal_pairs()
{
    DecimalPairs<Char> table {};
    for (int value = 0; value < 100; ++value) {
        table.text[value][0] = static_cast<Char>('0' + value / 10);
        table.text[value][1] = static_cast<Char>('0' + value % 10);
    }
    return table;
}

template <typename Char> constexpr DecimalPairs<Char> kDecimalPairs = make_decimal_pairs<Char>();

int decimal_digits(std::uint32_t value)
{
    int count = 1;
    for (; value >= 10000; value /= 10000)
        count += 4;
    return count + (value >= 10) + (value >= 100) + (value >= 1000);
}

// Decimal without leading zeros, two digits at a time from the last.
template <typename Char> Char* put_decimal(Char* out, std::uint32_t value)
{
    const DecimalPairs<Char>& pairs = kDecimalPairs<Char>;
    Char* const end = out + decimal_digits(value);
    Char* at = end;
    while (value >= 100) {
        const std::uint32_t rest = value / 100;
        at -= 2;
        std::memcpy(at, pairs.text[value - 100 * rest], sizeof(Char[2]));
        value = rest;
    }
    if (value >= 10) {
        at -= 2;
        std::memcpy(at, pairs.text[value], sizeof(Char[2]));
    } else {
        *--at = static_cast<Char>('0' + value);
    }
    return end;
}

// Every byte value in decimal followed by a dot, four units copied as one,
// and the number of digits; made when the program is compiled.
template <typename Char> struct OctetTexts
{
    Char units[256][4];
    unsigned char digits[256];
};

template <typename Char> constexpr OctetTexts<Char> make_octet_texts()
{
    OctetTexts<Char> table {};
    for (int value = 0; value < 256; ++value) {
        Char* text = table.units[value];
        int digits = 0;
        if (value >= 100)
            text[digits++] = static_cast<Char>('0' + value / 100);
        if (value >= 10)
            text[digits++] = static_cast<Char>('0' + value / 10 % 10);
        text[digits++] = static_cast<Char>('0' + value % 10);
        text[digits] = '.';
        table.digits[value] = static_cast<unsigned char>(digits);
    }
    return table;
}

template <typename Char> constexpr OctetTexts<Char> kOctetTexts = make_octet_texts<Char>();

// An IP address as inet_ntop writes it: IPv4 in dotted decimal (without
// inet_ntop's cost), IPv6 in RFC 5952 text.
template <typename Char> Char* put_address(Char* out, const unsigned char* address, int version)
{
    if (version == 4) {
        // Four units per octet whatever its length, its dot included: the
        // line has room, and the last dot is written over by what follows.
        const OctetTexts<Char>& octets = kOctetTexts<Char>;
        for (int i = 0; i < 4; ++i) {
            std::memcpy(out, octets.units[address[i]], sizeof(Char[4]));
            out += octets.digits[address[i]] + 1;
        }
        return out - 1;
    }
    char text[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, address, text, sizeof text);
    return put_latin1(out, text);
}

// Where the IP packet starts in a frame of the given link type and which
// version it is (4 or 6), or nothing when the frame carries no IP packet (or
// is too short to tell). The version nibble must agree with what the link
// layer announces.
struct NetworkLayer
{
    std::uint32_t offset;
    int version;
};

std::optional<NetworkLayer> network_layer(int link_type, const unsigned char* data,
                                          std::uint32_t caplen)
{
    std::uint32_t type_at = 0; // where the EtherType (or cooked protocol) stands
    std::uint32_t next = 0; // where what it announces begins
    int version = 0;
    switch (link_type) {
    case DLT_EN10MB:
        type_at = 12;
        next = 14;
        break;
    case DLT_LINUX_SLL:
        type_at = 14;
        next = 16;
        break;
    case DLT_LINUX_SLL2:
        type_at = 0;
        next = 20;
        break;
    case DLT_RAW: // either version, told by the first nibble
    case DLT_IPV4:
    case DLT_IPV6:
        if (caplen < 1)
            return std::nullopt;
        version = data[0] >> 4;
        if ((link_type == DLT_IPV4 && version != 4) || (link_type == DLT_IPV6 && version != 6)
            || (version != 4 && version != 6))
            return std::nullopt;
        return NetworkLayer { 0, version };
    default:
        return std::nullopt;
    }
    if (caplen < next)
        return std::nullopt;
    std::uint16_t type = read_be16(data + type_at);
    // A VLAN tag is four bytes: the tag control word, then the EtherType of
    // what follows it.
    for (int tags = 0; (type == kEtherTypeVlan || type == kEtherTypeQinQ) && tags < kMaxVlanTags;
         ++tags) {
        if (caplen < next + 4)
            return std::nullopt;
        type = read_be16(data + next + 2);
        next += 4;
    }
    if (type == kEtherTypeIPv4)
        version = 4;
    else if (type == kEtherTypeIPv6)
        version = 6;
    else
        return std::nullopt;
    if (caplen < next + 1 || (data[next] >> 4) != version)
        return std::nullopt;
    return NetworkLayer { next, version };
}

// What the decoder needs of an IP packet that carries TCP: where the TCP
// header starts, where the packet ends by its own length field (clamped to
// nothing; may lie past caplen), and where its addresses are in the header.
struct TcpInIp
{
    std::uint32_t tcp_at;
    std::uint32_t packet_end;
    const unsigned char* source;
    const unsigned char* destination;
    int version;
};

// An IPv4 packet; nothing when it carries no first fragment of a TCP segment.
std::optional<TcpInIp> tcp_in_ipv4(const pcap_pkthdr& header, const unsigned char* data,
                                   std::uint32_t ip_at)
{
    if (header.caplen < ip_at + kMinIpHeader)
        return std::nullopt;
    const unsigned char* ip = data + ip_at;
    if (ip[9] != kIpProtocolTcp)
        return std::nullopt;
    const std::uint32_t ip_header = (ip[0] & 0x0F) * 4u;
    if (ip_header < kMinIpHeader)
        return std::nullopt;
    // Only the first fragment carries the TCP header.
    if ((read_be16(ip + 6) & 0x1FFF) != 0)
        return std::nullopt;

    TcpInIp packet {};
    packet.tcp_at = ip_at + ip_header;
    // The packet ends where the IPv4 total length says, so link-layer padding
    // is never payload. A total length of 0 is what a segmentation-offloaded
    // packet shows when captured before the adapter splits it: it then runs
    // to the end of the frame.
    std::uint32_t ip_total = read_be16(ip + 2);
    if (ip_total == 0 && header.len > ip_at)
        ip_total = header.len - ip_at;
    packet.packet_end = ip_at + ip_total;
    packet.source = ip + 12;
    packet.destination = ip + 16;
    packet.version = 4;
    return packet;
}

// An IPv6 packet: the extension headers are walked to the TCP header.
// Nothing when the chain ends elsewhere (ESP, no next header, another
// protocol), in a later fragment, or past the captured bytes.
std::optional<TcpInIp> tcp_in_ipv6(const pcap_pkthdr& header, const unsigned char* data,
                                   std::uint32_t ip_at)
{
    const std::uint32_t caplen = header.caplen;
    if (caplen < ip_at + kIpv6Header)
        return std::nullopt;
    const unsigned char* ip = data + ip_at;

    int next_header = ip[6];
    std::uint32_t at = ip_at + kIpv6Header;
    while (next_header != kIpProtocolTcp) {
        std::uint32_t length = 0;
        switch (next_header) {
        case kIpv6HopByHop:
        case kIpv6Routing:
        case kIpv6DestinationOptions:
            if (caplen < at + 2)
                return std::nullopt;
            length = (data[at + 1] + 1u) * 8u; // in 8-byte units, the first not counted
            break;
        case kIpv6AuthenticationHeader:
            if (caplen < at + 2)
                return std::nullopt;
            length = (data[at + 1] + 2u) * 4u; // in 4-byte units, the first two not counted
            break;
        case kIpv6Fragment:
            if (caplen < at + 8)
                return std::nullopt;
            // Only the fragment at offset 0 carries the TCP header.
            if ((read_be16(data + at + 2) & 0xFFF8) != 0)
                return std::nullopt;
            length = 8;
            break;
        default:
            return std::nullopt;
        }
        next_header = data[at];
        at += length;
    }

    TcpInIp packet {};
    packet.tcp_at = at;
    // A payload length of 0 (a jumbogram, or a segmentation-offloaded packet
    // captured before the adapter splits it) runs to the end of the frame.
    std::uint32_t payload_length = read_be16(ip + 4);
    if (payload_length == 0 && header.len > ip_at + kIpv6Header)
        payload_length = header.len - ip_at - kIpv6Header;
    packet.packet_end = ip_at + kIpv6Header + payload_length;
    packet.source = ip + 8;
    packet.destination = ip + 24;
    packet.version = 6;
    return packet;
}

} // namespace

std::string bytes_to_hex(const unsigned char* data, int n)
{
    if (n <= 0)
        return {};
    const auto count = static_cast<std::size_t>(n);
    std::string text(count * 2, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        text[2 * i] = kHexDigits[data[i] >> 4];
        text[2 * i + 1] = kHexDigits[data[i] & 0x0F];
    }
    return text;
}

void hex_to_bytes(const std::string& text, unsigned char* out)
{
    const std::size_t pairs = text.size() / 2;
    for (std::size_t i = 0; i < pairs; ++i) {
        const char hi = text[2 * i];
        const char lo = text[2 * i + 1];
        const int h = hex_value(hi);
        const int l = hex_value(lo);
        if (h >= 0 && l >= 0) {
            out[i] = static_cast<unsigned char>(h * 16 + l);
            continue;
        }
        // Anything but two digits is read as strtol reads it: leading blanks,
        // a sign, a digit followed by a non-digit, or nothing at all (0).
        const char pair[3] = { hi, lo, '\0' };
        out[i] = static_cast<unsigned char>(std::strtol(pair, nullptr, 16));
    }
}

bool link_type_supported(int link_type)
{
    switch (link_type) {
    case DLT_EN10MB:
    case DLT_LINUX_SLL:
    case DLT_LINUX_SLL2:
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
        return true;
    default:
        return false;
    }
}

namespace {

// Where the TCP segment of a frame lies: its header and payload.
struct TcpPlace
{
    TcpInIp packet;
    const unsigned char* tcp;
    std::uint32_t payload_at;
    std::uint32_t stated;
    std::uint32_t captured;
};

std::optional<TcpPlace> tcp_place(int link_type, const struct pcap_pkthdr& header,
                                  const unsigned char* data)
{
    const std::uint32_t caplen = header.caplen;
    const std::optional<NetworkLayer> network = network_layer(link_type, data, caplen);
    if (!network)
        return std::nullopt;
    const std::optional<TcpInIp> packet = network->version == 4
            ? tcp_in_ipv4(header, data, network->offset)
            : tcp_in_ipv6(header, data, network->offset);
    if (!packet)
        return std::nullopt;

    const std::uint32_t tcp_at = packet->tcp_at;
    if (caplen < tcp_at + kMinTcpHeader)
        return std::nullopt;
    const unsigned char* tcp = data + tcp_at;
    const std::uint32_t tcp_header = (tcp[12] >> 4) * 4u;
    if (tcp_header < kMinTcpHeader || caplen < tcp_at + tcp_header)
        return std::nullopt;

    const std::uint32_t payload_at = tcp_at + tcp_header;
    const std::uint32_t packet_end = packet->packet_end;
    if (packet_end < payload_at)
        return std::nullopt;
    const std::uint32_t captured_end = packet_end < caplen ? packet_end : caplen;
    return TcpPlace { *packet, tcp, payload_at, packet_end - payload_at,
                      captured_end - payload_at };
}

std::uint32_t read_be32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8)
            | p[3];
}

// The shift of the window scale option among the TCP options of the header
// (`size` bytes after the fixed 20), -1 when there is none or the options
// are malformed before it.
std::int8_t window_scale_option(const unsigned char* options, std::uint32_t size)
{
    constexpr unsigned char kEnd = 0;
    constexpr unsigned char kNoOperation = 1;
    constexpr unsigned char kWindowScale = 3;
    std::uint32_t at = 0;
    while (at < size) {
        const unsigned char kind = options[at];
        if (kind == kEnd)
            break;
        if (kind == kNoOperation) {
            ++at;
            continue;
        }
        if (at + 1 >= size)
            break;
        const std::uint32_t length = options[at + 1];
        if (length < 2 || at + length > size)
            break;
        if (kind == kWindowScale && length == 3)
            return static_cast<std::int8_t>(std::min<unsigned>(options[at + 2], 127));
        at += length;
    }
    return -1;
}

} // namespace

namespace {

// Fills every field: a header reused from an IPv6 frame keeps nothing of
// it for an IPv4 one (the addresses' last 12 bytes are zero).
void fill_segment(const TcpPlace& place, TcpSegmentHeader* segment)
{
    segment->version = place.packet.version;
    const std::size_t address_size = segment->version == 4 ? 4 : 16;
    segment->source.fill(0);
    segment->destination.fill(0);
    std::memcpy(segment->source.data(), place.packet.source, address_size);
    std::memcpy(segment->destination.data(), place.packet.destination, address_size);
    segment->source_port = read_be16(place.tcp);
    segment->destination_port = read_be16(place.tcp + 2);
    segment->seq = read_be32(place.tcp + 4);
    segment->ack = read_be32(place.tcp + 8);
    segment->flags = place.tcp[13];
    segment->window = read_be16(place.tcp + 14);
    const std::uint32_t tcp_header = (place.tcp[12] >> 4) * 4u;
    segment->window_scale
            = window_scale_option(place.tcp + kMinTcpHeader, tcp_header - kMinTcpHeader);
    segment->payload_offset = place.payload_at;
    segment->stated = place.stated;
    segment->captured = place.captured;
}

} // namespace

std::optional<TcpSegmentHeader> decode_tcp_segment(int link_type, const struct pcap_pkthdr& header,
                                                   const unsigned char* data)
{
    const std::optional<TcpPlace> place = tcp_place(link_type, header, data);
    if (!place)
        return std::nullopt;
    TcpSegmentHeader segment;
    fill_segment(*place, &segment);
    return segment;
}

namespace {

// The time, two IPv6 addresses at their longest, two ports, a length and the
// separators fit in this many units; the payload's hex follows them.
constexpr int kFixedMost = 8 + 5 + 2 * (INET6_ADDRSTRLEN + 1 + 5 + 1) + 10 + 1;

// Writes the line's seven first fields and the bar after them at `out`, with
// room for kFixedMost units; returns where the payload's hex goes.
template <typename Char>
Char* put_fields(Char* out, const TcpPlace& place, const struct pcap_pkthdr& header)
{
    // Frames come many to a second: the local time of the last second is
    // kept (per thread, as each capture has its own).
    thread_local std::time_t cached_second = -1;
    thread_local char cached_time[8];
    thread_local bool cached_valid = false;
    const std::time_t seconds = header.ts.tv_sec;
    if (seconds != cached_second) {
        std::tm local {};
        cached_valid = localtime_r(&seconds, &local) != nullptr;
        if (cached_valid) {
            char* at = put_two_digits(cached_time, local.tm_hour);
            *at++ = ':';
            at = put_two_digits(at, local.tm_min);
            *at++ = ':';
            put_two_digits(at, local.tm_sec);
        }
        cached_second = seconds;
    }
    if (cached_valid) {
        for (int i = 0; i < 8; ++i)
            out[i] = static_cast<unsigned char>(cached_time[i]);
        out += 8;
    }
    static constexpr char kProtocol[] = "|TCP|";
    for (std::size_t i = 0; i + 1 < sizeof kProtocol; ++i)
        *out++ = static_cast<Char>(kProtocol[i]);
    const TcpInIp& packet = place.packet;
    out = put_address(out, packet.source, packet.version);
    *out++ = '|';
    out = put_decimal(out, read_be16(place.tcp));
    *out++ = '|';
    out = put_address(out, packet.destination, packet.version);
    *out++ = '|';
    out = put_decimal(out, read_be16(place.tcp + 2));
    *out++ = '|';
    out = put_decimal(out, place.stated);
    *out++ = '|';
    return out;
}

} // namespace

std::optional<QString> make_record_line(int link_type, const struct pcap_pkthdr& header,
                                        const unsigned char* data)
{
    return make_record_line(link_type, header, data, nullptr);
}

std::optional<QString> make_record_line(int link_type, const struct pcap_pkthdr& header,
                                        const unsigned char* data, TcpSegmentHeader* segment,
                                        bool payload_hex)
{
    const std::optional<TcpPlace> place = tcp_place(link_type, header, data);
    if (!place)
        return std::nullopt;
    if (segment != nullptr)
        fill_segment(*place, segment);
    const std::uint32_t captured = payload_hex ? place->captured : 0;
    QString line(kFixedMost + 2 * static_cast<int>(captured), Qt::Uninitialized);
    char16_t* const start = reinterpret_cast<char16_t*>(line.data());
    char16_t* const hex = put_fields(start, *place, header);
    put_hex(hex, data + place->payload_at, captured);
    line.resize(static_cast<int>(hex - start) + 2 * static_cast<int>(captured));
    return line;
}

std::size_t record_line_room(std::uint32_t caplen)
{
    return kFixedMost + 2 * std::size_t(caplen);
}

std::optional<std::size_t> write_record_line(char* out, int link_type,
                                             const struct pcap_pkthdr& header,
                                             const unsigned char* data, TcpSegmentHeader* segment,
                                             bool payload_hex)
{
    const std::optional<TcpPlace> place = tcp_place(link_type, header, data);
    if (!place)
        return std::nullopt;
    if (segment != nullptr)
        fill_segment(*place, segment);
    const std::uint32_t captured = payload_hex ? place->captured : 0;
    char* const hex = put_fields(out, *place, header);
    put_hex(hex, data + place->payload_at, captured);
    return static_cast<std::size_t>(hex - out) + 2 * std::size_t(captured);
}

QString link_type_text(int link_type)
{
    const char* name = pcap_datalink_val_to_name(link_type);
    const char* description = pcap_datalink_val_to_description(link_type);
    QString text
            = name != nullptr ? QString::fromLatin1(name) : QStringLiteral("DLT %1").arg(link_type);
    if (description != nullptr)
        text += QStringLiteral(" (%1)").arg(QString::fromLatin1(description));
    return text;
}
