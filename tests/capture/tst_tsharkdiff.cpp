// SPDX-License-Identifier: GPL-2.0-or-later

#include <atomic>
#include <cstring>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "cupdate.h"
#include "looprecorder.h"
#include "packetrecord.h"
#include "testframes.h"

// Our record lines against tshark's reading of the same capture of real
// traffic: an HTTP server answering requests on 127.0.0.1 and on ::1, with
// bodies from 0 B to 1 MiB both ways, segments large and small and TCP
// options on (Linux sends timestamps).

namespace {

const QByteArray kMarker("tarnlook-differential-end-marker");

// Sends the request on a new connection to the loopback address of the
// family (127.0.0.1 or ::1), port, and reads until the server closes it.
// Returns the bytes received.
QByteArray http_exchange(int family, quint16 port, const QByteArray& request)
{
    const int fd = socket(family, SOCK_STREAM, 0);
    sockaddr_storage storage {};
    socklen_t length = 0;
    if (family == AF_INET6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(port);
        address->sin6_addr = in6addr_loopback;
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_port = htons(port);
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *address;
    }
    QByteArray received;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) == 0) {
        for (qsizetype sent = 0; sent < request.size();) {
            const ssize_t n = send(fd, request.constData() + sent, request.size() - sent, 0);
            if (n <= 0)
                break;
            sent += n;
        }
        char chunk[65536];
        for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;)
            received.append(chunk, int(n));
    }
    close(fd);
    return received;
}

// Fields 2 to 7 of a record line in tshark's order and spelling.
QString as_tshark_fields(const QString& line)
{
    const QStringList f = line.split(QLatin1Char('|'));
    return QStringList { f.at(2), f.at(3), f.at(4), f.at(5), f.at(6), f.at(7).toLower() }.join(
            QLatin1Char('\t'));
}

} // namespace

class TstTsharkDiff : public QObject
{
    Q_OBJECT

private slots:
    void recordLinesMatchTshark_data();
    void recordLinesMatchTshark();
    void ipv6HeadersMatchTshark();
};

void TstTsharkDiff::recordLinesMatchTshark_data()
{
    QTest::addColumn<int>("family");
    QTest::addColumn<QString>("address"); // where the server listens
    QTest::addColumn<QString>("ip"); // tshark's protocol name
    QTest::newRow("ipv4") << int(AF_INET) << "127.0.0.1"
                          << "ip";
    QTest::newRow("ipv6") << int(AF_INET6) << "::1"
                          << "ipv6";
}

void TstTsharkDiff::recordLinesMatchTshark()
{
    QFETCH(int, family);
    QFETCH(QString, address);
    QFETCH(QString, ip);

    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (tshark.isEmpty() || python.isEmpty())
        QSKIP("tshark and python3 are needed (scripts/install-deps installs them)");
    QString reason;
    if (!testframes::can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));

    // Files of many sizes for the server to send, from empty to a mebibyte.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QRandomGenerator random(7);
    const QList<int> sizes = { 0, 1, 100, 1448, 1449, 5000, 70000, 1 << 20 };
    for (int size : sizes) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char& byte : bytes)
            byte = char(random.bounded(256));
        QFile file(dir.filePath(QStringLiteral("www/%1").arg(size)));
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("www"))));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QProcess server;
    server.setWorkingDirectory(dir.filePath(QStringLiteral("www")));
    server.start(python,
                 { QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                   QStringLiteral("--bind"), address, QStringLiteral("0") });
    QVERIFY(server.waitForStarted());
    const auto stopServer = qScopeGuard([&] {
        server.kill();
        server.waitForFinished();
    });
    // "Serving HTTP on ::1 port N (http://[::1]:N/) ..."
    QByteArray banner;
    QTRY_VERIFY_WITH_TIMEOUT((banner += server.readAllStandardOutput()).contains("port "), 10000);
    const quint16 port = banner.mid(banner.indexOf("port ") + 5).split(' ').first().toUShort();
    QVERIFY(port != 0);

    const QString capture = dir.filePath(QStringLiteral("traffic.pcap"));
    // Room for the whole exchange: frames of up to 64 KiB come faster than a
    // loaded machine writes them out, and a kernel drop of the last request
    // would lose the marker.
    LoopbackRecorder recorder(capture, port, 262144, 64 << 20, kMarker);
    QVERIFY2(recorder.error().isEmpty(), qPrintable(recorder.error()));

    for (int size : sizes) {
        const QByteArray reply = http_exchange(family, port,
                                               "GET /" + QByteArray::number(size)
                                                       + " HTTP/1.0\r\nHost: test\r\n\r\n");
        QVERIFY2(reply.startsWith("HTTP/1.0 200"), reply.left(40).constData());
        QVERIFY(reply.size() > size);
    }
    // A large request body: big segments from the client side too.
    http_exchange(family, port,
                  "PUT /x HTTP/1.0\r\nContent-Length: 300000\r\n\r\n" + QByteArray(300000, 'u'));
    http_exchange(family, port, "GET /" + kMarker + " HTTP/1.0\r\n\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(recorder.markerSeen(), 10000);
    recorder.stop();

    // Our reading, through the same road as a capture.
    CUpdate reader { FilterSettings {} };
    QStringList ours;
    bool finished = false;
    QObject context;
    connect(&reader, &CUpdate::send_update, &context,
            [&](const QString& line) { ours.append(as_tshark_fields(line)); });
    connect(&reader, &QThread::finished, &context, [&] { finished = true; });
    reader.adapter_name = QStringLiteral("file://") + capture;
    reader.start();
    QTRY_VERIFY_WITH_TIMEOUT(finished, 30000);

    // The TCP header length first: it tells that options (timestamps) were
    // on, and is left out of the comparison.
    QProcess decoder;
    decoder.start(tshark, { QStringLiteral("-r"), capture,
                            QStringLiteral("-Y"), ip + QStringLiteral(" && tcp"),
                            QStringLiteral("-T"), QStringLiteral("fields"),
                            QStringLiteral("-e"), QStringLiteral("tcp.hdr_len"),
                            QStringLiteral("-e"), ip + QStringLiteral(".src"),
                            QStringLiteral("-e"), QStringLiteral("tcp.srcport"),
                            QStringLiteral("-e"), ip + QStringLiteral(".dst"),
                            QStringLiteral("-e"), QStringLiteral("tcp.dstport"),
                            QStringLiteral("-e"), QStringLiteral("tcp.len"),
                            QStringLiteral("-e"), QStringLiteral("tcp.payload") });
    QVERIFY(decoder.waitForFinished(120000));
    QCOMPARE(decoder.exitCode(), 0);
    QStringList theirs;
    int withOptions = 0;
    for (const QString& row : QString::fromLatin1(decoder.readAllStandardOutput())
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        withOptions += row.section(QLatin1Char('\t'), 0, 0).toInt() > 20 ? 1 : 0;
        theirs.append(row.section(QLatin1Char('\t'), 1));
    }
    QVERIFY2(withOptions > theirs.size() / 2, "segments carry TCP options (timestamps)");

    QVERIFY(theirs.size() > 2 * sizes.size()); // real traffic was recorded
    int withPayload = 0;
    int largest = 0;
    for (int i = 0; i < qMin(ours.size(), theirs.size()); ++i) {
        QVERIFY2(ours.at(i) == theirs.at(i),
                 qPrintable(QStringLiteral("frame %1 differs:\nours   %2\ntshark %3")
                                    .arg(i + 1)
                                    .arg(ours.at(i).left(200), theirs.at(i).left(200))));
        const int length = ours.at(i).section(QLatin1Char('\t'), 4, 4).toInt();
        withPayload += length > 0 ? 1 : 0;
        largest = qMax(largest, length);
    }
    QCOMPARE(ours.size(), theirs.size());
    QVERIFY(withPayload > sizes.size());
    QVERIFY2(largest > 1448, "segments larger than one Ethernet payload were compared");
}

// Frames that live traffic on lo does not carry: every IPv6 extension
// header on the way to TCP, VLAN tags, addresses of every shape. tshark
// reads each as ours does. Where the two part by design, tshark gives no
// TCP length: a first fragment whose rest is missing, and a payload length
// of 0, which we run to the end of the frame.
void TstTsharkDiff::ipv6HeadersMatchTshark()
{
    using namespace testframes;
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty())
        QSKIP("tshark is needed (scripts/install-deps installs it)");

    auto hello = [](const QVector<Ipv6Extension>& extensions, int payloadLength = -1) {
        Ipv6Packet p;
        p.payload = "Hello";
        p.extensions = extensions;
        p.payload_length = payloadLength;
        return ipv6(p);
    };
    Ipv6Packet shaped;
    shaped.tcp_options = QByteArray("\x01\x01\x08\x0a", 4) + QByteArray(8, '\x07');
    shaped.payload = QByteArray(1448, '\xA5');
    const unsigned char mapped[16] = { 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1 };
    const unsigned char linkLocal[16]
            = { 0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0x02, 0, 0x5e, 0xff, 0xfe, 0, 0x53, 0x01 };
    std::memcpy(shaped.src, mapped, 16);
    std::memcpy(shaped.dst, linkLocal, 16);
    const QVector<QByteArray> frames = {
        ethernet(hello({}), 0x86DD),
        ethernet(hello({ ipv6_options(0) }), 0x86DD, { 0x8100 }),
        ethernet(hello({ ipv6_options(0, 3) }), 0x86DD, { 0x88A8, 0x8100 }),
        ethernet(hello({ ipv6_options(43, 3) }), 0x86DD),
        ethernet(hello({ ipv6_options(60, 2) }), 0x86DD),
        ethernet(hello({ ipv6_authentication(12) }), 0x86DD),
        ethernet(hello({ ipv6_authentication(8) }), 0x86DD),
        ethernet(hello({ ipv6_fragment(0, false) }), 0x86DD),
        ethernet(hello({ ipv6_options(0), ipv6_options(60), ipv6_options(43),
                         ipv6_fragment(0, false), ipv6_authentication(16), ipv6_options(60, 2) }),
                 0x86DD, { 0x8100 }),
        ethernet(hello({}, 20 + 2), 0x86DD),
        ethernet(ipv6(shaped), 0x86DD),
        ethernet(hello({ ipv6_fragment(0) }), 0x86DD), // tshark: no length
        ethernet(hello({}, 0), 0x86DD), // tshark: no TCP
    };
    const int agreeing = frames.size() - 2;

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString capture = dir.filePath(QStringLiteral("ipv6.pcap"));
    QVERIFY(write_capture(capture, DLT_EN10MB, frames));
    QProcess decoder;
    decoder.start(tshark,
                  { QStringLiteral("-r"), capture, QStringLiteral("-o"),
                    QStringLiteral("ipv6.defragment:FALSE"), QStringLiteral("-T"),
                    QStringLiteral("fields"), QStringLiteral("-e"), QStringLiteral("ipv6.src"),
                    QStringLiteral("-e"), QStringLiteral("tcp.srcport"), QStringLiteral("-e"),
                    QStringLiteral("ipv6.dst"), QStringLiteral("-e"), QStringLiteral("tcp.dstport"),
                    QStringLiteral("-e"), QStringLiteral("tcp.len"), QStringLiteral("-e"),
                    QStringLiteral("tcp.payload") });
    QVERIFY(decoder.waitForFinished(60000));
    QCOMPARE(decoder.exitCode(), 0);
    const QStringList theirs = QString::fromLatin1(decoder.readAllStandardOutput())
                                       .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(theirs.size(), frames.size());

    for (int i = 0; i < frames.size(); ++i) {
        const pcap_pkthdr header = header_for(frames.at(i));
        const std::optional<QString> line = make_record_line(
                DLT_EN10MB, header,
                reinterpret_cast<const unsigned char*>(frames.at(i).constData()));
        QVERIFY2(line.has_value(), qPrintable(QStringLiteral("frame %1").arg(i + 1)));
        if (i < agreeing)
            QCOMPARE(as_tshark_fields(*line), theirs.at(i));
        else
            QVERIFY2(theirs.at(i).section(QLatin1Char('\t'), 4, 4).isEmpty(),
                     qPrintable(theirs.at(i)));
    }
}

QTEST_GUILESS_MAIN(TstTsharkDiff)
#include "tst_tsharkdiff.moc"
