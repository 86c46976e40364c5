// SPDX-License-Identifier: GPL-2.0-or-later

#include <thread>

#include <unistd.h>

#include <pcap/pcap.h>

#include <QtTest>

#include "capturestore.h"
#include "cupdate.h"
#include "frametickets.h"
#include "testframes.h"

using namespace testframes;

namespace {

QByteArray tcp_frame(const QByteArray& payload, std::uint16_t src_port)
{
    Ipv4Packet p;
    p.payload = payload;
    p.src_port = src_port;
    return ethernet(ipv4(p));
}

// Every frame of a capture file as libpcap reads it: the independent reader.
QVector<QByteArray> frames_in(const QString& path, int* link_type = nullptr)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    QVector<QByteArray> frames;
    if (handle == nullptr)
        return frames;
    if (link_type != nullptr)
        *link_type = pcap_datalink(handle);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(handle, &header, &data) == 1)
        frames.append(QByteArray(reinterpret_cast<const char*>(data), int(header->caplen)));
    pcap_close(handle);
    return frames;
}

std::int64_t append(CaptureStore& store, int link_type, const QByteArray& frame, long second)
{
    const pcap_pkthdr header = header_for(frame, second);
    const std::optional<std::int64_t> seq
            = store.append(link_type, header, reinterpret_cast<const u_char*>(frame.constData()));
    return seq ? *seq : -1;
}

} // namespace

class TstCaptureStore : public QObject
{
    Q_OBJECT

private slots:
    void captureStoresWhatPassesInLineOrder();
    void ticketsCrossThreadsInOrder();
    void framesReadBackAsWritten();
    void clearForgetsFramesAndFiles();
    void folderGoesWithStore();
    void staleFolders_data();
    void staleFolders();
};

void TstCaptureStore::captureStoresWhatPassesInLineOrder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("in.pcap"));
    QVector<QByteArray> frames;
    for (std::uint16_t port : { 80, 443, 8080, 443 })
        frames.append(tcp_frame("port " + QByteArray::number(port), port));
    QVERIFY(write_capture(path, DLT_EN10MB, frames, 1000));

    FilterSettings settings;
    settings.exclude_port_enabled = true;
    settings.exclude_ports = QStringList { QStringLiteral("443") };
    CaptureStore store(dir.path());
    CUpdate capture(settings);
    capture.store = &store;
    capture.adapter_name = QStringLiteral("file://") + path;
    QStringList lines;
    QVector<std::int64_t> seqs;
    QObject context;
    connect(&capture, &CUpdate::send_update, &context, [&](const QString& line) {
        lines.append(line);
        const std::optional<std::int64_t> seq = capture.take_stored_frame();
        seqs.append(seq ? *seq : -1);
    });
    capture.start();
    QVERIFY(capture.wait(10000));
    QTRY_COMPARE(lines.size(), 2);

    // Line k and frame k are the same packet: the frames that passed, as
    // captured, with their time.
    QCOMPARE(store.frame_count(), 2);
    const QVector<QByteArray> expected = { frames.at(0), frames.at(2) };
    for (int k = 0; k < 2; ++k) {
        const std::optional<StoredFrame> frame = store.read_frame(seqs.at(k));
        QVERIFY(frame.has_value());
        QCOMPARE(frame->bytes, expected.at(k));
        QCOMPARE(frame->link_type, DLT_EN10MB);
        QCOMPARE(frame->seconds, std::int64_t(1000 + 2 * k));
        QVERIFY(lines.at(k).endsWith(
                QString::fromLatin1(expected.at(k).mid(54).toHex().toUpper())));
    }
    QVERIFY(!capture.take_stored_frame().has_value()); // one number per line
}

// The emitting thread queues while the receiver takes, across many of the
// queue's blocks: every number arrives once, in order.
void TstCaptureStore::ticketsCrossThreadsInOrder()
{
    constexpr std::int64_t count = 200000;
    FrameTickets tickets;
    std::thread writer([&tickets] {
        for (std::int64_t i = 0; i < count; ++i)
            tickets.push(i);
    });
    std::int64_t expected = 0;
    std::int64_t number = -1;
    while (expected < count) {
        if (!tickets.pop(&number))
            continue;
        if (number != expected)
            break;
        ++expected;
    }
    writer.join();
    QCOMPARE(number, count - 1);
    QCOMPARE(expected, count);
    QVERIFY(!tickets.pop(&number));
    QCOMPARE(tickets.size(), std::uint64_t(0));
}

void TstCaptureStore::framesReadBackAsWritten()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    QVERIFY(store.isValid());
    const QByteArray big = tcp_frame(QByteArray(65000, 'x'), 1);
    const QByteArray small = tcp_frame("a", 2);
    const QByteArray raw = small.mid(14); // the IPv4 packet alone

    // A change of link type opens a file of its own; each keeps its own.
    const std::int64_t a = append(store, DLT_EN10MB, big, 1);
    const std::int64_t b = append(store, DLT_RAW, raw, 2);
    const std::int64_t c = append(store, DLT_EN10MB, small, 3);
    QVERIFY(a >= 0 && b > a && c > b);
    const QVector<QPair<std::int64_t, QByteArray>> cases = { { a, big }, { b, raw }, { c, small } };
    for (const auto& [seq, bytes] : cases) {
        const std::optional<StoredFrame> frame = store.read_frame(seq);
        QVERIFY(frame.has_value());
        QCOMPARE(frame->bytes, bytes);
        QCOMPARE(frame->link_type, seq == b ? DLT_RAW : DLT_EN10MB);
    }
    QVERIFY(!store.read_frame(c + 1).has_value());
    QVERIFY(!store.read_frame(-1).has_value());

    // Many at once, in any order, across files: what a save reads.
    QVector<QByteArray> visited;
    QVERIFY(store.read_frames({ c, a, b, c }, [&visited](const StoredFrame& frame) {
        visited.append(frame.bytes);
        return true;
    }));
    QCOMPARE(visited, (QVector<QByteArray> { small, big, raw, small }));
    QVERIFY(!store.read_frames({ a, c + 1 }, [](const StoredFrame&) { return true; }));

    // The files are ordinary capture files.
    const QStringList files = QDir(store.folder()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files.size(), 3);
    int link_type = 0;
    QCOMPARE(frames_in(QDir(store.folder()).filePath(files.at(1)), &link_type),
             QVector<QByteArray> { raw });
    QCOMPARE(link_type, DLT_RAW);
}

void TstCaptureStore::clearForgetsFramesAndFiles()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    const QByteArray frame = tcp_frame("before", 1);
    const std::int64_t old = append(store, DLT_EN10MB, frame, 1);
    QVERIFY(old >= 0);
    store.clear();
    QCOMPARE(store.frame_count(), 0);
    QVERIFY(!store.read_frame(old).has_value());
    // The files go on a thread of their own, soon after.
    QTRY_VERIFY(QDir(store.folder()).entryList(QDir::Files).isEmpty());

    const QByteArray after = tcp_frame("after", 2);
    const std::int64_t fresh = append(store, DLT_EN10MB, after, 2);
    QVERIFY(fresh > old); // never the number of a cleared frame
    QCOMPARE(store.frame_count(), 1);
    QCOMPARE(store.read_frame(fresh)->bytes, after);
}

void TstCaptureStore::folderGoesWithStore()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString folder;
    {
        CaptureStore store(dir.path());
        folder = store.folder();
        QVERIFY(append(store, DLT_EN10MB, tcp_frame("x", 1), 1) >= 0);
        QVERIFY(QFileInfo(folder).isDir());
    }
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TstCaptureStore::staleFolders_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("removed");

    // A process that has ended: its pid is free (barring reuse in between).
    QProcess ended;
    ended.start(QStringLiteral("true"), QStringList());
    ended.waitForFinished();
    const QString dead = QString::number(ended.processId() > 0 ? ended.processId() : 999999);
    QTest::newRow("dead-process") << QStringLiteral("tarnlook-%1-AbC123").arg(dead) << true;
    QTest::newRow("running-process")
            << QStringLiteral("tarnlook-%1-AbC123").arg(getppid()) << false;
    QTest::newRow("this-process")
            << QStringLiteral("tarnlook-%1-AbC123").arg(QCoreApplication::applicationPid())
            << false;
    QTest::newRow("not-a-store") << QStringLiteral("tarnlook-notes") << false;
}

void TstCaptureStore::staleFolders()
{
    QFETCH(QString, name);
    QFETCH(bool, removed);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath(name + QStringLiteral("/sub")));
    QFile file(dir.filePath(name + QStringLiteral("/frames-1.pcap")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QCOMPARE(CaptureStore::remove_stale_folders(dir.path()), removed ? 1 : 0);
    QCOMPARE(QFileInfo::exists(dir.filePath(name)), !removed);
}

QTEST_GUILESS_MAIN(TstCaptureStore)
#include "tst_capturestore.moc"
