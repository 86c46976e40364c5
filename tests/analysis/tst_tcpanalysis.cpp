// SPDX-License-Identifier: GPL-2.0-or-later

#include <cerrno>
#include <cstring>
#include <map>

#include <arpa/inet.h>
#include <net/if.h>
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

#include "loopnamespace.h"
#include "looprecorder.h"
#include "packetrecord.h"
#include "tcpanalysis.h"

// The marks and conversations of real TCP traffic against tshark's analysis
// of the same captures. The test makes them first, on the lo of a network
// namespace of its own, one server port each (tcptraffic.py): transfers
// that lose segments after the capture saw them (nftables' input hook), and
// transfers whose capture misses segments, a receiver that stops reading
// for a while beside an idle connection kept alive, and connections reset,
// one address and port pair used twice, each beginning with a TLS
// ClientHello. A capture misses segments only when it cannot keep up: a
// drop before it (nftables' output hook, or netdev egress) is known to TCP,
// which sends the segment again in order; so that capture's kernel filter
// leaves out segments at random instead. Captures of other people's
// machines that Debian packages ship are looked at too, where installed.
//
// QT_LOGGING_RULES=tarnlook.test.tcpanalysis.debug=true prints the figures.

namespace {

Q_LOGGING_CATEGORY(lcAnalysis, "tarnlook.test.tcpanalysis", QtWarningMsg)

constexpr quint16 kPorts[] = { 8081, 8082, 8083, 8084 }; // lossy, missed, stalled, reset
const char* const kOwnCaptures[] = { "loss-in", "missed", "stalled", "reset" };
// The marks each one's traffic must show at least.
const TcpMarks kWanted[]
        = { TcpMark::Retransmission | TcpMark::DuplicateAck, TcpMark::PreviousSegmentLost,
            TcpMark::ZeroWindow | TcpMark::WindowFull | TcpMark::KeepAlive, TcpMark::Reset };
constexpr quint16 kReusedClientPort = 40100;

// tshark's fields, and the mark each stands for.
const std::pair<const char*, TcpMarks> kTsharkMarks[] = {
    { "tcp.analysis.retransmission", TcpMark::Retransmission },
    { "tcp.analysis.fast_retransmission", TcpMark::Retransmission },
    { "tcp.analysis.spurious_retransmission", TcpMark::Retransmission },
    { "tcp.analysis.out_of_order", TcpMark::OutOfOrder },
    { "tcp.analysis.lost_segment", TcpMark::PreviousSegmentLost },
    { "tcp.analysis.duplicate_ack", TcpMark::DuplicateAck },
    { "tcp.analysis.zero_window", TcpMark::ZeroWindow },
    { "tcp.analysis.window_full", TcpMark::WindowFull },
    { "tcp.analysis.keep_alive", TcpMark::KeepAlive },
    { "tcp.flags.reset", TcpMark::Reset },
};
const char* const kTsharkFields[] = {
    "frame.number", "tcp.stream", "ip.src",           "ipv6.src",
    "tcp.srcport",  "tcp.len",    "frame.time_epoch", "tls.handshake.extensions_server_name",
    "ip.len",       "frame.len",  "eth.type"
};
constexpr int kFields = int(std::size(kTsharkFields));

// One frame of a capture as tshark reads it.
struct TsharkFrame
{
    TcpMarks marks = 0;
    int stream = -1;
    QString source; // address:port
    std::uint32_t length = 0; // tcp.len
    std::int64_t ns = 0;
    std::string server_name;
    bool cut_on_wire = false; // its IPv4 length runs past the frame's
};

// A capture read as the rows get it, each TCP segment a row, analysed; and
// as tshark reads it, by frame number.
struct Capture
{
    std::vector<CapturedSegment> segments;
    std::vector<int> frame; // of each row, 1-based, as tshark counts
    std::vector<QByteArray> payload;
    std::unique_ptr<TcpAnalysis> analysis;
    std::map<int, TsharkFrame> tshark;
    TcpMarks wanted = 0;
};

std::map<int, TsharkFrame> read_tshark(const QString& tshark, const QString& path)
{
    // The ClientHellos' server names on the reset port too.
    QStringList arguments { "-r",  path,    "-Y",
                            "tcp", "-d",    QStringLiteral("tcp.port==%1,tls").arg(kPorts[3]),
                            "-T",  "fields" };
    for (const char* field : kTsharkFields)
        arguments << "-e" << QLatin1String(field);
    for (const auto& mark : kTsharkMarks)
        arguments << "-e" << QLatin1String(mark.first);
    QProcess process;
    process.start(tshark, arguments);
    std::map<int, TsharkFrame> frames;
    if (!process.waitForFinished(300000) || process.exitCode() != 0)
        return frames;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> column = line.split('\t');
        if (column.size() != kFields + int(std::size(kTsharkMarks)))
            continue;
        TsharkFrame& frame = frames[column[0].toInt()];
        frame.stream = column[1].toInt();
        frame.source = QString::fromLatin1(column[2].isEmpty() ? column[3] : column[2])
                + QLatin1Char(':') + QString::fromLatin1(column[4]);
        frame.length = column[5].toUInt();
        const QList<QByteArray> time = column[6].split('.');
        frame.ns = time[0].toLongLong() * 1000000000
                + time.value(1).leftJustified(9, '0').toLongLong();
        frame.server_name = column[7].toStdString();
        const int link_header = column[10].isEmpty() ? 0 : 14;
        frame.cut_on_wire
                = !column[8].isEmpty() && column[8].toInt() + link_header > column[9].toInt();
        for (int i = 0; i < int(std::size(kTsharkMarks)); ++i)
            if (!column[kFields + i].isEmpty() && column[kFields + i] != "0")
                frame.marks |= kTsharkMarks[i].second;
    }
    return frames;
}

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
    void marksAgreeWithTshark_data() { captures(true); }
    void marksAgreeWithTshark();
    void conversationsAgreeWithTshark_data() { captures(false); }
    void conversationsAgreeWithTshark();

private:
    static void captures(bool telnet);
    QString makeCaptures();
    // The capture read and analysed once; null, with the reason, when
    // there is none.
    const Capture* capture(const QString& name, QString* skip);

    QString m_tshark;
    QTemporaryDir m_dir;
    QString m_skip; // why there are no captures of our own
    std::map<QString, std::pair<QString, TcpMarks>> m_files; // path, marks wanted
    std::map<QString, std::unique_ptr<Capture>> m_read;
};

void TstTcpAnalysis::initTestCase()
{
    m_tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (m_tshark.isEmpty())
        QSKIP("tshark is needed (scripts/install-deps test installs it)");
    QVERIFY(m_dir.isValid());
    // A telnet session with keep-alives (ruby-pcaprub) and a little HTTP
    // (golang-github-google-gopacket-dev; its capture of lo has a link type
    // that the rows do not decode).
    const QString telnet = m_dir.filePath(QStringLiteral("telnet.pcap"));
    QProcess gzip;
    gzip.setStandardOutputFile(telnet);
    gzip.start("gzip", { "-dc", "/usr/share/doc/ruby-pcaprub/examples/telnet-raw.pcap.gz" });
    m_files["telnet"] = { gzip.waitForFinished() && gzip.exitCode() == 0 ? telnet : QString(),
                          TcpMark::KeepAlive };
    m_files["gopacket-ethernet"]
            = { "/usr/share/gocode/src/github.com/google/gopacket/pcap/test_ethernet.pcap", 0 };
    bool refused = false;
    const QString lo = loopnamespace::enter({}, &refused);
    if (refused) {
        m_skip = lo;
        return;
    }
    QVERIFY2(lo.isEmpty(), qPrintable(lo));
    const QString failure = makeCaptures();
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

QString TstTcpAnalysis::makeCaptures()
{
    QProcess nft;
    nft.start("nft", { "-f", "-" });
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
        return {};
    }
    std::vector<std::unique_ptr<LoopbackRecorder>> recorders;
    QStringList arguments { QFINDTESTDATA("tcptraffic.py") };
    for (int i = 0; i < 4; ++i) {
        const QString path = m_dir.filePath(QLatin1String(kOwnCaptures[i]) + ".pcap");
        recorders.push_back(std::make_unique<LoopbackRecorder>(path, kPorts[i], 262144, 64 << 20,
                                                               QByteArray(), i == 1 ? 3 : 0));
        if (!recorders.back()->error().isEmpty()) {
            m_skip = recorders.back()->error();
            return {};
        }
        m_files[QLatin1String(kOwnCaptures[i])] = { path, kWanted[i] };
        arguments << QString::number(kPorts[i]);
    }
    QProcess traffic;
    traffic.start("python3", arguments << QString::number(kReusedClientPort));
    if (!traffic.waitForFinished(120000) || traffic.exitCode() != 0)
        return traffic.errorString() + QString::fromLocal8Bit(traffic.readAllStandardError());
    for (int i = 0; i < 4; ++i)
        if (recorders[size_t(i)]->stop() != 0 && i != 1)
            return QStringLiteral("the recorder of %1 lost frames").arg(kOwnCaptures[i]);
    return {};
}

void TstTcpAnalysis::captures(bool telnet)
{
    QTest::addColumn<QString>("capture");
    for (const char* name : kOwnCaptures)
        QTest::newRow(name) << QString::fromLatin1(name);
    // Its IPv4 lengths run past some frames' ends, which a count of bytes
    // by tshark leaves out.
    if (telnet)
        QTest::newRow("telnet") << QStringLiteral("telnet");
    QTest::newRow("gopacket-ethernet") << QStringLiteral("gopacket-ethernet");
}

const Capture* TstTcpAnalysis::capture(const QString& name, QString* skip)
{
    const auto file = m_files.find(name);
    if (file == m_files.end() || file->second.first.isEmpty()
        || !QFile::exists(file->second.first)) {
        *skip = file == m_files.end() ? m_skip
                                      : QStringLiteral("the package that ships this capture is "
                                                       "not installed (scripts/install-deps test)");
        return nullptr;
    }
    std::unique_ptr<Capture>& read = m_read[name];
    if (read != nullptr)
        return read.get();
    read = std::make_unique<Capture>();
    read->wanted = file->second.second;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pcap = pcap_open_offline(QFile::encodeName(file->second.first).constData(), errbuf);
    if (pcap == nullptr) {
        *skip = QString::fromLocal8Bit(errbuf);
        m_read.erase(name);
        return nullptr;
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    for (int frame = 1; pcap_next_ex(pcap, &header, &data) == 1; ++frame) {
        const std::optional<TcpSegmentHeader> tcp
                = decode_tcp_segment(pcap_datalink(pcap), *header, data);
        if (!tcp)
            continue;
        read->segments.push_back(
                { *tcp, header->ts.tv_sec, std::uint32_t(header->ts.tv_usec) * 1000 });
        read->frame.push_back(frame);
        read->payload.emplace_back(reinterpret_cast<const char*>(data) + tcp->payload_offset,
                                   int(tcp->captured));
    }
    pcap_close(pcap);
    const Capture* rows = read.get();
    read->analysis = std::make_unique<TcpAnalysis>(
            [rows](int row) { return rows->payload.at(size_t(row)); });
    for (size_t row = 0; row < read->segments.size(); ++row)
        read->analysis->add(int(row), &read->segments[row]);
    read->tshark = read_tshark(m_tshark, file->second.first);
    return read.get();
}

// Every row's marks are tshark's. Where tshark tells a retransmission from
// a segment out of order by how soon it came, either of the two is right.
void TstTcpAnalysis::marksAgreeWithTshark()
{
    QFETCH(QString, capture);
    QString skip;
    const Capture* read = this->capture(capture, &skip);
    if (read == nullptr)
        QSKIP(qPrintable(skip));
    QCOMPARE(read->tshark.size(), read->segments.size());
    QStringList failures;
    TcpMarks seen = 0;
    int either = 0;
    int cut = 0;
    for (size_t row = 0; row < read->segments.size(); ++row) {
        const TsharkFrame& frame = read->tshark.at(read->frame[row]);
        const TcpMarks ours = read->analysis->marks(int(row));
        seen |= frame.marks;
        constexpr TcpMarks kBehind = TcpMark::Retransmission | TcpMark::OutOfOrder;
        if (ours == frame.marks)
            continue;
        if ((ours & ~kBehind) == (frame.marks & ~kBehind) && (ours & kBehind) != 0
            && (frame.marks & kBehind) != 0)
            ++either;
        else if (frame.cut_on_wire) // tshark's segment length is the frame's, ours the IP's
            ++cut;
        else
            failures << QStringLiteral("frame %1: %2, tshark: %3")
                                .arg(read->frame[row])
                                .arg(marks_text(ours), marks_text(frame.marks));
    }
    qCDebug(lcAnalysis).noquote() << capture << read->segments.size() << "rows,"
                                  << read->analysis->marked_rows().size()
                                  << "marked:" << marks_text(seen) << "-" << either
                                  << "retransmission or out of order," << cut << "cut on the wire";
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
    QVERIFY2((seen & read->wanted) == read->wanted,
             qPrintable(QStringLiteral("the traffic shows %1, not all of %2")
                                .arg(marks_text(seen), marks_text(read->wanted))));
}

// One conversation per tshark stream, in the same order, with its counts,
// times and server name.
void TstTcpAnalysis::conversationsAgreeWithTshark()
{
    QFETCH(QString, capture);
    QString skip;
    const Capture* read = this->capture(capture, &skip);
    if (read == nullptr)
        QSKIP(qPrintable(skip));
    // tshark's streams, added up as the table adds them up.
    std::vector<TcpConversation> expected;
    std::vector<std::pair<QString, std::string>> named; // A's endpoint, server name
    for (const auto& [number, frame] : read->tshark) {
        const auto stream = size_t(frame.stream);
        if (stream >= expected.size()) {
            expected.resize(stream + 1);
            named.resize(stream + 1);
            named[stream].first = frame.source;
            expected[stream].first_ns = frame.ns;
        }
        TcpConversation& conversation = expected[stream];
        const size_t direction = frame.source == named[stream].first ? 0 : 1;
        ++conversation.packets[direction];
        conversation.bytes[direction] += frame.length;
        conversation.last_ns = frame.ns;
        conversation.marked += frame.marks != 0 ? 1 : 0;
        if (named[stream].second.empty())
            named[stream].second = frame.server_name;
    }
    const TcpAnalysis& analysis = *read->analysis;
    QCOMPARE(analysis.connection_count(), int(expected.size()));
    for (int i = 0; i < analysis.connection_count(); ++i) {
        const TcpConversation& ours = analysis.conversation(i);
        const TcpConversation& want = expected[size_t(i)];
        char a[INET6_ADDRSTRLEN] = {};
        inet_ntop(ours.version == 6 ? AF_INET6 : AF_INET, ours.address[0].data(), a, sizeof a);
        QCOMPARE(QString::fromLatin1(a) + QLatin1Char(':') + QString::number(ours.port[0]),
                 named[size_t(i)].first);
        QCOMPARE(ours.packets, want.packets);
        QCOMPARE(ours.bytes, want.bytes);
        QCOMPARE(ours.first_ns, want.first_ns);
        QCOMPARE(ours.last_ns, want.last_ns);
        QCOMPARE(analysis.server_name(i), named[size_t(i)].second);
        QCOMPARE(ours.marked, want.marked);
    }
    QCOMPARE(analysis.first_ns().value_or(0), read->tshark.begin()->second.ns);
}

QTEST_GUILESS_MAIN(TstTcpAnalysis)
#include "tst_tcpanalysis.moc"
