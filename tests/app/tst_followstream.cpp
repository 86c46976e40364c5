// SPDX-License-Identifier: GPL-2.0-or-later

#include <numeric>

#include <pcap/pcap.h>

#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "capturestore.h"
#include "cupdate.h"
#include "followstream.h"
#include "followwindows.h"
#include "mainwindow.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qhexview.h"
#include "streamwindow.h"
#include "tcpfollow.h"
#include "testframes.h"

using namespace testframes;

using followwindows::BoxCatcher;
using followwindows::bytes_of;

namespace {

constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kAck = 0x10;
constexpr std::uint8_t kFin = 0x01;
constexpr std::uint8_t kPsh = 0x08;

const QByteArray kRequest = "GET / HTTP/1.1\r\n\r\n";
const QByteArray kHead = "HTTP/1.1 200 OK\r\n";
const QByteArray kBody = "\r\nhello";

// A segment from the client (10.0.0.1:40000) or the server (10.0.0.2:80).
QByteArray segment(bool from_client, std::uint32_t seq, std::uint32_t ack, std::uint8_t flags,
                   const QByteArray& payload = {}, std::uint16_t client_port = 40000)
{
    Ipv4Packet p;
    const std::uint8_t client[4] = { 10, 0, 0, 1 };
    const std::uint8_t server[4] = { 10, 0, 0, 2 };
    std::memcpy(p.src, from_client ? client : server, 4);
    std::memcpy(p.dst, from_client ? server : client, 4);
    p.src_port = from_client ? client_port : 80;
    p.dst_port = from_client ? 80 : client_port;
    p.seq = seq;
    p.ack = ack;
    p.tcp_flags = flags;
    p.payload = payload;
    return ethernet(ipv4(p));
}

// Row by row: a connection whose response comes out of order and whose
// request is retransmitted, another pair in between, then the pair reused.
QVector<QByteArray> conversation()
{
    const std::uint32_t c = 1000;
    const std::uint32_t s = 5000;
    const auto ends = [](std::uint32_t isn, const QByteArray& bytes) {
        return isn + 1 + static_cast<std::uint32_t>(bytes.size());
    };
    return {
        segment(true, c, 0, kSyn), // 0
        segment(false, s, c + 1, kSyn | kAck), // 1
        segment(true, c + 1, s + 1, kPsh | kAck, kRequest), // 2
        segment(true, c + 1, s + 1, kPsh | kAck, kRequest), // 3: again
        segment(true, 7, 0, kPsh | kAck, "other pair", 40001), // 4
        segment(false, s + 1 + kHead.size(), ends(c, kRequest), kPsh | kAck, kBody), // 5: early
        segment(false, s + 1, ends(c, kRequest), kPsh | kAck, kHead), // 6
        segment(true, ends(c, kRequest), ends(s, kHead + kBody), kFin | kAck), // 7
        segment(false, ends(s, kHead + kBody), ends(c, kRequest) + 1, kFin | kAck), // 8
        segment(true, 90000, 0, kSyn, "again"), // 9: the pair reused, data on the SYN
        // Another pair, then reused by the other side: the new connection's
        // first sender is the server.
        segment(true, 600, 0, kSyn, "one", 40002), // 10
        segment(false, 800, 604, kSyn | kAck, {}, 40002), // 11
        segment(false, 5555, 0, kSyn, "back", 40002), // 12
    };
}

} // namespace

// Following a row's TCP connection from the main window: the bytes each way
// as the application sent them, whatever order and copies the capture holds.
class TstFollowStream : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void followsTheRowsConnection_data();
    void followsTheRowsConnection();
    void chunksAreMarked();
    void refusesWhatCannotBeFollowed();
    void growsWithoutMovingTheView();
    void coloursFollowTheTheme();
    void marksMoveWithTheBytes();
    void readsOnlyWhatTheHeadersNeed_data();
    void readsOnlyWhatTheHeadersNeed();
    void chunkAfterAGapIsMarked();
    void openCountsAndCancels_data();
    void openCountsAndCancels();
    void progressShowsAndCancels_data();
    void progressShowsAndCancels();
    void growsWhileTheFileIsRead();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
};

void TstFollowStream::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const QString path = m_dir->filePath(QStringLiteral("conversation.pcap"));
    QVERIFY(write_capture(path, DLT_EN10MB, conversation()));
    m_window = std::make_unique<MainWindow>();
    QVERIFY(m_window->open_capture_file(path));
    QVERIFY(QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 10000));
    QCOMPARE(m_window->findChild<QTableWidget*>(QStringLiteral("tableWidget_2"))->rowCount(),
             conversation().size());
}

void TstFollowStream::cleanup()
{
    m_window.reset();
}

void TstFollowStream::followsTheRowsConnection_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("shown"); // StreamWindow::Shown
    QTest::addColumn<QByteArray>("bytes");

    const int conversation = int(StreamWindow::Shown::Conversation);
    const int first = int(StreamWindow::Shown::FirstSender);
    const int second = int(StreamWindow::Shown::SecondSender);
    QTest::newRow("from-the-syn") << 0 << conversation << kRequest + kHead + kBody;
    QTest::newRow("from-the-server") << 6 << conversation << kRequest + kHead + kBody;
    QTest::newRow("client-only") << 2 << first << kRequest;
    QTest::newRow("server-only") << 8 << second << kHead + kBody;
    QTest::newRow("other-pair") << 4 << conversation << QByteArray("other pair");
    QTest::newRow("pair-reused") << 9 << conversation << QByteArray("again");
    QTest::newRow("before-reuse") << 11 << first << QByteArray("one");
    QTest::newRow("reused-by-server") << 12 << first << QByteArray("back");
    QTest::newRow("reused-by-server-other-way") << 12 << second << QByteArray();
}

void TstFollowStream::followsTheRowsConnection()
{
    QFETCH(int, row);
    QFETCH(int, shown);
    QFETCH(QByteArray, bytes);

    auto* window = qobject_cast<StreamWindow*>(m_window->follow_tcp_stream(row));
    QVERIFY(window != nullptr);
    QVERIFY(window->setShown(static_cast<StreamWindow::Shown>(shown)));
    QCOMPARE(bytes_of(*window), bytes);
    QVERIFY(!window->view()->document()->isModified());
}

void TstFollowStream::chunksAreMarked()
{
    auto* window = qobject_cast<StreamWindow*>(m_window->follow_tcp_stream(2));
    QVERIFY(window != nullptr);
    QCOMPARE(window->summary(),
             QStringLiteral("10.0.0.1:40000 → 10.0.0.2:80: 18 字节; 10.0.0.2:80 → 10.0.0.1:40000: "
                            "24 字节; 8 个分段, 1 次重传, 0 处缺失"));
    // Each side's first byte opens a chunk: its row, direction and sequence.
    const QHexMetadata* metadata = window->view()->document()->metadata();
    const int width = window->view()->document()->bytesPerLine();
    const auto comment_at
            = [&](int offset) { return metadata->comments(offset / width, offset % width); };
    QVERIFY2(comment_at(0).startsWith(QStringLiteral("第 3 行, ")), qPrintable(comment_at(0)));
    QVERIFY(comment_at(0).endsWith(QStringLiteral("10.0.0.1:40000 → 10.0.0.2:80, 序列号 1001")));
    QVERIFY2(comment_at(kRequest.size()).startsWith(QStringLiteral("第 7 行, ")),
             qPrintable(comment_at(kRequest.size())));
    QVERIFY(comment_at(kRequest.size()).endsWith(QStringLiteral("序列号 5001")));
    QCOMPARE(comment_at(1), QString());
}

void TstFollowStream::refusesWhatCannotBeFollowed()
{
    BoxCatcher boxes;
    QCOMPARE(m_window->follow_tcp_stream(conversation().size()), nullptr);
    // A row handed in without a captured frame.
    m_window->show_data_UI(QStringLiteral("00:00:00|TCP|10.0.0.1|1|10.0.0.2|2|1|41"));
    QCOMPARE(m_window->follow_tcp_stream(conversation().size()), nullptr);
    QCOMPARE(boxes.texts,
             QStringList({ QStringLiteral("请先选择一行。"),
                           QStringLiteral("该行的帧已不在存储中, 无法追踪其TCP流。") }));
}

void TstFollowStream::growsWithoutMovingTheView()
{
    // A store filled as a capture would fill it, one segment at a time.
    CaptureStore store(m_dir->path());
    QVERIFY(store.isValid());
    QByteArray sent;
    std::vector<std::int64_t> frames;
    const auto capture = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const QByteArray payload(1000, static_cast<char>('a' + frames.size() % 26));
            const QByteArray frame = segment(true, 1 + static_cast<std::uint32_t>(sent.size()), 0,
                                             kPsh | kAck, payload);
            const pcap_pkthdr header = header_for(frame);
            frames.push_back(*store.append(DLT_EN10MB, header,
                                           reinterpret_cast<const u_char*>(frame.constData())));
            sent += payload;
        }
    };
    capture(100);
    std::vector<int> rows(frames.size());
    std::iota(rows.begin(), rows.end(), 0);
    std::unique_ptr<TcpFollow> follow
            = TcpFollow::open(store, frames, rows, frames.front(), nullptr);
    QVERIFY(follow != nullptr);
    std::size_t seen = frames.size();
    bool capturing = true;
    const auto grow = [&](TcpFollow& f) {
        std::vector<std::int64_t> added(frames.begin() + static_cast<std::ptrdiff_t>(seen),
                                        frames.end());
        std::vector<int> added_rows(added.size());
        std::iota(added_rows.begin(), added_rows.end(), static_cast<int>(seen));
        f.add(store, added, added_rows);
        seen = frames.size();
        return capturing;
    };
    StreamWindow window(std::move(follow), grow);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QHexView* view = window.view();
    QCOMPARE(bytes_of(window), sent);

    QHexCursor* cursor = view->document()->cursor();
    cursor->moveTo(5000);
    cursor->select(8);
    const qint64 start = cursor->selectionStart().offset();
    const qint64 end = cursor->selectionEnd().offset();
    QVERIFY(cursor->hasSelection());
    view->verticalScrollBar()->setValue(200);
    capture(300);
    window.takeNewBytes();
    capturing = false;
    capture(1);
    window.takeNewBytes();
    QCOMPARE(bytes_of(window), sent);
    QCOMPARE(cursor->selectionStart().offset(), start);
    QCOMPARE(cursor->selectionEnd().offset(), end);
    QCOMPARE(view->verticalScrollBar()->value(), 200);
    QVERIFY(!view->document()->isModified());
    // The capture is over: nothing more is taken.
    capture(1);
    window.takeNewBytes();
    QCOMPARE(bytes_of(window).size(), sent.size() - 1000);
}

void TstFollowStream::coloursFollowTheTheme()
{
    auto* window = qobject_cast<StreamWindow*>(m_window->follow_tcp_stream(2));
    QVERIFY(window != nullptr);
    const QHexMetadata* metadata = window->view()->document()->metadata();
    // Each direction's background reads against the theme's text.
    const auto background = [&](int line) {
        for (const QHexMetadataItem& item : metadata->lineItems(line))
            if (item.background.isValid())
                return item.background.lightness();
        return -1;
    };
    const int server_line = (kRequest.size() + 16) / 16;
    for (const int theme : { 1, 0, 1 }) {
        MainWindow::load_theme(theme);
        QTRY_COMPARE(background(0) < 128, theme == 1);
        QVERIFY(background(0) >= 0);
        QCOMPARE(background(server_line) < 128, theme == 1);
        QVERIFY(background(0) != background(server_line));
    }
    MainWindow::load_theme(0);
    QVERIFY(!window->view()->document()->isModified());
}

void TstFollowStream::marksMoveWithTheBytes()
{
    auto* window = qobject_cast<StreamWindow*>(m_window->follow_tcp_stream(2));
    QVERIFY(window != nullptr);
    QHexDocument* document = window->view()->document();
    const int width = document->bytesPerLine();
    // Where the server's chunk begins, by its comment, and the colour there.
    const auto server_chunk = [&] {
        for (int offset = 0; offset < document->length(); ++offset)
            if (document->metadata()
                        ->comments(offset / width, offset % width)
                        .contains(QStringLiteral("序列号 5001")))
                return offset;
        return -1;
    };
    const auto dark_at = [&](int offset) {
        for (const QHexMetadataItem& item : document->metadata()->lineItems(offset / width))
            if (item.background.isValid() && item.start <= offset % width
                && offset % width < item.start + item.length)
                return item.background.lightness() < 128;
        return false;
    };
    document->insert(2, QByteArray("ab")); // inside the request
    document->remove(0, 1);
    QCOMPARE(server_chunk(), kRequest.size() + 1);
    // Another theme colours the marks where the edits moved them.
    MainWindow::load_theme(1);
    QTRY_VERIFY(dark_at(kRequest.size() + 1));
    QCOMPARE(server_chunk(), kRequest.size() + 1);
    document->undo();
    document->undo();
    QCOMPARE(server_chunk(), kRequest.size());
    MainWindow::load_theme(0);
    QTRY_VERIFY(!dark_at(0));
}

void TstFollowStream::readsOnlyWhatTheHeadersNeed_data()
{
    QTest::addColumn<int>("options"); // 8-byte units of an IPv6 hop-by-hop header, 0: IPv4
    QTest::addColumn<int>("cut"); // bytes of each frame's tail not captured
    QTest::addColumn<int>("gaps");

    QTest::newRow("ipv4") << 0 << 0 << 0;
    QTest::newRow("ipv6-short-options") << 1 << 0 << 0;
    // The headers alone run past what is read of a frame for them.
    QTest::newRow("ipv6-long-options") << 60 << 0 << 0;
    QTest::newRow("cut-by-the-snapshot") << 0 << 100 << 3;
    QTest::newRow("long-options-cut") << 60 << 100 << 3;
}

void TstFollowStream::readsOnlyWhatTheHeadersNeed()
{
    QFETCH(int, options);
    QFETCH(int, cut);
    QFETCH(int, gaps);

    CaptureStore store(m_dir->path());
    QVERIFY(store.isValid());
    QByteArray expected;
    std::vector<std::int64_t> frames;
    std::uint32_t seq = 1;
    for (int i = 0; i < 3; ++i) {
        const QByteArray payload(300, static_cast<char>('k' + i));
        QByteArray frame;
        if (options == 0) {
            frame = segment(true, seq, 0, kPsh | kAck, payload);
        } else {
            Ipv6Packet p;
            p.extensions = { ipv6_options(0, options) };
            p.seq = seq;
            p.payload = payload;
            frame = ethernet(ipv6(p), 0x86DD);
        }
        seq += static_cast<std::uint32_t>(payload.size());
        expected += payload.left(payload.size() - cut);
        const pcap_pkthdr header = header_for(frame, 0, frame.size() - cut);
        frames.push_back(*store.append(DLT_EN10MB, header,
                                       reinterpret_cast<const u_char*>(frame.constData())));
    }
    std::vector<int> rows(frames.size());
    std::iota(rows.begin(), rows.end(), 0);
    QString error;
    std::unique_ptr<TcpFollow> follow = TcpFollow::open(store, frames, rows, frames[1], &error);
    QVERIFY2(follow != nullptr, qPrintable(error));
    StreamWindow window(std::move(follow));
    QCOMPARE(bytes_of(window), expected);
    QCOMPARE(window.follow().reassembly().gaps(), gaps);
}

void TstFollowStream::chunkAfterAGapIsMarked()
{
    // The server's first segment was never captured; the client's
    // acknowledgement and the server's next bytes say it was sent.
    const std::uint32_t c = 1000;
    const std::uint32_t s = 5000;
    const QByteArray lost(40, 'x');
    const QVector<QByteArray> frames = {
        segment(true, c + 1, s + 1, kPsh | kAck, kRequest),
        segment(false, s, c + 1, kSyn | kAck),
        segment(true, c + 1 + kRequest.size(), s + 1 + lost.size(), kAck),
        segment(false, s + 1 + lost.size(), c + 1 + kRequest.size(), kPsh | kAck, kBody),
    };
    CaptureStore store(m_dir->path());
    QVERIFY(store.isValid());
    std::vector<std::int64_t> seqs;
    for (const QByteArray& frame : frames) {
        const pcap_pkthdr header = header_for(frame);
        seqs.push_back(*store.append(DLT_EN10MB, header,
                                     reinterpret_cast<const u_char*>(frame.constData())));
    }
    const std::vector<int> rows = { 0, 1, 2, 3 };
    StreamWindow window(TcpFollow::open(store, seqs, rows, seqs.front(), nullptr));
    QCOMPARE(bytes_of(window), kRequest + kBody);
    // The server's first byte shown opens its chunk and tells of the gap.
    const QHexMetadata* metadata = window.view()->document()->metadata();
    const int width = window.view()->document()->bytesPerLine();
    const QString comment = metadata->comments(kRequest.size() / width, kRequest.size() % width);
    QVERIFY2(comment.startsWith(QStringLiteral("第 4 行, ")), qPrintable(comment));
    QVERIFY2(comment.contains(QStringLiteral("10.0.0.2:80 → 10.0.0.1:40000, 序列号 5001")),
             qPrintable(comment));
    QVERIFY2(comment.endsWith(QStringLiteral("此前缺少 40 字节 (未捕获)")), qPrintable(comment));
}

void TstFollowStream::openCountsAndCancels_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("to-the-end") << false;
    QTest::newRow("cancelled") << true;
}

void TstFollowStream::openCountsAndCancels()
{
    QFETCH(bool, cancel);
    CaptureStore store(m_dir->path());
    QVERIFY(store.isValid());
    std::vector<std::int64_t> frames;
    for (std::uint32_t i = 0; i < 1000; ++i) {
        const QByteArray frame = segment(true, 1 + 10 * i, 0, kPsh | kAck, QByteArray(10, 'p'));
        const pcap_pkthdr header = header_for(frame);
        frames.push_back(*store.append(DLT_EN10MB, header,
                                       reinterpret_cast<const u_char*>(frame.constData())));
    }
    frames.push_back(-1); // a row without a frame counts as looked at
    std::vector<int> rows(frames.size());
    std::iota(rows.begin(), rows.end(), 0);
    TcpFollow::Progress progress;
    progress.cancel = cancel;
    QString error;
    const std::unique_ptr<TcpFollow> follow
            = TcpFollow::open(store, frames, rows, frames.front(), &error, &progress);
    QCOMPARE(follow != nullptr, !cancel);
    QCOMPARE(error, cancel ? QStringLiteral("追踪已取消。") : QString());
    QCOMPARE(progress.frames.load(), cancel ? std::size_t(0) : frames.size());
}

void TstFollowStream::progressShowsAndCancels_data()
{
    QTest::addColumn<QString>("answer"); // to the progress dialog
    QTest::addColumn<bool>("opened");
    QTest::newRow("runs-to-the-end") << "none" << true;
    QTest::newRow("cancel-button") << "cancel" << false;
    QTest::newRow("escape-key") << "escape" << false;
}

// The dialog shows before the follow starts (delay 0), so that it is
// answered while the follow runs, however fast that is.
void TstFollowStream::progressShowsAndCancels()
{
    QFETCH(QString, answer);
    QFETCH(bool, opened);
    set_follow_progress_delay(0);
    const auto restore = qScopeGuard([] { set_follow_progress_delay(400); });
    struct Answerer : QObject
    {
        QString answer;
        QStringList shown;
        bool eventFilter(QObject* object, QEvent* event) override
        {
            auto* dialog = qobject_cast<QProgressDialog*>(object);
            if (dialog == nullptr || event->type() != QEvent::Show)
                return false;
            shown << QStringLiteral("%1|%2|%3|%4")
                             .arg(dialog->windowTitle(), dialog->labelText())
                             .arg(dialog->maximum())
                             .arg(dialog->isModal());
            if (answer == QLatin1String("cancel"))
                QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
            else if (answer == QLatin1String("escape"))
                QTest::keyClick(dialog, Qt::Key_Escape);
            return false;
        }
    } answerer;
    answerer.answer = answer;
    BoxCatcher boxes;
    qApp->installEventFilter(&answerer);
    HexWindow* window = m_window->follow_tcp_stream(2);
    qApp->removeEventFilter(&answerer);

    // The pair's nine rows, the pair reused at the last of them included.
    QCOMPARE(answerer.shown,
             QStringList { QStringLiteral("追踪TCP流|正在读取该连接的 9 帧…|9|1") });
    QCOMPARE(window != nullptr, opened);
    QCOMPARE(m_window->findChildren<StreamWindow*>().size(), opened ? 1 : 0);
    QVERIFY(m_window->findChildren<QProgressDialog*>().isEmpty());
    QCOMPARE(boxes.texts, QStringList());
    if (opened)
        QCOMPARE(bytes_of(*qobject_cast<StreamWindow*>(window)), kRequest + kHead + kBody);
}

// Rows that come after the follow began are read in the background and
// join the window: the bytes are those the file holds, in order.
void TstFollowStream::growsWhileTheFileIsRead()
{
    QVector<QByteArray> frames;
    QByteArray sent;
    for (int i = 0; i < 8000; ++i) {
        const QByteArray payload = QByteArray::number(i).rightJustified(8, '0');
        frames.append(segment(true, 1 + static_cast<std::uint32_t>(sent.size()), 0, kPsh | kAck,
                              payload));
        sent += payload;
    }
    const QString path = m_dir->filePath(QStringLiteral("long.pcap"));
    QVERIFY(write_capture(path, DLT_EN10MB, frames));
    m_window = std::make_unique<MainWindow>();
    auto* table = m_window->findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    QVERIFY(m_window->open_capture_file(path));
    QTRY_VERIFY(table->rowCount() > 0);
    auto* window = qobject_cast<StreamWindow*>(m_window->follow_tcp_stream(0));
    QVERIFY(window != nullptr);
    QTRY_COMPARE_WITH_TIMEOUT(window->view()->document()->length(), qint64(sent.size()), 30000);
    QCOMPARE(bytes_of(*window), sent);
    QVERIFY(QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 10000));
}

QTEST_MAIN(TstFollowStream)
#include "tst_followstream.moc"
