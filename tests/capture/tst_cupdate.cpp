// SPDX-License-Identifier: GPL-2.0-or-later

#include <memory>

#include <pcap/pcap.h>

#include <QtTest>

#include "captureobserver.h"
#include "capturestore.h"
#include "cupdate.h"
#include "packetrecord.h"
#include "testframes.h"

using namespace testframes;

namespace {

QByteArray tcp(const QByteArray& payload, std::uint16_t src_port = 80)
{
    Ipv4Packet p;
    p.payload = payload;
    p.src_port = src_port;
    return ipv4(p);
}

QByteArray udp(const QByteArray& payload)
{
    Ipv4Packet p;
    p.payload = payload;
    p.protocol = 17;
    return ipv4(p);
}

QByteArray tcp6(const QByteArray& payload, std::uint16_t src_port)
{
    Ipv6Packet p;
    p.payload = payload;
    p.src_port = src_port;
    return ipv6(p);
}

QString hex_field(const QString& line)
{
    return line.section(QLatin1Char('|'), 7, 7);
}

} // namespace

class TstCUpdate : public QObject
{
    Q_OBJECT

private slots:
    void captureFile_data();
    void captureFile();
    void captureFilterOnFile_data();
    void captureFilterOnFile();
    void unopenableSource_data();
    void unopenableSource();
    void parseWithoutSource();
    void updateTableNeedsEightFields_data();
    void updateTableNeedsEightFields();
    void settingsCopiedAtConstruction();
    void liveLoopback_data();
    void liveLoopback();
    void destroyRunningCapture();
    void backlogBounded_data();
    void backlogBounded();
};

void TstCUpdate::captureFile_data()
{
    QTest::addColumn<int>("linkType");
    QTest::addColumn<QVector<QByteArray>>("frames");

    const QVector<QByteArray> packets
            = { tcp("first", 1001), udp("not tcp"), tcp({}, 1002), tcp("third", 1003) };
    QVector<QByteArray> ethernetFrames;
    QVector<QByteArray> cookedV1;
    QVector<QByteArray> cookedV2;
    for (const QByteArray& packet : packets) {
        ethernetFrames.append(ethernet(packet));
        cookedV1.append(cooked_v1(packet));
        cookedV2.append(cooked_v2(packet));
    }
    ethernetFrames.insert(2, ethernet(tcp("arp"), 0x0806));
    QTest::newRow("ethernet") << DLT_EN10MB << ethernetFrames;
    QTest::newRow("cooked-v1") << DLT_LINUX_SLL << cookedV1;
    QTest::newRow("cooked-v2") << DLT_LINUX_SLL2 << cookedV2;
    QTest::newRow("raw-ip") << DLT_RAW << packets;
    QTest::newRow("ipv4") << DLT_IPV4 << packets;
    QVector<QByteArray> packets6 = { tcp6("first", 1001), tcp6({}, 1002), tcp6("third", 1003) };
    QTest::newRow("ipv6") << DLT_IPV6 << packets6;
    packets6.insert(1, udp("not tcp"));
    QTest::newRow("raw-ip-both-versions") << DLT_RAW << packets6;
}

void TstCUpdate::captureFile()
{
    QFETCH(int, linkType);
    QFETCH(QVector<QByteArray>, frames);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("frames.pcap"));
    QVERIFY(write_capture(path, linkType, frames));

    CUpdate capture(FilterSettings {});
    CaptureObserver observer(capture);
    capture.adapter_name = QStringLiteral("file://") + path;
    capture.start();
    QTRY_VERIFY_WITH_TIMEOUT(observer.finished, 10000);

    QVERIFY(observer.failures.isEmpty());
    QCOMPARE(observer.lines.size(), 3);
    const QStringList ports
            = { QStringLiteral("1001"), QStringLiteral("1002"), QStringLiteral("1003") };
    for (int i = 0; i < 3; ++i)
        QCOMPARE(observer.lines.at(i).section(QLatin1Char('|'), 3, 3), ports.at(i));
    QCOMPARE(hex_field(observer.lines.at(0)), QStringLiteral("6669727374"));
    QCOMPARE(hex_field(observer.lines.at(1)), QString());
    QCOMPARE(hex_field(observer.lines.at(2)), QStringLiteral("7468697264"));
    QVERIFY(capture.isFinished());
    QCOMPARE(capture.pcap_handle, nullptr); // closed when the capture ended
    // Every frame, those that make no line too.
    QCOMPARE(capture.frames_read.load(), std::int64_t { frames.size() });
}

void TstCUpdate::captureFilterOnFile_data()
{
    QTest::addColumn<int>("linkType");
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QStringList>("ports"); // source ports of the lines, in order
    QTest::addColumn<QString>("reason"); // part of libpcap's objection, if any
    QTest::addColumn<int>("read"); // frames the capture filter let through

    const QStringList all = { "1001", "1002", "1003", "1004" };
    QTest::newRow("off") << DLT_EN10MB << false << "tcp port 1002" << all << QString() << 5;
    QTest::newRow("off-even-if-invalid")
            << DLT_EN10MB << false << "tcp port" << all << QString() << 5;
    QTest::newRow("empty-takes-all") << DLT_EN10MB << true << QString() << all << QString() << 5;
    QTest::newRow("one-port") << DLT_EN10MB << true << "tcp port 1002" << QStringList { "1002" }
                              << QString() << 1;
    QTest::newRow("not-a-port") << DLT_EN10MB << true << "not tcp src port 1001"
                                << QStringList { "1002", "1003", "1004" } << QString() << 4;
    QTest::newRow("ipv6-only") << DLT_EN10MB << true << "ip6" << QStringList { "1003", "1004" }
                               << QString() << 2;
    QTest::newRow("ipv6-host") << DLT_EN10MB << true << "host 2001:DB8::1 and tcp port 1004"
                               << QStringList { "1004" } << QString() << 1;
    QTest::newRow("cooked-v2") << DLT_LINUX_SLL2 << true << "ip and tcp port 1001 or 1002"
                               << QStringList { "1001", "1002" } << QString() << 2;
    QTest::newRow("raw-ip") << DLT_RAW << true << "ip6" << QStringList { "1003", "1004" }
                            << QString() << 2;
    QTest::newRow("rejected-syntax")
            << DLT_EN10MB << true << "tcp port" << QStringList() << "syntax error" << 0;
    QTest::newRow("rejected-port")
            << DLT_EN10MB << true << "tcp port 70000" << QStringList() << "70000" << 0;
    // Valid on Ethernet, not for a link without MAC addresses.
    QTest::newRow("rejected-for-link")
            << DLT_RAW << true << "ether host 02:00:00:00:00:01" << QStringList() << "ether" << 0;
}

void TstCUpdate::captureFilterOnFile()
{
    QFETCH(int, linkType);
    QFETCH(bool, on);
    QFETCH(QString, expression);
    QFETCH(QStringList, ports);
    QFETCH(QString, reason);
    QFETCH(int, read);

    // Two IPv4 segments, then two IPv6 ones, with a UDP packet between.
    QVector<QByteArray> packets = { tcp("a", 1001), tcp("b", 1002), udp("c") };
    for (std::uint16_t port : { 1003, 1004 }) {
        Ipv6Packet p;
        p.src_port = port;
        p.payload = "d";
        packets.append(ipv6(p));
    }
    QVector<QByteArray> frames;
    for (const QByteArray& packet : packets) {
        const std::uint16_t type = (packet.at(0) >> 4) == 6 ? 0x86DD : 0x0800;
        frames.append(linkType == DLT_EN10MB               ? ethernet(packet, type)
                              : linkType == DLT_LINUX_SLL2 ? cooked_v2(packet, type)
                                                           : packet);
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("frames.pcap"));
    QVERIFY(write_capture(path, linkType, frames));

    FilterSettings settings;
    settings.capture_filter_on = on;
    settings.capture_filter = expression;
    CUpdate capture(settings);
    CaptureObserver observer(capture);
    capture.adapter_name = QStringLiteral("file://") + path;
    capture.start();
    QTRY_VERIFY_WITH_TIMEOUT(observer.finished, 10000);

    QStringList seen;
    for (const QString& line : std::as_const(observer.lines))
        seen.append(line.section(QLatin1Char('|'), 3, 3));
    QCOMPARE(seen, ports);
    if (reason.isEmpty()) {
        QVERIFY(observer.failures.isEmpty());
        // What the capture filter lets through is read; the rest never
        // reaches the capture.
        QCOMPARE(capture.frames_read.load(), std::int64_t { read });
        return;
    }
    QCOMPARE(capture.frames_read.load(), std::int64_t { -1 }); // never started
    QCOMPARE(observer.failures.size(), 1);
    QVERIFY2(observer.failures.first().contains(reason), qPrintable(observer.failures.first()));
    QCOMPARE(capture.pcap_handle, nullptr);
}

void TstCUpdate::unopenableSource_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("missing-file") << QStringLiteral("file:///nonexistent/tarnlook/none.pcap");
    QTest::newRow("not-a-capture-file") << QStringLiteral("file:///etc/hostname");
    QTest::newRow("no-such-adapter") << QStringLiteral("tarnlook-none0");
    QTest::newRow("empty-name") << QString();
}

void TstCUpdate::unopenableSource()
{
    QFETCH(QString, source);

    CUpdate capture(FilterSettings {});
    CaptureObserver observer(capture);
    capture.adapter_name = source;
    capture.start();
    QTRY_VERIFY_WITH_TIMEOUT(observer.finished, 10000);

    QCOMPARE(observer.failures.size(), 1);
    QVERIFY2(!observer.failures.first().trimmed().isEmpty(), "libpcap's reason is passed on");
    QVERIFY(observer.lines.isEmpty());
    QCOMPARE(capture.pcap_handle, nullptr);
    QCOMPARE(capture.frames_read.load(), std::int64_t { -1 });
}

void TstCUpdate::parseWithoutSource()
{
    CUpdate capture(FilterSettings {});
    QSignalSpy lines(&capture, &CUpdate::send_update);

    const QByteArray frame = ethernet(tcp("Hello"));
    const pcap_pkthdr header = header_for(frame);
    capture.parse_packet(&header, reinterpret_cast<const u_char*>(frame.constData()));
    QCOMPARE(lines.size(), 1);
    QCOMPARE(hex_field(lines.at(0).at(0).toString()), QStringLiteral("48656C6C6F"));

    // Without an open source the frame is read as Ethernet II: raw IP is not.
    const QByteArray raw = tcp("Hello");
    const pcap_pkthdr rawHeader = header_for(raw);
    capture.parse_packet(&rawHeader, reinterpret_cast<const u_char*>(raw.constData()));
    const QByteArray notTcp = ethernet(udp("Hello"));
    const pcap_pkthdr udpHeader = header_for(notTcp);
    capture.parse_packet(&udpHeader, reinterpret_cast<const u_char*>(notTcp.constData()));
    QCOMPARE(lines.size(), 1);
}

void TstCUpdate::updateTableNeedsEightFields_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("emissions");
    QTest::newRow("eight") << QStringLiteral("09:03:05|TCP|1.2.3.4|80|5.6.7.8|443|0|") << 1;
    QTest::newRow("eight-with-hex")
            << QStringLiteral("09:03:05|TCP|1.2.3.4|80|5.6.7.8|443|1|41") << 1;
    QTest::newRow("seven") << QStringLiteral("09:03:05|TCP|1.2.3.4|80|5.6.7.8|443|0") << 0;
    QTest::newRow("nine") << QStringLiteral("09:03:05|TCP|1.2.3.4|80|5.6.7.8|443|0||") << 0;
    QTest::newRow("empty") << QString() << 0;
}

void TstCUpdate::updateTableNeedsEightFields()
{
    QFETCH(QString, line);
    QFETCH(int, emissions);
    CUpdate capture(FilterSettings {});
    QSignalSpy spy(&capture, &CUpdate::send_update);
    capture.update_table(line);
    QCOMPARE(spy.size(), emissions);
    if (emissions > 0)
        QCOMPARE(spy.at(0).at(0).toString(), line);
}

void TstCUpdate::settingsCopiedAtConstruction()
{
    FilterSettings settings;
    settings.include_port_enabled = true;
    settings.include_ports = QStringList { QStringLiteral("80") };
    CUpdate capture(settings);
    settings.include_ports[0] = QStringLiteral("443");
    settings.exclude_ip_enabled = true;
    QCOMPARE(capture.filter.include_ports, QStringList { QStringLiteral("80") });
    QVERIFY(capture.filter.include_port_enabled);
    QVERIFY(!capture.filter.exclude_ip_enabled);
    QVERIFY(!capture.stop_flag.load());
    QVERIFY(capture.adapter_name.isEmpty());
    QCOMPARE(capture.pcap_handle, nullptr);
}

void TstCUpdate::liveLoopback_data()
{
    QTest::addColumn<bool>("overIpv6");
    QTest::addColumn<QString>("address");
    QTest::newRow("ipv4") << false << "127.0.0.1";
    QTest::newRow("ipv6") << true << "::1";
}

void TstCUpdate::liveLoopback()
{
    QFETCH(bool, overIpv6);
    QFETCH(QString, address);
    QString reason;
    if (!can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));

    CUpdate capture(FilterSettings {});
    CaptureObserver observer(capture);
    capture.adapter_name = QStringLiteral("lo");
    capture.start();

    // The capture opens the adapter on its own thread; send until the
    // segments show up (every attempt is a fresh connection).
    const QByteArray request("tarnlook request \x01\x02", 19);
    const QByteArray reply("tarnlook reply");
    const QString requestHex = QString::fromLatin1(request.toHex().toUpper());
    const QString replyHex = QString::fromLatin1(reply.toHex().toUpper());
    QStringList ports; // of every connection made
    auto find = [&](const QString& hex, int portField = 0, const QString& port = {}) {
        for (const QString& line : std::as_const(observer.lines))
            if (hex_field(line) == hex
                && (port.isEmpty() || line.section(QLatin1Char('|'), portField, portField) == port))
                return line;
        return QString();
    };
    for (int attempt = 0; attempt < 30 && find(requestHex).isEmpty(); ++attempt) {
        const std::uint16_t port = overIpv6 ? exchange_on_ipv6_loopback(request, reply)
                                            : exchange_on_loopback(request, reply);
        QVERIFY(port != 0);
        ports.append(QString::number(port));
        if (QTest::qWaitFor([&] { return !find(requestHex).isEmpty(); }, 500))
            break;
    }
    QVERIFY(observer.failures.isEmpty());
    const QStringList sent = find(requestHex).split(QLatin1Char('|'));
    QCOMPARE(sent.size(), 8);
    QCOMPARE(sent.at(2), address);
    QCOMPARE(sent.at(4), address);
    QVERIFY(ports.contains(sent.at(5))); // to the listening side
    QCOMPARE(sent.at(6), QString::number(request.size()));
    // The reply of the same connection comes back from the listening port.
    QTRY_VERIFY_WITH_TIMEOUT(!find(replyHex, 3, sent.at(5)).isEmpty(), 5000);
    const QStringList answered = find(replyHex, 3, sent.at(5)).split(QLatin1Char('|'));
    QCOMPARE(answered.at(5), sent.at(3));
    QCOMPARE(answered.at(6), QString::number(reply.size()));

    // lo is quiet now: stopping must not wait for another frame.
    capture.stop_flag = true;
    QVERIFY2(capture.wait(2000), "the capture ends within 2 s of the stop flag");
    QTRY_VERIFY(observer.finished);
    QCOMPARE(capture.pcap_handle, nullptr);
}

void TstCUpdate::destroyRunningCapture()
{
    QString reason;
    if (!can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));

    auto capture = std::make_unique<CUpdate>(FilterSettings {});
    CaptureObserver observer(*capture);
    capture->adapter_name = QStringLiteral("lo");
    capture->start();
    QVERIFY(capture->isRunning());
    // Stops and joins instead of destroying a running thread: the thread has
    // finished by the time the object is gone.
    capture.reset();
    QTRY_VERIFY(observer.finished);
    QVERIFY(observer.failures.isEmpty());
}

QTEST_GUILESS_MAIN(TstCUpdate)
#include "tst_cupdate.moc"

void TstCUpdate::backlogBounded_data()
{
    QTest::addColumn<bool>("live");
    // A file waits for room and loses nothing; a live adapter cannot wait
    // and drops what finds no room, before storing it.
    QTest::newRow("file-waits") << false;
    QTest::newRow("adapter-drops") << true;
}

void TstCUpdate::backlogBounded()
{
    QFETCH(bool, live);
    QString reason;
    if (live && !can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));
    constexpr std::size_t kRoom = 16;
    constexpr int kFrames = 300;
    constexpr std::uint32_t kAddress = 0x7F03070B; // 127.3.7.11, this test's own

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    QVERIFY(store.isValid());
    FilterSettings settings;
    if (live) {
        settings.capture_filter_on = true;
        settings.capture_filter = QStringLiteral("tcp and host 127.3.7.11");
    }
    CUpdate capture(settings);
    capture.store = &store;
    capture.set_backlog_limits(kRoom, std::size_t(1) << 20);
    QObject context;
    int told = 0;
    connect(&capture, &CUpdate::batch_ready, &context, [&told] { ++told; });
    if (live) {
        capture.adapter_name = QStringLiteral("lo");
    } else {
        QVector<QByteArray> frames;
        for (int i = 0; i < kFrames; ++i)
            frames.append(ethernet(tcp("row", static_cast<std::uint16_t>(1000 + i))));
        const QString path = dir.filePath(QStringLiteral("many.pcap"));
        QVERIFY(write_capture(path, DLT_EN10MB, frames, 1700000000));
        capture.adapter_name = QStringLiteral("file://") + path;
    }
    capture.start();
    if (live) {
        QTRY_VERIFY_WITH_TIMEOUT(capture.pcap_handle != nullptr, 10000);
        for (int i = 0; i < 10; ++i)
            QVERIFY(exchange_on_loopback("backlog", "full", kAddress) != 0);
        QTRY_VERIFY_WITH_TIMEOUT(capture.frames_read.load() > std::int64_t(2 * kRoom), 10000);
        capture.stop_flag = true;
    } else {
        // Nothing taken: the file waits with the backlog full.
        QTRY_VERIFY_WITH_TIMEOUT(told > 0, 10000);
        QVERIFY(!capture.wait(200));
        QVERIFY(capture.frames_read.load() < kFrames);
    }

    std::vector<CaptureRow> rows;
    QStringList lines;
    const auto take = [&] {
        while (std::optional<CaptureBatch> batch = capture.take_batch()) {
            for (const CaptureRow& row : batch->rows) {
                rows.push_back(row);
                const std::string_view line = batch->line(row);
                lines.append(QString::fromUtf8(line.data(), static_cast<int>(line.size())));
            }
        }
    };
    QVERIFY(QTest::qWaitFor(
            [&] {
                const bool finished = capture.isFinished();
                take();
                return finished;
            },
            10000));

    // Every frame read is a row taken or a row counted as dropped, and only
    // the rows taken have stored frames.
    QCOMPARE(std::int64_t(rows.size() + capture.rows_dropped.load()), capture.frames_read.load());
    QCOMPARE(std::int64_t(rows.size()), store.frame_count());
    QCOMPARE(capture.rows_dropped.load() > 0, live);
    if (!live)
        QCOMPARE(int(rows.size()), kFrames);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CaptureRow& row = rows[i];
        QVERIFY(row.frame.has_value() && row.segment.has_value());
        const std::optional<StoredFrame> frame = store.read_frame(*row.frame);
        QVERIFY(frame.has_value());
        // The segment is the stored frame's, as decoded from its bytes.
        pcap_pkthdr header = header_for(frame->bytes);
        const std::optional<TcpSegmentHeader> decoded = decode_tcp_segment(
                DLT_EN10MB, header, reinterpret_cast<const u_char*>(frame->bytes.constData()));
        QVERIFY(decoded.has_value());
        QCOMPARE(row.segment->header.source_port, decoded->source_port);
        QCOMPARE(row.segment->header.seq, decoded->seq);
        QCOMPARE(row.segment->seconds, frame->seconds);
        QCOMPARE(lines.at(static_cast<int>(i)).section(QLatin1Char('|'), 3, 3),
                 QString::number(decoded->source_port));
        if (!live)
            QCOMPARE(int(decoded->source_port), 1000 + int(i));
    }
}
