// SPDX-License-Identifier: GPL-2.0-or-later

#include <cerrno>
#include <cstring>
#include <map>
#include <thread>

#include <arpa/inet.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "capturestore.h"
#include "ioseries.h"
#include "loopnamespace.h"
#include "looprecorder.h"
#include "packetrecord.h"
#include "tcptimesequence.h"

// What the graphs draw, against tshark on real traffic: the rows per second
// of a traffic graph (tshark's io,stat), and a connection's time sequence
// (tshark's relative sequence and acknowledgement numbers, its calculated
// windows, and its retransmission and lost-segment analysis).
//
// The test captures once, on the lo of a network namespace of its own,
// where nftables drops a few segments after the capture saw them (TCP then
// sends them again): a transfer of 3 MiB to a receiver that stops reading
// for a while (its window closes), a second connection on the same address
// and port pair, and one over ::1. Copies of the capture stand for others:
// one begun in the middle of the transfer (no SYNs), one that missed some
// segments (holes), and one whose times are stretched over many seconds.

namespace {

constexpr quint16 kServerPort = 8080;
// What tshark is asked of each frame, in this order.
const char* const kFields[] = { "tcp.stream",
                                "tcp.srcport",
                                "tcp.dstport",
                                "tcp.flags.syn",
                                "tcp.flags.fin",
                                "tcp.flags.ack",
                                "tcp.seq",
                                "tcp.len",
                                "tcp.ack",
                                "tcp.window_size",
                                "tcp.time_relative",
                                "tcp.analysis.retransmission",
                                "tcp.analysis.fast_retransmission",
                                "tcp.analysis.spurious_retransmission",
                                "tcp.analysis.out_of_order",
                                "tcp.analysis.lost_segment" };
enum Field {
    kStream,
    kSource,
    kDestination,
    kSyn,
    kFin,
    kAckFlag,
    kSeq,
    kLength,
    kAck,
    kWindow,
    kTime,
    kRetransmission,
    kFast,
    kSpurious,
    kOutOfOrder,
    kLost
};
constexpr quint16 kReusedPort = 40100;

struct Transfer
{
    int family;
    quint16 client_port; // 0: any
    qsizetype request;
    qsizetype response;
    bool stall; // the server reads only after a while
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

bool send_all(int fd, qsizetype count)
{
    const QByteArray chunk(1 << 16, 'g');
    for (qsizetype sent = 0; sent < count;) {
        const ssize_t n = send(fd, chunk.constData(),
                               size_t(qMin<qsizetype>(count - sent, chunk.size())), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

qsizetype drain(int fd)
{
    char chunk[1 << 16];
    qsizetype total = 0;
    for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;)
        total += n;
    return total;
}

// One connection: the client sends, half-closes and reads the response
// until the server closes. False when a side did not get all of it.
bool run_transfer(const Transfer& transfer)
{
    const timeval limit { 30, 0 };
    const int on = 1;
    socklen_t length = 0;
    const int listener = socket(transfer.family, SOCK_STREAM, 0);
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (transfer.stall) { // a small window, which the sender fills
        const int size = 64 << 10;
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    const sockaddr_storage server = loopback(transfer.family, kServerPort, &length);
    if (bind(listener, reinterpret_cast<const sockaddr*>(&server), length) != 0
        || listen(listener, 1) != 0) {
        close(listener);
        return false;
    }
    qsizetype received = -1;
    std::thread serving([&] {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0)
            return;
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (transfer.stall)
            usleep(300 * 1000);
        received = drain(fd);
        send_all(fd, transfer.response);
        close(fd); // first: the client's end of the pair is free again at once
    });
    const int fd = socket(transfer.family, SOCK_STREAM, 0);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    bool done = true;
    if (transfer.client_port != 0) {
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_storage local = loopback(transfer.family, transfer.client_port, &length);
        done = bind(fd, reinterpret_cast<const sockaddr*>(&local), length) == 0;
    }
    done = done && ::connect(fd, reinterpret_cast<const sockaddr*>(&server), length) == 0
            && send_all(fd, transfer.request) && shutdown(fd, SHUT_WR) == 0
            && drain(fd) == transfer.response;
    close(fd);
    serving.join();
    close(listener);
    return done && received == transfer.request;
}

// Copies the capture's frames that `keep` takes (by number from 1),
// changing their times as `time` says (microseconds since the first frame).
bool copy_capture(const QString& from, const QString& to, const std::function<bool(int)>& keep,
                  const std::function<qint64(qint64)>& time = {})
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* in = pcap_open_offline(QFile::encodeName(from).constData(), errbuf);
    if (in == nullptr)
        return false;
    pcap_dumper_t* out = pcap_dump_open(in, QFile::encodeName(to).constData());
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    qint64 first = -1;
    for (int number = 1; out != nullptr && pcap_next_ex(in, &header, &data) == 1; ++number) {
        const qint64 at = qint64(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
        if (first < 0)
            first = at;
        pcap_pkthdr copy = *header;
        if (time) {
            const qint64 moved = first + time(at - first);
            copy.ts.tv_sec = moved / 1000000;
            copy.ts.tv_usec = moved % 1000000;
        }
        if (keep(number))
            pcap_dump(reinterpret_cast<u_char*>(out), &copy, data);
    }
    if (out != nullptr)
        pcap_dump_close(out);
    pcap_close(in);
    return out != nullptr;
}

// A capture file's frames in a capture store, numbered as its rows.
struct StoredCapture
{
    std::unique_ptr<CaptureStore> store;
    std::vector<std::int64_t> frames; // of row i
};

bool store_capture(const QString& path, const QString& folder, StoredCapture* stored)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* in = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (in == nullptr)
        return false;
    stored->store = std::make_unique<CaptureStore>(folder);
    const int link = pcap_datalink(in);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    bool fine = stored->store->isValid();
    while (fine && pcap_next_ex(in, &header, &data) == 1) {
        const std::optional<std::int64_t> frame = stored->store->append(link, *header, data);
        fine = frame.has_value();
        stored->frames.push_back(frame.value_or(-1));
    }
    pcap_close(in);
    return fine;
}

// Rows as (seconds, nanoseconds, payload, marks); seconds of a series as
// (second, packets, bytes, first row, retransmissions).
using IoRows = QVector<std::array<qint64, 4>>;
using IoSeconds = QVector<std::array<qint64, 5>>;

IoSeconds seconds_of(const IoSeries& series)
{
    IoSeconds seconds;
    for (const auto& [second, bin] : series.seconds())
        seconds.append({ second, bin.packets, bin.bytes, bin.first_row, bin.marked[0] });
    return seconds;
}

} // namespace

Q_DECLARE_METATYPE(IoRows)
Q_DECLARE_METATYPE(IoSeconds)

class TstGraphSeries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void ioSeriesBins_data();
    void ioSeriesBins();
    void ioSeriesMatchesTshark_data();
    void ioSeriesMatchesTshark();
    void timeSequenceMatchesTshark_data();
    void timeSequenceMatchesTshark();

private:
    // tshark's fields of every frame of a file (kFields), one list per
    // frame. Asked once per file: tshark takes seconds to start.
    QList<QStringList> tsharkFields(const QString& file);

    QTemporaryDir m_dir;
    QHash<QString, QList<QStringList>> m_fields;
    QString m_tshark;
};

void TstGraphSeries::initTestCase()
{
    m_tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (m_tshark.isEmpty())
        QSKIP("tshark is needed (scripts/install-deps test installs it)");
    QVERIFY(m_dir.isValid());
    // With an Ethernet's MTU and without segmentation offloads, so that the
    // capture sees segments of the size a network carries, not the 64 KiB
    // blocks of lo.
    bool refused = false;
    const QString lo = loopnamespace::enter({ 1500, false }, &refused);
    if (refused)
        QSKIP(qPrintable(lo));
    QVERIFY2(lo.isEmpty(), qPrintable(lo));
    // Dropped on the way in, after the capture has seen them, so that the
    // capture holds the segments sent again too. Not SYNs: their loss costs
    // a second each.
    QProcess nft;
    nft.start(QStringLiteral("nft"), { QStringLiteral("-f"), QStringLiteral("-") });
    nft.write("table inet loss {\n"
              "  chain input {\n"
              "    type filter hook input priority 0;\n"
              "    tcp sport 8080 tcp flags & syn == 0 numgen random mod 100 < 2 drop\n"
              "    tcp dport 8080 tcp flags & syn == 0 numgen random mod 100 < 2 drop\n"
              "  }\n"
              "}\n");
    nft.closeWriteChannel();
    if (!nft.waitForFinished(30000) || nft.exitCode() != 0)
        QSKIP(qPrintable(QStringLiteral("nft cannot drop segments (scripts/install-deps test "
                                        "installs nftables): ")
                         + QString::fromLocal8Bit(nft.readAllStandardError())));

    const QString lossy = m_dir.filePath(QStringLiteral("lossy.pcap"));
    {
        LoopbackRecorder recorder(lossy, kServerPort, 2048, 64 << 20);
        if (!recorder.error().isEmpty())
            QSKIP(qPrintable(recorder.error()));
        QVERIFY(run_transfer({ AF_INET, kReusedPort, 3 << 20, 100000, true }));
        QVERIFY(run_transfer({ AF_INET, kReusedPort, 200000, 10000, false }));
        QVERIFY(run_transfer({ AF_INET6, 0, 500000, 1000, false }));
        QCOMPARE(recorder.stop(), 0);
    }
    const int frames = tsharkFields(lossy).size();
    QVERIFY(frames > 100);
    // From a third of the way in; without every 37th frame of the middle
    // third; 1000 times as long.
    QVERIFY(copy_capture(lossy, m_dir.filePath(QStringLiteral("mid.pcap")),
                         [frames](int number) { return number > frames / 3; }));
    QVERIFY(copy_capture(lossy, m_dir.filePath(QStringLiteral("holes.pcap")), [frames](int number) {
        return number < frames / 3 || number > 2 * frames / 3 || number % 37 != 0;
    }));
    QVERIFY(copy_capture(
            lossy, m_dir.filePath(QStringLiteral("stretched.pcap")), [](int) { return true; },
            [](qint64 micros) { return micros * 1000; }));
}

QList<QStringList> TstGraphSeries::tsharkFields(const QString& file)
{
    if (m_fields.contains(file))
        return m_fields.value(file);
    QStringList arguments { QStringLiteral("-r"), file,
                            QStringLiteral("-o"), QStringLiteral("tcp.calculate_timestamps:TRUE"),
                            QStringLiteral("-T"), QStringLiteral("fields"),
                            QStringLiteral("-E"), QStringLiteral("separator=;") };
    for (const char* field : kFields)
        arguments << QStringLiteral("-e") << QLatin1String(field);
    QProcess tshark;
    tshark.start(m_tshark, arguments);
    if (!tshark.waitForFinished(120000) || tshark.exitCode() != 0)
        return {};
    QList<QStringList> lines;
    for (const QByteArray& line : tshark.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            lines.append(QString::fromUtf8(line).split(QLatin1Char(';')));
    m_fields.insert(file, lines);
    return lines;
}

void TstGraphSeries::ioSeriesBins_data()
{
    QTest::addColumn<IoRows>("rows");
    QTest::addColumn<IoSeconds>("seconds");
    QTest::newRow("empty") << IoRows {} << IoSeconds {};
    QTest::newRow("edges-of-a-second") << IoRows { { 100, 500000000, 10, 0 },
                                                   { 101, 499999999, 20, Retransmission },
                                                   { 101, 500000000, 30, Retransmission | Reset } }
                                       << IoSeconds { { 0, 2, 30, 0, 1 }, { 1, 1, 30, 2, 1 } };
    QTest::newRow("earlier-than-the-first")
            << IoRows { { 100, 0, 1, 0 }, { 99, 999999999, 2, 0 }, { 98, 0, 3, 0 } }
            << IoSeconds { { -2, 1, 3, 2, 0 }, { -1, 1, 2, 1, 0 }, { 0, 1, 1, 0, 0 } };
    QTest::newRow("far-apart") << IoRows { { 0, 0, 5, 0 }, { 4000000000, 0, 6, 0 } }
                               << IoSeconds { { 0, 1, 5, 0, 0 }, { 4000000000, 1, 6, 1, 0 } };
}

void TstGraphSeries::ioSeriesBins()
{
    QFETCH(IoRows, rows);
    QFETCH(IoSeconds, seconds);
    IoSeries series;
    series.add(7, 0, 99, KeepAlive); // gone with the clear
    series.clear();
    TcpMarks marks = 0;
    for (const auto& row : rows) {
        series.add(row[0], row[1], std::uint32_t(row[2]), TcpMarks(row[3]));
        marks |= TcpMarks(row[3]);
    }
    QCOMPARE(seconds_of(series), seconds);
    QCOMPARE(series.row_count(), rows.size());
    QCOMPARE(series.marks_seen(), marks);
}

void TstGraphSeries::ioSeriesMatchesTshark_data()
{
    QTest::addColumn<QString>("file");
    // Seconds of the real capture hold most of it: it is stretched.
    QTest::newRow("stretched") << QStringLiteral("stretched.pcap");
}

void TstGraphSeries::ioSeriesMatchesTshark()
{
    QFETCH(QString, file);
    const QString path = m_dir.filePath(file);
    IoSeries series;
    {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* in = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
        QVERIFY2(in != nullptr, errbuf);
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        while (pcap_next_ex(in, &header, &data) == 1) {
            const std::optional<TcpSegmentHeader> segment
                    = decode_tcp_segment(pcap_datalink(in), *header, data);
            QVERIFY(segment.has_value());
            series.add(header->ts.tv_sec, header->ts.tv_usec * 1000, segment->stated, 0);
        }
        pcap_close(in);
    }
    // tshark's intervals: "| 3 <> 4 | frames | bytes |", those without
    // frames too.
    QProcess tshark;
    tshark.start(m_tshark,
                 { QStringLiteral("-r"), path, QStringLiteral("-q"), QStringLiteral("-z"),
                   QStringLiteral("io,stat,1,COUNT(frame)frame,SUM(tcp.len)tcp.len") });
    QVERIFY(tshark.waitForFinished(120000) && tshark.exitCode() == 0);
    IoSeconds expected;
    const QRegularExpression interval(
            QStringLiteral(R"(^\|\s*([\d.]+) <>\s*\S+\s*\|\s*(\d+)\s*\|\s*(\d+))"));
    for (const QByteArray& line : tshark.readAllStandardOutput().split('\n')) {
        const QRegularExpressionMatch match = interval.match(QString::fromUtf8(line));
        if (match.hasMatch() && match.captured(2).toLongLong() > 0)
            expected.append({ qint64(match.captured(1).toDouble()), match.captured(2).toLongLong(),
                              match.captured(3).toLongLong(), -1, 0 });
    }
    IoSeconds got = seconds_of(series);
    for (auto& second : got)
        second[3] = -1; // tshark says no row
    const auto text = [](const IoSeconds& seconds) {
        QStringList lines;
        for (const auto& s : seconds)
            lines << QStringLiteral("second %1: %2 packets, %3 bytes")
                             .arg(s[0])
                             .arg(s[1])
                             .arg(s[2]);
        return lines;
    };
    QCOMPARE(text(got), text(expected));
    QVERIFY(got.size() > 20);
}

void TstGraphSeries::timeSequenceMatchesTshark_data()
{
    // The connection is tshark's stream number; from which of its frames
    // (a share of the way through it) it is read; which share of the
    // pair's frames the reading is given at first, the others added after.
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("stream");
    QTest::addColumn<double>("followed");
    QTest::addColumn<double>("given");
    QTest::addColumn<bool>("ended");
    QTest::newRow("transfer") << QStringLiteral("lossy.pcap") << 0 << 0.5 << 1.0 << true;
    QTest::newRow("transfer-growing") << QStringLiteral("lossy.pcap") << 0 << 0.0 << 0.2 << true;
    QTest::newRow("pair-reused") << QStringLiteral("lossy.pcap") << 1 << 0.3 << 1.0 << false;
    QTest::newRow("ipv6") << QStringLiteral("lossy.pcap") << 2 << 1.0 << 1.0 << false;
    QTest::newRow("begun-midway") << QStringLiteral("mid.pcap") << 0 << 0.5 << 1.0 << true;
    QTest::newRow("holes") << QStringLiteral("holes.pcap") << 0 << 0.5 << 1.0 << true;
}

void TstGraphSeries::timeSequenceMatchesTshark()
{
    QFETCH(QString, file);
    QFETCH(int, stream);
    QFETCH(double, followed);
    QFETCH(double, given);
    QFETCH(bool, ended);
    const QString path = m_dir.filePath(file);
    QTemporaryDir folder;
    StoredCapture stored;
    QVERIFY(folder.isValid() && store_capture(path, folder.path(), &stored));
    const QList<QStringList> frames = tsharkFields(path);
    QCOMPARE(frames.size(), int(stored.frames.size()));

    // The rows of the stream, and of its address and port pair (the ports
    // tell it: every address is a loopback one).
    std::vector<int> of_stream;
    for (int row = 0; row < frames.size(); ++row)
        if (frames[row][kStream].toInt() == stream)
            of_stream.push_back(row);
    QVERIFY(!of_stream.empty());
    const auto ports = [&frames](int row) {
        return QSet<QString> { frames[row][kSource], frames[row][kDestination] };
    };
    std::vector<std::int64_t> pair_frames;
    std::vector<int> pair_rows;
    for (int row = 0; row < frames.size(); ++row) {
        if (ports(row) == ports(of_stream.front())) {
            pair_frames.push_back(stored.frames[size_t(row)]);
            pair_rows.push_back(row);
        }
    }
    const int followed_row = of_stream[std::min(of_stream.size() - 1,
                                                size_t(followed * double(of_stream.size())))];
    const auto given_count = std::max<std::ptrdiff_t>(
            std::find(pair_rows.cbegin(), pair_rows.cend(), followed_row) - pair_rows.cbegin() + 1,
            std::ptrdiff_t(given * double(pair_rows.size())));

    // Each direction's segments and acknowledgements as text, as tshark
    // tells them and as the time sequence does, taken as a window takes it.
    // Sequence numbers modulo 2^32: tshark's relative ones wrap (a segment
    // sent before the first one captured is 2^32 less a little), the
    // graph's go below 0.
    const auto segment = [](int row, double time, qint64 seq, uint length, bool again, bool gap) {
        return QStringLiteral("row %1 at %2: seq %3 + %4%5%6")
                .arg(row)
                .arg(time, 0, 'f', 6)
                .arg(quint32(seq))
                .arg(length)
                .arg(again ? " sent before" : "", gap ? " after a gap" : "");
    };
    const auto ack = [](int row, double time, qint64 number, qint64 window_end) {
        return QStringLiteral("row %1 at %2: ack %3 window to %4")
                .arg(row)
                .arg(time, 0, 'f', 6)
                .arg(quint32(number))
                .arg(quint32(window_end));
    };
    std::array<QStringList, 2> want_segments, want_acks, segments, acks;
    for (const int row : of_stream) {
        const QStringList& f = frames[row];
        const int d = f[kSource] == frames[of_stream.front()][kSource] ? 0 : 1;
        const uint length = f[kLength].toUInt() + f[kSyn].toUInt() + f[kFin].toUInt();
        if (length > 0)
            want_segments[d] << segment(
                    row, f[kTime].toDouble(), f[kSeq].toLongLong(), length,
                    !(f[kRetransmission] + f[kFast] + f[kSpurious] + f[kOutOfOrder]).isEmpty(),
                    !f[kLost].isEmpty());
        if (f[kAckFlag] == QLatin1String("1"))
            want_acks[1 - d] << ack(row, f[kTime].toDouble(), f[kAck].toLongLong(),
                                    f[kAck].toLongLong() + f[kWindow].toLongLong());
    }
    bool retransmissions = false;
    bool gaps = false;
    const auto take = [&](TcpTimeSequence& sequence) {
        for (int d = 0; d < 2; ++d) {
            for (const TcpTimeSequence::Segment& s : sequence.segments(d)) {
                segments[d] << segment(s.row, s.time, s.seq, s.length, s.retransmission,
                                       s.gap_before);
                retransmissions = retransmissions || s.retransmission;
                gaps = gaps || s.gap_before;
            }
            for (const TcpTimeSequence::Ack& a : sequence.acks(d))
                acks[d] << ack(a.row, a.time, a.ack, a.window_end);
        }
        sequence.clear_taken();
    };
    QString error;
    std::unique_ptr<TcpTimeSequence> sequence = TcpTimeSequence::open(
            *stored.store, { pair_frames.cbegin(), pair_frames.cbegin() + given_count },
            { pair_rows.cbegin(), pair_rows.cbegin() + given_count },
            stored.frames[size_t(followed_row)], &error);
    QVERIFY2(sequence != nullptr, qPrintable(error));
    take(*sequence);
    sequence->add(*stored.store, { pair_frames.cbegin() + given_count, pair_frames.cend() },
                  { pair_rows.cbegin() + given_count, pair_rows.cend() });
    take(*sequence);
    QCOMPARE(sequence->ended(), ended);
    for (int d = 0; d < 2; ++d) {
        QCOMPARE(segments[d], want_segments[d]);
        QCOMPARE(acks[d], want_acks[d]);
    }
    // The traffic had what the comparison is about.
    // (The kernel now and then sends a run of new segments after the one
    // that follows them, which tshark marks as a lost segment and then out
    // of order: a gap in the other captures is no fault of theirs.)
    if (stream == 0) {
        QVERIFY(retransmissions);
        if (file == QLatin1String("holes.pcap"))
            QVERIFY(gaps);
    }
    QVERIFY(sequence->endpoint(0).endsWith(QLatin1Char(':') + frames[of_stream.front()][kSource]));
}

QTEST_GUILESS_MAIN(TstGraphSeries)
#include "tst_graphseries.moc"
