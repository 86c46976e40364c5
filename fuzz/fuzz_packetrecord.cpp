// SPDX-License-Identifier: GPL-2.0-or-later

// The frame decoder on any bytes, any captured and wire length, any link
// type. Input layout:
//   [0]      link type: EN10MB, LINUX_SLL, LINUX_SLL2, RAW, IPV4 (228), or
//            the value of [1..4] (IPV6 is 229 there)
//   [1..4]   a link type of any value, big-endian
//   [5..8]   the wire length (header.len), big-endian
//   [9..10]  the captured length, big-endian, cut to the bytes that follow
//   [11..18] the capture time in seconds, big-endian, signed
//   [19..]   the frame
// The decoder reads the frame from a heap block of exactly the captured
// length, so a read past caplen is a read past the block.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "packetrecord.h"

namespace {

constexpr std::size_t kHeaderBytes = 19;

[[noreturn]] void fail(const char* what, const QString& line)
{
    std::fprintf(stderr, "fuzz_packetrecord: %s\nline: %s\n", what, qPrintable(line));
    std::abort();
}

std::uint64_t read_be(const std::uint8_t* p, int n)
{
    std::uint64_t value = 0;
    for (int i = 0; i < n; ++i)
        value = (value << 8) | p[i];
    return value;
}

bool is_decimal(const QString& text, std::uint64_t max)
{
    if (text.isEmpty() || text.size() > 10)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return text.toULongLong() <= max;
}

bool is_ipv4_address(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (!is_decimal(part, 255))
            return false;
    }
    return true;
}

// IPv6 text as inet_ntop writes it (RFC 5952): what it parses to, written
// again, is the same text.
bool is_ipv6_address(const QString& text)
{
    const QByteArray latin = text.toLatin1();
    unsigned char bytes[16];
    char again[INET6_ADDRSTRLEN];
    return text.contains(QLatin1Char(':')) && inet_pton(AF_INET6, latin.constData(), bytes) == 1
            && inet_ntop(AF_INET6, bytes, again, sizeof again) != nullptr
            && latin == QByteArray(again);
}

bool is_time(const QString& text)
{
    // HH:MM:SS, or empty when the time has no local representation.
    if (text.isEmpty())
        return true;
    const QStringList parts = text.split(QLatin1Char(':'));
    return parts.size() == 3 && is_decimal(parts[0], 23) && is_decimal(parts[1], 59)
            && is_decimal(parts[2], 60) && text.size() == 8;
}

void check_line(const QString& line, const unsigned char* frame, std::uint32_t caplen)
{
    const QStringList fields = line.split(QLatin1Char('|'));
    if (fields.size() != 8)
        fail("a record line must have eight fields", line);
    if (!is_time(fields[0]))
        fail("field 0 is not a time", line);
    if (fields[1] != QLatin1String("TCP"))
        fail("field 1 is not TCP", line);
    const bool ipv4 = is_ipv4_address(fields[2]) && is_ipv4_address(fields[4]);
    const bool ipv6 = is_ipv6_address(fields[2]) && is_ipv6_address(fields[4]);
    if (!ipv4 && !ipv6)
        fail("fields 2 and 4 must both be dotted IPv4 or both RFC 5952 IPv6 addresses", line);
    if (!is_decimal(fields[3], 65535) || !is_decimal(fields[5], 65535))
        fail("fields 3 and 5 must be ports", line);
    if (!is_decimal(fields[6], UINT32_MAX))
        fail("field 6 must be a length", line);

    const QString& hex = fields[7];
    if (hex.size() % 2 != 0)
        fail("the hex text has an odd length", line);
    for (const QChar c : hex) {
        const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool upper = c >= QLatin1Char('A') && c <= QLatin1Char('F');
        if (!digit && !upper)
            fail("the hex text has a character that is no upper-case hex digit", line);
    }
    const QByteArray payload = QByteArray::fromHex(hex.toLatin1());
    if (static_cast<std::uint64_t>(payload.size()) > fields[6].toULongLong())
        fail("more payload bytes than the stated length", line);
    // The payload is captured bytes of the frame, in order, ending at or
    // before caplen.
    if (!payload.isEmpty()) {
        const QByteArray captured = QByteArray::fromRawData(reinterpret_cast<const char*>(frame),
                                                            static_cast<int>(caplen));
        if (!captured.contains(payload))
            fail("the payload is not a run of the captured bytes", line);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kHeaderBytes)
        return 0;

    static const int kLinkTypes[] = { DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, 228 };
    constexpr int kKnown = sizeof kLinkTypes / sizeof kLinkTypes[0];
    const int choice = data[0] % (kKnown + 1);
    const int link_type = choice < kKnown
            ? kLinkTypes[choice]
            : static_cast<int>(static_cast<std::uint32_t>(read_be(data + 1, 4)));

    const std::size_t available = size - kHeaderBytes;
    pcap_pkthdr header {};
    header.len = static_cast<bpf_u_int32>(read_be(data + 5, 4));
    const std::size_t wanted = static_cast<std::size_t>(read_be(data + 9, 2));
    header.caplen = static_cast<bpf_u_int32>(wanted < available ? wanted : available);
    header.ts.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(read_be(data + 11, 8)));

    std::unique_ptr<unsigned char[]> frame(new unsigned char[header.caplen]);
    if (header.caplen > 0)
        std::memcpy(frame.get(), data + kHeaderBytes, header.caplen);

    const std::optional<QString> line = make_record_line(link_type, header, frame.get());
    if (line)
        check_line(*line, frame.get(), header.caplen);
    return 0;
}
