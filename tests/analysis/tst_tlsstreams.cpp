// SPDX-License-Identifier: GPL-2.0-or-later

#include <map>
#include <memory>
#include <set>

#include <pcap/pcap.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "capturestore.h"
#include "looprecorder.h"
#include "packetrecord.h"
#include "streamchunks.h"
#include "tcpfollow.h"
#include "tcpreassembly.h"
#include "tlscipher.h"
#include "tlskeylog.h"
#include "tlsstream.h"
#include "tlstraffic.h"

using namespace streamchunks;

// The plaintext of real TLS traffic against tshark's "Follow TLS stream"
// and against what the applications sent. The test makes its captures
// first, on the lo of a network namespace of its own (MTU 1500): OpenSSL's
// s_server with s_client and curl (TLS 1.3 with each of its suites, a key
// update both ways, a HelloRetryRequest, resumed sessions; TLS 1.2 with
// each AEAD suite, ECDHE and RSA key exchange), and Python's ssl on both
// sides over IPv4 and IPv6 with bodies of 0 B to 16 MiB both ways. All of it
// runs twice: clean, and with nftables dropping a few segments on the input
// hook after the capture saw them (retransmissions).
//
// QT_LOGGING_RULES=tarnlook.test.tlsstreams.debug=true prints the figures.

namespace {

Q_LOGGING_CATEGORY(lcTls, "tarnlook.test.tlsstreams", QtWarningMsg)

constexpr qsizetype kMiB = 1 << 20;

// One TLS connection of a capture as we read it.
struct Connection
{
    int first_frame = 0; // 1-based, as tshark counts
    QString endpoint[2];
    std::unique_ptr<TcpFollow> follow;
    std::unique_ptr<TlsStream> tls;
    QVector<QPair<int, QByteArray>> chunks; // application data, record by record
    QByteArray bytes[2];
};

// A capture file in a store of its own, and its connections read.
struct Capture
{
    std::unique_ptr<CaptureStore> store;
    std::vector<std::unique_ptr<Connection>> connections;
    QString error;
};

QString endpoint_text(const TcpSegmentHeader& header, bool source)
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(header.version == 6 ? AF_INET6 : AF_INET,
              (source ? header.source : header.destination).data(), text, sizeof text);
    return QString::fromLatin1(text) + QLatin1Char(':')
            + QString::number(source ? header.source_port : header.destination_port);
}

// Reads every connection of the capture with the key log, as following
// each from its first row would.
std::unique_ptr<Capture> read_capture(const QString& path, const QString& folder,
                                      const TlsKeyLog& keys)
{
    auto capture = std::make_unique<Capture>();
    capture->store = std::make_unique<CaptureStore>(folder);
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.toLocal8Bit().constData(), errbuf);
    if (file == nullptr || !capture->store->isValid()) {
        capture->error = QString::fromLocal8Bit(errbuf) + capture->store->errorString();
        return capture;
    }
    const int link = pcap_datalink(file);
    struct Pair
    {
        std::vector<std::int64_t> frames;
        std::vector<int> rows;
        std::vector<TcpSegmentIn> segments;
        QString first;
        QString second;
    };
    std::map<QString, Pair> pairs;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int row = 0;
    while (pcap_next_ex(file, &header, &data) == 1) {
        const std::optional<std::int64_t> seq = capture->store->append(link, *header, data);
        const std::optional<TcpSegmentHeader> tcp = decode_tcp_segment(link, *header, data);
        ++row;
        if (!seq || !tcp)
            continue;
        const QString source = endpoint_text(*tcp, true);
        const QString destination = endpoint_text(*tcp, false);
        const QString key
                = qMin(source, destination) + QLatin1Char(' ') + qMax(source, destination);
        Pair& pair = pairs[key];
        if (pair.frames.empty()) {
            pair.first = source;
            pair.second = destination;
        }
        TcpSegmentIn segment;
        segment.direction = source == pair.first ? 0 : 1;
        segment.seq = tcp->seq;
        segment.syn = (tcp->flags & TcpSegmentHeader::Syn) != 0;
        segment.has_ack = (tcp->flags & TcpSegmentHeader::Ack) != 0;
        pair.frames.push_back(*seq);
        pair.rows.push_back(row); // the frame number, as tshark's
        pair.segments.push_back(segment);
    }
    pcap_close(file);

    const TlsStream::Lookup lookup
            = [&keys](const std::array<std::uint8_t, 32>& random) { return keys.find(random); };
    for (auto& [key, pair] : pairs) {
        const std::vector<int> numbers = split_connections(pair.segments);
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            if (i > 0 && numbers[i] == numbers[i - 1])
                continue;
            auto connection = std::make_unique<Connection>();
            connection->first_frame = pair.rows[i];
            QString error;
            connection->follow = TcpFollow::open(*capture->store, pair.frames, pair.rows,
                                                 pair.frames[i], &error);
            if (connection->follow == nullptr) {
                capture->error = error;
                return capture;
            }
            connection->follow->finish();
            connection->endpoint[0] = connection->follow->endpoint(0);
            connection->endpoint[1] = connection->follow->endpoint(1);
            connection->tls = std::make_unique<TlsStream>(*connection->follow, lookup);
            connection->tls->finish();
            for (std::size_t r = 0; r < connection->tls->records().size(); ++r) {
                const TlsStream::Record& record = connection->tls->records()[r];
                if (record.status != TlsStream::Status::Decrypted)
                    continue;
                QByteArray content(record.content_length, Qt::Uninitialized);
                if (!connection->tls->read_content(
                            r, reinterpret_cast<std::uint8_t*>(content.data()))) {
                    capture->error = QStringLiteral("record %1 of frame %2 does not read again")
                                             .arg(r)
                                             .arg(connection->first_frame);
                    return capture;
                }
                connection->chunks.append({ record.direction, content });
                connection->bytes[record.direction] += content;
            }
            capture->connections.push_back(std::move(connection));
        }
    }
    std::sort(capture->connections.begin(), capture->connections.end(),
              [](const auto& a, const auto& b) { return a->first_frame < b->first_frame; });
    return capture;
}

// tshark's reading of one stream: the sender of its first node, and its
// chunks (0: that node's).
struct TsharkStream
{
    int first_frame = 0;
    QString node0;
    QVector<QPair<int, QByteArray>> chunks;
};

std::vector<TsharkStream> tshark_streams(const QString& capture, const QString& keys, int count)
{
    // Out-of-order segments reassembled: without it, tshark hands TLS the
    // bytes after a segment sent again before those in front of it arrive,
    // and loses the records of the rest of the stream.
    QStringList arguments {
        QStringLiteral("-r"), capture,
        QStringLiteral("-o"), QStringLiteral("tls.keylog_file:") + keys,
        QStringLiteral("-o"), QStringLiteral("tcp.reassemble_out_of_order:TRUE"),
        QStringLiteral("-T"), QStringLiteral("fields"),
        QStringLiteral("-e"), QStringLiteral("frame.number"),
        QStringLiteral("-e"), QStringLiteral("tcp.stream")
    };
    for (int i = 0; i < count; ++i)
        arguments << QStringLiteral("-z") << QStringLiteral("follow,tls,raw,%1").arg(i);
    const QString output = capture + QStringLiteral(".tshark");
    QProcess tshark;
    tshark.setStandardOutputFile(output);
    tshark.start(QStringLiteral("tshark"), arguments);
    QFile file(output);
    if (!tshark.waitForFinished(600000) || tshark.exitCode() != 0
        || !file.open(QIODevice::ReadOnly))
        return {};
    const auto remove = qScopeGuard([&] { file.remove(); });
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
            const std::size_t number = columns.at(1).toULong();
            if (number >= streams.size())
                streams.resize(number + 1);
            if (streams[number].first_frame == 0)
                streams[number].first_frame = columns.at(0).toInt();
        } else if (line.startsWith("Filter: tcp.stream eq ")) {
            const std::size_t number = line.mid(22).toULong();
            stream = number < streams.size() ? &streams[number] : nullptr;
        } else if (stream != nullptr && line.startsWith("Node 0: ")) {
            stream->node0 = QString::fromLatin1(line.mid(8));
        } else if (stream != nullptr && !line.isEmpty() && !line.startsWith("Follow:")
                   && !line.startsWith("Node ")) {
            const bool second = line.startsWith('\t');
            stream->chunks.append(
                    { second ? 1 : 0, QByteArray::fromHex(line.mid(second ? 1 : 0)) });
        }
    }
    return streams;
}

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TstTlsStreams : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bytesMatchTshark_data();
    void bytesMatchTshark();
    void bytesMatchSenders_data();
    void bytesMatchSenders();
    void handshakesAreFollowed();
    void connectionWithoutSecretsIsRefused();
    void flippedBitIsMarked();

private:
    void makeCaptures(const QString& run, QString* skip);
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // Whether these are the bytes openssl s_server -WWW sends for one of
    // the bodies it serves.
    bool served(const QByteArray& response) const;
    const Capture& capture(const QString& run);

    QTemporaryDir m_dir;
    QString m_lossSkipped;
    TlsKeyLog m_keys;
    int m_pythonExchanges = 0;
    std::map<QString, std::unique_ptr<Capture>> m_captures;
};

void TstTlsStreams::initTestCase()
{
    const QString missing = tlstraffic::missing_tools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));
    QVERIFY(m_dir.isValid());
    QString why;
    if (!tlstraffic::enter_namespace(&why))
        QSKIP(qPrintable(why));
    QVERIFY2(tlstraffic::make_certificate(m_dir.path(), &why), qPrintable(why));
    QVERIFY(tlstraffic::make_bodies(m_dir.path()));
    QString skip;
    makeCaptures(QStringLiteral("clean"), &skip);
    if (QTest::currentTestFailed())
        return;
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    makeCaptures(QStringLiteral("loss"), &m_lossSkipped);
    if (QTest::currentTestFailed())
        return;
    // Every run's keys in one log, as a user would gather them.
    QFile keys(path(QStringLiteral("keys.log")));
    QVERIFY(keys.open(QIODevice::WriteOnly));
    for (const QString& run : { QStringLiteral("clean"), QStringLiteral("loss") })
        for (const QString& log :
             { QStringLiteral("server-keys.log"), QStringLiteral("client-keys.log"),
               QStringLiteral("python-keys.log") })
            keys.write(read_file(path(run + QLatin1Char('-') + log)));
    keys.close();
    QVERIFY(m_keys.open(keys.fileName()));
    QCOMPARE(m_keys.malformed_lines(), std::size_t(0));
}

void TstTlsStreams::makeCaptures(const QString& run, QString* skip)
{
    if (run == QStringLiteral("loss") && !tlstraffic::drop_on_input(3, skip))
        return;
    const auto stop = qScopeGuard([&] {
        if (run == QStringLiteral("loss"))
            tlstraffic::stop_dropping();
    });
    LoopbackRecorder recorder(path(run + QStringLiteral(".pcap")), tlstraffic::kPort, 262144,
                              256 << 20);
    if (!recorder.error().isEmpty()) {
        *skip = recorder.error();
        return;
    }
    using tlstraffic::Client;
    const auto s_client = [](const QStringList& options, const QByteArray& file) {
        Client client;
        client.options = QStringList { QStringLiteral("-connect"), QStringLiteral("127.0.0.1:443") }
                + options;
        client.request = "GET /" + file + " HTTP/1.0\r\n\r\n";
        return client;
    };
    const auto curl = [](const QStringList& options) {
        Client client;
        client.curl = true;
        client.options = options;
        return client;
    };
    const QString sessions = path(run + QStringLiteral("-session.pem"));
    struct Server
    {
        QString address;
        QStringList options;
        QList<Client> clients;
    };
    const QList<Server> servers = {
        { QStringLiteral("127.0.0.1"),
          {},
          { s_client({ QStringLiteral("-ciphersuites"), QStringLiteral("TLS_AES_128_GCM_SHA256") },
                     "100k.bin"),
            s_client({ QStringLiteral("-ciphersuites"), QStringLiteral("TLS_AES_256_GCM_SHA384") },
                     "0.bin"),
            s_client({ QStringLiteral("-ciphersuites"),
                       QStringLiteral("TLS_CHACHA20_POLY1305_SHA256") },
                     "1m.bin"),
            s_client({ QStringLiteral("-tls1_2"), QStringLiteral("-cipher"),
                       QStringLiteral("ECDHE-RSA-AES128-GCM-SHA256") },
                     "100k.bin"),
            s_client({ QStringLiteral("-tls1_2"), QStringLiteral("-cipher"),
                       QStringLiteral("ECDHE-RSA-AES256-GCM-SHA384") },
                     "1k.bin"),
            s_client({ QStringLiteral("-tls1_2"), QStringLiteral("-cipher"),
                       QStringLiteral("ECDHE-RSA-CHACHA20-POLY1305") },
                     "1m.bin"),
            s_client({ QStringLiteral("-tls1_2"), QStringLiteral("-cipher"),
                       QStringLiteral("AES128-GCM-SHA256") },
                     "100k.bin"),
            s_client({ QStringLiteral("-tls1_2"), QStringLiteral("-cipher"),
                       QStringLiteral("AES256-GCM-SHA384") },
                     "1k.bin"),
            // A session, then the same resumed: TLS 1.3, then 1.2.
            s_client({ QStringLiteral("-tls1_3"), QStringLiteral("-sess_out"), sessions },
                     "1k.bin"),
            s_client({ QStringLiteral("-tls1_3"), QStringLiteral("-sess_in"), sessions },
                     "100k.bin"),
            s_client({ QStringLiteral("-tls1_2"), QStringLiteral("-sess_out"),
                       sessions + QStringLiteral("2") },
                     "1k.bin"),
            s_client({ QStringLiteral("-tls1_2"), QStringLiteral("-sess_in"),
                       sessions + QStringLiteral("2") },
                     "100k.bin"),
            curl({ QStringLiteral("--tlsv1.2"), QStringLiteral("--tls-max"), QStringLiteral("1.2"),
                   QStringLiteral("https://127.0.0.1/100k.bin") }) } },
        { QStringLiteral("[::1]"), {}, { curl({ QStringLiteral("https://[::1]/1m.bin") }) } },
        // The client's key share is not one the server takes: it asks again.
        { QStringLiteral("127.0.0.1"),
          { QStringLiteral("-groups"), QStringLiteral("P-256") },
          { s_client({ QStringLiteral("-groups"), QStringLiteral("X25519:P-256") }, "1k.bin") } },
    };
    QString error;
    for (const Server& server : servers)
        QVERIFY2(tlstraffic::serve_openssl(m_dir.path(), server.address, server.options,
                                           server.clients, &error),
                 qPrintable(run + QStringLiteral(": ") + error));
    QVERIFY2(tlstraffic::update_keys(m_dir.path(), &error), qPrintable(error));
    const QStringList exchanges = {
        QStringLiteral("4:13:0:0"),
        QStringLiteral("4:13:100:1000"),
        QStringLiteral("4:13:%1:10").arg(16 * kMiB),
        QStringLiteral("6:13:10:%1").arg(16 * kMiB),
        QStringLiteral("6:13:%1:%1").arg(kMiB),
        QStringLiteral("4:12:%1:100").arg(kMiB),
        QStringLiteral("6:12:1000:%1").arg(kMiB),
    };
    m_pythonExchanges = exchanges.size();
    QVERIFY2(tlstraffic::run(QStringLiteral("python3"),
                             QStringList { QStringLiteral(TARNLOOK_TLSTRAFFIC), m_dir.path(),
                                           QString::number(tlstraffic::kPort) }
                                     + exchanges,
                             &error),
             qPrintable(run + QStringLiteral(": ") + error));
    QCOMPARE(recorder.stop(), 0);
    // Each run's keys and bodies apart.
    for (const QString& name :
         { QStringLiteral("server-keys.log"), QStringLiteral("client-keys.log"),
           QStringLiteral("python-keys.log") })
        QVERIFY(QFile::rename(path(name), path(run + QLatin1Char('-') + name)));
    for (int i = 0; i < exchanges.size(); ++i)
        for (const QString& part : { QStringLiteral("request"), QStringLiteral("response") }) {
            const QString name = QStringLiteral("sent-%1-%2.bin").arg(i).arg(part);
            QVERIFY(QFile::rename(path(name), path(run + QLatin1Char('-') + name)));
        }
}

const Capture& TstTlsStreams::capture(const QString& run)
{
    std::unique_ptr<Capture>& kept = m_captures[run];
    if (kept == nullptr) {
        const QString store = path(run + QStringLiteral("-store"));
        QDir().mkpath(store);
        QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        kept = read_capture(path(run + QStringLiteral(".pcap")), store, m_keys);
    }
    return *kept;
}

bool TstTlsStreams::served(const QByteArray& response) const
{
    const QByteArray head = "HTTP/1.0 200 ok\r\nContent-type: text/plain\r\n\r\n";
    if (!response.startsWith(head))
        return false;
    const QByteArray body = response.mid(head.size());
    for (const char* name : { "0.bin", "1k.bin", "100k.bin", "1m.bin" })
        if (body == read_file(path(QString::fromLatin1(name))))
            return true;
    return false;
}

void TstTlsStreams::bytesMatchTshark_data()
{
    QTest::addColumn<QString>("run");
    QTest::addColumn<bool>("inOrder");
    QTest::newRow("clean") << "clean" << true;
    QTest::newRow("loss") << "loss" << false;
}

// Each stream's plaintext, direction by direction, is tshark's; where
// nothing was lost on the way, the records also come in tshark's order.
void TstTlsStreams::bytesMatchTshark()
{
    QFETCH(QString, run);
    QFETCH(bool, inOrder);
    if (run == QStringLiteral("loss") && !m_lossSkipped.isEmpty())
        QSKIP(qPrintable(m_lossSkipped));
    const Capture& ours = capture(run);
    QVERIFY2(ours.error.isEmpty(), qPrintable(ours.error));
    const std::vector<TsharkStream> theirs
            = tshark_streams(path(run + QStringLiteral(".pcap")), path(QStringLiteral("keys.log")),
                             int(ours.connections.size()));
    QCOMPARE(theirs.size(), ours.connections.size());
    QStringList failures;
    qint64 bytes = 0;
    for (const auto& connection : ours.connections) {
        const auto stream = std::find_if(theirs.begin(), theirs.end(), [&](const TsharkStream& s) {
            return s.first_frame == connection->first_frame;
        });
        const QString name = QStringLiteral("stream of frame %1 (%2 to %3)")
                                     .arg(connection->first_frame)
                                     .arg(connection->endpoint[0], connection->endpoint[1]);
        if (stream == theirs.end()) {
            failures << name + QStringLiteral(": not tshark's");
            continue;
        }
        // tshark's first node sends its unindented chunks.
        const QString node0
                = QString(stream->node0).replace(QStringLiteral("[::1]"), QStringLiteral("::1"));
        const bool flip = node0
                != QString(connection->endpoint[0])
                           .replace(QStringLiteral("[::1]"), QStringLiteral("::1"));
        QVector<QPair<int, QByteArray>> mine = connection->chunks;
        if (flip)
            for (auto& chunk : mine)
                chunk.first = 1 - chunk.first;
        bool tshark_stopped = false;
        for (int direction = 0; direction < 2; ++direction) {
            const QByteArray a = bytes_of(mine, direction);
            const QByteArray b = bytes_of(stream->chunks, direction);
            if (a != b && b.size() < a.size() && a.startsWith(b) && served(a)) {
                // tshark's reassembly gave up on the stream after a segment
                // sent again (lo also drops what the capture saw when its
                // queue is full, on a busy machine), at a record's end: the
                // server's own bytes tell instead, and the order cannot be
                // compared.
                tshark_stopped = true;
                qCWarning(lcTls).noquote()
                        << name << "direction" << direction << ": tshark stops at" << b.size()
                        << "of" << a.size() << "bytes, which are what the server sent";
            } else if (a != b) {
                failures << name + QStringLiteral(", direction %1: ").arg(direction)
                                + difference(a, b);
            }
            bytes += a.size();
        }
        if (inOrder && !tshark_stopped && merged(mine) != merged(stream->chunks))
            failures << name + QStringLiteral(": the chunks are not in tshark's order");
        const TlsStream::Counts& counts = connection->tls->counts();
        if (counts.failed + counts.missing + counts.no_key != 0)
            failures << name
                            + QStringLiteral(": %1 failed, %2 missing, %3 without a key")
                                      .arg(counts.failed)
                                      .arg(counts.missing)
                                      .arg(counts.no_key);
    }
    qCDebug(lcTls) << run << ours.connections.size() << "streams," << bytes << "bytes";
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
}

void TstTlsStreams::bytesMatchSenders_data()
{
    QTest::addColumn<QString>("run");
    QTest::newRow("clean") << "clean";
    QTest::newRow("loss") << "loss";
}

// Python's exchanges: the plaintext each way is what each side sent.
void TstTlsStreams::bytesMatchSenders()
{
    QFETCH(QString, run);
    if (run == QStringLiteral("loss") && !m_lossSkipped.isEmpty())
        QSKIP(qPrintable(m_lossSkipped));
    const Capture& ours = capture(run);
    QVERIFY2(ours.error.isEmpty(), qPrintable(ours.error));
    std::set<int> found;
    for (const auto& connection : ours.connections) {
        const int client = connection->tls->client_direction();
        const QByteArray request = connection->bytes[client];
        if (!request.startsWith("PUT /"))
            continue;
        const int index = request.mid(5, request.indexOf(' ', 5) - 5).toInt();
        QCOMPARE(request,
                 read_file(path(QStringLiteral("%1-sent-%2-request.bin").arg(run).arg(index))));
        QCOMPARE(connection->bytes[1 - client],
                 read_file(path(QStringLiteral("%1-sent-%2-response.bin").arg(run).arg(index))));
        found.insert(index);
    }
    QCOMPARE(int(found.size()), m_pythonExchanges);
}

// The handshakes the traffic holds were each read: every suite, a key
// update each way, a HelloRetryRequest, resumptions of both versions.
void TstTlsStreams::handshakesAreFollowed()
{
    const Capture& ours = capture(QStringLiteral("clean"));
    QVERIFY2(ours.error.isEmpty(), qPrintable(ours.error));
    std::set<int> suites;
    bool updated[2] = {};
    bool retried = false;
    std::set<bool> resumed; // TLS 1.3 or not
    bool ipv6 = false;
    for (const auto& connection : ours.connections) {
        const TlsStream& tls = *connection->tls;
        QCOMPARE(tls.kind(), TlsStream::Kind::Tls);
        QVERIFY(tls.suite() != nullptr);
        suites.insert(tls.suite()->id);
        retried |= tls.retried();
        if (tls.resumed())
            resumed.insert(tls.suite()->tls13);
        ipv6 |= connection->endpoint[0].startsWith(QLatin1Char('['));
        for (const TlsStream::Record& record : tls.records())
            if (tls.suite()->tls13 && record.epoch > 1)
                updated[record.direction == tls.client_direction() ? 0 : 1] = true;
    }
    for (const int suite : { 0x1301, 0x1302, 0x1303, 0xC02F, 0xC030, 0xCCA8, 0x009C, 0x009D })
        QVERIFY2(suites.count(suite) == 1, qPrintable(QString::number(suite, 16)));
    QVERIFY2(updated[0] && updated[1], "keys updated both ways");
    QVERIFY(retried);
    QCOMPARE(resumed, std::set<bool>({ false, true }));
    QVERIFY(ipv6);
}

// A key log without one connection's secrets: that connection gives no
// plaintext and says so; every other one reads as with all the secrets.
void TstTlsStreams::connectionWithoutSecretsIsRefused()
{
    const Capture& full = capture(QStringLiteral("clean"));
    QVERIFY2(full.error.isEmpty(), qPrintable(full.error));
    const Connection& left_out = *full.connections.at(1);
    const QByteArray random
            = QByteArray(reinterpret_cast<const char*>(left_out.tls->client_hello()->random.data()),
                         32)
                      .toHex();
    TlsKeyLog keys;
    const QList<QByteArray> lines = read_file(path(QStringLiteral("keys.log"))).split('\n');
    int dropped = 0;
    for (const QByteArray& line : lines) {
        if (line.toLower().contains(random)) {
            ++dropped;
            continue;
        }
        keys.add(line.constData(), std::size_t(line.size()));
        keys.add("\n", 1);
    }
    QVERIFY(dropped > 0);
    const QString store = path(QStringLiteral("partial-store"));
    QDir().mkpath(store);
    QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const std::unique_ptr<Capture> partial
            = read_capture(path(QStringLiteral("clean.pcap")), store, keys);
    QVERIFY2(partial->error.isEmpty(), qPrintable(partial->error));
    QCOMPARE(partial->connections.size(), full.connections.size());
    for (std::size_t i = 0; i < full.connections.size(); ++i) {
        const Connection& connection = *partial->connections[i];
        if (i == 1) {
            QVERIFY(!connection.tls->has_secrets());
            QVERIFY(connection.chunks.isEmpty());
            QVERIFY(connection.tls->counts().no_key > 0);
        } else {
            QVERIFY(connection.tls->has_secrets());
            QCOMPARE(connection.chunks, full.connections[i]->chunks);
        }
    }
}

// One bit flipped in a captured record: its tag fails, it is marked and
// yields nothing, and the records after it decrypt as before.
void TstTlsStreams::flippedBitIsMarked()
{
    const QString store = path(QStringLiteral("flipped-store"));
    QDir().mkpath(store);
    QFile::setPermissions(store, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    std::unique_ptr<Capture> flipped
            = read_capture(path(QStringLiteral("clean.pcap")), store, m_keys);
    QVERIFY2(flipped->error.isEmpty(), qPrintable(flipped->error));
    // The connection of the most records; one in its middle.
    auto& connection
            = *std::max_element(flipped->connections.begin(), flipped->connections.end(),
                                [](const auto& a, const auto& b) {
                                    return a->tls->records().size() < b->tls->records().size();
                                })
                       ->get();
    const std::size_t middle = connection.tls->records().size() / 2;
    const TlsStream::Record record = connection.tls->records()[middle];
    QCOMPARE(record.status, TlsStream::Status::Decrypted);
    // Where its last byte lies: its bytes run from its first piece on
    // through the pieces of its direction.
    std::uint64_t last = record.piece;
    std::int64_t offset = record.piece_offset;
    for (std::int64_t left = 5 + record.length;;) {
        const TcpFollow::Piece& piece = connection.follow->pieces()[last];
        if (piece.direction == record.direction) {
            if (left <= std::int64_t(piece.length) - offset) {
                offset += left - 1;
                break;
            }
            left -= std::int64_t(piece.length) - offset;
            offset = 0;
        }
        ++last;
    }
    const TcpFollow::Piece& piece = connection.follow->pieces()[last];
    const StoreFile& file = connection.follow->files()[piece.file];
    // The store's file itself, written where the record's last piece lies.
    QDir folder(flipped->store->folder());
    QFile bytes(folder.filePath(QString::fromLocal8Bit(file.name)));
    QVERIFY2(bytes.open(QIODevice::ReadWrite), qPrintable(bytes.fileName()));
    QVERIFY(bytes.seek(piece.offset + offset));
    char byte = 0;
    QVERIFY(bytes.getChar(&byte));
    QVERIFY(bytes.seek(piece.offset + offset));
    QVERIFY(bytes.putChar(static_cast<char>(byte ^ 0x10)));
    bytes.close();

    const TlsStream::Lookup lookup
            = [this](const std::array<std::uint8_t, 32>& random) { return m_keys.find(random); };
    TlsStream again(*connection.follow, lookup);
    again.finish();
    QCOMPARE(again.counts().failed, std::uint64_t(1));
    QCOMPARE(again.records().size(), connection.tls->records().size());
    QCOMPARE(int(connection.chunks.size()), int(again.records().size()));
    for (std::size_t i = 0; i < again.records().size(); ++i) {
        const TlsStream::Record& now = again.records()[i];
        QByteArray content(now.content_length, Qt::Uninitialized);
        const bool read = again.read_content(i, reinterpret_cast<std::uint8_t*>(content.data()));
        if (i == middle) {
            QCOMPARE(now.status, TlsStream::Status::Failed);
            QVERIFY(!read);
        } else {
            QCOMPARE(now.status, TlsStream::Status::Decrypted);
            QVERIFY(read);
            QCOMPARE(content, connection.chunks[int(i)].second);
        }
    }
}

QTEST_GUILESS_MAIN(TstTlsStreams)
#include "tst_tlsstreams.moc"
