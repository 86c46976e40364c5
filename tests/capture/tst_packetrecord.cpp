// SPDX-License-Identifier: GPL-2.0-or-later

#include <cstdlib>
#include <ctime>
#include <memory>

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <QtTest>

#include "packetrecord.h"
#include "testframes.h"

using namespace testframes;

namespace {

QByteArray tcp_frame(const QByteArray& payload)
{
    Ipv4Packet p;
    p.payload = payload;
    return ethernet(ipv4(p));
}

// Decodes the frame from a heap block of exactly the captured size, so that a
// read past caplen is a read past the block. The line in bytes, written into
// a block of exactly the room it asks for, must be the same; when it is not,
// the line is a text no case expects.
std::optional<QString> decode(int link_type, const QByteArray& frame, int caplen = -1,
                              std::time_t seconds = 0)
{
    const pcap_pkthdr header = header_for(frame, seconds, caplen);
    std::unique_ptr<unsigned char[]> captured(new unsigned char[header.caplen + 1]);
    std::memcpy(captured.get(), frame.constData(), header.caplen);
    const std::optional<QString> line = make_record_line(link_type, header, captured.get());
    std::unique_ptr<char[]> bytes(new char[record_line_room(header.caplen)]);
    const std::optional<std::size_t> size
            = write_record_line(bytes.get(), link_type, header, captured.get());
    if (line.has_value() != size.has_value()
        || (size && QByteArray(bytes.get(), static_cast<int>(*size)) != line->toUtf8()))
        return QStringLiteral("(the line in bytes differs)");
    return line;
}

// A line whose fields after "TCP" read `expected`, or no line when that is
// empty.
void verify_line(const std::optional<QString>& line, const QString& expected)
{
    if (expected.isEmpty()) {
        QVERIFY2(!line, qPrintable(line.value_or(QString())));
        return;
    }
    QVERIFY(line.has_value());
    const QStringList fields = line->split(QLatin1Char('|'));
    QCOMPARE(fields.size(), 8);
    QCOMPARE(fields.at(1), QStringLiteral("TCP"));
    QCOMPARE(fields.mid(2).join(QLatin1Char('|')), expected);
}

} // namespace

class TstPacketRecord : public QObject
{
    Q_OBJECT

private slots:
    void hexEncode_data();
    void hexEncode();
    void hexDecode_data();
    void hexDecode();
    void recordLine_data();
    void recordLine();
    void timeField_data();
    void timeField();
    void ipv6Line_data();
    void ipv6Line();
    void ipv6Address_data();
    void ipv6Address();
    void truncatedAtEveryByte_data();
    void truncatedAtEveryByte();
    void supportedLinkTypesAreDecoded();
    void segmentHeader_data();
    void segmentHeader();
};

void TstPacketRecord::hexEncode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one-byte") << QByteArray("\x7f", 1);
    QTest::newRow("nul-high-low") << QByteArray("\x00\xab\x0f", 3);
    QByteArray every;
    for (int value = 0; value < 256; ++value)
        every.append(static_cast<char>(value));
    QTest::newRow("every-byte-value") << every;
}

void TstPacketRecord::hexEncode()
{
    QFETCH(QByteArray, bytes);
    const std::string text
            = bytes_to_hex(reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size());
    QCOMPARE(QByteArray::fromStdString(text), bytes.toHex().toUpper());

    // Decoding gives the bytes back, followed by the caller's untouched area.
    QByteArray out(bytes.size() + 2, '\xEE');
    hex_to_bytes(text, reinterpret_cast<unsigned char*>(out.data()));
    QCOMPARE(out, bytes + QByteArray(2, '\xEE'));
}

void TstPacketRecord::hexDecode_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("single-character") << QByteArray("A") << QByteArray();
    QTest::newRow("odd-digit-count") << QByteArray("ABC") << QByteArray("\xab", 1);
    QTest::newRow("lower-case") << QByteArray("ab") << QByteArray("\xab", 1);
    QTest::newRow("mixed-case") << QByteArray("aBcD") << QByteArray("\xab\xcd", 2);
    QTest::newRow("not-a-digit-first") << QByteArray("G1") << QByteArray(1, '\0');
    QTest::newRow("not-a-digit-second") << QByteArray("1G") << QByteArray("\x01", 1);
    QTest::newRow("minus-one") << QByteArray("-1") << QByteArray("\xff", 1);
    QTest::newRow("leading-blank") << QByteArray(" 7") << QByteArray("\x07", 1);
    QTest::newRow("zero-x") << QByteArray("0x") << QByteArray(1, '\0');
    QTest::newRow("bad-pair-inside") << QByteArray("41ZZ42") << QByteArray("\x41\x00\x42", 3);
}

void TstPacketRecord::hexDecode()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    QByteArray out(text.size() / 2 + 2, '\xEE');
    hex_to_bytes(text.toStdString(), reinterpret_cast<unsigned char*>(out.data()));
    QCOMPARE(out.left(text.size() / 2), bytes);
    QCOMPARE(out.mid(text.size() / 2), QByteArray(2, '\xEE')); // nothing written beyond
}

void TstPacketRecord::recordLine_data()
{
    QTest::addColumn<int>("linkType");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("caplen");
    // Fields 2 to 7 of the line joined by "|"; empty when no line is expected.
    QTest::addColumn<QString>("expected");

    const QString hello = QStringLiteral("192.168.0.1|80|10.0.0.5|51000|5|48656C6C6F");
    const QByteArray helloIp = [] {
        Ipv4Packet p;
        p.payload = "Hello";
        return ipv4(p);
    }();

    QTest::newRow("plain-tcp") << DLT_EN10MB << tcp_frame("Hello") << -1 << hello;
    QTest::newRow("no-payload") << DLT_EN10MB << tcp_frame({}) << -1
                                << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|0|");
    QTest::newRow("binary-payload") << DLT_EN10MB << tcp_frame(QByteArray("\x00|\xff", 3)) << -1
                                    << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|3|007CFF");
    {
        // Every byte value, in blocks and in a tail shorter than a block.
        QByteArray every(263, '\0');
        for (int i = 0; i < every.size(); ++i)
            every[i] = static_cast<char>(i * 7);
        QTest::newRow("every-byte-value") << DLT_EN10MB << tcp_frame(every) << -1
                                          << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|263|")
                        + QString::fromLatin1(every.toHex().toUpper());
    }
    {
        Ipv4Packet p;
        p.tcp_options = QByteArray("\x01\x01\x08\x0a\x00\x00\x00\x01\x00\x00\x00\x02", 12);
        p.payload = "abc";
        QTest::newRow("tcp-options") << DLT_EN10MB << ethernet(ipv4(p)) << -1
                                     << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|3|616263");
        p.tcp_options.clear();
        p.ip_options = QByteArray("\x94\x04\x00\x00\x01\x01\x01\x00", 8);
        QTest::newRow("ip-options") << DLT_EN10MB << ethernet(ipv4(p)) << -1
                                    << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|3|616263");
    }
    {
        Ipv4Packet p;
        QTest::newRow("ethernet-padding-no-payload")
                << DLT_EN10MB << ethernet(ipv4(p), 0x0800, {}, 60) << -1
                << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|0|");
        p.payload = "hi";
        QByteArray padded = ethernet(ipv4(p), 0x0800, {}, 60);
        padded[padded.size() - 1] = '\x55'; // padding that is not zero
        QTest::newRow("ethernet-padding-short-payload")
                << DLT_EN10MB << padded << -1
                << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|2|6869");
    }
    QTest::newRow("vlan-802.1q") << DLT_EN10MB << ethernet(helloIp, 0x0800, { 0x8100 }) << -1
                                 << hello;
    QTest::newRow("vlan-802.1ad-double")
            << DLT_EN10MB << ethernet(helloIp, 0x0800, { 0x88A8, 0x8100 }) << -1 << hello;
    QTest::newRow("vlan-three-tags")
            << DLT_EN10MB << ethernet(helloIp, 0x0800, { 0x88A8, 0x8100, 0x8100 }) << -1
            << QString();
    QTest::newRow("cooked-v1") << DLT_LINUX_SLL << cooked_v1(helloIp) << -1 << hello;
    QTest::newRow("cooked-v1-vlan")
            << DLT_LINUX_SLL << cooked_v1(QByteArray("\x00\x64\x08\x00", 4) + helloIp, 0x8100) << -1
            << hello;
    QTest::newRow("cooked-v2") << DLT_LINUX_SLL2 << cooked_v2(helloIp) << -1 << hello;
    QTest::newRow("cooked-v2-ipv6")
            << DLT_LINUX_SLL2 << cooked_v2(helloIp, 0x86DD) << -1 << QString();
    QTest::newRow("raw-ip") << DLT_RAW << helloIp << -1 << hello;
    QTest::newRow("raw-ipv4-link-type") << 228 << helloIp << -1 << hello;
    {
        Ipv4Packet p;
        p.payload = "Hello";
        p.version = 6;
        QTest::newRow("raw-not-version-4") << DLT_RAW << ipv4(p) << -1 << QString();
        QTest::newRow("ethernet-not-version-4")
                << DLT_EN10MB << ethernet(ipv4(p)) << -1 << QString();
    }
    QTest::newRow("unknown-link-type") << DLT_NULL << helloIp << -1 << QString();
    {
        Ipv4Packet p;
        p.payload = "Hello";
        p.protocol = 17;
        QTest::newRow("udp") << DLT_EN10MB << ethernet(ipv4(p)) << -1 << QString();
        p.protocol = 1;
        QTest::newRow("icmp") << DLT_EN10MB << ethernet(ipv4(p)) << -1 << QString();
    }
    // The bytes of a TCP packet behind another EtherType: byte 23 is 6, yet
    // these are no IPv4 frames.
    QTest::newRow("arp-ether-type") << DLT_EN10MB << ethernet(helloIp, 0x0806) << -1 << QString();
    QTest::newRow("ipv6-ether-type") << DLT_EN10MB << ethernet(helloIp, 0x86DD) << -1 << QString();
    QTest::newRow("ieee-802.3-length")
            << DLT_EN10MB << ethernet(helloIp, 0x0040) << -1 << QString();
    {
        Ipv4Packet p;
        p.payload = "Hello";
        p.fragment = 0x2000; // more fragments follow, offset 0
        QTest::newRow("first-fragment") << DLT_EN10MB << ethernet(ipv4(p)) << -1 << hello;
        p.fragment = 0x0003; // offset 24 bytes
        QTest::newRow("later-fragment") << DLT_EN10MB << ethernet(ipv4(p)) << -1 << QString();
    }
    {
        Ipv4Packet p;
        p.src_port = 49152;
        p.dst_port = 65535;
        p.src[0] = 255;
        p.dst[3] = 0;
        QTest::newRow("ports-above-32767") << DLT_EN10MB << ethernet(ipv4(p)) << -1
                                           << QStringLiteral("255.168.0.1|49152|10.0.0.0|65535|0|");
    }
    {
        // Numbers of every digit count, and a payload one byte over a block.
        Ipv4Packet p;
        p.src_port = 9;
        p.dst_port = 10000;
        const unsigned char src[4] = { 0, 9, 10, 99 };
        const unsigned char dst[4] = { 100, 255, 1, 0 };
        std::memcpy(p.src, src, 4);
        std::memcpy(p.dst, dst, 4);
        p.payload = QByteArray("0123456789abcdef\xfe", 17);
        QTest::newRow("digit-counts") << DLT_EN10MB << ethernet(ipv4(p)) << -1
                                      << QStringLiteral("0.9.10.99|9|100.255.1.0|10000|17|")
                        + QString::fromLatin1(p.payload.toHex().toUpper());
        p.src_port = 999;
        p.dst_port = 1000;
        p.payload = QByteArray(1000, '\x5a');
        QTest::newRow("digit-counts-longer")
                << DLT_EN10MB << ethernet(ipv4(p)) << -1
                << QStringLiteral("0.9.10.99|999|100.255.1.0|1000|1000|")
                        + QString::fromLatin1(p.payload.toHex().toUpper());
    }
    const QByteArray hello_frame = tcp_frame("Hello");
    QTest::newRow("snapshot-cuts-payload")
            << DLT_EN10MB << hello_frame << 14 + 20 + 20 + 2
            << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|5|4865");
    QTest::newRow("snapshot-ends-at-payload") << DLT_EN10MB << hello_frame << 14 + 20 + 20
                                              << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|5|");
    QTest::newRow("truncated-in-tcp-header")
            << DLT_EN10MB << hello_frame << 14 + 20 + 19 << QString();
    QTest::newRow("truncated-in-ip-header") << DLT_EN10MB << hello_frame << 30 << QString();
    QTest::newRow("truncated-in-ethernet-header") << DLT_EN10MB << hello_frame << 13 << QString();
    QTest::newRow("truncated-in-vlan-tag")
            << DLT_EN10MB << ethernet(helloIp, 0x0800, { 0x8100 }) << 16 << QString();
    QTest::newRow("nothing-captured") << DLT_EN10MB << hello_frame << 0 << QString();
    {
        Ipv4Packet p;
        p.tcp_options = QByteArray(20, '\x01');
        p.payload = "Hello";
        QTest::newRow("truncated-in-tcp-options")
                << DLT_EN10MB << ethernet(ipv4(p)) << 14 + 20 + 30 << QString();
    }
    {
        QByteArray bad = helloIp;
        bad[0] = 0x44; // header length 16 bytes
        QTest::newRow("ip-header-length-below-20") << DLT_RAW << bad << -1 << QString();
        bad = helloIp;
        bad[32] = 0x40; // TCP data offset 16 bytes
        QTest::newRow("tcp-data-offset-below-20") << DLT_RAW << bad << -1 << QString();
    }
    {
        Ipv4Packet p;
        p.payload = "Hello";
        p.total_length = 30; // shorter than its own headers
        QTest::newRow("total-length-below-headers")
                << DLT_EN10MB << ethernet(ipv4(p)) << -1 << QString();
        p.total_length = 0; // segmentation offload: the packet runs to the frame's end
        QTest::newRow("total-length-zero") << DLT_EN10MB << ethernet(ipv4(p)) << -1 << hello;
        p.total_length = 20 + 20 + 1000; // states more than the frame holds
        QTest::newRow("total-length-beyond-frame")
                << DLT_EN10MB << ethernet(ipv4(p)) << -1
                << QStringLiteral("192.168.0.1|80|10.0.0.5|51000|1000|48656C6C6F");
    }
}

void TstPacketRecord::recordLine()
{
    QFETCH(int, linkType);
    QFETCH(QByteArray, frame);
    QFETCH(int, caplen);
    QFETCH(QString, expected);

    verify_line(decode(linkType, frame, caplen), expected);
}

void TstPacketRecord::timeField_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("leading-zeros")
            << QByteArray("UTC") << qint64(9 * 3600 + 3 * 60 + 5) << QStringLiteral("09:03:05");
    QTest::newRow("midnight") << QByteArray("UTC") << qint64(86400 * 365)
                              << QStringLiteral("00:00:00");
    QTest::newRow("local-not-utc")
            << QByteArray("XST-8") << qint64(9 * 3600 + 3 * 60 + 5) << QStringLiteral("17:03:05");
    QTest::newRow("last-second-of-day")
            << QByteArray("UTC") << qint64(86399) << QStringLiteral("23:59:59");
}

void TstPacketRecord::timeField()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, seconds);
    QFETCH(QString, expected);

    const QByteArray saved = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    const auto restore = qScopeGuard([&] {
        if (hadZone)
            qputenv("TZ", saved);
        else
            qunsetenv("TZ");
        tzset();
    });
    qputenv("TZ", zone);
    tzset();

    const std::optional<QString> line
            = decode(DLT_EN10MB, tcp_frame("x"), -1, static_cast<std::time_t>(seconds));
    QVERIFY(line.has_value());
    QCOMPARE(line->section(QLatin1Char('|'), 0, 0), expected);
}

namespace {

QByteArray hello_ipv6(const QVector<Ipv6Extension>& extensions = {})
{
    Ipv6Packet p;
    p.payload = "Hello";
    p.extensions = extensions;
    return ipv6(p);
}

QByteArray address16(const char* text)
{
    QByteArray bytes(16, '\0');
    inet_pton(AF_INET6, text, bytes.data());
    return bytes;
}

} // namespace

void TstPacketRecord::ipv6Line_data()
{
    QTest::addColumn<int>("linkType");
    QTest::addColumn<QByteArray>("frame");
    // Fields 2 to 7 of the line joined by "|"; empty when no line is expected.
    QTest::addColumn<QString>("expected");

    const QString hello = QStringLiteral("2001:db8::1|80|2001:db8::2|51000|5|48656C6C6F");
    const QByteArray ip = hello_ipv6();

    QTest::newRow("ethernet") << DLT_EN10MB << ethernet(ip, 0x86DD) << hello;
    QTest::newRow("vlan") << DLT_EN10MB << ethernet(ip, 0x86DD, { 0x8100 }) << hello;
    QTest::newRow("vlan-double") << DLT_EN10MB << ethernet(ip, 0x86DD, { 0x88A8, 0x8100 }) << hello;
    QTest::newRow("cooked-v1") << DLT_LINUX_SLL << cooked_v1(ip, 0x86DD) << hello;
    QTest::newRow("cooked-v2") << DLT_LINUX_SLL2 << cooked_v2(ip, 0x86DD) << hello;
    QTest::newRow("raw-by-nibble") << DLT_RAW << ip << hello;
    QTest::newRow("dlt-ipv6") << 229 << ip << hello;
    QTest::newRow("dlt-ipv4-given-ipv6") << 228 << ip << QString();
    QTest::newRow("ipv4-ether-type-given-ipv6") << DLT_EN10MB << ethernet(ip, 0x0800) << QString();
    {
        Ipv4Packet v4;
        v4.payload = "Hello";
        QTest::newRow("dlt-ipv6-given-ipv4") << 229 << ipv4(v4) << QString();
    }

    // Extension headers on the way to TCP.
    QTest::newRow("hop-by-hop") << DLT_RAW << hello_ipv6({ ipv6_options(0) }) << hello;
    QTest::newRow("hop-by-hop-24-bytes") << DLT_RAW << hello_ipv6({ ipv6_options(0, 3) }) << hello;
    QTest::newRow("routing") << DLT_RAW << hello_ipv6({ ipv6_options(43, 3) }) << hello;
    QTest::newRow("destination-options") << DLT_RAW << hello_ipv6({ ipv6_options(60) }) << hello;
    // 24 bytes: (4 + 2) 4-byte units, which the 8-byte rule would read as 40.
    QTest::newRow("authentication") << DLT_RAW << hello_ipv6({ ipv6_authentication(12) }) << hello;
    QTest::newRow("authentication-20-bytes")
            << DLT_RAW << hello_ipv6({ ipv6_authentication(8) }) << hello;
    QTest::newRow("first-fragment") << DLT_RAW << hello_ipv6({ ipv6_fragment(0) }) << hello;
    QTest::newRow("atomic-fragment") << DLT_RAW << hello_ipv6({ ipv6_fragment(0, false) }) << hello;
    QTest::newRow("later-fragment") << DLT_RAW << hello_ipv6({ ipv6_fragment(185) }) << QString();
    QTest::newRow("last-fragment")
            << DLT_RAW << hello_ipv6({ ipv6_fragment(1, false) }) << QString();
    QTest::newRow("every-kind")
            << DLT_EN10MB
            << ethernet(hello_ipv6({ ipv6_options(0), ipv6_options(60, 2), ipv6_options(43),
                                     ipv6_fragment(0), ipv6_authentication(16), ipv6_options(60) }),
                        0x86DD, { 0x8100 })
            << hello;
    {
        Ipv6Packet p;
        p.payload = "Hello";
        p.protocol = 50; // ESP: what follows is encrypted
        QTest::newRow("esp") << DLT_RAW << ipv6(p) << QString();
        p.protocol = 59;
        QTest::newRow("no-next-header") << DLT_RAW << ipv6(p) << QString();
        p.protocol = 17;
        QTest::newRow("udp") << DLT_RAW << ipv6(p) << QString();
        p.extensions = { ipv6_options(0), ipv6_authentication() };
        p.protocol = 58;
        QTest::newRow("icmpv6-behind-extensions") << DLT_RAW << ipv6(p) << QString();
        p.protocol = 50;
        QTest::newRow("esp-behind-extensions") << DLT_RAW << ipv6(p) << QString();
    }

    // Lengths: the payload length field, not the frame, says where TCP ends.
    {
        Ipv6Packet p;
        p.payload = "Hello";
        p.payload_length = 0; // jumbogram or segmentation offload
        QTest::newRow("payload-length-zero") << DLT_EN10MB << ethernet(ipv6(p), 0x86DD) << hello;
        p.extensions = { ipv6_options(0) };
        QTest::newRow("payload-length-zero-hop-by-hop")
                << DLT_EN10MB << ethernet(ipv6(p), 0x86DD) << hello;
        p.extensions.clear();
        p.payload_length = 20 + 1000;
        QTest::newRow("payload-length-beyond-frame")
                << DLT_RAW << ipv6(p)
                << QStringLiteral("2001:db8::1|80|2001:db8::2|51000|1000|48656C6C6F");
        p.payload_length = 20 + 2;
        QTest::newRow("payload-length-short-of-frame")
                << DLT_RAW << ipv6(p) << QStringLiteral("2001:db8::1|80|2001:db8::2|51000|2|4865");
        p.payload_length = 19;
        QTest::newRow("payload-length-below-tcp-header") << DLT_RAW << ipv6(p) << QString();
        p.extensions = { ipv6_options(0, 2) };
        p.payload_length = 16 + 20;
        QTest::newRow("payload-length-counts-extensions")
                << DLT_RAW << ipv6(p) << QStringLiteral("2001:db8::1|80|2001:db8::2|51000|0|");
    }
    {
        Ipv6Packet p;
        p.tcp_options = QByteArray("\x01\x01\x08\x0a\x00\x00\x00\x01\x00\x00\x00\x02", 12);
        p.payload = "abc";
        QTest::newRow("tcp-options") << DLT_RAW << ipv6(p)
                                     << QStringLiteral("2001:db8::1|80|2001:db8::2|51000|3|616263");
    }
}

void TstPacketRecord::ipv6Line()
{
    QFETCH(int, linkType);
    QFETCH(QByteArray, frame);
    QFETCH(QString, expected);

    verify_line(decode(linkType, frame), expected);
}

void TstPacketRecord::ipv6Address_data()
{
    // The address's bytes are built from a spelling; the line must show the
    // RFC 5952 text.
    QTest::addColumn<QByteArray>("spelled");
    QTest::addColumn<QString>("expected");
    QTest::newRow("loopback") << QByteArray("0:0:0:0:0:0:0:1") << QStringLiteral("::1");
    QTest::newRow("unspecified") << QByteArray("0:0:0:0:0:0:0:0") << QStringLiteral("::");
    QTest::newRow("lower-case") << QByteArray("2001:DB8:0:0:0:0:0:2")
                                << QStringLiteral("2001:db8::2");
    QTest::newRow("leading-zeros") << QByteArray("2001:0db8:0000:0000:0000:0000:00a0:0001")
                                   << QStringLiteral("2001:db8::a0:1");
    QTest::newRow("longest-run") << QByteArray("2001:db8:0:0:1:0:0:0")
                                 << QStringLiteral("2001:db8:0:0:1::");
    QTest::newRow("first-of-equal-runs")
            << QByteArray("2001:db8:0:0:1:0:0:1") << QStringLiteral("2001:db8::1:0:0:1");
    QTest::newRow("single-zero-kept")
            << QByteArray("2001:db8:0:1:1:1:1:1") << QStringLiteral("2001:db8:0:1:1:1:1:1");
    QTest::newRow("ipv4-mapped") << QByteArray("::ffff:c000:0201")
                                 << QStringLiteral("::ffff:192.0.2.1");
    QTest::newRow("link-local") << QByteArray("fe80:0:0:0:0200:5eff:fe00:5301")
                                << QStringLiteral("fe80::200:5eff:fe00:5301");
}

void TstPacketRecord::ipv6Address()
{
    QFETCH(QByteArray, spelled);
    QFETCH(QString, expected);

    Ipv6Packet p;
    const QByteArray bytes = address16(spelled.constData());
    std::memcpy(p.src, bytes.constData(), 16);
    std::memcpy(p.dst, bytes.constData(), 16);
    const std::optional<QString> line = decode(DLT_RAW, ipv6(p));
    QVERIFY(line.has_value());
    QCOMPARE(line->section(QLatin1Char('|'), 2, 2), expected);
    QCOMPARE(line->section(QLatin1Char('|'), 4, 4), expected);
}

void TstPacketRecord::truncatedAtEveryByte_data()
{
    QTest::addColumn<int>("linkType");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("payloadAt"); // where the TCP payload starts

    Ipv6Packet p;
    p.payload = "Hello";
    p.tcp_options = QByteArray(12, '\x01');
    p.extensions
            = { ipv6_options(0), ipv6_fragment(0), ipv6_authentication(), ipv6_options(60, 2) };
    const QByteArray ip = ipv6(p);
    const int headers = 40 + 8 + 8 + 24 + 16 + 32;
    QTest::newRow("ipv6-vlan-extensions")
            << DLT_EN10MB << ethernet(ip, 0x86DD, { 0x8100 }) << 18 + headers;
    QTest::newRow("ipv6-cooked-v2") << DLT_LINUX_SLL2 << cooked_v2(ip, 0x86DD) << 20 + headers;
    QTest::newRow("ipv6-raw") << DLT_RAW << ip << headers;
    Ipv4Packet v4;
    v4.payload = "Hello";
    v4.ip_options = QByteArray(4, '\x01');
    QTest::newRow("ipv4-vlan") << DLT_EN10MB << ethernet(ipv4(v4), 0x0800, { 0x8100 })
                               << 18 + 24 + 20;
}

void TstPacketRecord::truncatedAtEveryByte()
{
    QFETCH(int, linkType);
    QFETCH(QByteArray, frame);
    QFETCH(int, payloadAt);

    // Cut before the payload: no line. Cut inside or after it: the line
    // states the whole length and shows what was captured.
    for (int caplen = 0; caplen <= frame.size(); ++caplen) {
        const std::optional<QString> line = decode(linkType, frame, caplen);
        if (caplen < payloadAt) {
            QVERIFY2(!line, qPrintable(QStringLiteral("caplen %1").arg(caplen)));
            continue;
        }
        QVERIFY2(line.has_value(), qPrintable(QStringLiteral("caplen %1").arg(caplen)));
        QCOMPARE(line->section(QLatin1Char('|'), 6, 6), QStringLiteral("5"));
        QCOMPARE(line->section(QLatin1Char('|'), 7, 7),
                 QString::fromLatin1(
                         QByteArray("Hello").left(caplen - payloadAt).toHex().toUpper()));
    }
}

// Every link type under which the decoder gives a row is one a capture file
// of may be opened, and the other way round: a TCP segment in each framing
// the decoder knows, tried under every link type value.
void TstPacketRecord::supportedLinkTypesAreDecoded()
{
    Ipv4Packet v4;
    v4.payload = "Hello";
    Ipv6Packet v6;
    v6.payload = "Hello";
    const QVector<QByteArray> frames = { ethernet(ipv4(v4)),
                                         ethernet(ipv6(v6), 0x86DD),
                                         cooked_v1(ipv4(v4)),
                                         cooked_v2(ipv6(v6), 0x86DD),
                                         ipv4(v4),
                                         ipv6(v6) };
    int decoded = 0;
    for (int link_type = 0; link_type < 1024; ++link_type) {
        bool row = false;
        for (const QByteArray& frame : frames)
            row = row || decode(link_type, frame).has_value();
        decoded += row ? 1 : 0;
        QVERIFY2(row == link_type_supported(link_type),
                 qPrintable(QStringLiteral("%1: decoded %2, supported %3")
                                    .arg(link_type_text(link_type))
                                    .arg(row)
                                    .arg(link_type_supported(link_type))));
    }
    QCOMPARE(decoded, 6); // Ethernet, cooked v1 and v2, raw, IPv4, IPv6
}

QTEST_APPLESS_MAIN(TstPacketRecord)
#include "tst_packetrecord.moc"

void TstPacketRecord::segmentHeader_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("caplen"); // -1: whole
    QTest::addColumn<int>("version");
    QTest::addColumn<quint32>("seq");
    QTest::addColumn<quint32>("ack");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("payloadOffset");
    QTest::addColumn<int>("stated");
    QTest::addColumn<int>("captured");
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("windowScale");

    testframes::Ipv4Packet syn;
    syn.seq = 0xFFFFFFF0u;
    syn.tcp_flags = 0x02;
    syn.window = 64240;
    // MSS, SACK permitted, NOP, window scale 7, as Linux sends them.
    syn.tcp_options = QByteArray("\x02\x04\x05\xb4\x04\x02\x01\x03\x03\x07\x01\x01", 12);
    syn.payload = "hello";
    QTest::newRow("ipv4-syn-data") << testframes::ethernet(testframes::ipv4(syn)) << -1 << 4
                                   << 0xFFFFFFF0u << 0u << 0x02 << 14 + 20 + 32 << 5 << 5 << 64240
                                   << 7;
    syn.tcp_options = QByteArray("\x03\x02\x01\x01", 4); // a scale option too short
    QTest::newRow("malformed-scale-option") << testframes::ethernet(testframes::ipv4(syn)) << -1
                                            << 4 << 0xFFFFFFF0u << 0u << 0x02 << 14 + 20 + 24 << 5
                                            << 5 << 64240 << -1;
    testframes::Ipv4Packet cut;
    cut.seq = 1000;
    cut.ack = 77;
    cut.tcp_flags = 0x11;
    cut.payload = QByteArray(100, 'x');
    cut.window = 0;
    QTest::newRow("ipv4-fin-cut-by-snaplen") << testframes::ethernet(testframes::ipv4(cut)) << 64
                                             << 4 << 1000u << 77u << 0x11 << 54 << 100 << 10 << 0
                                             << -1;
    testframes::Ipv6Packet six;
    six.seq = 42;
    six.ack = 0x80000000u;
    six.tcp_flags = 0x04;
    six.extensions = { testframes::ipv6_options(0) };
    QTest::newRow("ipv6-rst-after-options")
            << testframes::ethernet(testframes::ipv6(six), 0x86DD) << -1 << 6 << 42u << 0x80000000u
            << 0x04 << 14 + 40 + 8 + 20 << 0 << 0 << 65535 << -1;
}

void TstPacketRecord::segmentHeader()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, caplen);
    QFETCH(int, version);
    QFETCH(quint32, seq);
    QFETCH(quint32, ack);
    QFETCH(int, flags);
    QFETCH(int, payloadOffset);
    QFETCH(int, stated);
    QFETCH(int, captured);
    QFETCH(int, window);
    QFETCH(int, windowScale);

    const pcap_pkthdr header = testframes::header_for(frame, 0, caplen);
    const auto data = reinterpret_cast<const unsigned char*>(frame.constData());
    const std::optional<TcpSegmentHeader> segment = decode_tcp_segment(DLT_EN10MB, header, data);
    QVERIFY(segment.has_value());
    QCOMPARE(segment->version, version);
    QCOMPARE(segment->seq, seq);
    QCOMPARE(segment->ack, ack);
    QCOMPARE(int(segment->flags), flags);
    QCOMPARE(int(segment->payload_offset), payloadOffset);
    QCOMPARE(int(segment->stated), stated);
    QCOMPARE(int(segment->captured), captured);
    QCOMPARE(int(segment->window), window);
    QCOMPARE(int(segment->window_scale), windowScale);
    QCOMPARE(segment->source_port, quint16(80));
    QCOMPARE(segment->destination_port, quint16(51000));
    // The payload is what the row's line shows.
    const QString line = *make_record_line(DLT_EN10MB, header, data);
    QCOMPARE(line.section(QLatin1Char('|'), 7),
             QString::fromLatin1(frame.mid(payloadOffset, captured).toHex().toUpper()));
    // An address at the front of the field; the rest stays zero for IPv4.
    QCOMPARE(int(segment->source[version == 4 ? 0 : 1]), version == 4 ? 192 : 0x01);
    QCOMPARE(int(segment->source[4]), 0);
    // Decoded with the line into a header that held another frame's (an
    // IPv6 one's longer addresses, say): nothing of that is left.
    TcpSegmentHeader reused;
    reused.source.fill(0xEE);
    reused.destination.fill(0xEE);
    QVERIFY(make_record_line(DLT_EN10MB, header, data, &reused));
    QCOMPARE(reused.source, segment->source);
    QCOMPARE(reused.destination, segment->destination);
    // Decoded in one pass with the line, the header is the same; without its
    // payload hex the line is the same up to its last field.
    TcpSegmentHeader with_line;
    const std::optional<QString> short_line
            = make_record_line(DLT_EN10MB, header, data, &with_line, false);
    QVERIFY(short_line.has_value());
    QCOMPARE(*short_line, line.section(QLatin1Char('|'), 0, 6) + QLatin1Char('|'));
    QCOMPARE(with_line.seq, seq);
    QCOMPARE(with_line.ack, ack);
    QCOMPARE(int(with_line.flags), flags);
    QCOMPARE(int(with_line.payload_offset), payloadOffset);
    QCOMPARE(int(with_line.stated), stated);
    QCOMPARE(int(with_line.captured), captured);
    QCOMPARE(int(with_line.window_scale), windowScale);
    QCOMPARE(with_line.source, segment->source);
}
