#include "packetrecord.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <pcap/pcap.h>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::uint16_t kEtherTypeIPv4 = 0x0800;
constexpr std::uint16_t kEtherTypeVlan = 0x8100; // 802.1Q
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8; // 802.1ad
constexpr int kMaxVlanTags = 2;
constexpr int kIpProtocolTcp = 6;
constexpr std::uint32_t kMinIpHeader = 20;
constexpr std::uint32_t kMinTcpHeader = 20;

// Not every libpcap names DLT_IPV4.
#ifndef DLT_IPV4
#define DLT_IPV4 228
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

// Where the IPv4 packet starts in a frame of the given link type, or nothing
// when the frame carries no IPv4 packet (or is too short to tell).
std::optional<std::uint32_t> ipv4_offset(int link_type, const unsigned char* data,
                                         std::uint32_t caplen)
{
    std::uint32_t type_at = 0; // where the EtherType (or cooked protocol) stands
    std::uint32_t next = 0; // where what it announces begins
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
    case DLT_RAW:
    case DLT_IPV4:
        if (caplen < 1 || (data[0] >> 4) != 4)
            return std::nullopt;
        return 0;
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
    if (type != kEtherTypeIPv4)
        return std::nullopt;
    return next;
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

// The record line's numbers, written without the cost of a format string.

char* put_text(char* out, const char* text)
{
    while (*text != '\0')
        *out++ = *text++;
    return out;
}

char* put_two_digits(char* out, int value)
{
    *out++ = static_cast<char>('0' + value / 10 % 10);
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

// Decimal without leading zeros.
char* put_decimal(char* out, std::uint32_t value)
{
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

// Four bytes as dotted decimal.
char* put_address(char* out, const unsigned char* address)
{
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            *out++ = '.';
        out = put_decimal(out, address[i]);
    }
    return out;
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
        return true;
    default:
        return false;
    }
}

std::optional<QString> make_record_line(int link_type, const struct pcap_pkthdr& header,
                                        const unsigned char* data)
{
    const std::uint32_t caplen = header.caplen;
    const std::optional<std::uint32_t> ip_at = ipv4_offset(link_type, data, caplen);
    if (!ip_at || caplen < *ip_at + kMinIpHeader)
        return std::nullopt;

    const unsigned char* ip = data + *ip_at;
    if ((ip[0] >> 4) != 4 || ip[9] != kIpProtocolTcp)
        return std::nullopt;
    const std::uint32_t ip_header = (ip[0] & 0x0F) * 4u;
    if (ip_header < kMinIpHeader)
        return std::nullopt;
    // Only the first fragment carries the TCP header.
    if ((read_be16(ip + 6) & 0x1FFF) != 0)
        return std::nullopt;

    const std::uint32_t tcp_at = *ip_at + ip_header;
    if (caplen < tcp_at + kMinTcpHeader)
        return std::nullopt;
    const unsigned char* tcp = data + tcp_at;
    const std::uint32_t tcp_header = (tcp[12] >> 4) * 4u;
    if (tcp_header < kMinTcpHeader || caplen < tcp_at + tcp_header)
        return std::nullopt;

    // The packet ends where the IPv4 total length says, so link-layer padding
    // is never payload. A total length of 0 is what a segmentation-offloaded
    // packet shows when captured before the adapter splits it: it then runs
    // to the end of the frame.
    std::uint32_t ip_total = read_be16(ip + 2);
    if (ip_total == 0 && header.len > *ip_at)
        ip_total = header.len - *ip_at;
    const std::uint32_t payload_at = tcp_at + tcp_header;
    const std::uint32_t packet_end = *ip_at + ip_total;
    if (packet_end < payload_at)
        return std::nullopt;
    const std::uint32_t stated = packet_end - payload_at;
    const std::uint32_t captured_end = packet_end < caplen ? packet_end : caplen;
    const std::uint32_t captured = captured_end - payload_at;

    char fixed[100];
    char* end = fixed;
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
        std::memcpy(end, cached_time, sizeof cached_time);
        end += sizeof cached_time;
    }
    end = put_text(end, "|TCP|");
    end = put_address(end, ip + 12);
    *end++ = '|';
    end = put_decimal(end, read_be16(tcp));
    *end++ = '|';
    end = put_address(end, ip + 16);
    *end++ = '|';
    end = put_decimal(end, read_be16(tcp + 2));
    *end++ = '|';
    end = put_decimal(end, stated);
    *end++ = '|';
    const int fixed_len = static_cast<int>(end - fixed);

    QString line(fixed_len + 2 * static_cast<int>(captured), Qt::Uninitialized);
    QChar* out = line.data();
    for (int i = 0; i < fixed_len; ++i)
        *out++ = QLatin1Char(fixed[i]);
    // Two UTF-16 digits per byte, copied as one unit from a table.
    const unsigned char* payload = data + payload_at;
    const HexPairs& pairs = hex_pairs();
    for (std::uint32_t i = 0; i < captured; ++i, out += 2)
        std::memcpy(static_cast<void*>(out), &pairs.utf16[payload[i]], sizeof(char16_t[2]));
    return line;
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
