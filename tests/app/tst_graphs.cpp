// SPDX-License-Identifier: GPL-2.0-or-later

#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "capturestore.h"
#include "cupdate.h"
#include "graphplot.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "packetrecord.h"
#include "tcptimesequence.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "testframes.h"
#include "timesequencewindow.h"
#include "xtest.h"
#include "trafficgraphwindow.h"

// The two graph windows as a user meets them, offscreen: what they draw of
// a capture file the test writes (its frames are the oracle), which row a
// click on a point chooses, how they grow, and their colours in both
// themes. Keys and menus are tested on X (tests/ui/tst_graphkeys.cpp).

namespace {

constexpr int kDarkTheme = 1;
constexpr int kLightTheme = 2;
constexpr std::time_t kStart = 1700000000;

// One frame of the connection 10.0.0.1:5000 -> 10.0.0.2:80 or back, at a
// time in microseconds from kStart.
struct Frame
{
    qint64 micros;
    bool forth; // from the connection's first sender
    std::uint8_t flags;
    std::uint32_t seq;
    std::uint32_t ack;
    int payload;
};

// The connection: handshake, a segment and its ack, a quiet second, then a
// segment after a hole, the hole filled, an ack and a segment sent again.
const QVector<Frame> kFrames {
    { 200000, true, 0x02, 100, 0, 0 },      { 300000, false, 0x12, 500, 101, 0 },
    { 400000, true, 0x10, 101, 501, 0 },    { 1100000, true, 0x18, 101, 501, 100 },
    { 1200000, false, 0x10, 501, 201, 0 },  { 3500000, true, 0x18, 301, 501, 100 },
    { 3600000, true, 0x18, 201, 501, 100 }, { 3700000, false, 0x10, 501, 401, 0 },
    { 3800000, true, 0x18, 301, 501, 100 },
};

QByteArray frame_bytes(const Frame& frame)
{
    testframes::Ipv4Packet packet;
    const std::uint8_t a[4] = { 10, 0, 0, 1 };
    const std::uint8_t b[4] = { 10, 0, 0, 2 };
    std::memcpy(packet.src, frame.forth ? a : b, 4);
    std::memcpy(packet.dst, frame.forth ? b : a, 4);
    packet.src_port = frame.forth ? 5000 : 80;
    packet.dst_port = frame.forth ? 80 : 5000;
    packet.tcp_flags = frame.flags;
    packet.seq = frame.seq;
    packet.ack = frame.ack;
    packet.payload = QByteArray(frame.payload, 'p');
    return testframes::ethernet(testframes::ipv4(packet));
}

bool write_frames(const QString& path, const QVector<Frame>& frames)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* dumper = pcap_dump_open(dead, QFile::encodeName(path).constData());
    for (const Frame& frame : frames) {
        const QByteArray bytes = frame_bytes(frame);
        pcap_pkthdr header = testframes::header_for(bytes, kStart + frame.micros / 1000000);
        header.ts.tv_usec = frame.micros % 1000000;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header,
                  reinterpret_cast<const u_char*>(bytes.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return dumper != nullptr;
}

bool open_and_wait(MainWindow& window, const QString& path)
{
    return window.open_capture_file(path)
            && QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 30000);
}

template <typename Window> Window* newest(const QObject& parent)
{
    const QList<Window*> windows = parent.findChildren<Window*>();
    return windows.isEmpty() ? nullptr : windows.last();
}

void click_at(GraphPlot* plot, double key, double value, QCPAxis* value_axis = nullptr)
{
    plot->replot(QCustomPlot::rpImmediateRefresh);
    const QPoint at(int(plot->xAxis->coordToPixel(key)),
                    int((value_axis != nullptr ? value_axis : plot->yAxis)->coordToPixel(value)));
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, at);
}

// The points of a graph as (key, value) text, breaks left out.
QStringList points_of(const QCPGraph* graph)
{
    QStringList points;
    for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
        if (!qIsNaN(it->value))
            points << QStringLiteral("%1:%2").arg(it->key).arg(it->value);
    return points;
}

} // namespace

class TstGraphs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void trafficGraphChoosesRows_data();
    void trafficGraphChoosesRows();
    void trafficGraphGrowsAndEmpties();
    void graphsFollowTheTheme_data();
    void graphsFollowTheTheme();
    void timeSequenceChoosesRows_data();
    void timeSequenceChoosesRows();
    void timeSequenceGrows();
    void closingAfterGraphsWereClosed();

private:
    QTemporaryDir m_dir;
    QString m_file;
};

void TstGraphs::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_file = m_dir.filePath(QStringLiteral("connection.pcap"));
    QVERIFY(write_frames(m_file, kFrames));
}

void TstGraphs::trafficGraphChoosesRows_data()
{
    // Seconds from the first row (0.2 s): [0, 1) holds rows 0 to 3, [1, 2)
    // row 4, [2, 3) none, [3, 4) rows 5 to 8.
    QTest::addColumn<double>("key");
    QTest::addColumn<double>("packets");
    QTest::addColumn<int>("row");
    QTest::newRow("first-second") << 0.5 << 4.0 << 0;
    QTest::newRow("one-row") << 1.5 << 1.0 << 4;
    QTest::newRow("quiet-second") << 2.5 << 0.0 << 4;
    QTest::newRow("last-second") << 3.5 << 4.0 << 5;
}

void TstGraphs::trafficGraphChoosesRows()
{
    QFETCH(double, key);
    QFETCH(double, packets);
    QFETCH(int, row);
    MainWindow window;
    QVERIFY(open_and_wait(window, m_file));
    window.findChild<QAction*>(QStringLiteral("actionTrafficGraph"))->trigger();
    auto* graph = newest<TrafficGraphWindow>(window);
    QVERIFY(graph != nullptr);
    QCOMPARE(points_of(graph->packetsGraph()), QStringList({ "0:4", "1:1", "2:0", "3:4", "4:0" }));
    QCOMPARE(points_of(graph->bytesGraph()),
             QStringList({ "0:100", "1:0", "2:0", "3:300", "4:0" }));
    click_at(graph->plot(), key, packets);
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    QCOMPARE(graph->chosenRow(), row);
    QCOMPARE(table->currentRow(), row);
}

void TstGraphs::trafficGraphGrowsAndEmpties()
{
    MainWindow window;
    QVERIFY(open_and_wait(window, m_file));
    auto* action = window.findChild<QAction*>(QStringLiteral("actionTrafficGraph"));
    action->trigger();
    auto* graph = newest<TrafficGraphWindow>(window);
    QVERIFY(graph != nullptr);
    // The same rows again, read as a capture (which adds to the rows, as
    // opening a file does not): twice the packets in the same seconds.
    window.findChild<QComboBox*>(QStringLiteral("comboBox"))->addItem(QStringLiteral("file"));
    g_adapter_names.append(QStringLiteral("file://") + m_file);
    QVERIFY(window.select_adapter(g_adapter_names.constLast()));
    window.start_capture();
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 30000);
    QTRY_COMPARE(points_of(graph->packetsGraph()),
                 QStringList({ "0:8", "1:2", "2:0", "3:8", "4:0" }));
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
    action->trigger(); // the same window, raised
    QCOMPARE(newest<TrafficGraphWindow>(window), graph);
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton")),
                      Qt::LeftButton); // "清空"
    QTRY_COMPARE(graph->packetsGraph()->dataCount(), 0);
    // Closed, and asked for again before it is deleted: another one shows.
    graph->close();
    action->trigger();
    QVERIFY(newest<TrafficGraphWindow>(window) != graph);
    QVERIFY(newest<TrafficGraphWindow>(window)->isVisible());
}

void TstGraphs::graphsFollowTheTheme_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<bool>("dark");
    QTest::newRow("dark") << kDarkTheme << true;
    QTest::newRow("light") << kLightTheme << false;
}

void TstGraphs::graphsFollowTheTheme()
{
    QFETCH(int, theme);
    QFETCH(bool, dark);
    const auto restore = qScopeGuard([] { MainWindow::load_theme(kLightTheme); });
    MainWindow window;
    QVERIFY(open_and_wait(window, m_file));
    window.findChild<QAction*>(QStringLiteral("actionTrafficGraph"))->trigger();
    auto* graph = newest<TrafficGraphWindow>(window);
    QVERIFY(QTest::qWaitForWindowExposed(graph));
    // Switched while the graph is open, as the main window's button does.
    MainWindow::load_theme(theme);
    QTRY_COMPARE(graph->plot()->coloursAreDark(), dark);
    const QImage picture = graph->plot()->toPixmap().toImage();
    const QRect area = graph->plot()->axisRect()->rect();
    // The background at the top right, where no line runs, and the packets'
    // line against it.
    const int background = QColor(picture.pixel(area.right() - 5, area.top() + 5)).lightness();
    QCOMPARE(background < 128, dark);
    const int line = graph->packetsGraph()->pen().color().lightness();
    QVERIFY2(std::abs(line - background) > 60,
             qPrintable(QStringLiteral("%1 on %2").arg(line).arg(background)));
}

void TstGraphs::timeSequenceChoosesRows_data()
{
    // What the first sender's segments are drawn as (the frames above):
    // bars of the SYN and rows 3 and 5, rows 6 and 8 sent again, a mark at
    // row 5 after the hole, and the other side's acknowledgements.
    QTest::addColumn<double>("key"); // seconds from the SYN
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("row");
    QTest::newRow("syn") << 0.0 << 0.5 << 0;
    QTest::newRow("segment") << 0.9 << 50.0 << 3;
    QTest::newRow("after-the-hole") << 3.3 << 201.0 << 5;
    QTest::newRow("filling-the-hole") << 3.4 << 150.0 << 6;
    QTest::newRow("sent-again") << 3.6 << 250.0 << 8;
    QTest::newRow("acknowledgement") << 1.05 << 101.0 << 4;
}

void TstGraphs::timeSequenceChoosesRows()
{
    QFETCH(double, key);
    QFETCH(double, value);
    QFETCH(int, row);
    MainWindow window;
    QVERIFY(open_and_wait(window, m_file));
    HexWindow* stream = window.follow_tcp_stream(2);
    QVERIFY(stream != nullptr);
    stream->findChild<QAction*>(QStringLiteral("actionTimeSequence"))->trigger();
    auto* sequence = newest<TimeSequenceWindow>(*stream);
    QVERIFY(sequence != nullptr);
    QCOMPARE(sequence->direction(), 0);
    QCOMPARE(points_of(sequence->segmentsGraph()),
             QStringList({ "0:0", "0:1", "0.9:1", "0.9:101", "3.3:201", "3.3:301" }));
    QCOMPARE(points_of(sequence->retransmissionsGraph()),
             QStringList({ "3.4:101", "3.4:201", "3.6:201", "3.6:301" }));
    QCOMPARE(points_of(sequence->gapsGraph()), QStringList({ "3.3:201" }));
    QCOMPARE(points_of(sequence->acksGraph()), QStringList({ "0.1:1", "1:101", "3.5:301" }));
    sequence->resize(1000, 700);
    // Zoomed in about the point, so that nothing else lies near it.
    GraphPlot* plot = sequence->plot();
    plot->xAxis->setRange(key - 0.15, key + 0.15);
    plot->yAxis->setRange(value - 60, value + 60);
    click_at(plot, key, value);
    QCOMPARE(sequence->chosenRow(), row);
    QCOMPARE(window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"))->currentRow(), row);

    // Once the table is emptied and filled again, its rows are others: a
    // click chooses none.
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton")),
                      Qt::LeftButton); // "清空"
    QVERIFY(open_and_wait(window, m_file));
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    table->setCurrentCell(row == 0 ? 1 : 0, 0);
    click_at(plot, key, value);
    QCOMPARE(table->currentRow(), row == 0 ? 1 : 0);

    // The other way: the SYN-ACK alone, and the first sender's acks.
    sequence->setDirection(1);
    QCOMPARE(points_of(sequence->segmentsGraph()), QStringList({ "0.1:0", "0.1:1" }));
    QCOMPARE(points_of(sequence->acksGraph()),
             QStringList({ "0.2:1", "0.9:1", "3.3:1", "3.4:1", "3.6:1" }));
}

void TstGraphs::timeSequenceGrows()
{
    // The store holds the connection, row 3's frame moved to the end (a
    // capture of merged files); the window is given its first four frames,
    // the others come with the first growth: drawn in time order all the
    // same.
    QTemporaryDir folder;
    CaptureStore store(folder.path());
    QVERIFY(store.isValid());
    std::vector<std::int64_t> frames;
    std::vector<int> rows;
    QVector<Frame> order = kFrames;
    order.move(3, order.size() - 1); // row 3's segment captured last
    for (const Frame& frame : std::as_const(order)) {
        const QByteArray bytes = frame_bytes(frame);
        pcap_pkthdr header = testframes::header_for(bytes, kStart + frame.micros / 1000000);
        header.ts.tv_usec = frame.micros % 1000000;
        const std::optional<std::int64_t> stored = store.append(
                DLT_EN10MB, header, reinterpret_cast<const unsigned char*>(bytes.constData()));
        QVERIFY(stored.has_value());
        frames.push_back(*stored);
        rows.push_back(int(rows.size()));
    }
    QString error;
    std::unique_ptr<TcpTimeSequence> read
            = TcpTimeSequence::open(store, { frames.cbegin(), frames.cbegin() + 4 },
                                    { rows.cbegin(), rows.cbegin() + 4 }, frames[0], &error);
    QVERIFY2(read != nullptr, qPrintable(error));
    int grown = 0;
    QTableWidget table(int(rows.size()), 8);
    TimeSequenceWindow window(
            std::move(read),
            [&](TcpTimeSequence& sequence) {
                if (grown++ == 0)
                    sequence.add(store, { frames.cbegin() + 4, frames.cend() },
                                 { rows.cbegin() + 4, rows.cend() });
                return grown < 2;
            },
            &table, nullptr);
    window.show();
    QCOMPARE(points_of(window.segmentsGraph()), QStringList({ "0:0", "0:1" }));
    window.takeNew();
    // Row 3's segment, captured last, fills a hole: drawn first among those.
    QCOMPARE(points_of(window.segmentsGraph()),
             QStringList({ "0:0", "0:1", "3.3:201", "3.3:301" }));
    QCOMPARE(points_of(window.retransmissionsGraph()),
             QStringList({ "0.9:1", "0.9:101", "3.4:101", "3.4:201", "3.6:201", "3.6:301" }));
    // The row of each bar stays with it: row 8 (row 3's frame, taken last)
    // is the bar at 0.9 s.
    window.plot()->xAxis->setRange(0.75, 1.05);
    window.plot()->yAxis->setRange(0, 120);
    window.resize(1000, 700);
    click_at(window.plot(), 0.9, 50);
    QCOMPARE(window.chosenRow(), 8);
    window.takeNew(); // no more comes
    QCOMPARE(grown, 2);
}

void TstGraphs::closingAfterGraphsWereClosed()
{
    // Graph windows closed, their deletion pending (no event loop ran since),
    // and a hex window with edits: closing the main window asks about them,
    // and the question's event loop deletes the graphs meanwhile.
    MainWindow window;
    window.show();
    QVERIFY(open_and_wait(window, m_file));
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton_8")),
                      Qt::LeftButton); // "HexView"
    auto* hex = newest<HexWindow>(window);
    QVERIFY(hex != nullptr);
    hex->view()->document()->insert(0, QByteArray("edit"));
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    for (int i = 0; i < 30; ++i)
        (new TrafficGraphWindow(nullptr, table, &window))->close();
    int asked = 0;
    const xtest::ModalAnswerer discard([&asked](QWidget* modal) {
        ++asked;
        if (auto* box = qobject_cast<QMessageBox*>(modal);
            box == nullptr || !xtest::press_role(box, QMessageBox::DestructiveRole))
            modal->close();
    });
    QVERIFY(window.close());
    QCOMPARE(asked, 1);
}

QTEST_MAIN(TstGraphs)
#include "tst_graphs.moc"
