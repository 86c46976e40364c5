// SPDX-License-Identifier: GPL-2.0-or-later

#include <cmath>

#include <pcap/pcap.h>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

#include "clienthello.h"
#include "conversationsmodel.h"
#include "conversationswindow.h"
#include "cupdate.h"
#include "fitwid.h"
#include "mainwindow.h"
#include "streamwindow.h"
#include "tcpanalysis.h"
#include "tcpfollow.h"
#include "testframes.h"

using namespace testframes;

namespace {

constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kAck = 0x10;
constexpr std::uint8_t kPsh = 0x08;
constexpr std::uint8_t kRst = 0x04;

const QByteArray kHello = client_hello("example.org");
const QByteArray kAnswer(300, 'a');

// A segment between 10.0.0.1:40000 (A) and 10.0.0.2:443, or from
// [2001:db8::1]:50000 to [2001:db8::2]:80 (`six`).
QByteArray segment(bool from_a, std::uint32_t seq, std::uint32_t ack, std::uint8_t flags,
                   const QByteArray& payload = {}, bool six = false)
{
    if (six) {
        Ipv6Packet p;
        p.src_port = 50000;
        p.dst_port = 80;
        p.seq = seq;
        p.tcp_flags = flags;
        p.payload = payload;
        return ethernet(ipv6(p), 0x86DD);
    }
    Ipv4Packet p;
    const std::uint8_t a[4] = { 10, 0, 0, 1 };
    const std::uint8_t b[4] = { 10, 0, 0, 2 };
    std::memcpy(p.src, from_a ? a : b, 4);
    std::memcpy(p.dst, from_a ? b : a, 4);
    p.src_port = from_a ? 40000 : 443;
    p.dst_port = from_a ? 443 : 40000;
    p.seq = seq;
    p.ack = ack;
    p.tcp_flags = flags;
    p.payload = payload;
    return ethernet(ipv4(p));
}

// One row a second: a TLS connection whose ClientHello comes twice and
// which the server resets, an IPv6 one in between, then the first pair
// reused.
QVector<QByteArray> capture()
{
    const auto after_hello = std::uint32_t(1001 + kHello.size());
    return {
        segment(true, 1000, 0, kSyn), // 0
        segment(false, 5000, 1001, kSyn | kAck), // 1
        segment(true, 1001, 5001, kAck), // 2
        segment(true, 1, 0, kSyn, {}, true), // 3
        segment(true, 1001, 5001, kPsh | kAck, kHello), // 4
        segment(true, 1001, 5001, kPsh | kAck, kHello), // 5: again
        segment(true, 2, 0, kPsh | kAck, "ten bytes!", true), // 6
        segment(false, 5001, after_hello, kPsh | kAck, kAnswer), // 7
        segment(false, 5301, after_hello, kRst | kAck), // 8
        segment(true, 90000, 0, kSyn), // 9: the pair again
        segment(false, 70000, 90001, kSyn | kAck), // 10
    };
}

// Row i of the model as the capture makes it: the texts of its columns.
QStringList expected_row(int connection)
{
    // Twice the hello A to B in 8 s: as many bits per second as bytes.
    const QString hellos = QString::number(2 * kHello.size());
    switch (connection) {
    case 0:
        return { "10.0.0.1", "40000",    "10.0.0.2", "443",  "4",   hellos,        "3",
                 "300",      "0.000000", "8.000000", hellos, "300", "example.org", "2" };
    case 1: // 10 bytes in 3 s: 26.67 bits per second
        return { "2001:db8::1", "50000",    "2001:db8::2", "80", "2", "10", "0",
                 "0",           "3.000000", "3.000000",    "27", "0", "",   "0" };
    default:
        return { "10.0.0.1", "40000",    "10.0.0.2", "443", "1", "0", "1",
                 "0",        "9.000000", "1.000000", "0",   "0", "",  "0" };
    }
}

// WCAG 2 contrast of two colours.
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF())
                + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

class TstConversations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void columnsOfEachConnection();
    void sortsByEveryColumn();
    void updatesKeepTheSelection();
    void findsByTyping_data();
    void findsByTyping();
    void copiesTheSelectedAsCsv();
    void narrowsToAndFollowsAConnection();
    void marksInTheNoteColumn_data();
    void marksInTheNoteColumn();
    void findsAndNarrowsToMarkedRows();

private:
    ConversationsWindow* openWindow();
    QTableWidget* table() const
    {
        return m_window->findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<MainWindow> m_window;
};

void TstConversations::init()
{
    QVERIFY(!kHello.isEmpty());
    m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->filePath(QStringLiteral("conversations.pcap"));
    QVERIFY(write_capture(path, DLT_EN10MB, capture(), 1700000000));
    m_window = std::make_unique<MainWindow>();
    QVERIFY(m_window->open_capture_file(path));
    QVERIFY(QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 10000));
    QCOMPARE(table()->rowCount(), capture().size());
}

void TstConversations::cleanup()
{
    m_window.reset();
    MainWindow::load_theme(2);
}

ConversationsWindow* TstConversations::openWindow()
{
    if (!QTest::qWaitFor([this] { return m_window->tcp_conversations()->rowCount() == 3; }))
        return nullptr;
    auto* action = m_window->findChild<QAction*>(QStringLiteral("actionConversations"));
    if (action == nullptr || action->shortcut() != QKeySequence(QStringLiteral("Ctrl+Alt+C")))
        return nullptr;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    action->trigger();
    return m_window->findChild<ConversationsWindow*>();
}

// Each connection's texts and numbers, in the order of the columns.
void TstConversations::columnsOfEachConnection()
{
    QAbstractItemModel* model = m_window->tcp_conversations();
    QTRY_COMPARE(model->rowCount(), 3);
    const QStringList titles { "地址A",    "端口A",    "地址B",    "端口B",   "包数 A→B",
                               "字节 A→B", "包数 B→A", "字节 B→A", "开始",    "持续时间",
                               "速率 A→B", "速率 B→A", "服务器名", "标记行数" };
    QCOMPARE(model->columnCount(), titles.size());
    for (int column = 0; column < titles.size(); ++column)
        QCOMPARE(model->headerData(column, Qt::Horizontal).toString(), titles[column]);
    for (int row = 0; row < 3; ++row) {
        const QStringList want = expected_row(row);
        for (int column = 0; column < titles.size(); ++column) {
            const QModelIndex index = model->index(row, column);
            QCOMPARE(index.data().toString(), want[column]);
            const QVariant number = index.data(Qt::UserRole);
            // Numbers as numbers: the text read back, within its rounding.
            if (number.type() != QVariant::String)
                QVERIFY2(std::abs(number.toDouble() - want[column].toDouble()) <= 0.5,
                         qPrintable(titles[column]));
        }
    }
    QCOMPARE(model->index(1, ConversationsModel::RateAB).data(Qt::UserRole).toDouble(), 80.0 / 3);
}

// Every column sorts by the values the model gives for it, both ways.
void TstConversations::sortsByEveryColumn()
{
    ConversationsWindow* window = openWindow();
    QVERIFY(window != nullptr);
    const QAbstractItemModel* shown = window->view()->model();
    for (int column = 0; column < shown->columnCount(); ++column) {
        for (const Qt::SortOrder order : { Qt::AscendingOrder, Qt::DescendingOrder }) {
            window->view()->sortByColumn(column, order);
            for (int row = 1; row < shown->rowCount(); ++row) {
                QVariant a = shown->index(row - 1, column).data(ConversationsModel::kSortRole);
                QVariant b = shown->index(row, column).data(ConversationsModel::kSortRole);
                if (order == Qt::DescendingOrder)
                    std::swap(a, b);
                const bool sorted = a.type() == QVariant::ByteArray
                        ? a.toByteArray() <= b.toByteArray()
                        : (a.type() == QVariant::String ? a.toString() <= b.toString()
                                                        : a.toDouble() <= b.toDouble());
                QVERIFY2(sorted, qPrintable(QStringLiteral("column %1").arg(column)));
            }
        }
    }
}

// Counts that change and connections that come reach an open window a
// few times a second, sorted as asked, the selection staying where it was.
void TstConversations::updatesKeepTheSelection()
{
    TcpAnalysis analysis;
    ConversationsModel model(analysis);
    ConversationsWindow window(&model);
    const QVector<QByteArray> frames = capture();
    const auto add = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const pcap_pkthdr header = header_for(frames[i], 100 + i);
            const auto* data = reinterpret_cast<const unsigned char*>(frames[i].constData());
            const CapturedSegment segment { *decode_tcp_segment(DLT_EN10MB, header, data),
                                            header.ts.tv_sec, 0 };
            analysis.add(analysis.row_count(), &segment);
        }
    };
    add(0, 4); // two connections: the TLS one has sent nothing yet
    model.refresh();
    QTableView* view = window.view();
    view->sortByColumn(ConversationsModel::BytesAB, Qt::DescendingOrder);
    view->selectRow(1);
    QCOMPARE(window.selected(), QVector<int> { 1 });
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    add(4, frames.size()); // the TLS connection overtakes it; a third comes
    model.refresh();
    QCOMPARE(changed.count(), 1); // the first two, in one run
    QCOMPARE(view->model()->rowCount(), 3);
    QCOMPARE(window.selected(), QVector<int> { 1 });
    QCOMPARE(view->selectionModel()->selectedRows().value(0).row(), 1);
    QCOMPARE(view->model()->index(0, ConversationsModel::BytesAB).data().toString(),
             QString::number(2 * kHello.size()));
    model.refresh();
    QCOMPARE(changed.count(), 1); // nothing more
}

void TstConversations::findsByTyping_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QVector<int>>("shown");
    QTest::newRow("nothing") << QString() << QVector<int> { 0, 1, 2 };
    QTest::newRow("server-name") << "EXAMPLE" << QVector<int> { 0 };
    QTest::newRow("ipv6-endpoint") << "[2001:db8::2]:80" << QVector<int> { 1 };
    QTest::newRow("address-and-port") << "10.0.0.2:443 40000" << QVector<int> { 0, 2 };
    QTest::newRow("no-such") << "10.9.9.9" << QVector<int> {};
}

void TstConversations::findsByTyping()
{
    QFETCH(QString, typed);
    QFETCH(QVector<int>, shown);
    ConversationsWindow* window = openWindow();
    QVERIFY(window != nullptr);
    auto* find = window->findChild<QLineEdit*>(QStringLiteral("conversationsFind"));
    QTest::keyClicks(find, typed);
    const auto* proxy = static_cast<const QSortFilterProxyModel*>(window->view()->model());
    QVector<int> found;
    for (int row = 0; row < proxy->rowCount(); ++row)
        found << proxy->mapToSource(proxy->index(row, 0)).row();
    QCOMPARE(found, shown);
    // The first match is the current one.
    if (!typed.isEmpty() && !shown.isEmpty())
        QCOMPARE(proxy->mapToSource(window->view()->currentIndex()).row(), shown.first());
}

void TstConversations::copiesTheSelectedAsCsv()
{
    ConversationsWindow* window = openWindow();
    QVERIFY(window != nullptr);
    window->view()->selectAll();
    window->findChild<QPushButton*>(QStringLiteral("conversationsCopy"))->click();
    const QStringList lines = QApplication::clipboard()->text().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 5); // titles, three rows, and the end of the last line
    QCOMPARE(lines[0].split(QLatin1Char(',')).value(0), QStringLiteral("地址A"));
    for (int row = 0; row < 3; ++row)
        QCOMPARE(lines[row + 1].split(QLatin1Char(',')), expected_row(row));
    QVERIFY(lines[4].isEmpty());
}

// "只显示此会话" keeps the rows of the selected connection, "显示全部行"
// brings the others back; a double click follows the connection.
void TstConversations::narrowsToAndFollowsAConnection()
{
    ConversationsWindow* window = openWindow();
    QVERIFY(window != nullptr);
    window->view()->selectRow(2);
    window->findChild<QPushButton*>(QStringLiteral("conversationsNarrow"))->click();
    for (int row = 0; row < table()->rowCount(); ++row)
        QCOMPARE(table()->isRowHidden(row), row < 9);
    window->findChild<QPushButton*>(QStringLiteral("conversationsShowAll"))->click();
    for (int row = 0; row < table()->rowCount(); ++row)
        QVERIFY(!table()->isRowHidden(row));

    QTableView* view = window->view();
    const QRect cell = view->visualRect(view->model()->index(2, 0));
    // A double click is a click and a second press, as a mouse sends it.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    const QList<StreamWindow*> streams = m_window->findChildren<StreamWindow*>();
    QCOMPARE(streams.size(), 1);
    QCOMPARE(streams.front()->follow().reassembly().segments(), 2); // the pair's second use
}

void TstConversations::marksInTheNoteColumn_data()
{
    QTest::addColumn<int>("theme");
    QTest::newRow("light") << 2;
    QTest::newRow("dark") << 1;
}

// The marked rows say what they are and stand out, readably, in the theme
// shown; the others have no note.
void TstConversations::marksInTheNoteColumn()
{
    QFETCH(int, theme);
    MainWindow::load_theme(theme);
    QTableWidget* rows = table();
    for (int row = 0; row < rows->rowCount(); ++row) {
        QTableWidgetItem* note = rows->item(row, 8);
        const QString want = row == 5 ? "重传" : (row == 8 ? "重置" : QString());
        QCOMPARE(note != nullptr ? note->text() : QString(), want);
        QCOMPARE(note != nullptr, !want.isEmpty());
        const QVariant background = rows->item(row, 0)->data(Qt::BackgroundRole);
        QCOMPARE(background.isValid(), !want.isEmpty());
    }
    const QColor retransmitted = rows->item(5, 2)->background().color();
    const QColor reset = rows->item(8, 2)->background().color();
    QVERIFY(retransmitted != reset);
    for (const int row : { 5, 8 }) {
        const QColor background = rows->item(row, 2)->background().color();
        QVERIFY(contrast(background, rows->item(row, 2)->foreground().color()) >= 4.5);
        // Painted as told, the theme's style sheet notwithstanding; and
        // apart from the table's own background in this theme.
        m_window->show();
        const QImage painted = rows->viewport()->grab().toImage();
        const QRect cell = rows->visualItemRect(rows->item(row, 2));
        QCOMPARE(painted.pixelColor(cell.left() + 3, cell.top() + 3), background);
        QVERIFY(contrast(background, rows->palette().color(QPalette::Base)) >= 1.2);
    }
}

void TstConversations::findsAndNarrowsToMarkedRows()
{
    QCOMPARE(m_window->find_row(QStringLiteral("重置"), MainWindow::FindKind::Fields, -1, true), 8);
    QCOMPARE(m_window->find_row(QStringLiteral("重传"), MainWindow::FindKind::Fields, 5, true), 5);
    auto* marked = g_filter_form->findChild<QCheckBox*>(QStringLiteral("markedRowsOnly"));
    auto* apply = g_filter_form->findChild<QPushButton*>(QStringLiteral("applyToShownRows"));
    QVERIFY(marked != nullptr && apply != nullptr);
    marked->setChecked(true);
    apply->click();
    for (int row = 0; row < table()->rowCount(); ++row)
        QCOMPARE(table()->isRowHidden(row), row != 5 && row != 8);
    marked->setChecked(false);
    apply->click();
    for (int row = 0; row < table()->rowCount(); ++row)
        QVERIFY(!table()->isRowHidden(row));
}

QTEST_MAIN(TstConversations)
#include "tst_conversations.moc"
