// SPDX-License-Identifier: GPL-2.0-or-later

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTextEdit>
#include <QtTest>

#include "cupdate.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "testframes.h"
#include "testwidgets.h"

// The road of a packet through the real program: captured on lo, decoded,
// filtered, shown as a row, decoded again on a click, opened in a hex window.

namespace {

template <typename T> T* child(const QWidget& window, const char* name)
{
    return window.findChild<T*>(QLatin1String(name));
}

void click(const MainWindow& window, const char* button)
{
    QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
}

// The row whose hex cell holds exactly this payload, or -1.
int row_with_payload(const QTableWidget& table, const QByteArray& payload)
{
    const QString hex = QString::fromLatin1(payload.toHex().toUpper());
    for (int row = 0; row < table.rowCount(); ++row)
        if (const QTableWidgetItem* item = table.item(row, 7); item && item->text() == hex)
            return row;
    return -1;
}

// Opens connections carrying the payloads until their rows appear (the
// capture opens lo on its own thread, so the first ones may be missed).
// Returns the ports listened on.
// address 0 is ::1.
QStringList exchange_until_shown(const QTableWidget& table, const QByteArray& request,
                                 const QByteArray& reply, std::uint32_t address = INADDR_LOOPBACK)
{
    QStringList ports;
    for (int attempt = 0; attempt < 30; ++attempt) {
        ports.append(QString::number(
                address == 0 ? testframes::exchange_on_ipv6_loopback(request, reply)
                             : testframes::exchange_on_loopback(request, reply, address)));
        if (QTest::qWaitFor(
                    [&] {
                        return row_with_payload(table, request) >= 0
                                && row_with_payload(table, reply) >= 0;
                    },
                    500))
            break;
    }
    return ports;
}

void start_on_loopback(MainWindow& window)
{
    auto* combo = child<QComboBox>(window, "comboBox");
    combo->setCurrentIndex(g_adapter_names.indexOf(QStringLiteral("lo")));
    click(window, "pushButton_2");
}

} // namespace

class TstEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void packetFromWireToHexWindow();
    void includeFilterShowsOnlyMatchingRows();
    void ipv6UnderCaptureFilter();
};

void TstEndToEnd::init()
{
    QString reason;
    if (!testframes::can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));
}

void TstEndToEnd::packetFromWireToHexWindow()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(g_adapter_names.contains(QStringLiteral("lo")));
    start_on_loopback(window);
    QPointer<CUpdate> capture = g_capture_thread;
    QVERIFY(capture);

    // Text with a zero byte inside and multi-byte characters.
    const QByteArray request
            = QStringLiteral("tarnlook héllo 你好").toUtf8() + QByteArray("\0!", 2);
    const QByteArray reply("tarnlook reply\r\n");
    auto* table = child<QTableWidget>(window, "tableWidget_2");
    const QStringList ports = exchange_until_shown(*table, request, reply);
    const int row = row_with_payload(*table, request);
    QVERIFY(row >= 0);
    QVERIFY(row_with_payload(*table, reply) >= 0);
    QCOMPARE(table->item(row, 1)->text(), QStringLiteral("TCP"));
    QCOMPARE(table->item(row, 2)->text(), QStringLiteral("127.0.0.1"));
    QVERIFY(ports.contains(table->item(row, 5)->text()));
    QCOMPARE(table->item(row, 6)->text(), QString::number(request.size()));

    table->scrollToItem(table->item(row, 7));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualItemRect(table->item(row, 7)).center());
    // All of it, the zero byte as a dot.
    const QString text = QStringLiteral("tarnlook héllo 你好.!");
    QCOMPARE(child<QTextEdit>(window, "textEdit")->toPlainText(), text);
    QCOMPARE(child<QLabel>(window, "label_2")->text(),
             QStringLiteral("长度:%1").arg(request.size()));
    QCOMPARE(child<QLabel>(window, "label_3")->text(), QStringLiteral("长度:%1").arg(text.size()));

    click(window, "pushButton_8");
    HexWindow* hexWindow = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* found = qobject_cast<HexWindow*>(widget))
            hexWindow = found;
    QVERIFY(hexWindow != nullptr);
    const auto closeHexWindow = qScopeGuard([hexWindow] { delete hexWindow; });
    QHexDocument* document = hexWindow->view()->document();
    QCOMPARE(document->read(0, int(document->length())), request); // all of it

    click(window, "pushButton_7");
    QCOMPARE(window.windowTitle(), QStringLiteral("停止捕获"));
    QVERIFY(child<QPushButton>(window, "pushButton_2")->isEnabled());
    QVERIFY(!child<QPushButton>(window, "pushButton_7")->isEnabled());
    QVERIFY(child<QComboBox>(window, "comboBox")->isEnabled());
    // The capture ends by itself and its object is released.
    QTRY_VERIFY_WITH_TIMEOUT(capture.isNull(), 5000);
    QCOMPARE(g_capture_thread, nullptr);
}

void TstEndToEnd::includeFilterShowsOnlyMatchingRows()
{
    const auto restore = qScopeGuard([saved = g_filter_settings] { g_filter_settings = saved; });
    MainWindow window;

    // Listed: connections to 127.0.0.2. Everything else on lo comes and goes
    // between 127.0.0.1 and itself.
    g_filter_form->findChild<QLineEdit*>(QStringLiteral("lineEdit"))
            ->setText(QStringLiteral("127.0.0.2"));
    testwidgets::click_check_box(g_filter_form->findChild<QCheckBox*>(QStringLiteral("checkBox")));
    QVERIFY(g_filter_settings.include_ip_enabled);
    start_on_loopback(window);

    auto* table = child<QTableWidget>(window, "tableWidget_2");
    const quint32 listed = (127u << 24) | 2u;
    exchange_until_shown(*table, "tarnlook listed", "tarnlook answer", listed);
    QVERIFY(row_with_payload(*table, "tarnlook listed") >= 0);
    // The capture runs: a connection that is not listed, then one that is,
    // which lo delivers after it.
    QVERIFY(testframes::exchange_on_loopback("tarnlook not listed", "tarnlook no answer") != 0);
    exchange_until_shown(*table, "tarnlook listed again", "tarnlook answer again", listed);
    QVERIFY(row_with_payload(*table, "tarnlook listed again") >= 0);

    QVERIFY(row_with_payload(*table, "tarnlook not listed") < 0);
    QVERIFY(row_with_payload(*table, "tarnlook no answer") < 0);
    for (int row = 0; row < table->rowCount(); ++row)
        QVERIFY(table->item(row, 2)->text() == QLatin1String("127.0.0.2")
                || table->item(row, 4)->text() == QLatin1String("127.0.0.2"));
    click(window, "pushButton_7");
}

void TstEndToEnd::ipv6UnderCaptureFilter()
{
    const auto restore = qScopeGuard([saved = g_filter_settings] { g_filter_settings = saved; });
    MainWindow window;
    g_filter_form->findChild<QLineEdit*>(QStringLiteral("lineEdit_6"))
            ->setText(QStringLiteral("ip6 and tcp"));
    QTest::mouseClick(g_filter_form->findChild<QCheckBox*>(QStringLiteral("checkBox_6")),
                      Qt::LeftButton);
    QVERIFY(g_filter_settings.capture_filter_on);
    start_on_loopback(window);

    // Connections to ::1 pass; one to 127.0.0.1 between them does not.
    auto* table = child<QTableWidget>(window, "tableWidget_2");
    const QStringList ports = exchange_until_shown(*table, "tarnlook over ipv6", "answer", 0);
    const int row = row_with_payload(*table, "tarnlook over ipv6");
    QVERIFY(row >= 0);
    QCOMPARE(table->item(row, 2)->text(), QStringLiteral("::1"));
    QCOMPARE(table->item(row, 4)->text(), QStringLiteral("::1"));
    QVERIFY(ports.contains(table->item(row, 5)->text()));
    QCOMPARE(table->item(row, 6)->text(), QStringLiteral("18"));
    QVERIFY(testframes::exchange_on_loopback("tarnlook over ipv4", "no answer") != 0);
    exchange_until_shown(*table, "tarnlook over ipv6 again", "answer again", 0);
    QVERIFY(row_with_payload(*table, "tarnlook over ipv6 again") >= 0);

    QVERIFY(row_with_payload(*table, "tarnlook over ipv4") < 0);
    for (int r = 0; r < table->rowCount(); ++r)
        QVERIFY(table->item(r, 2)->text().contains(QLatin1Char(':')));
    click(window, "pushButton_7");
}

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
