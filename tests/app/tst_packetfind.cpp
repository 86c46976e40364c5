// SPDX-License-Identifier: GPL-2.0-or-later

#include <pcap/pcap.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>

#include "cupdate.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "mainwindow.h"
#include "packetfindbar.h"
#include "testframes.h"

Q_DECLARE_METATYPE(MainWindow::FindKind)
Q_DECLARE_METATYPE(FilterSettings)

namespace {

// Row i: this payload, from port 8000 + i to 10.0.0.5:51000.
const QList<QByteArray> kPayloads {
    "GET /?token=abc",
    QByteArray("\x12\x34\x56", 3), // hex text 123456: "23" and "3456" only across bytes
    "hello world",
    "last token",
};

QVector<QByteArray> frames_of(const QList<QByteArray>& payloads, int ports = 0)
{
    QVector<QByteArray> frames;
    for (const QByteArray& payload : payloads) {
        testframes::Ipv4Packet packet;
        packet.payload = payload;
        const int i = frames.size();
        packet.src_port = static_cast<std::uint16_t>(8000 + (ports > 0 ? i % ports : i));
        packet.src[3] = static_cast<std::uint8_t>(1 + i % 4);
        frames.append(testframes::ethernet(testframes::ipv4(packet)));
    }
    return frames;
}

QTableWidget* table_of(const MainWindow& window)
{
    return window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
}

// Opens a file of these frames in the window and waits for its rows.
bool open_frames(MainWindow& window, const QTemporaryDir& dir, const QVector<QByteArray>& frames)
{
    const QString path = dir.filePath(QStringLiteral("rows.pcap"));
    return testframes::write_capture(path, DLT_EN10MB, frames) && window.open_capture_file(path)
            && QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 20000)
            && table_of(window)->rowCount() == frames.size();
}

QList<int> shown_rows(const QTableWidget& table)
{
    QList<int> rows;
    for (int row = 0; row < table.rowCount(); ++row)
        if (!table.isRowHidden(row))
            rows.append(row);
    return rows;
}

// Presses "应用到已显示的行" with these settings in force.
void narrow(const FilterSettings& settings)
{
    g_filter_settings = settings;
    QTest::mouseClick(g_filter_form->findChild<QPushButton*>(QStringLiteral("applyToShownRows")),
                      Qt::LeftButton);
}

FilterSettings include_ports(const QStringList& ports)
{
    FilterSettings settings;
    settings.include_port_enabled = true;
    settings.include_ports = ports;
    return settings;
}

} // namespace

// Finding rows by payload or fields, and narrowing the table to the rows
// the filter lists let through.
class TstPacketFind : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void findRow_data();
    void findRow();
    void barShowsMatchAndNotices_data();
    void barShowsMatchAndNotices();
    void longSearchCancels();
    void narrowAndWiden_data();
    void narrowAndWiden();
    void titleCountsInLocale();
    void widenedKeepsCurrentRowInSight();
    void newRowsStayNarrowed_data();
    void newRowsStayNarrowed();
    void saveShownRows();
};

// Narrowing sets the filter settings: back to none after each test.
void TstPacketFind::cleanup()
{
    g_filter_settings = FilterSettings();
}

void TstPacketFind::findRow_data()
{
    using Kind = MainWindow::FindKind;
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("from");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<QList<int>>("hidden");
    QTest::addColumn<int>("found");

    const QList<int> none;
    QTest::newRow("first-row") << "GET" << Kind::PayloadText << -1 << true << none << 0;
    QTest::newRow("last-row") << "last" << Kind::PayloadText << -1 << true << none << 3;
    QTest::newRow("next-after-from") << "token" << Kind::PayloadText << 0 << true << none << 3;
    QTest::newRow("previous-before-from")
            << "token" << Kind::PayloadText << 3 << false << none << 0;
    QTest::newRow("wraps-past-last") << "GET" << Kind::PayloadText << 2 << true << none << 0;
    QTest::newRow("wraps-past-first") << "last" << Kind::PayloadText << 1 << false << none << 3;
    QTest::newRow("from-row-itself-last") << "hello" << Kind::PayloadText << 2 << true << none << 2;
    QTest::newRow("no-match") << "absent" << Kind::PayloadText << -1 << true << none << -1;
    QTest::newRow("case-sensitive") << "get" << Kind::PayloadText << -1 << true << none << -1;
    QTest::newRow("text-across-hex-digits")
            << "23" << Kind::PayloadText << -1 << true << none << -1;
    QTest::newRow("hex-bytes") << "12 34" << Kind::PayloadHex << -1 << true << none << 1;
    QTest::newRow("hex-backward") << "3456" << Kind::PayloadHex << 2 << false << none << 1;
    QTest::newRow("hex-of-text-lower-case")
            << "776f726c64" << Kind::PayloadHex << -1 << true << none << 2;
    QTest::newRow("hex-across-bytes") << "2345" << Kind::PayloadHex << -1 << true << none << -1;
    // IPv4 version and header length, TCP's PSH|ACK: in every frame, in no
    // payload.
    QTest::newRow("header-bytes-not-payload")
            << "4500" << Kind::PayloadHex << -1 << true << none << -1;
    QTest::newRow("hex-odd-digits") << "123" << Kind::PayloadHex << -1 << true << none << -1;
    QTest::newRow("hex-not-digits") << "4G" << Kind::PayloadHex << -1 << true << none << -1;
    QTest::newRow("empty") << "" << Kind::PayloadText << -1 << true << none << -1;
    QTest::newRow("fields-port") << "8002" << Kind::Fields << -1 << true << none << 2;
    QTest::newRow("fields-address") << "192.168.0.4" << Kind::Fields << 0 << false << none << 3;
    QTest::newRow("fields-next-of-all") << "10.0.0.5" << Kind::Fields << 1 << true << none << 2;
    QTest::newRow("fields-no-payload") << "hello" << Kind::Fields << -1 << true << none << -1;
    QTest::newRow("fields-not-across") << "8000|" << Kind::Fields << -1 << true << none << -1;
    QTest::newRow("hidden-skipped")
            << "token" << Kind::PayloadText << -1 << true << QList<int> { 0 } << 3;
    QTest::newRow("hidden-only-match")
            << "GET" << Kind::PayloadText << -1 << true << QList<int> { 0 } << -1;
    QTest::newRow("hidden-fields")
            << "10.0.0.5" << Kind::Fields << 0 << true << QList<int> { 1, 2 } << 3;
}

void TstPacketFind::findRow()
{
    QFETCH(QString, pattern);
    QFETCH(MainWindow::FindKind, kind);
    QFETCH(int, from);
    QFETCH(bool, forward);
    QFETCH(QList<int>, hidden);
    QFETCH(int, found);

    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(open_frames(window, dir, frames_of(kPayloads)));
    for (const int row : hidden)
        table_of(window)->setRowHidden(row, true);
    QCOMPARE(window.find_row(pattern, kind, from, forward), found);
}

void TstPacketFind::barShowsMatchAndNotices_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<int>("current"); // the row found, as the table has it
    QTest::addColumn<QString>("message");

    QTest::newRow("found") << "hello" << 0 << false << true << 2 << "";
    QTest::newRow("case-ignored") << "WORLD" << 0 << true << true << 2 << "";
    QTest::newRow("case-kept") << "WORLD" << 0 << false << true << 1 << "未找到";
    QTest::newRow("wrapped-forward")
            << "GET" << 0 << false << true << 0 << "已到达末尾，从开头继续查找";
    QTest::newRow("wrapped-backward")
            << "last" << 0 << false << false << 3 << "已到达开头，从末尾继续查找";
    QTest::newRow("odd-hex") << "123" << 1 << false << true << 1
                             << "十六进制格式错误: 数字须成对, 每个字节两位";
    QTest::newRow("not-hex") << "zz" << 1 << false << true << 1
                             << "十六进制格式错误: \"z\" 不是十六进制数字";
}

// From row 1, as a person sees it: the row found is current and its payload
// in the payload views; notices in the bar.
void TstPacketFind::barShowsMatchAndNotices()
{
    QFETCH(QString, pattern);
    QFETCH(int, kind);
    QFETCH(bool, ignoreCase);
    QFETCH(bool, forward);
    QFETCH(int, current);
    QFETCH(QString, message);

    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(open_frames(window, dir, frames_of(kPayloads)));
    QTableWidget* table = table_of(window);
    table->setCurrentCell(1, 7);
    auto* bar = window.findChild<PacketFindBar*>();
    bar->activate();
    bar->findChild<QLineEdit*>(QStringLiteral("findPattern"))->setText(pattern);
    bar->findChild<QComboBox*>(QStringLiteral("findKind"))->setCurrentIndex(kind);
    bar->findChild<QCheckBox*>(QStringLiteral("findCase"))->setChecked(!ignoreCase);
    QSignalSpy finished(bar, &PacketFindBar::finished);
    forward ? bar->find_next() : bar->find_previous();
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(bar->message(), message);
    QCOMPARE(table->currentRow(), current);
    if (message.isEmpty() || message.startsWith(QStringLiteral("已到达"))) {
        QCOMPARE(window.findChild<QTextEdit*>(QStringLiteral("textEdit_2"))->toPlainText(),
                 QString::fromLatin1(kPayloads.at(current).toHex().toUpper()));
        QVERIFY(table->selectionModel()->isRowSelected(current, QModelIndex()));
    }
}

// A search of many rows goes on over turns of the event loop, with
// progress, until Esc stops it; nothing is selected then.
void TstPacketFind::longSearchCancels()
{
    QList<QByteArray> payloads;
    for (int i = 0; i < 20000; ++i)
        payloads.append("filler " + QByteArray::number(i));
    payloads.append("needle");
    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(open_frames(window, dir, frames_of(payloads, 100)));
    auto* bar = window.findChild<PacketFindBar*>();
    bar->set_slice_ms(0);
    bar->activate();
    auto* edit = bar->findChild<QLineEdit*>(QStringLiteral("findPattern"));
    edit->setText(QStringLiteral("needle"));
    QSignalSpy found(bar, &PacketFindBar::found);
    bar->find_next();
    QVERIFY(bar->is_searching());
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(!bar->is_searching());
    QCOMPARE(bar->message(), QStringLiteral("查找已取消"));
    QVERIFY(bar->is_shown()); // the first Esc stops the search only
    QCOMPARE(found.size(), 0);

    // Let run, it finds the last row.
    QSignalSpy finished(bar, &PacketFindBar::finished);
    bar->find_next();
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().first().toInt(), payloads.size() - 1);
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(!bar->is_shown());
}

void TstPacketFind::narrowAndWiden_data()
{
    QTest::addColumn<FilterSettings>("settings");
    QTest::addColumn<QList<int>>("shown");

    QTest::newRow("include-port") << include_ports({ QStringLiteral("8001") }) << QList<int> { 1 };
    QTest::newRow("include-two-ports")
            << include_ports({ QStringLiteral("8003"), QStringLiteral("8000") })
            << QList<int> { 0, 3 };
    QTest::newRow("include-none") << include_ports({ QStringLiteral("443") }) << QList<int> {};
    FilterSettings exclude;
    exclude.exclude_ip_enabled = true;
    exclude.exclude_ips = QStringList { QStringLiteral("192.168.0.2") };
    QTest::newRow("exclude-address") << exclude << QList<int> { 0, 2, 3 };
    FilterSettings both = include_ports({ QStringLiteral("51000") });
    both.exclude_port_enabled = true;
    both.exclude_ports = QStringList { QStringLiteral("8002") };
    QTest::newRow("include-and-exclude") << both << QList<int> { 0, 1, 3 };
    QTest::newRow("lists-off") << FilterSettings() << QList<int> { 0, 1, 2, 3 };
}

// Narrowing hides, widening shows again; no row is ever lost.
void TstPacketFind::narrowAndWiden()
{
    QFETCH(FilterSettings, settings);
    QFETCH(QList<int>, shown);

    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(open_frames(window, dir, frames_of(kPayloads)));
    const QString title = window.windowTitle();
    QTableWidget* table = table_of(window);
    narrow(settings);
    QCOMPARE(shown_rows(*table), shown);
    QCOMPARE(table->rowCount(), kPayloads.size());
    const QString counts
            = QStringLiteral("显示 %1 / %2 行").arg(shown.size()).arg(kPayloads.size());
    QCOMPARE(window.windowTitle(), shown.size() < kPayloads.size() ? counts : title);

    narrow(FilterSettings());
    QCOMPARE(shown_rows(*table), (QList<int> { 0, 1, 2, 3 }));
    QCOMPARE(window.windowTitle(), title);
    for (int row = 0; row < kPayloads.size(); ++row)
        QCOMPARE(table->item(row, 7)->text(),
                 QString::fromLatin1(kPayloads.at(row).toHex().toUpper()));
}

// Thousands are grouped as the locale groups them; the counts follow rows
// that arrive, and a clear ends the narrowing (the title then names no
// file: its rows are gone).
void TstPacketFind::titleCountsInLocale()
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::system()); });
    QList<QByteArray> payloads;
    for (int i = 0; i < 10000; ++i)
        payloads.append(QByteArray::number(i));
    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(open_frames(window, dir, frames_of(payloads, 4)));
    narrow(include_ports({ QStringLiteral("8002") }));
    QCOMPARE(window.windowTitle(), QStringLiteral("显示 2,500 / 10,000 行"));
    window.findChild<QPushButton*>(QStringLiteral("pushButton"))->click(); // 清空
    QCOMPARE(window.windowTitle(), QStringLiteral("Tarnlook -- 网卡流量捕获"));
}

void TstPacketFind::widenedKeepsCurrentRowInSight()
{
    QList<QByteArray> payloads;
    for (int i = 0; i < 2000; ++i)
        payloads.append(QByteArray::number(i));
    QTemporaryDir dir;
    MainWindow window;
    window.resize(1000, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(open_frames(window, dir, frames_of(payloads, 4)));
    QTableWidget* table = table_of(window);
    narrow(include_ports({ QStringLiteral("8002") }));
    const int row = 1998; // the last row of port 8002
    table->setCurrentCell(row, 3);
    table->scrollToItem(table->item(row, 3));
    QVERIFY(table->viewport()->rect().intersects(table->visualItemRect(table->item(row, 3))));
    narrow(FilterSettings());
    QVERIFY(table->viewport()->rect().contains(table->visualItemRect(table->item(row, 3))));
}

void TstPacketFind::newRowsStayNarrowed_data()
{
    QTest::addColumn<FilterSettings>("settings"); // applied, then the form's lists go off
    QTest::addColumn<QList<int>>("shown"); // of the four rows and the four that arrive
    FilterSettings exclude;
    exclude.exclude_ip_enabled = true;
    exclude.exclude_ips = QStringList { QStringLiteral("192.168.0.2") };
    QTest::newRow("include-port") << include_ports({ QStringLiteral("8001") })
                                  << QList<int> { 1, 5 };
    QTest::newRow("exclude-address") << exclude << QList<int> { 0, 2, 3, 4, 6, 7 };
    QTest::newRow("none-at-first") << include_ports({ QStringLiteral("8004") }) << QList<int> {};
    QTest::newRow("widened") << FilterSettings() << QList<int> { 0, 1, 2, 3, 4, 5, 6, 7 };
}

// Rows that arrive after "应用到已显示的行" are judged by the same lists,
// whatever lists the capture had, and counted in the title.
void TstPacketFind::newRowsStayNarrowed()
{
    QFETCH(FilterSettings, settings);
    QFETCH(QList<int>, shown);
    const auto restore = qScopeGuard([] { g_filter_settings = FilterSettings(); });

    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(open_frames(window, dir, frames_of(kPayloads)));
    const QString title = window.windowTitle();
    narrow(settings);
    g_filter_settings = FilterSettings();
    // The same four rows again, as a capture without lists hands them in.
    for (int i = 0; i < kPayloads.size(); ++i)
        window.show_data_UI(QStringLiteral("00:00:0%1|TCP|192.168.0.%2|%3|10.0.0.5|51000|%4|%5")
                                    .arg(i)
                                    .arg(1 + i)
                                    .arg(8000 + i)
                                    .arg(kPayloads.at(i).size())
                                    .arg(QString::fromLatin1(kPayloads.at(i).toHex().toUpper())));
    QTableWidget* table = table_of(window);
    QCOMPARE(table->rowCount(), 2 * kPayloads.size());
    QCOMPARE(shown_rows(*table), shown);
    const QString counts = QStringLiteral("显示 %1 / 8 行").arg(shown.size());
    QTRY_COMPARE(window.windowTitle(), shown.size() < 8 ? counts : title);
}

// Only the shown rows' frames go to the file, in order; tshark reads them.
void TstPacketFind::saveShownRows()
{
    QTemporaryDir dir;
    MainWindow window;
    QVERIFY(open_frames(window, dir, frames_of(kPayloads)));
    narrow(include_ports(
            { QStringLiteral("8000"), QStringLiteral("8002"), QStringLiteral("8003") }));
    const QString path = dir.filePath(QStringLiteral("shown.pcap"));
    QVERIFY(window.save_capture_file(path, true));

    QProcess tshark;
    tshark.start(QStringLiteral("tshark"),
                 { QStringLiteral("-r"), path, QStringLiteral("-T"), QStringLiteral("fields"),
                   QStringLiteral("-e"), QStringLiteral("tcp.srcport"), QStringLiteral("-e"),
                   QStringLiteral("tcp.payload") });
    QVERIFY(tshark.waitForFinished(60000));
    QCOMPARE(tshark.exitCode(), 0);
    QByteArray expected;
    for (const int row : { 0, 2, 3 })
        expected += QByteArray::number(8000 + row) + '\t' + kPayloads.at(row).toHex() + '\n';
    QCOMPARE(tshark.readAllStandardOutput(), expected);

    // All rows still saved by default.
    const QString all = dir.filePath(QStringLiteral("all.pcap"));
    QVERIFY(window.save_capture_file(all));
    tshark.start(QStringLiteral("tshark"),
                 { QStringLiteral("-r"), all, QStringLiteral("-T"), QStringLiteral("fields"),
                   QStringLiteral("-e"), QStringLiteral("tcp.srcport") });
    QVERIFY(tshark.waitForFinished(60000));
    QCOMPARE(tshark.readAllStandardOutput(), QByteArray("8000\n8001\n8002\n8003\n"));
}

QTEST_MAIN(TstPacketFind)
#include "tst_packetfind.moc"
