// SPDX-License-Identifier: GPL-2.0-or-later

#include <thread>

#include <pcap/pcap.h>

#include <QTableWidget>
#include <QtTest>

#include "captureintake.h"
#include "capturestore.h"
#include "cupdate.h"
#include "hexcelldelegate.h"
#include "memoryrelease.h"
#include "packetrecord.h"
#include "packetrows.h"
#include "paintthrottle.h"
#include "testframes.h"

using namespace testframes;

namespace {

QByteArray frame_with(const QByteArray& payload)
{
    Ipv4Packet p;
    p.payload = payload;
    return ethernet(ipv4(p));
}

QString line_of(const QByteArray& frame)
{
    const pcap_pkthdr header = header_for(frame, 1000);
    return *make_record_line(DLT_EN10MB, header,
                             reinterpret_cast<const unsigned char*>(frame.constData()));
}

// Appends `count` rows, without a stored frame, of the line of a frame with
// this payload; returns the line.
QString append_rows(PacketRows* rows, const QByteArray& payload, int count)
{
    const QString line = line_of(frame_with(payload));
    for (int i = 0; i < count; ++i)
        rows->append(line, std::nullopt);
    return line;
}

} // namespace

class TstPacketRows : public QObject
{
    Q_OBJECT

private slots:
    void cellsComeFromStore_data();
    void cellsComeFromStore();
    void hexCellPaintsWhatFits_data();
    void hexCellPaintsWhatFits();
    void rowsAfterClearOutliveRelease();
    void cellsLeaveInEveryWay();
    void observerSeesCapturedSegments();
    void throttledTablePaintsWhileRowsPour();
    void clearDropsOnlyRowsBeforeIt();
};

void TstPacketRows::cellsComeFromStore_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("clearFirst"); // the frame is gone when its line arrives
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("short") << QByteArray("GET /") << false;
    QTest::newRow("zero-bytes") << QByteArray("\0\0|\0", 4) << false;
    QTest::newRow("64-KiB") << QByteArray(65000, '\xAB') << false;
    QTest::newRow("frame-cleared") << QByteArray("late") << true;
}

void TstPacketRows::cellsComeFromStore()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, clearFirst);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    QTableWidget table(0, 9);
    auto* rows = new PacketRows(&table, &store); // a child of the table

    const QByteArray frame = frame_with(payload);
    const pcap_pkthdr header = header_for(frame, 1000);
    const std::optional<std::int64_t> seq = store.append(
            DLT_EN10MB, header, reinterpret_cast<const unsigned char*>(frame.constData()));
    QVERIFY(seq.has_value());
    if (clearFirst)
        store.clear();

    // The cells show what the line said, whether they keep it or not.
    const QString line = line_of(frame);
    rows->append(line, seq);
    QCOMPARE(table.rowCount(), 1);
    const QStringList fields = line.split(QLatin1Char('|'));
    for (int column = 0; column < 8; ++column)
        QCOMPARE(table.item(0, column)->text(), fields.at(column));
    QCOMPARE(table.item(0, 7)->text(), QString::fromLatin1(payload.toHex().toUpper()));
    QCOMPARE(rows->frame(0).has_value(), !clearFirst);
    QCOMPARE(PacketRows::of(&table), rows);

    rows->clear();
    QCOMPARE(table.rowCount(), 0);
    QCOMPARE(rows->field(0, 0), QString());
}

// The cleared rows' memory goes on the release thread while new rows come
// in: the new rows keep their cells and texts.
void TstPacketRows::rowsAfterClearOutliveRelease()
{
    QTableWidget table(0, 9);
    auto* rows = new PacketRows(&table, nullptr);
    // More cells than one of the cells' blocks holds.
    append_rows(rows, "first", 10000);
    rows->clear();
    append_rows(rows, "second", 3);
    memory_release::wait_idle();

    QCOMPARE(table.rowCount(), 3);
    for (int row = 0; row < 3; ++row)
        QCOMPARE(table.item(row, 7)->text(), QStringLiteral("7365636F6E64"));
}

void TstPacketRows::hexCellPaintsWhatFits_data()
{
    QTest::addColumn<int>("payload");
    QTest::addColumn<bool>("cut");
    QTest::newRow("fits") << 512 << false;
    QTest::newRow("60-KB") << 60000 << true;
}

void TstPacketRows::hexCellPaintsWhatFits()
{
    QFETCH(int, payload);
    QFETCH(bool, cut);

    QTableWidget table(0, 9);
    auto* rows = new PacketRows(&table, nullptr); // a child of the table
    const QByteArray frame = frame_with(QByteArray(payload, '\x5A'));
    rows->append(line_of(frame), std::nullopt);

    // What the style is handed to paint (and elide): the start of the text.
    struct Probe : HexCellDelegate
    {
        using HexCellDelegate::initStyleOption;
    };
    // A member of the base class reached through Probe's access: no downcast.
    const auto initStyleOption = &Probe::initStyleOption;
    auto* delegate = qobject_cast<HexCellDelegate*>(table.itemDelegateForColumn(7));
    QVERIFY(delegate != nullptr);
    QStyleOptionViewItem option;
    (delegate->*initStyleOption)(&option, table.model()->index(0, 7));
    const QString text = table.item(0, 7)->text();
    QCOMPARE(text.size(), 2 * payload); // the cell's own text stays whole
    QCOMPARE(option.text == text, !cut);
    QVERIFY(text.startsWith(option.text.left(option.text.size() - (cut ? 1 : 0))));
    QVERIFY(option.text.size() <= 1025);
}

// Cells go by replacement, by being taken out and deleted, by being deleted
// in their table, and by a clear, while others stay and new ones take their
// place. The rows left show what they showed (and under the sanitizers
// nothing leaks or is freed twice).
void TstPacketRows::cellsLeaveInEveryWay()
{
    QTableWidget table(0, 9);
    auto* rows = new PacketRows(&table, nullptr);
    append_rows(rows, "first", 6);

    table.setItem(0, 1, new QTableWidgetItem(QStringLiteral("note")));
    delete table.takeItem(1, 2);
    delete table.takeItem(2, 2);
    delete table.item(3, 0); // still in the table: it takes itself out
    const QString second = append_rows(rows, "second", 2);

    QCOMPARE(table.rowCount(), 8);
    QCOMPARE(table.item(0, 1)->text(), QStringLiteral("note"));
    QVERIFY(table.item(1, 2) == nullptr);
    QVERIFY(table.item(3, 0) == nullptr);
    QCOMPARE(table.item(2, 7)->text(), QStringLiteral("6669727374"));
    QCOMPARE(table.item(7, 7)->text(), QStringLiteral("7365636F6E64"));
    QCOMPARE(table.item(7, 2)->text(), second.split(QLatin1Char('|')).at(2));
    rows->clear();
    memory_release::wait_idle();
    QCOMPARE(table.rowCount(), 0);
}

// A capture's rows reach the table with the segments decoded on the capture
// thread: the observer sees each row with the segment of its frame (as the
// test built it), a line without a frame with none, and every clear.
void TstPacketRows::observerSeesCapturedSegments()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    QTableWidget table(0, 9);
    auto* rows = new PacketRows(&table, &store);
    struct Seen
    {
        int row;
        bool segment;
        std::uint16_t port;
        std::uint32_t seq;
        std::uint8_t flags;
        std::int64_t seconds;
    };
    std::vector<Seen> seen;
    int cleared = 0;
    rows->set_row_observer(
            [&seen](int row, const CapturedSegment* segment) {
                const CapturedSegment none;
                const CapturedSegment& s = segment != nullptr ? *segment : none;
                seen.push_back({ row, segment != nullptr, s.header.source_port, s.header.seq,
                                 s.header.flags, s.seconds });
            },
            [&cleared] { ++cleared; });

    QVector<QByteArray> frames;
    for (int i = 0; i < 600; ++i) {
        Ipv4Packet p;
        p.src_port = static_cast<std::uint16_t>(2000 + i);
        p.seq = 7000000u + 3u * static_cast<std::uint32_t>(i);
        p.tcp_flags = i % 2 == 0 ? 0x18 : 0x11;
        p.payload = "x";
        frames.append(ethernet(ipv4(p)));
    }
    const QString path = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(path, DLT_EN10MB, frames, 1700000000));
    auto* capture = new CUpdate(FilterSettings {}); // deleted below
    capture->store = &store;
    auto* intake = new CaptureIntake(capture, *rows, &store);
    QSignalSpy finished(intake, &CaptureIntake::finished);
    capture->adapter_name = QStringLiteral("file://") + path;
    capture->start();
    QVERIFY(finished.wait(10000));
    delete capture;

    rows->append(line_of(frame_with("no frame")), std::nullopt);
    QCOMPARE(int(seen.size()), 601);
    for (int i = 0; i < 600; ++i) {
        QCOMPARE(seen[i].row, i);
        QVERIFY(seen[i].segment);
        QCOMPARE(int(seen[i].port), 2000 + i);
        QCOMPARE(seen[i].seq, 7000000u + 3u * static_cast<std::uint32_t>(i));
        QCOMPARE(int(seen[i].flags), i % 2 == 0 ? 0x18 : 0x11);
        QCOMPARE(seen[i].seconds, std::int64_t(1700000000 + i));
    }
    QCOMPARE(seen[600].row, 600);
    QVERIFY(!seen[600].segment);
    QCOMPARE(cleared, 0);
    rows->clear();
    QCOMPARE(cleared, 1);
}

// Rows taken in slices, with the event loop turning between them, as the
// window takes a capture's: the table is still painted every interval or so.
void TstPacketRows::throttledTablePaintsWhileRowsPour()
{
    struct Counted : QWidget
    {
        int paints = 0;
        void paintEvent(QPaintEvent*) override { ++paints; }
    };
    Counted widget;
    widget.resize(200, 100);
    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    auto* throttle = new PaintThrottle(&widget, 20); // a child of the widget
    widget.paints = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 500) {
        for (int row = 0; row < 100; ++row)
            throttle->changed();
        QCoreApplication::processEvents();
    }
    QVERIFY2(widget.paints >= 3, qPrintable(QString::number(widget.paints)));
}

// A clear while a file waits on a full backlog, as "清空" does it: the rows
// queued or held before it never arrive (their frames went with the store),
// and every frame read after it becomes a row, in order.
void TstPacketRows::clearDropsOnlyRowsBeforeIt()
{
    constexpr int kFrames = 500;
    constexpr int kRoom = 32;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    CaptureStore store(dir.path());
    QTableWidget table(0, 9);
    auto* rows = new PacketRows(&table, &store);
    QVector<QByteArray> frames;
    for (int i = 0; i < kFrames; ++i) {
        Ipv4Packet p;
        p.src_port = static_cast<std::uint16_t>(3000 + i);
        frames.append(ethernet(ipv4(p)));
    }
    const QString path = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(path, DLT_EN10MB, frames));
    CUpdate capture { FilterSettings {} };
    capture.store = &store;
    capture.set_backlog_limits(kRoom, std::size_t(1) << 20);
    auto* intake = new CaptureIntake(&capture, *rows, &store); // a child of the capture
    QSignalSpy finished(intake, &CaptureIntake::finished);
    capture.adapter_name = QStringLiteral("file://") + path;
    capture.start();
    // No event is handled before the clear: kRoom rows are stored and
    // queued, and the file waits with the next frame until there is room.
    while (capture.frames_read.load() <= kRoom && !capture.isFinished())
        std::this_thread::yield();
    QVERIFY(!capture.isFinished());
    rows->clear();
    store.clear();
    intake->discard();

    QVERIFY(finished.wait(10000));
    const int read_before = kRoom;
    QCOMPARE(rows->count(), kFrames - read_before);
    for (int row = 0; row < rows->count(); ++row) {
        QCOMPARE(rows->field(row, 3), QString::number(3000 + read_before + row));
        QVERIFY(rows->frame(row).has_value());
    }
    QCOMPARE(store.frame_count(), std::int64_t(kFrames - read_before));
}

QTEST_MAIN(TstPacketRows)
#include "tst_packetrows.moc"
