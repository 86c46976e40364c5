// SPDX-License-Identifier: GPL-2.0-or-later

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <thread>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "loopnamespace.h"
#include "looprecorder.h"
#include "packetrecord.h"
#include "streamchunks.h"
#include "tcpreassembly.h"

using namespace streamchunks;

// The reassembled streams of real TCP traffic against tshark's "Follow TCP
// stream" and against what the applications sent. The test makes its
// captures first: HTTP-like exchanges on 127.0.0.1 and ::1 in a network
// namespace of its own (so that nothing else on lo gets in), with bodies
// from 0 B to 16 MiB both ways, many connections at once and one address
// and port pair used twice. The traffic runs twice: once clean, once with
// an nftables rule that drops a few segments after the capture has seen
// them, so that the kernel retransmits. Each run is also captured with a
// short snapshot length, and the clean one by a capture started in the
// middle of a transfer. A copy of the lossy capture without the first copies
// of the lost segments stands for a capture behind the losses, which sees
// the retransmissions out of order.
//
// QT_LOGGING_RULES=tarnlook.test.tcpstreams.debug=true prints the figures.

namespace {

Q_LOGGING_CATEGORY(lcStreams, "tarnlook.test.tcpstreams", QtWarningMsg)

constexpr quint16 kServerPort = 8080;
constexpr int kCutSnaplen = 128; // headers and some 40 to 60 bytes of payload
constexpr qsizetype kMiB = 1 << 20;

// One exchange: the request the client sent and the response the server
// sent (the applications' own copies), and what each side received.
struct Exchange
{
    int family = AF_INET;
    quint16 client_port = 0; // 0: any; after the run, the one used
    QByteArray request;
    QByteArray response;
    QByteArray server_got;
    QByteArray client_got;
    QString error;
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

// Blocking calls give up after 30 s rather than hang the test.
void set_timeouts(int fd)
{
    const timeval limit { 30, 0 };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// close() returns once the peer has acknowledged everything, our FIN
// included: when the last client has closed, every frame has passed lo.
void close_lingering(int fd)
{
    const linger wait { 1, 30 };
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &wait, sizeof wait);
    close(fd);
}

bool send_all(int fd, const QByteArray& bytes)
{
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n
                = send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Reads until `until` says the bytes are complete or the peer closes.
// Returns false on an error or a timeout.
bool receive(int fd, QByteArray* into, const std::function<bool(const QByteArray&)>& until)
{
    char chunk[1 << 16];
    while (!until(*into)) {
        const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        into->append(chunk, int(n));
    }
    return true;
}

// "PUT /<index> ...\r\nContent-Length: <n>\r\n\r\n" and the body: the index
// names the exchange, whose response the server sends.
QByteArray request_for(int index, const QByteArray& body)
{
    return "PUT /" + QByteArray::number(index) + " HTTP/1.1\r\nHost: localhost\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray response_for(const QByteArray& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n\r\n" + body;
}

// The length a complete request or response has once its header is in
// (0 before).
qsizetype message_length(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf("\r\n\r\n");
    if (end < 0)
        return 0;
    const qsizetype field = bytes.indexOf("Content-Length: ");
    return end + 4 + bytes.mid(field + 16, bytes.indexOf('\r', field) - field - 16).toLongLong();
}

// Answers the requests of `count` connections on 127.0.0.1 or ::1, port
// kServerPort, each on a thread of its own, closing each connection after
// its response.
void serve(int listener, int count, std::vector<Exchange>* exchanges)
{
    std::vector<std::thread> handlers;
    for (int i = 0; i < count; ++i) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0)
            break;
        handlers.emplace_back([fd, exchanges] {
            set_timeouts(fd);
            QByteArray got;
            const bool read = receive(fd, &got, [](const QByteArray& bytes) {
                const qsizetype length = message_length(bytes);
                return length > 0 && bytes.size() >= length;
            });
            const int index = got.mid(5, got.indexOf(' ', 5) - 5).toInt();
            if (read && got.startsWith("PUT /") && index >= 0 && index < int(exchanges->size())) {
                Exchange& exchange = exchanges->at(size_t(index));
                exchange.server_got = got;
                send_all(fd, exchange.response);
            }
            close_lingering(fd);
        });
    }
    for (std::thread& handler : handlers)
        handler.join();
}

// The client side of one exchange. `midway` is called once when a quarter
// of the response is in; the response stalls until it returns.
void run_client(Exchange* exchange, const std::function<void()>& midway)
{
    const int fd = socket(exchange->family, SOCK_STREAM, 0);
    set_timeouts(fd);
    if (midway) {
        // A small window: the sender stalls soon after the reader does.
        const int size = 128 << 10;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    socklen_t length = 0;
    if (exchange->client_port != 0) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_storage local = loopback(exchange->family, exchange->client_port, &length);
        if (bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0)
            exchange->error = QStringLiteral("bind: ") + QString::fromLocal8Bit(strerror(errno));
    }
    const sockaddr_storage server = loopback(exchange->family, kServerPort, &length);
    if (exchange->error.isEmpty()
        && ::connect(fd, reinterpret_cast<const sockaddr*>(&server), length) != 0)
        exchange->error = QStringLiteral("connect: ") + QString::fromLocal8Bit(strerror(errno));
    if (exchange->error.isEmpty()) {
        sockaddr_storage local {};
        socklen_t localLength = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength);
        exchange->client_port = ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
        bool paused = !midway;
        if (!send_all(fd, exchange->request)
            || !receive(fd, &exchange->client_got, [&](const QByteArray& bytes) {
                   if (!paused && bytes.size() >= exchange->response.size() / 4) {
                       paused = true;
                       midway();
                   }
                   return false; // until the server closes
               }))
            exchange->error
                    = QStringLiteral("exchange: ") + QString::fromLocal8Bit(strerror(errno));
    }
    close_lingering(fd);
}

QByteArray random_bytes(qsizetype size, QRandomGenerator* random)
{
    QByteArray bytes((size + 3) / 4 * 4, Qt::Uninitialized);
    random->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    bytes.truncate(size);
    return bytes;
}

// One TCP connection of a capture as we put it together.
struct Connection
{
    int first_frame = 0; // 1-based, as tshark counts
    QString endpoint[2]; // "address:port" of direction 0's sender, then of its peer
    std::vector<TcpSegmentIn> segments;
    TcpReassembly reassembly;
    // The connection's bytes in the order the reassembly gave them.
    QVector<QPair<int, QByteArray>> chunks;
    std::optional<std::uint32_t> syn[2]; // the sequence number of each side's SYN
    // Segments captured before bytes that precede them, which the capture
    // only saw later or never.
    int out_of_order = 0;
};

QString endpoint_text(const TcpSegmentHeader& header, bool source)
{
    const auto& address = source ? header.source : header.destination;
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(header.version == 6 ? AF_INET6 : AF_INET, address.data(), text, sizeof text);
    return QString::fromLatin1(text) + QLatin1Char(':')
            + QString::number(source ? header.source_port : header.destination_port);
}

// A capture file read and reassembled: its frames, and its connections in
// the order of their first frames.
struct Capture
{
    std::vector<QByteArray> frames; // the captured bytes of frame i + 1
    std::vector<std::unique_ptr<Connection>> connections;
    QString error;
};

std::unique_ptr<Capture> reassemble(const QString& path)
{
    auto capture = std::make_unique<Capture>();
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.toLocal8Bit().constData(), errbuf);
    if (file == nullptr) {
        capture->error = QString::fromLocal8Bit(errbuf);
        return capture;
    }
    const int link = pcap_datalink(file);
    // The segments of each address and port pair, and the pair's endpoints,
    // its first sender's first.
    std::map<QString, std::vector<TcpSegmentIn>> pairs;
    std::map<QString, std::pair<QString, QString>> ends;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(file, &header, &data) == 1) {
        capture->frames.emplace_back(reinterpret_cast<const char*>(data), int(header->caplen));
        const std::optional<TcpSegmentHeader> tcp = decode_tcp_segment(link, *header, data);
        if (!tcp)
            continue;
        const QString source = endpoint_text(*tcp, true);
        const QString destination = endpoint_text(*tcp, false);
        const QString key
                = qMin(source, destination) + QLatin1Char(' ') + qMax(source, destination);
        if (ends.count(key) == 0)
            ends[key] = { source, destination };
        TcpSegmentIn segment;
        segment.frame = std::int64_t(capture->frames.size());
        segment.seconds = header->ts.tv_sec;
        segment.nanoseconds = std::int64_t(header->ts.tv_usec) * 1000;
        segment.direction = source == ends[key].first ? 0 : 1;
        segment.seq = tcp->seq;
        segment.ack = tcp->ack;
        segment.has_ack = (tcp->flags & TcpSegmentHeader::Ack) != 0;
        segment.syn = (tcp->flags & TcpSegmentHeader::Syn) != 0;
        segment.fin = (tcp->flags & TcpSegmentHeader::Fin) != 0;
        segment.rst = (tcp->flags & TcpSegmentHeader::Rst) != 0;
        segment.payload_offset = tcp->payload_offset;
        segment.captured = tcp->captured;
        segment.stated = tcp->stated;
        pairs[key].push_back(segment);
    }
    pcap_close(file);

    for (const auto& [key, segments] : pairs) {
        const std::vector<int> numbers = split_connections(segments);
        std::map<int, Connection*> byNumber;
        for (size_t i = 0; i < segments.size(); ++i) {
            Connection*& connection = byNumber[numbers.at(i)];
            TcpSegmentIn segment = segments.at(i);
            if (connection == nullptr) {
                capture->connections.push_back(std::make_unique<Connection>());
                connection = capture->connections.back().get();
                connection->first_frame = int(segment.frame);
                // Directions count from the connection's own first sender.
                const bool flip = segment.direction == 1;
                connection->endpoint[0] = flip ? ends[key].second : ends[key].first;
                connection->endpoint[1] = flip ? ends[key].first : ends[key].second;
            }
            if (connection->endpoint[0] != ends[key].first)
                segment.direction = 1 - segment.direction;
            if (segment.syn && !connection->syn[segment.direction])
                connection->syn[segment.direction] = segment.seq;
            connection->segments.push_back(segment);
        }
    }
    std::sort(capture->connections.begin(), capture->connections.end(),
              [](const auto& a, const auto& b) { return a->first_frame < b->first_frame; });

    for (const auto& connection : capture->connections) {
        std::optional<std::uint32_t> seen[2]; // one past the highest byte so far
        for (const TcpSegmentIn& segment : connection->segments) {
            connection->reassembly.add(segment);
            const std::uint32_t begin = segment.seq + (segment.syn ? 1 : 0);
            const std::uint32_t end = begin + segment.stated;
            std::optional<std::uint32_t>& highest = seen[segment.direction];
            if (highest && segment.stated > 0 && std::int32_t(begin - *highest) > 0)
                ++connection->out_of_order;
            if (!highest || std::int32_t(end - *highest) > 0)
                highest = end;
        }
        connection->reassembly.finish();
        for (const TcpStreamEvent& event : connection->reassembly.events()) {
            if (event.kind != TcpStreamEvent::Bytes)
                continue;
            const TcpStreamPiece& piece = event.piece;
            const QByteArray& frame = capture->frames.at(size_t(piece.frame - 1));
            if (piece.direction != event.direction || piece.frame < 1
                || std::uint64_t(piece.frame_offset) + piece.length > std::uint64_t(frame.size())) {
                capture->error = QStringLiteral("frame %1: a piece outside the captured bytes")
                                         .arg(piece.frame);
                return capture;
            }
            connection->chunks.append(
                    { piece.direction, frame.mid(int(piece.frame_offset), int(piece.length)) });
        }
    }
    return capture;
}

// Copies a capture without the first copy of each data segment that the
// receiver did not have (no acknowledgement reached into it) before a later
// frame brought its bytes again whole: what a capture holds when the losses
// happen before it, on the way to the capture point. The later copy then
// comes after bytes that follow it, out of order. Returns the frames left
// out, or -1 on an error.
int write_upstream_capture(const QString& from, const QString& to)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(from.toLocal8Bit().constData(), errbuf);
    if (file == nullptr)
        return -1;
    const int link = pcap_datalink(file);
    struct Frame
    {
        pcap_pkthdr header;
        QByteArray bytes;
        QString flow; // source and destination endpoints
        QString back; // the same the other way
        std::optional<std::uint32_t> ack;
        std::uint32_t begin = 0;
        std::uint32_t length = 0; // of data, without SYN or FIN: 0 for others
    };
    std::vector<Frame> frames;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(file, &header, &data) == 1) {
        Frame frame;
        frame.header = *header;
        frame.bytes = QByteArray(reinterpret_cast<const char*>(data), int(header->caplen));
        if (const std::optional<TcpSegmentHeader> tcp = decode_tcp_segment(link, *header, data)) {
            const QString source = endpoint_text(*tcp, true);
            const QString destination = endpoint_text(*tcp, false);
            frame.flow = source + QLatin1Char(' ') + destination;
            frame.back = destination + QLatin1Char(' ') + source;
            if ((tcp->flags & TcpSegmentHeader::Ack) != 0)
                frame.ack = tcp->ack;
            frame.begin = tcp->seq;
            if ((tcp->flags & (TcpSegmentHeader::Syn | TcpSegmentHeader::Fin)) == 0)
                frame.length = tcp->stated;
        }
        frames.push_back(frame);
    }
    const auto lost = [&](size_t i) {
        const Frame& f = frames.at(i);
        for (size_t j = i + 1; f.length > 0 && j < frames.size(); ++j) {
            const Frame& g = frames.at(j);
            if (g.flow == f.back && g.ack && std::int32_t(*g.ack - f.begin) > 0)
                return false; // the receiver had it
            if (g.flow == f.flow && g.length >= f.length
                && std::uint32_t(f.begin - g.begin) <= g.length - f.length)
                return true;
        }
        return false;
    };
    pcap_dumper_t* out = pcap_dump_open(file, to.toLocal8Bit().constData());
    int left = 0;
    for (size_t i = 0; out != nullptr && i < frames.size(); ++i) {
        if (lost(i))
            ++left;
        else
            pcap_dump(reinterpret_cast<u_char*>(out), &frames.at(i).header,
                      reinterpret_cast<const u_char*>(frames.at(i).bytes.constData()));
    }
    if (out != nullptr)
        pcap_dump_close(out);
    pcap_close(file);
    return out != nullptr ? left : -1;
}

// tshark's reading of one stream: its two nodes, the chunks as it prints
// them, and its first frame.
struct TsharkStream
{
    int first_frame = 0;
    QString node[2];
    QVector<QPair<int, QByteArray>> chunks;
    int marks = 0; // of bytes missing, left out of the chunks
};

} // namespace

class TstTcpStreams : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bytesMatchTshark_data();
    void bytesMatchTshark();
    void bytesMatchSenders_data();
    void bytesMatchSenders();
    void cutCapturesInventNothing_data();
    void cutCapturesInventNothing();

private:
    // Runs the exchanges once, captured, or says in *skip why it cannot.
    void makeCaptures(bool loss, QString* skip);
    // Every stream of the capture as tshark follows it, in tshark's
    // numbering; `expected` is how many we found.
    std::vector<TsharkStream> tsharkStreams(const QString& capture, int expected) const;
    // The exchange that a connection of one of the run's captures carried,
    // found through the run's full capture, which has every connection
    // from its SYNs on: the client's endpoint names the exchange (the pair
    // used twice: in order), the sequence numbers tell the two uses apart.
    struct Carried
    {
        int exchange = -1; // none
        int client = 0; // the client's direction
        std::uint32_t isn[2] {}; // each direction's initial sequence number
    };
    Carried carried(const QString& run, const Connection& part) const;

    QString m_tshark;
    QTemporaryDir m_dir;
    QString m_lossSkipped; // why there are no captures with loss
    std::map<QString, std::vector<Exchange>> m_exchanges; // of each run
    std::map<QString, std::unique_ptr<Capture>> m_full; // each run's full capture
};

// Both runs' captures, once for every function.
void TstTcpStreams::initTestCase()
{
    m_tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (m_tshark.isEmpty())
        QSKIP("tshark is needed (scripts/install-deps test installs it)");
    QVERIFY(m_dir.isValid());
    bool refused = false;
    const QString lo = loopnamespace::enter({}, &refused);
    if (refused)
        QSKIP(qPrintable(lo));
    QVERIFY2(lo.isEmpty(), qPrintable(lo));

    QString skip;
    makeCaptures(false, &skip);
    if (QTest::currentTestFailed())
        return;
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    makeCaptures(true, &m_lossSkipped);
}

void TstTcpStreams::makeCaptures(bool loss, QString* skip)
{
    const QString run = loss ? QStringLiteral("loss") : QStringLiteral("clean");
    if (loss) {
        // Segments but SYNs (whose loss costs a second each) are dropped
        // on the way in, after the capture has seen them, so that it holds
        // the retransmissions too. (Dropped on the way out, TCP would know
        // and send them again in order.)
        QProcess nft;
        nft.start(QStringLiteral("nft"), { QStringLiteral("-f"), QStringLiteral("-") });
        nft.write("table inet loss {\n"
                  "  chain input {\n"
                  "    type filter hook input priority 0;\n"
                  "    tcp sport 8080 tcp flags & syn == 0 numgen random mod 100 < 3 drop\n"
                  "    tcp dport 8080 tcp flags & syn == 0 numgen random mod 100 < 3 drop\n"
                  "  }\n"
                  "}\n");
        nft.closeWriteChannel();
        if (!nft.waitForFinished(30000) || nft.exitStatus() != QProcess::NormalExit
            || nft.exitCode() != 0) {
            *skip = QStringLiteral("nft cannot drop segments (scripts/install-deps test "
                                   "installs nftables): ")
                    + nft.errorString() + QString::fromLocal8Bit(nft.readAllStandardError());
            return;
        }
    }

    QRandomGenerator random(loss ? 23 : 17);
    std::vector<Exchange>& exchanges = m_exchanges[run];
    const QVector<QPair<qsizetype, qsizetype>> bodies = {
        { 0, 0 }, { 100, 1000 }, { kMiB, 10 }, { 10, kMiB }, { 16 * kMiB, 0 }, { 0, 16 * kMiB },
    };
    for (int family : { AF_INET, AF_INET6 }) {
        for (const auto& [request, response] : bodies) {
            Exchange exchange;
            exchange.family = family;
            exchange.request = request_for(int(exchanges.size()), random_bytes(request, &random));
            exchange.response = response_for(random_bytes(response, &random));
            exchanges.push_back(exchange);
        }
        // One client endpoint twice, one connection after the other.
        for (qsizetype size : { 5000, 70000 }) {
            Exchange exchange;
            exchange.family = family;
            exchange.client_port = family == AF_INET ? 40000 : 40006;
            exchange.request = request_for(int(exchanges.size()), random_bytes(size, &random));
            exchange.response = response_for(random_bytes(75000 - size, &random));
            exchanges.push_back(exchange);
        }
    }
    const int perFamily = int(exchanges.size()) / 2;

    int listeners[2];
    for (int i = 0; i < 2; ++i) {
        const int family = i == 0 ? AF_INET : AF_INET6;
        listeners[i] = socket(family, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(listeners[i], SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (family == AF_INET6)
            setsockopt(listeners[i], IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        set_timeouts(listeners[i]);
        socklen_t length = 0;
        const sockaddr_storage address = loopback(family, kServerPort, &length);
        if (bind(listeners[i], reinterpret_cast<const sockaddr*>(&address), length) != 0
            || listen(listeners[i], 64) != 0)
            QFAIL(strerror(errno));
    }
    const auto closeListeners = qScopeGuard([&] {
        close(listeners[0]);
        close(listeners[1]);
    });

    // Room for the whole run: the writer may fall behind on a loaded machine.
    LoopbackRecorder full(m_dir.filePath(run + QStringLiteral(".pcap")), kServerPort, 262144,
                          256 << 20);
    LoopbackRecorder cut(m_dir.filePath(run + QStringLiteral("-cut.pcap")), kServerPort,
                         kCutSnaplen, 32 << 20);
    if (!full.error().isEmpty() || !cut.error().isEmpty()) {
        *skip = full.error() + cut.error();
        return;
    }
    std::unique_ptr<LoopbackRecorder> midway;
    std::function<void()> startMidway;
    if (!loss)
        startMidway = [&] {
            midway = std::make_unique<LoopbackRecorder>(
                    m_dir.filePath(run + QStringLiteral("-midway.pcap")), kServerPort, 262144,
                    64 << 20);
        };

    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back(serve, listeners[i], perFamily, &exchanges);
    for (int first : { 0, perFamily }) {
        for (int i = first; i < first + perFamily - 2; ++i) {
            // The IPv4 16 MiB response is the transfer the midway capture
            // begins in.
            const bool stalls = i == 5 && startMidway;
            threads.emplace_back(run_client, &exchanges.at(size_t(i)),
                                 stalls ? startMidway : std::function<void()>());
        }
        threads.emplace_back([&exchanges, first, perFamily] {
            run_client(&exchanges.at(size_t(first + perFamily - 2)), {});
            run_client(&exchanges.at(size_t(first + perFamily - 1)), {});
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    QStringList failures;
    if (const int dropped = full.stop(); dropped != 0)
        failures << QStringLiteral("the capture lost %1 frames").arg(dropped);
    cut.stop();
    if (midway != nullptr)
        midway->stop();
    if (!loss && (midway == nullptr || !midway->error().isEmpty()))
        failures << QStringLiteral("no capture midway");
    for (Exchange& exchange : exchanges) {
        if (!exchange.error.isEmpty() || exchange.server_got != exchange.request
            || exchange.client_got != exchange.response)
            failures << QStringLiteral("exchange on port %1 failed: %2")
                                .arg(exchange.client_port)
                                .arg(exchange.error);
        exchange.server_got.clear(); // the senders' copies are what counts
        exchange.client_got.clear();
    }
    QVERIFY2(failures.isEmpty(),
             qPrintable(run + QStringLiteral(": ") + failures.join(QStringLiteral("; "))));
    m_full[run] = reassemble(m_dir.filePath(run + QStringLiteral(".pcap")));
    QVERIFY2(m_full[run]->error.isEmpty(), qPrintable(m_full[run]->error));
    if (loss)
        QVERIFY(write_upstream_capture(m_dir.filePath(run + QStringLiteral(".pcap")),
                                       m_dir.filePath(run + QStringLiteral("-upstream.pcap")))
                > 0);
}

std::vector<TsharkStream> TstTcpStreams::tsharkStreams(const QString& capture, int expected) const
{
    // One pass: each frame's stream number, then the streams followed (a
    // few more than expected, to see any extra one; the ones that do not
    // exist come out empty).
    // Without HTTP, which would put every 16 MiB body together again for
    // nothing: the follow takes the TCP segments as they are.
    QStringList arguments { QStringLiteral("-r"),
                            capture,
                            QStringLiteral("--disable-protocol"),
                            QStringLiteral("http"),
                            QStringLiteral("-T"),
                            QStringLiteral("fields"),
                            QStringLiteral("-e"),
                            QStringLiteral("frame.number"),
                            QStringLiteral("-e"),
                            QStringLiteral("tcp.stream") };
    for (int i = 0; i < expected + 4; ++i)
        arguments << QStringLiteral("-z") << QStringLiteral("follow,tcp,raw,%1").arg(i);
    const QString output = capture + QStringLiteral(".tshark");
    QProcess tshark;
    tshark.setStandardOutputFile(output);
    tshark.start(m_tshark, arguments);
    QFile file(output);
    if (!tshark.waitForFinished(300000) || tshark.exitCode() != 0
        || !file.open(QIODevice::ReadOnly))
        return {};
    const auto removeOutput = qScopeGuard([&] { file.remove(); });

    // "<frame>\t<stream>" lines; then per stream "Filter: tcp.stream eq N",
    // "Node 0: a:p", "Node 1: a:p" and one line of hex per chunk, the
    // second node's indented by a tab, between lines of "=".
    // Where the peer acknowledges bytes that tshark has not seen (after a
    // hole), its follow puts a text in the data: a mark, not bytes of the
    // stream.
    const QByteArray markEnd(" bytes missing in capture file]", 32); // with its NUL
    const auto isMark = [&](const QByteArray& chunk) {
        bool number = false;
        chunk.mid(1, chunk.size() - 1 - markEnd.size()).toULongLong(&number);
        return number && chunk.startsWith('[') && chunk.endsWith(markEnd);
    };
    std::vector<TsharkStream> streams;
    bool fields = true;
    TsharkStream* stream = nullptr;
    for (QByteArray line; !(line = file.readLine()).isEmpty();) {
        line.chop(1);
        if (line.startsWith("====")) {
            fields = false;
        } else if (fields) {
            const QList<QByteArray> columns = line.split('\t');
            if (columns.size() != 2 || columns.at(1).isEmpty())
                continue;
            const size_t number = columns.at(1).toULong();
            if (number >= streams.size())
                streams.resize(number + 1);
            if (streams[number].first_frame == 0)
                streams[number].first_frame = columns.at(0).toInt();
        } else if (line.startsWith("Filter: tcp.stream eq ")) {
            const size_t number = line.mid(22).toULong();
            stream = number < streams.size() ? &streams[number] : nullptr;
        } else if (stream != nullptr && line.startsWith("Node ")) {
            stream->node[line.at(5) == '1' ? 1 : 0] = QString::fromLatin1(line.mid(8));
        } else if (stream != nullptr && !line.isEmpty() && !line.startsWith("Follow:")) {
            const bool second = line.startsWith('\t');
            const QByteArray chunk = QByteArray::fromHex(line.mid(second ? 1 : 0));
            if (isMark(chunk))
                ++stream->marks;
            else
                stream->chunks.append({ second ? 1 : 0, chunk });
        }
    }
    return streams;
}

TstTcpStreams::Carried TstTcpStreams::carried(const QString& run, const Connection& part) const
{
    const Capture& full = *m_full.at(run);
    const std::vector<Exchange>& exchanges = m_exchanges.at(run);
    std::map<QString, int> uses; // of each client endpoint so far
    for (const auto& whole : full.connections) {
        const int use = uses[whole->endpoint[0]]++;
        const int client = part.endpoint[0] == whole->endpoint[0] ? 0 : 1;
        if (!whole->syn[0] || !whole->syn[1] || part.endpoint[client] != whole->endpoint[0]
            || part.endpoint[1 - client] != whole->endpoint[1])
            continue;
        int index = -1;
        for (size_t i = 0, seen = 0; i < exchanges.size() && index < 0; ++i) {
            const Exchange& exchange = exchanges.at(i);
            const QString endpoint = (exchange.family == AF_INET ? QStringLiteral("127.0.0.1:")
                                                                 : QStringLiteral("::1:"))
                    + QString::number(exchange.client_port);
            if (endpoint == whole->endpoint[0] && int(seen++) == use)
                index = int(i);
        }
        if (index < 0)
            continue;
        // The same endpoints: the same connection when the part's first
        // segment lies in its sequence space.
        const TcpSegmentIn& first = part.segments.front();
        const int side = first.direction == client ? 0 : 1;
        const Exchange& exchange = exchanges.at(size_t(index));
        const qsizetype sent = side == 0 ? exchange.request.size() : exchange.response.size();
        if (std::uint32_t(first.seq - *whole->syn[side]) > std::uint32_t(sent) + 2)
            continue;
        Carried result;
        result.exchange = index;
        result.client = client;
        result.isn[client] = *whole->syn[0];
        result.isn[1 - client] = *whole->syn[1];
        return result;
    }
    return {};
}

void TstTcpStreams::bytesMatchTshark_data()
{
    QTest::addColumn<QString>("run");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("whole"); // captured from before the first SYN to the end
    QTest::addColumn<bool>("inOrder"); // no loss: chunks come in order too
    QTest::newRow("clean") << "clean"
                           << "clean.pcap" << true << true;
    QTest::newRow("clean-cut") << "clean"
                               << "clean-cut.pcap" << true << true;
    QTest::newRow("clean-midway") << "clean"
                                  << "clean-midway.pcap" << false << true;
    QTest::newRow("loss") << "loss"
                          << "loss.pcap" << true << false;
    QTest::newRow("loss-cut") << "loss"
                              << "loss-cut.pcap" << true << false;
    QTest::newRow("loss-upstream") << "loss"
                                   << "loss-upstream.pcap" << true << false;
}

// Each stream's bytes, direction by direction, are tshark's; a cut capture
// included, where both give the captured bytes and skip the rest. Where
// nothing was lost on the way the chunks also come in tshark's order.
void TstTcpStreams::bytesMatchTshark()
{
    QFETCH(QString, run);
    QFETCH(QString, file);
    QFETCH(bool, whole);
    QFETCH(bool, inOrder);
    if (run == QStringLiteral("loss") && !m_lossSkipped.isEmpty())
        QSKIP(qPrintable(m_lossSkipped));

    const std::unique_ptr<Capture> ours = reassemble(m_dir.filePath(file));
    QVERIFY2(ours->error.isEmpty(), qPrintable(ours->error));
    const std::vector<TsharkStream> theirs
            = tsharkStreams(m_dir.filePath(file), int(ours->connections.size()));
    QCOMPARE(int(ours->connections.size()), int(theirs.size()));
    if (whole)
        QCOMPARE(theirs.size(), m_exchanges.at(run).size());
    else
        QVERIFY(!theirs.empty());

    QStringList failures;
    std::int64_t bytes = 0;
    std::int64_t retransmissions = 0;
    std::int64_t gaps = 0;
    for (const auto& connection : ours->connections) {
        const auto stream = std::find_if(theirs.begin(), theirs.end(), [&](const TsharkStream& s) {
            return s.first_frame == connection->first_frame;
        });
        const QString name = QStringLiteral("stream of frame %1 (%2 to %3)")
                                     .arg(connection->first_frame)
                                     .arg(connection->endpoint[0], connection->endpoint[1]);
        if (stream == theirs.end()) {
            failures << name + QStringLiteral(": tshark has no stream beginning there");
            continue;
        }
        const QString node0
                = QString(stream->node[0]).replace(QStringLiteral("[::1]"), QStringLiteral("::1"));
        if (node0 != connection->endpoint[0])
            failures << name + QStringLiteral(": tshark's first node is ") + stream->node[0];
        for (int direction = 0; direction < 2; ++direction) {
            const QByteArray mine = bytes_of(connection->chunks, direction);
            const QByteArray tshark = bytes_of(stream->chunks, direction);
            if (mine != tshark)
                failures << name + QStringLiteral(", direction %1: ").arg(direction)
                                + difference(mine, tshark);
            bytes += mine.size();
        }
        if (inOrder) {
            const auto mine = merged(connection->chunks);
            const auto tshark = merged(stream->chunks);
            int at = 0;
            while (at < mine.size() && at < tshark.size() && mine.at(at) == tshark.at(at))
                ++at;
            if (at < mine.size() || at < tshark.size())
                failures << name
                                + QStringLiteral(": %1 chunks against tshark's %2, "
                                                 "first difference at chunk %3")
                                          .arg(mine.size())
                                          .arg(tshark.size())
                                          .arg(at);
        }
        retransmissions += connection->reassembly.retransmissions();
        gaps += connection->reassembly.gaps();
    }
    qCDebug(lcStreams) << file << ours->connections.size() << "streams," << ours->frames.size()
                       << "frames," << bytes << "bytes," << retransmissions << "retransmissions,"
                       << gaps << "gaps";
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
}

void TstTcpStreams::bytesMatchSenders_data()
{
    QTest::addColumn<QString>("run");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("retransmitted"); // the capture holds bytes twice
    QTest::addColumn<bool>("reordered"); // and bytes after those that follow them
    QTest::newRow("clean") << "clean"
                           << "clean.pcap" << false << false;
    QTest::newRow("loss") << "loss"
                          << "loss.pcap" << true << false;
    QTest::newRow("loss-upstream") << "loss"
                                   << "loss-upstream.pcap" << false << true;
}

// With every byte captured, each direction is exactly what its application
// sent, for every exchange, whether segments came twice or out of order.
void TstTcpStreams::bytesMatchSenders()
{
    QFETCH(QString, run);
    QFETCH(QString, file);
    QFETCH(bool, retransmitted);
    QFETCH(bool, reordered);
    if (run == QStringLiteral("loss") && !m_lossSkipped.isEmpty())
        QSKIP(qPrintable(m_lossSkipped));

    const std::unique_ptr<Capture> whole = reassemble(m_dir.filePath(file));
    const Capture& capture = *whole;
    QVERIFY2(capture.error.isEmpty(), qPrintable(capture.error));
    const std::vector<Exchange>& exchanges = m_exchanges.at(run);
    QCOMPARE(capture.connections.size(), exchanges.size());
    std::vector<int> uses(exchanges.size());
    std::int64_t retransmissions = 0;
    int outOfOrder = 0;
    for (const auto& connection : capture.connections) {
        const Carried found = carried(run, *connection);
        QVERIFY2(found.exchange >= 0, qPrintable(connection->endpoint[0]));
        const int index = found.exchange;
        const int client = found.client;
        ++uses[size_t(index)];
        QCOMPARE(connection->reassembly.gaps(), 0);
        QCOMPARE(connection->reassembly.missing_bytes(), std::uint64_t(0));
        const Exchange& exchange = exchanges.at(size_t(index));
        QCOMPARE(bytes_of(connection->chunks, client), exchange.request);
        QCOMPARE(bytes_of(connection->chunks, 1 - client), exchange.response);
        QCOMPARE(connection->reassembly.bytes()[size_t(client)],
                 std::uint64_t(exchange.request.size()));
        retransmissions += connection->reassembly.retransmissions();
        outOfOrder += connection->out_of_order;
    }
    QVERIFY2(uses == std::vector<int>(exchanges.size(), 1), "each exchange on one connection");
    qCDebug(lcStreams) << file << retransmissions << "retransmissions," << outOfOrder
                       << "segments out of order";
    if (retransmitted)
        QVERIFY2(retransmissions > 0, "dropped segments came again");
    if (reordered)
        QVERIFY2(outOfOrder > 0, "segments came after bytes that follow them");
}

void TstTcpStreams::cutCapturesInventNothing_data()
{
    QTest::addColumn<QString>("run");
    QTest::addColumn<QString>("file");
    QTest::newRow("clean-cut") << "clean"
                               << "clean-cut.pcap";
    QTest::newRow("clean-midway") << "clean"
                                  << "clean-midway.pcap";
    QTest::newRow("loss-cut") << "loss"
                              << "loss-cut.pcap";
}

// Where the capture lacks bytes, what we give is the senders' bytes at
// their places in the stream, the rest gaps of the right size: each
// direction's bytes and gaps, in order, follow each other without a hole or
// an overlap, and every given byte is the one sent there.
void TstTcpStreams::cutCapturesInventNothing()
{
    QFETCH(QString, run);
    QFETCH(QString, file);
    if (run == QStringLiteral("loss") && !m_lossSkipped.isEmpty())
        QSKIP(qPrintable(m_lossSkipped));

    const std::unique_ptr<Capture> capture = reassemble(m_dir.filePath(file));
    QVERIFY2(capture->error.isEmpty(), qPrintable(capture->error));
    const std::vector<Exchange>& exchanges = m_exchanges.at(run);
    QVERIFY(capture->connections.size() >= 1);
    std::int64_t gaps = 0;
    std::int64_t given = 0;
    std::int64_t missing = 0;
    bool startsLate = false;
    for (const auto& connection : capture->connections) {
        const Carried found = carried(run, *connection);
        QVERIFY2(found.exchange >= 0, qPrintable(connection->endpoint[0]));
        const Exchange& exchange = exchanges.at(size_t(found.exchange));
        const QByteArray sent[2] = { found.client == 0 ? exchange.request : exchange.response,
                                     found.client == 0 ? exchange.response : exchange.request };
        const std::uint32_t* isn = found.isn;
        std::optional<std::uint64_t> end[2]; // where the next event must begin
        for (const TcpStreamEvent& event : connection->reassembly.events()) {
            const int d = event.direction;
            const std::uint64_t at = std::uint32_t(event.seq - isn[d] - 1);
            const QString where = QStringLiteral("frame %1, direction %2, at %3 of %4")
                                          .arg(event.frame)
                                          .arg(d)
                                          .arg(at)
                                          .arg(sent[d].size());
            QVERIFY2(!end[d] || *end[d] == at, qPrintable(where + QStringLiteral(": not next")));
            if (!end[d] && at > 0)
                startsLate = true;
            const std::uint64_t length
                    = event.kind == TcpStreamEvent::Bytes ? event.piece.length : event.missing;
            QVERIFY2(length > 0 && at + length <= std::uint64_t(sent[d].size()),
                     qPrintable(where + QStringLiteral(": beyond what was sent")));
            if (event.kind == TcpStreamEvent::Bytes) {
                const QByteArray& frame = capture->frames.at(size_t(event.piece.frame - 1));
                QVERIFY2(frame.mid(int(event.piece.frame_offset), int(length))
                                 == sent[d].mid(qsizetype(at), qsizetype(length)),
                         qPrintable(where + QStringLiteral(": not the bytes sent there")));
                given += qint64(length);
            } else {
                ++gaps;
                missing += qint64(length);
            }
            end[d] = at + length;
        }
        QCOMPARE(std::int64_t(connection->reassembly.missing_bytes()),
                 std::int64_t(std::accumulate(
                         connection->reassembly.events().begin(),
                         connection->reassembly.events().end(), std::uint64_t(0),
                         [](std::uint64_t sum, const TcpStreamEvent& e) {
                             return e.kind == TcpStreamEvent::Gap ? sum + e.missing : sum;
                         })));
    }
    qCDebug(lcStreams) << file << capture->connections.size() << "streams," << given
                       << "bytes given," << gaps << "gaps," << missing << "bytes missing,"
                       << (startsLate ? "a stream starts late" : "");
    if (file.endsWith(QStringLiteral("-cut.pcap")))
        QVERIFY2(gaps > 0 && missing > given, "the snapshot length cut most payloads");
    else
        QVERIFY2(startsLate, "the capture began after a stream's first bytes");
}

QTEST_GUILESS_MAIN(TstTcpStreams)
#include "tst_tcpstreams.moc"
