// SPDX-License-Identifier: GPL-2.0-or-later

#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pcap/pcap.h>

#include <QtTest>

#include "capturefile.h"
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
    void parentMustBeOwn_data();
    void parentMustBeOwn();
    void defaultParent();
    void nanosecondsKept();
    void savedModes_data();
    void savedModes();
    void recordsCrossTheWriteBuffer_data();
    void recordsCrossTheWriteBuffer();
    void fullFileStartsAnother();
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
    // Or only their first bytes, with their whole length and place.
    for (const int head : { 0, 20, 70000 }) {
        QVector<QByteArray> heads;
        QVector<std::uint32_t> lengths;
        std::vector<StoreFile> files;
        QVERIFY(store.read_frames(
                { c, a, b },
                [&](const StoredFrame& frame, const StoredFramePlace& place) {
                    heads.append(frame.bytes);
                    lengths.append(place.captured);
                    return true;
                },
                &files, head));
        QCOMPARE(heads, (QVector<QByteArray> { small.left(head), big.left(head), raw.left(head) }));
        QCOMPARE(lengths,
                 (QVector<std::uint32_t> { std::uint32_t(small.size()), std::uint32_t(big.size()),
                                           std::uint32_t(raw.size()) }));
        QCOMPARE(files.size(), std::size_t(3));
        for (const StoreFile& file : files)
            ::close(file.fd);
    }

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
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("removed");

    QTest::newRow("leftover") << QStringLiteral("leftover") << true;
    QTest::newRow("leftover-without-lock-file") << QStringLiteral("no-lock-file") << true;
    QTest::newRow("lock-is-a-fifo") << QStringLiteral("fifo-lock") << true;
    QTest::newRow("links-inside-are-unlinked") << QStringLiteral("links-inside") << true;
    QTest::newRow("link-as-folder") << QStringLiteral("link-as-folder") << false;
    QTest::newRow("locked-by-a-live-store") << QStringLiteral("locked") << false;
    QTest::newRow("store-of-this-process") << QStringLiteral("live-store") << false;
    QTest::newRow("mode-0755") << QStringLiteral("mode-0755") << false;
    QTest::newRow("mode-0770") << QStringLiteral("mode-0770") << false;
    QTest::newRow("foreign-owner") << QStringLiteral("foreign-owner") << false;
    QTest::newRow("file-not-folder") << QStringLiteral("file") << false;
    QTest::newRow("not-a-store-name") << QStringLiteral("not-a-store-name") << false;
}

// Leftovers go; whatever a link points to, a live store's folder, another
// user's folder and a folder of another mode stay, whatever pid its name has.
void TstCaptureStore::staleFolders()
{
    QFETCH(QString, kind);
    QFETCH(bool, removed);
    if (kind == QLatin1String("foreign-owner") && geteuid() != 0)
        QSKIP("gives a folder to nobody, which needs root");

    QTemporaryDir dir;
    QTemporaryDir elsewhere; // what a planted link points to
    QVERIFY(dir.isValid() && elsewhere.isValid());
    const QString victim = elsewhere.filePath(QStringLiteral("precious"));
    QVERIFY(QDir(elsewhere.path()).mkpath(QStringLiteral("precious/sub")));
    QFile precious(victim + QStringLiteral("/sub/file"));
    QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("keep") == 4);
    precious.close();

    // A process that has ended: the pid in a leftover's name.
    QProcess ended;
    ended.start(QStringLiteral("true"), QStringList());
    const qint64 pid = ended.processId();
    QVERIFY(pid > 0 && ended.waitForFinished());
    const QString name = kind == QLatin1String("not-a-store-name")
            ? QStringLiteral("tarnlook-notes")
            : QStringLiteral("tarnlook-%1-AbC123").arg(pid);
    const QString folder = dir.filePath(name);
    const QByteArray path = QFile::encodeName(folder);
    std::unique_ptr<CaptureStore> live;
    int held_lock = -1;
    const auto release = qScopeGuard([&held_lock] {
        if (held_lock >= 0)
            ::close(held_lock);
    });

    if (kind == QLatin1String("link-as-folder")) {
        QVERIFY(QFile::link(victim, folder));
    } else if (kind == QLatin1String("file")) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == QLatin1String("live-store")) {
        live = std::make_unique<CaptureStore>(dir.path());
        QVERIFY(live->isValid());
        QVERIFY(append(*live, DLT_EN10MB, tcp_frame("x", 1), 1) >= 0);
    } else {
        QVERIFY(::mkdir(path.constData(), 0700) == 0);
        QVERIFY(QDir(folder).mkpath(QStringLiteral("sub")));
        QFile frames(folder + QStringLiteral("/frames-1.pcap"));
        QVERIFY(frames.open(QIODevice::WriteOnly));
        frames.close();
        if (kind == QLatin1String("fifo-lock")) {
            QVERIFY(::mkfifo((path + "/.lock").constData(), 0600) == 0);
        } else if (kind != QLatin1String("no-lock-file")) {
            held_lock = ::open((path + "/.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            QVERIFY(held_lock >= 0);
        }
        if (kind == QLatin1String("locked")) // as a store in another pid namespace holds it
            QVERIFY(::flock(held_lock, LOCK_EX | LOCK_NB) == 0);
        if (kind == QLatin1String("links-inside")) {
            QVERIFY(QFile::link(victim, folder + QStringLiteral("/sub/link-to-folder")));
            QVERIFY(QFile::link(victim + QStringLiteral("/sub/file"),
                                folder + QStringLiteral("/link-to-file")));
        }
        if (kind == QLatin1String("mode-0755"))
            QVERIFY(::chmod(path.constData(), 0755) == 0);
        if (kind == QLatin1String("mode-0770"))
            QVERIFY(::chmod(path.constData(), 0770) == 0);
        if (kind == QLatin1String("foreign-owner"))
            QVERIFY(::chown(path.constData(), 65534, 65534) == 0);
    }
    const QString live_folder = live ? live->folder() : QString();

    // On a thread of its own, so that a cleanup that waits forever fails the
    // test rather than stopping it.
    std::future<int> cleanup = std::async(
            std::launch::async, [&dir] { return CaptureStore::remove_stale_folders(dir.path()); });
    if (cleanup.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        // A writer lets an open that waits on the FIFO return.
        const int writer = ::open((path + "/.lock").constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        cleanup.wait();
        if (writer >= 0)
            ::close(writer);
        QFAIL("the cleanup waited for its lock file");
    }
    QCOMPARE(cleanup.get(), removed ? 1 : 0);
    struct stat info = {};
    const QByteArray kept = QFile::encodeName(live ? live_folder : folder);
    QCOMPARE(::lstat(kept.constData(), &info) == 0, !removed);
    // Nothing outside the parent is touched.
    QVERIFY(precious.open(QIODevice::ReadOnly));
    QCOMPARE(precious.readAll(), QByteArray("keep"));
    if (live) // still works
        QVERIFY(append(*live, DLT_EN10MB, tcp_frame("y", 2), 2) >= 0);
}

// The store's parent is checked before use: a link, a folder others may
// enter or another user's folder is refused, with the reason.
void TstCaptureStore::parentMustBeOwn_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("link-to-own-folder") << QStringLiteral("link");
    QTest::newRow("mode-0755") << QStringLiteral("mode-0755");
    QTest::newRow("mode-1777") << QStringLiteral("mode-1777");
    QTest::newRow("foreign-owner") << QStringLiteral("foreign-owner");
    QTest::newRow("missing") << QStringLiteral("missing");
    QTest::newRow("a-file") << QStringLiteral("file");
}

void TstCaptureStore::parentMustBeOwn()
{
    QFETCH(QString, kind);
    if (kind == QLatin1String("foreign-owner") && geteuid() != 0)
        QSKIP("gives a folder to nobody, which needs root");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString own = dir.filePath(QStringLiteral("own"));
    QVERIFY(::mkdir(QFile::encodeName(own).constData(), 0700) == 0);
    QString parent = dir.filePath(QStringLiteral("parent"));
    const QByteArray path = QFile::encodeName(parent);
    if (kind == QLatin1String("link")) {
        QVERIFY(QFile::link(own, parent));
    } else if (kind == QLatin1String("file")) {
        QFile file(parent);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind != QLatin1String("missing")) {
        QVERIFY(::mkdir(path.constData(), 0700) == 0);
        if (kind == QLatin1String("mode-0755"))
            QVERIFY(::chmod(path.constData(), 0755) == 0);
        if (kind == QLatin1String("mode-1777"))
            QVERIFY(::chmod(path.constData(), 01777) == 0);
        if (kind == QLatin1String("foreign-owner"))
            QVERIFY(::chown(path.constData(), 65534, 65534) == 0);
    }

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^no folder for the captured frames: ")
                                            + QRegularExpression::escape(parent)));
    CaptureStore store(parent);
    QVERIFY(!store.isValid());
    QVERIFY2(store.errorString().startsWith(parent + QStringLiteral(": ")),
             qPrintable(store.errorString()));
    QVERIFY(QDir(own).isEmpty()); // nothing made through the link
    const QByteArray frame = tcp_frame("x", 1);
    QVERIFY(append(store, DLT_EN10MB, frame, 1) < 0);
    // Emptied, it still has no folder, and still says why.
    const QString why = store.errorString();
    store.clear();
    QCOMPARE(store.errorString(), why);
    QCOMPARE(CaptureStore::remove_stale_folders(parent), 0);
}

// Without $XDG_RUNTIME_DIR the stores go to a folder of the user's own in
// the temporary folder, made private; one planted there by a link is
// refused.
void TstCaptureStore::defaultParent()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QByteArray saved_runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray saved_tmp = qgetenv("TMPDIR");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_RUNTIME_DIR", saved_runtime);
        qputenv("TMPDIR", saved_tmp);
    });
    qputenv("XDG_RUNTIME_DIR", tmp.path().toLocal8Bit());
    QCOMPARE(CaptureStore::default_parent(), tmp.path());

    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", tmp.path().toLocal8Bit());
    const QString own = tmp.filePath(QStringLiteral("tarnlook-%1").arg(geteuid()));
    QCOMPARE(CaptureStore::default_parent(), own);
    const mode_t saved_umask = ::umask(0);
    const auto restore_umask = qScopeGuard([saved_umask] { ::umask(saved_umask); });
    {
        CaptureStore store;
        QVERIFY2(store.isValid(), qPrintable(store.errorString()));
        QCOMPARE(QFileInfo(store.folder()).absolutePath(), own);
        struct stat info = {};
        QVERIFY(::lstat(QFile::encodeName(own).constData(), &info) == 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
        QVERIFY(::lstat(QFile::encodeName(store.folder()).constData(), &info) == 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
    }
    QVERIFY(QDir(own).removeRecursively());

    const QString elsewhere = tmp.filePath(QStringLiteral("elsewhere"));
    QVERIFY(::mkdir(QFile::encodeName(elsewhere).constData(), 0700) == 0);
    QVERIFY(QFile::link(elsewhere, own));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("symbolic link")));
    CaptureStore refused;
    QVERIFY(!refused.isValid());
    QVERIFY(QDir(elsewhere).isEmpty());
}

// Frames of a nanosecond source keep their nanoseconds, next to those of a
// microsecond source; a save writes nanosecond pcap only when it holds such
// frames, and tshark reads back every timestamp exactly.
void TstCaptureStore::nanosecondsKept()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    const QByteArray frame = tcp_frame("t", 1);
    pcap_pkthdr header = header_for(frame, 1700000000);
    const auto put = [&](long fraction, CaptureStore::Precision precision) {
        header.ts.tv_usec = fraction;
        return store
                .append(DLT_EN10MB, header, reinterpret_cast<const u_char*>(frame.constData()),
                        precision)
                .value_or(-1);
    };
    const std::int64_t micro = put(924505, CaptureStore::Precision::Microseconds);
    const std::int64_t nano = put(924505488, CaptureStore::Precision::Nanoseconds);
    QVERIFY(micro >= 0 && nano > micro);
    QCOMPARE(store.read_frame(micro)->nanoseconds, std::int64_t(924505000));
    QCOMPARE(store.read_frame(nano)->nanoseconds, std::int64_t(924505488));
    QCOMPARE(store.read_frame(nano)->microseconds, std::int64_t(924505));

    const struct
    {
        std::vector<std::int64_t> frames;
        std::uint32_t magic;
        QByteArray times;
    } cases[] = {
        { { micro }, 0xa1b2c3d4, "1700000000.924505000\n" },
        { { micro, nano }, 0xa1b23c4d, "1700000000.924505000\n1700000000.924505488\n" },
    };
    for (const auto& [frames, magic, times] : cases) {
        const QString path = dir.filePath(QStringLiteral("saved.pcap"));
        QString error;
        QVERIFY2(save_frames(store, frames, path, &error), qPrintable(error));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        std::uint32_t first = 0;
        QCOMPARE(saved.read(reinterpret_cast<char*>(&first), 4), qint64(4));
        QCOMPARE(first, magic);
        QProcess tshark;
        tshark.start(QStringLiteral("tshark"),
                     { QStringLiteral("-r"), path, QStringLiteral("-T"), QStringLiteral("fields"),
                       QStringLiteral("-e"), QStringLiteral("frame.time_epoch") });
        QVERIFY(tshark.waitForFinished(60000));
        QCOMPARE(tshark.readAllStandardOutput(), times);
    }
}

// A new file gets what the umask allows; a replaced file keeps its mode and
// owner; nothing becomes readable to more than before. A link at the target
// is replaced by a new file; what it points to is not touched.
void TstCaptureStore::savedModes_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<QString>("old"); // none, own, nobody's, or a link to nobody's
    QTest::addColumn<int>("oldMode");
    QTest::addColumn<int>("expected");

    QTest::newRow("new-umask-077") << 077 << QStringLiteral("none") << 0 << 0600;
    QTest::newRow("new-umask-022") << 022 << QStringLiteral("none") << 0 << 0644;
    QTest::newRow("new-umask-027") << 027 << QStringLiteral("none") << 0 << 0640;
    QTest::newRow("replaced-0600-umask-022") << 022 << QStringLiteral("own") << 0600 << 0600;
    QTest::newRow("replaced-0640-umask-077") << 077 << QStringLiteral("own") << 0640 << 0640;
    QTest::newRow("replaced-0604-umask-022") << 022 << QStringLiteral("own") << 0604 << 0604;
    QTest::newRow("replaced-nobody-0640") << 022 << QStringLiteral("nobody") << 0640 << 0640;
    QTest::newRow("link-to-nobody-0640") << 077 << QStringLiteral("link") << 0640 << 0600;
}

void TstCaptureStore::savedModes()
{
    QFETCH(int, mask);
    QFETCH(QString, old);
    QFETCH(int, oldMode);
    QFETCH(int, expected);
    const bool foreign = old == QLatin1String("nobody") || old == QLatin1String("link");
    if (foreign && geteuid() != 0)
        QSKIP("gives the old file to nobody, which needs root");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    const std::int64_t seq = append(store, DLT_EN10MB, tcp_frame("x", 1), 1);
    QVERIFY(seq >= 0);
    const QString path = dir.filePath(QStringLiteral("saved.pcap"));
    const QString linked = dir.filePath(QStringLiteral("linked.pcap"));
    if (old != QLatin1String("none")) {
        const QString file = old == QLatin1String("link") ? linked : path;
        const QByteArray encoded = QFile::encodeName(file);
        QFile made(file);
        QVERIFY(made.open(QIODevice::WriteOnly));
        made.close();
        QVERIFY(::chmod(encoded.constData(), static_cast<mode_t>(oldMode)) == 0);
        if (foreign)
            QVERIFY(::chown(encoded.constData(), 65534, 65534) == 0);
        if (old == QLatin1String("link"))
            QVERIFY(QFile::link(linked, path));
    }
    const mode_t saved_umask = ::umask(static_cast<mode_t>(mask));
    const auto restore = qScopeGuard([saved_umask] { ::umask(saved_umask); });
    QString error;
    QVERIFY2(save_frames(store, { seq }, path, &error), qPrintable(error));
    struct stat info = {};
    QVERIFY(::lstat(QFile::encodeName(path).constData(), &info) == 0);
    QVERIFY(S_ISREG(info.st_mode));
    QCOMPARE(int(info.st_mode & 07777), expected);
    const bool keeps_owner = old == QLatin1String("nobody");
    QCOMPARE(info.st_uid, keeps_owner ? uid_t(65534) : geteuid());
    QCOMPARE(info.st_gid, keeps_owner ? gid_t(65534) : getegid());
    QVERIFY(info.st_size > 24); // the frame is in it
    if (old == QLatin1String("link"))
        QCOMPARE(QFileInfo(linked).size(), qint64(0));
}

void TstCaptureStore::recordsCrossTheWriteBuffer_data()
{
    // Payload sizes in the order stored; -1: a read of the frame stored
    // last, between two appends.
    QTest::addColumn<QVector<int>>("sizes");
    QVector<int> many(2000, 100); // some 300 KiB: the buffer fills again and again
    QTest::newRow("many small") << many;
    QTest::newRow("one larger than the buffer between small ones")
            << QVector<int> { 10, 20, 70000, 30, 65536, 1 };
    QTest::newRow("reads between appends")
            << QVector<int> { 100, -1, 200, 300, -1, 40000, -1, 30000 };
    QTest::newRow("the largest frame first") << QVector<int> { 200000, 5 };
}

void TstCaptureStore::recordsCrossTheWriteBuffer()
{
    QFETCH(QVector<int>, sizes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    QVERIFY(store.isValid());
    QVector<QByteArray> stored;
    QVector<std::int64_t> seqs;
    for (const int size : sizes) {
        if (size < 0) {
            const std::optional<StoredFrame> frame = store.read_frame(seqs.last());
            QVERIFY(frame.has_value());
            QCOMPARE(frame->bytes, stored.last());
            continue;
        }
        const int i = stored.size();
        stored.append(tcp_frame(QByteArray(size, char('a' + i % 26)), std::uint16_t(1000 + i)));
        seqs.append(append(store, DLT_EN10MB, stored.last(), 1700000000 + i));
        QVERIFY(seqs.last() >= 0);
    }
    QVector<QByteArray> visited;
    QVERIFY(store.read_frames(std::vector<std::int64_t>(seqs.cbegin(), seqs.cend()),
                              [&visited](const StoredFrame& frame) {
                                  visited.append(frame.bytes);
                                  return true;
                              }));
    QCOMPARE(visited, stored);
    // libpcap reads the same frames from the file, in the same order.
    const QStringList files = QDir(store.folder()).entryList({ QStringLiteral("*.pcap") });
    QCOMPARE(files.size(), 1);
    QCOMPARE(frames_in(QDir(store.folder()).filePath(files.at(0))), stored);
}

void TstCaptureStore::fullFileStartsAnother()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    QVERIFY(store.isValid());
    const QByteArray frame = tcp_frame(QByteArray(1000, 'f'), 7);
    // Files may grow to 256 KiB: a write past that fails as on a full disk.
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit {};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old_limit) == 0);
    rlimit limit = old_limit;
    limit.rlim_cur = 256 * 1024;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &limit) == 0);
    QVector<std::int64_t> kept;
    int failed = 0;
    for (int i = 0; i < 400 && failed == 0; ++i) {
        const std::int64_t seq = append(store, DLT_EN10MB, frame, i);
        if (seq >= 0)
            kept.append(seq);
        else
            ++failed;
    }
    const QString error = store.errorString();
    // The next frame goes to a new file, and reads back whole.
    const std::int64_t after = append(store, DLT_EN10MB, frame, 500);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    QCOMPARE(failed, 1);
    QVERIFY2(!error.isEmpty(), "a failed write says why");
    QVERIFY(after >= 0);
    const std::optional<StoredFrame> read = store.read_frame(after);
    QVERIFY(read.has_value());
    QCOMPARE(read->bytes, frame);
    QCOMPARE(QDir(store.folder()).entryList({ QStringLiteral("*.pcap") }).size(), 2);
    // What the first file holds for certain still reads back.
    QVERIFY(store.read_frame(kept.first()).has_value());
}

QTEST_GUILESS_MAIN(TstCaptureStore)
#include "tst_capturestore.moc"
