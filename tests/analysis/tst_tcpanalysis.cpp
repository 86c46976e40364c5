// SPDX-License-Identifier: GPL-2.0-or-later

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "clienthello.h"
#include "looprecorder.h"
#include "packetrecord.h"
#include "tcpanalysis.h"

// The marks and conversations of real TCP traffic against tshark's analysis
// of the same capture. The test makes its captures first, on the lo of a
// network namespace of its own, one server port each: transfers that lose
// segments after the capture saw them (nftables' input hook) and before it
// did (the output hook), a receiver that stops reading for a while, and
// connections reset, one address and port pair used twice, each beginning
// with a TLS ClientHello. A capture misses segments only when it cannot
// keep up: a drop before it, on the way out, is known to TCP, which sends
// the segment again in order. So one capture's kernel filter leaves out
// segments at random instead. Captures of other people's machines that Debian
// packages ship are looked at too, where they are installed.
//
// QT_LOGGING_RULES=tarnlook.test.tcpanalysis.debug=true prints the figures.

namespace {

Q_LOGGING_CATEGORY(lcAnalysis, "tarnlook.test.tcpanalysis", QtWarningMsg)

constexpr quint16 kLossIn = 8081;
constexpr quint16 kMissed = 8082;
constexpr quint16 kStalled = 8083;
constexpr quint16 kReset = 8084;
constexpr quint16 kReusedClientPort = 40100;
constexpr qsizetype kTransfer = 3 << 20; // each way, per connection

const char* const kTsharkMarks[] = {
    "tcp.analysis.retransmission",
    "tcp.analysis.fast_retransmission",
    "tcp.analysis.spurious_retransmission",
    "tcp.analysis.out_of_order",
    "tcp.analysis.lost_segment",
    "tcp.analysis.duplicate_ack",
    "tcp.analysis.zero_window",
    "tcp.analysis.window_full",
    "tcp.analysis.keep_alive",
    "tcp.flags.reset",
};
// The mark each of those fields stands for.
const TcpMarks kMarkOfField[] = {
    TcpMark::Retransmission, TcpMark::Retransmission,      TcpMark::Retransmission,
    TcpMark::OutOfOrder,     TcpMark::PreviousSegmentLost, TcpMark::DuplicateAck,
    TcpMark::ZeroWindow,     TcpMark::WindowFull,          TcpMark::KeepAlive,
    TcpMark::Reset,
};

sockaddr_storage loopback(int family, quint16 port, socklen_t* length)
{
    sockaddr_storage storage {};
    if (family == AF_INET6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(port);
        address->sin6_addr = in6addr_loopback;
        *length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_port = htons(port);
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        *length = sizeof *address;
    }
    return storage;
}

// A socket whose blocking calls give up after 30 s rather than hang the
// test; -1 on a failure.
int open_socket(int family, int receive_buffer = 0)
{
    const int fd = socket(family, SOCK_STREAM, 0);
    const timeval limit { 30, 0 };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receive_buffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    return fd;
}

int listen_on(int family, quint16 port, int receive_buffer = 0)
{
    const int fd = open_socket(family, receive_buffer);
    const int on = 1;
    if (family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    socklen_t length = 0;
    const sockaddr_storage address = loopback(family, port, &length);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool connect_to(int fd, int family, quint16 port, quint16 from_port = 0)
{
    socklen_t length = 0;
    if (from_port != 0) {
        const sockaddr_storage local = loopback(family, from_port, &length);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0)
            return false;
    }
    const sockaddr_storage server = loopback(family, port, &length);
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&server), length) == 0;
}

bool send_all(int fd, qsizetype size)
{
    static const QByteArray chunk(1 << 16, 'x');
    for (qsizetype sent = 0; sent < size;) {
        const ssize_t n = send(fd, chunk.constData(),
                               size_t(qMin<qsizetype>(chunk.size(), size - sent)), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

qsizetype receive_all(int fd)
{
    char chunk[1 << 16];
    qsizetype got = 0;
    for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;)
        got += n;
    return got;
}

// Ends the connection with a RST instead of a FIN.
void close_with_reset(int fd)
{
    const linger now { 1, 0 };
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    close(fd);
}

// close() returns once the peer has acknowledged everything, FIN included.
void close_lingering(int fd)
{
    const linger wait { 1, 30 };
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &wait, sizeof wait);
    close(fd);
}

// One frame of a capture as tshark reads it.
struct TsharkFrame
{
    TcpMarks marks = 0;
    int stream = -1;
    QString source; // address:port
    std::uint32_t length = 0; // tcp.len
    std::int64_t ns = 0;
    QByteArray server_name;
    bool cut_on_wire = false; // its IP length runs past the frame's
};

// A capture file read as the rows would get it: each TCP segment a row.
struct Rows
{
    std::vector<CapturedSegment> segments;
    std::vector<int> frame; // 1-based, as tshark counts
    std::vector<QByteArray> payload;
    QString error;
};

Rows read_rows(const QString& path)
{
    Rows rows;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.toLocal8Bit().constData(), errbuf);
    if (file == nullptr) {
        rows.error = QString::fromLocal8Bit(errbuf);
        return rows;
    }
    const int link = pcap_datalink(file);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    for (int frame = 1; pcap_next_ex(file, &header, &data) == 1; ++frame) {
        const std::optional<TcpSegmentHeader> tcp = decode_tcp_segment(link, *header, data);
        if (!tcp)
            continue;
        CapturedSegment segment;
        segment.header = *tcp;
        segment.seconds = header->ts.tv_sec;
        segment.nanoseconds = std::uint32_t(header->ts.tv_usec) * 1000;
        rows.segments.push_back(segment);
        rows.frame.push_back(frame);
        rows.payload.emplace_back(reinterpret_cast<const char*>(data) + tcp->payload_offset,
                                  int(tcp->captured));
    }
    pcap_close(file);
    return rows;
}

std::unique_ptr<TcpAnalysis> analyse(const Rows& rows)
{
    auto analysis = std::make_unique<TcpAnalysis>(
            [&rows](int row) { return rows.payload.at(size_t(row)); });
    for (size_t row = 0; row < rows.segments.size(); ++row)
        analysis->add(int(row), &rows.segments[row]);
    return analysis;
}

QString endpoint_text(int version, const unsigned char* address, quint16 port)
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(version == 6 ? AF_INET6 : AF_INET, address, text, sizeof text);
    return QString::fromLatin1(text) + QLatin1Char(':') + QString::number(port);
}

// The names of the marks, for messages.
QString marks_text(TcpMarks marks)
{
    static const char* const names[] = { "retransmission", "out-of-order", "lost",       "dup-ack",
                                         "zero-window",    "window-full",  "keep-alive", "reset" };
    QStringList set;
    for (int kind = 0; kind < kTcpMarkKinds; ++kind)
        if ((marks & (1U << kind)) != 0)
            set << QLatin1String(names[kind]);
    return set.isEmpty() ? QStringLiteral("none") : set.join(QLatin1Char('+'));
}

} // namespace

class TstTcpAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void marksAgreeWithTshark_data();
    void marksAgreeWithTshark();
    void conversationsAgreeWithTshark_data();
    void conversationsAgreeWithTshark();

private:
    void makeCaptures();
    // Every frame of the capture as tshark reads it, by frame number.
    std::map<int, TsharkFrame> tshark(const QString& path) const;
    void addFiles();

    QString m_tshark;
    QTemporaryDir m_dir;
    QString m_skip; // why there are no captures of our own
    // Each capture's file and the marks its traffic must show at least.
    std::map<QString, std::pair<QString, TcpMarks>> m_files;
};

void TstTcpAnalysis::initTestCase()
{
    m_tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (m_tshark.isEmpty())
        QSKIP("tshark is needed (scripts/install-deps test installs it)");
    QVERIFY(m_dir.isValid());
    addFiles();
    if (unshare(CLONE_NEWNET) != 0) {
        m_skip = QStringLiteral("a network namespace of its own is needed (root or "
                                "CAP_SYS_ADMIN): ")
                + QString::fromLocal8Bit(strerror(errno));
        return;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq lo {};
    std::strcpy(lo.ifr_name, "lo");
    bool up = ioctl(fd, SIOCGIFFLAGS, &lo) == 0;
    lo.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &lo) == 0;
    close(fd);
    QVERIFY2(up, "lo of the new namespace comes up");
    makeCaptures();
}

// Captures that Debian packages ship, from other machines: a telnet session
// with keep-alives (ruby-pcaprub) and a little HTTP over Ethernet
// (golang-github-google-gopacket-dev; its capture of lo is of a link type
// that the rows do not decode). Packed ones are unpacked.
void TstTcpAnalysis::addFiles()
{
    const struct
    {
        const char* name;
        const char* path;
        TcpMarks marks;
    } shipped[] = {
        { "telnet", "/usr/share/doc/ruby-pcaprub/examples/telnet-raw.pcap.gz", TcpMark::KeepAlive },
        { "gopacket-ethernet",
          "/usr/share/gocode/src/github.com/google/gopacket/pcap/test_ethernet.pcap", 0 },
    };
    for (const auto& file : shipped) {
        QString path = QString::fromLatin1(file.path);
        if (path.endsWith(QStringLiteral(".gz")) && QFile::exists(path)) {
            QProcess gzip;
            const QString unpacked = m_dir.filePath(QLatin1String(file.name) + ".pcap");
            gzip.setStandardOutputFile(unpacked);
            gzip.start(QStringLiteral("gzip"), { QStringLiteral("-dc"), path });
            path = gzip.waitForFinished() && gzip.exitCode() == 0 ? unpacked : QString();
        }
        m_files[QLatin1String(file.name)] = { path, file.marks };
    }
}

void TstTcpAnalysis::makeCaptures()
{
    // Segments but SYNs are dropped on the way in, after the capture saw
    // them.
    QProcess nft;
    nft.start(QStringLiteral("nft"), { QStringLiteral("-f"), QStringLiteral("-") });
    nft.write("table inet marks {\n"
              "  chain input {\n"
              "    type filter hook input priority 0;\n"
              "    tcp sport 8081 tcp flags & syn == 0 numgen random mod 100 < 3 drop\n"
              "    tcp dport 8081 tcp flags & syn == 0 numgen random mod 100 < 3 drop\n"
              "  }\n"
              "}\n");
    nft.closeWriteChannel();
    if (!nft.waitForFinished(30000) || nft.exitCode() != 0) {
        m_skip = QStringLiteral("nft cannot drop segments (scripts/install-deps test installs "
                                "nftables): ")
                + QString::fromLocal8Bit(nft.readAllStandardError());
        return;
    }

    std::map<quint16, std::unique_ptr<LoopbackRecorder>> recorders;
    const std::pair<quint16, const char*> captures[] = {
        { kLossIn, "loss-in" }, { kMissed, "missed" }, { kStalled, "stalled" }, { kReset, "reset" }
    };
    for (const auto& [port, name] : captures) {
        const QString path = m_dir.filePath(QLatin1String(name) + ".pcap");
        recorders[port] = std::make_unique<LoopbackRecorder>(path, port, 262144, 64 << 20,
                                                             QByteArray(), port == kMissed ? 3 : 0);
        if (!recorders[port]->error().isEmpty()) {
            m_skip = recorders[port]->error();
            return;
        }
    }
    m_files[QStringLiteral("loss-in")] = { m_dir.filePath(QStringLiteral("loss-in.pcap")),
                                           TcpMark::Retransmission | TcpMark::DuplicateAck };
    m_files[QStringLiteral("missed")]
            = { m_dir.filePath(QStringLiteral("missed.pcap")), TcpMark::PreviousSegmentLost };
    m_files[QStringLiteral("stalled")]
            = { m_dir.filePath(QStringLiteral("stalled.pcap")),
                TcpMark::ZeroWindow | TcpMark::WindowFull | TcpMark::KeepAlive };
    m_files[QStringLiteral("reset")]
            = { m_dir.filePath(QStringLiteral("reset.pcap")), TcpMark::Reset };

    std::vector<int> listeners;
    std::vector<std::thread> threads;
    std::mutex failed_lock;
    QStringList failed;
    const auto check = [&](bool ok, const char* what) {
        const std::lock_guard<std::mutex> lock(failed_lock);
        if (!ok)
            failed << QString::fromLatin1(what) + QStringLiteral(": ")
                            + QString::fromLocal8Bit(strerror(errno));
    };
    // Transfers both ways, two connections per family, on the lossy ports.
    for (const quint16 port : { kLossIn, kMissed }) {
        for (const int family : { AF_INET, AF_INET6 }) {
            const int listener = listen_on(family, port);
            listeners.push_back(listener);
            threads.emplace_back([listener, check] {
                for (int i = 0; i < 2; ++i) {
                    const int fd = accept(listener, nullptr, nullptr);
                    check(fd >= 0 && receive_all(fd) == kTransfer && send_all(fd, kTransfer),
                          "lossy transfer, server");
                    close_lingering(fd);
                }
            });
            for (int i = 0; i < 2; ++i)
                threads.emplace_back([family, port, check] {
                    const int fd = open_socket(family);
                    check(connect_to(fd, family, port) && send_all(fd, kTransfer)
                                  && shutdown(fd, SHUT_WR) == 0 && receive_all(fd) == kTransfer,
                          "lossy transfer, client");
                    close_lingering(fd);
                });
        }
    }
    // A receiver with a small buffer that stops reading for a while: the
    // sender fills its window, the window closes, the sender probes it.
    const int stalled = listen_on(AF_INET, kStalled, 4096);
    listeners.push_back(stalled);
    threads.emplace_back([stalled, check] {
        const int fd = accept(stalled, nullptr, nullptr);
        // The pause is the traffic to be captured, not a wait for it.
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        check(fd >= 0 && receive_all(fd) == kTransfer, "stalled receiver");
        close_lingering(fd);
        // An idle connection whose client checks that its peer is alive.
        const int idle = accept(stalled, nullptr, nullptr);
        check(idle >= 0 && receive_all(idle) == 0, "idle server");
        close_lingering(idle);
    });
    threads.emplace_back([check] {
        const int fd = open_socket(AF_INET);
        check(connect_to(fd, AF_INET, kStalled) && send_all(fd, kTransfer), "stalled sender");
        close_lingering(fd);
    });
    threads.emplace_back([check] {
        const int fd = open_socket(AF_INET);
        const int on = 1;
        const int second = 1;
        setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &second, sizeof second);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &second, sizeof second);
        check(connect_to(fd, AF_INET, kStalled), "idle client");
        // Idle for a probe and its answer; the pause is the traffic.
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        close_lingering(fd);
    });
    // Connections that begin with a ClientHello and end in a RST: the
    // server resets the first two, whose client uses one port twice; the
    // client resets the third, which leaves bytes unread.
    const int reset4 = listen_on(AF_INET, kReset);
    const int reset6 = listen_on(AF_INET6, kReset);
    listeners.push_back(reset4);
    listeners.push_back(reset6);
    const QByteArray names[]
            = { "first.tarnlook.test", "second.tarnlook.test", "six.tarnlook.test" };
    threads.emplace_back([&, check] {
        for (int i = 0; i < 3; ++i) {
            const int family = i < 2 ? AF_INET : AF_INET6;
            const QByteArray hello = client_hello(names[i]);
            const int client = open_socket(family);
            check(!hello.isEmpty()
                          && connect_to(client, family, kReset, i < 2 ? kReusedClientPort : 0),
                  "hello connect");
            const int server = accept(family == AF_INET ? reset4 : reset6, nullptr, nullptr);
            check(server >= 0 && send(client, hello.constData(), size_t(hello.size()), 0) > 0,
                  "hello sent");
            QByteArray got(hello.size(), Qt::Uninitialized);
            check(recv(server, got.data(), size_t(got.size()), MSG_WAITALL) == hello.size(),
                  "hello received");
            if (i < 2) {
                close_with_reset(server);
                char byte = 0;
                check(recv(client, &byte, 1, 0) < 0 && errno == ECONNRESET, "reset by server");
                close(client);
            } else {
                check(send_all(server, 1 << 16), "bytes to leave unread");
                char byte = 0;
                check(recv(client, &byte, 1, 0) == 1, "one byte read");
                close(client); // the rest unread
                check(receive_all(server) == 0, "reset by client");
                close(server);
            }
        }
    });
    for (std::thread& thread : threads)
        thread.join();
    for (const int fd : listeners)
        close(fd);
    for (auto& [port, recorder] : recorders)
        QVERIFY2(recorder->stop() == 0 || port == kMissed, "the recorders keep up");
    QVERIFY(std::all_of(listeners.begin(), listeners.end(), [](int fd) { return fd >= 0; }));
    QVERIFY2(failed.isEmpty(), qPrintable(failed.join(QStringLiteral("; "))));
}

std::map<int, TsharkFrame> TstTcpAnalysis::tshark(const QString& path) const
{
    QStringList arguments { QStringLiteral("-r"), path, QStringLiteral("-Y"), QStringLiteral("tcp"),
                            // The server names of the ClientHellos on the reset port.
                            QStringLiteral("-d"), QStringLiteral("tcp.port==%1,tls").arg(kReset),
                            QStringLiteral("-T"), QStringLiteral("fields") };
    QStringList fields {
        QStringLiteral("frame.number"),     QStringLiteral("tcp.stream"),
        QStringLiteral("ip.src"),           QStringLiteral("ipv6.src"),
        QStringLiteral("tcp.srcport"),      QStringLiteral("tcp.len"),
        QStringLiteral("frame.time_epoch"), QStringLiteral("tls.handshake.extensions_server_name"),
        QStringLiteral("ip.len"),           QStringLiteral("frame.len"),
        QStringLiteral("eth.type")
    };
    for (const char* mark : kTsharkMarks)
        fields << QLatin1String(mark);
    for (const QString& field : std::as_const(fields))
        arguments << QStringLiteral("-e") << field;
    QProcess process;
    process.start(m_tshark, arguments);
    std::map<int, TsharkFrame> frames;
    if (!process.waitForFinished(300000) || process.exitCode() != 0)
        return frames;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> column = line.split('\t');
        if (column.size() != fields.size())
            continue;
        TsharkFrame frame;
        frame.stream = column[1].toInt();
        frame.source = QString::fromLatin1(column[2].isEmpty() ? column[3] : column[2])
                + QLatin1Char(':') + QString::fromLatin1(column[4]);
        frame.length = column[5].toUInt();
        const QList<QByteArray> time = column[6].split('.');
        frame.ns = time[0].toLongLong() * 1000000000
                + time.value(1).leftJustified(9, '0').toLongLong();
        frame.server_name = column[7];
        // An IPv4 length past the frame's end on the wire: tshark takes the
        // frame's length, the rows the header's.
        const int link_header = column[10].isEmpty() ? 0 : 14;
        frame.cut_on_wire
                = !column[8].isEmpty() && column[8].toInt() + link_header > column[9].toInt();
        for (size_t i = 0; i < std::size(kTsharkMarks); ++i)
            if (!column[int(i) + 11].isEmpty() && column[int(i) + 11] != "0")
                frame.marks |= kMarkOfField[i];
        frames[column[0].toInt()] = frame;
    }
    return frames;
}

void TstTcpAnalysis::marksAgreeWithTshark_data()
{
    QTest::addColumn<QString>("capture");
    for (const char* name :
         { "loss-in", "missed", "stalled", "reset", "telnet", "gopacket-ethernet" })
        QTest::newRow(name) << QString::fromLatin1(name);
}

// Every row's marks are tshark's. Where tshark tells a retransmission from
// a segment out of order by how soon it came, either of the two is right.
void TstTcpAnalysis::marksAgreeWithTshark()
{
    QFETCH(QString, capture);
    const auto file = m_files.find(capture);
    if (file == m_files.end())
        QSKIP(qPrintable(m_skip));
    const QString path = file->second.first;
    if (path.isEmpty() || !QFile::exists(path))
        QSKIP("the package that ships this capture is not installed (scripts/install-deps test)");

    const Rows rows = read_rows(path);
    QVERIFY2(rows.error.isEmpty(), qPrintable(rows.error));
    const std::unique_ptr<TcpAnalysis> analysis = analyse(rows);
    const std::map<int, TsharkFrame> theirs = tshark(path);
    QCOMPARE(theirs.size(), rows.segments.size());

    QStringList failures;
    TcpMarks seen = 0;
    int marked = 0;
    int either = 0;
    int cut = 0;
    for (size_t row = 0; row < rows.segments.size(); ++row) {
        const TsharkFrame& frame = theirs.at(rows.frame[row]);
        const TcpMarks ours = analysis->marks(int(row));
        seen |= frame.marks;
        marked += frame.marks != 0 ? 1 : 0;
        if (ours == frame.marks)
            continue;
        constexpr TcpMarks kBehind = TcpMark::Retransmission | TcpMark::OutOfOrder;
        if ((ours & ~kBehind) == (frame.marks & ~kBehind) && (ours & kBehind) != 0
            && (frame.marks & kBehind) != 0) {
            ++either;
            continue;
        }
        // Its segment length differs: the rows take the IP header's.
        if (frame.cut_on_wire) {
            ++cut;
            continue;
        }
        failures << QStringLiteral("frame %1: %2, tshark: %3")
                            .arg(rows.frame[row])
                            .arg(marks_text(ours), marks_text(frame.marks));
    }
    qCDebug(lcAnalysis).noquote() << capture << rows.segments.size() << "rows," << marked
                                  << "marked:" << marks_text(seen) << "-" << either
                                  << "retransmission or out of order," << cut << "cut on the wire";
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    const TcpMarks wanted = file->second.second;
    QVERIFY2((seen & wanted) == wanted,
             qPrintable(QStringLiteral("the traffic shows %1, not all of %2")
                                .arg(marks_text(seen), marks_text(wanted))));
}

void TstTcpAnalysis::conversationsAgreeWithTshark_data()
{
    QTest::addColumn<QString>("capture");
    for (const char* name : { "loss-in", "missed", "stalled", "reset", "gopacket-ethernet" })
        QTest::newRow(name) << QString::fromLatin1(name);
}

// One conversation per tshark stream, in the same order, with its counts,
// times and server name.
void TstTcpAnalysis::conversationsAgreeWithTshark()
{
    QFETCH(QString, capture);
    const auto file = m_files.find(capture);
    if (file == m_files.end())
        QSKIP(qPrintable(m_skip));
    const QString path = file->second.first;
    if (path.isEmpty() || !QFile::exists(path))
        QSKIP("the package that ships this capture is not installed (scripts/install-deps test)");

    const Rows rows = read_rows(path);
    QVERIFY2(rows.error.isEmpty(), qPrintable(rows.error));
    const std::unique_ptr<TcpAnalysis> analysis = analyse(rows);
    const std::map<int, TsharkFrame> theirs = tshark(path);

    // tshark's streams, added up as the table adds them up.
    std::vector<TcpConversation> expected;
    std::vector<QString> a_side;
    std::vector<std::string> names;
    for (const auto& [number, frame] : theirs) {
        if (frame.stream >= int(expected.size())) {
            expected.resize(size_t(frame.stream) + 1);
            a_side.resize(size_t(frame.stream) + 1);
            names.resize(size_t(frame.stream) + 1);
        }
        TcpConversation& conversation = expected[size_t(frame.stream)];
        if (a_side[size_t(frame.stream)].isEmpty()) {
            a_side[size_t(frame.stream)] = frame.source;
            conversation.first_ns = frame.ns;
        }
        const int direction = frame.source == a_side[size_t(frame.stream)] ? 0 : 1;
        ++conversation.packets[size_t(direction)];
        conversation.bytes[size_t(direction)] += frame.length;
        conversation.last_ns = frame.ns;
        conversation.marked += frame.marks != 0 ? 1 : 0;
        if (names[size_t(frame.stream)].empty())
            names[size_t(frame.stream)] = frame.server_name.toStdString();
    }
    QCOMPARE(analysis->connection_count(), int(expected.size()));
    for (int i = 0; i < analysis->connection_count(); ++i) {
        const TcpConversation& ours = analysis->conversation(i);
        const TcpConversation& want = expected[size_t(i)];
        const QString a = endpoint_text(ours.version, ours.address[0].data(), ours.port[0]);
        QCOMPARE(a, a_side[size_t(i)]);
        QCOMPARE(ours.packets, want.packets);
        QCOMPARE(ours.bytes, want.bytes);
        QCOMPARE(ours.first_ns, want.first_ns);
        QCOMPARE(ours.last_ns, want.last_ns);
        QCOMPARE(analysis->server_name(i), names[size_t(i)]);
        QCOMPARE(ours.marked, want.marked);
    }
    QCOMPARE(analysis->first_ns().value_or(0), theirs.begin()->second.ns);
}

QTEST_GUILESS_MAIN(TstTcpAnalysis)
#include "tst_tcpanalysis.moc"
