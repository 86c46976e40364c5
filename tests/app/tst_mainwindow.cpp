// SPDX-License-Identifier: GPL-2.0-or-later

#include <functional>

#include <linux/capability.h>
#include <pcap/pcap.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include "capturehelper.h"
#include "cupdate.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "mainwindow.h"
#include "testframes.h"
#include "testwidgets.h"

using namespace testframes;

namespace {

template <typename T> T* child(const QWidget& window, const char* name)
{
    return window.findChild<T*>(QLatin1String(name));
}

QPushButton* button(const QWidget& window, const char* name)
{
    return child<QPushButton>(window, name);
}

// Appends a capture source as one more adapter, as the listing would.
int add_adapter(MainWindow& window, const QString& text, const QString& source)
{
    auto* combo = child<QComboBox>(window, "comboBox");
    combo->addItem(text);
    g_adapter_names.append(source);
    return combo->count() - 1;
}

// Answers the next modal message box with OK, noting its title and text.
struct MessageBoxCatcher
{
    QString title;
    QString text;
    int seen = 0;
    QTimer timer;

    MessageBoxCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            title = box->windowTitle();
            text = box->text();
            ++seen;
            box->accept();
        });
        timer.start(20);
    }
};

enum class State { Idle, Capturing, Stopped };

void verify_state(const MainWindow& window, State state, const QString& adapterText = {})
{
    const bool capturing = state == State::Capturing;
    QCOMPARE(button(window, "pushButton_2")->isEnabled(), !capturing);
    QCOMPARE(button(window, "pushButton_7")->isEnabled(), capturing);
    QCOMPARE(child<QComboBox>(window, "comboBox")->isEnabled(), !capturing);
    switch (state) {
    case State::Idle:
        QCOMPARE(window.windowTitle(), QStringLiteral("Tarnlook -- 网卡流量捕获"));
        break;
    case State::Capturing:
        QCOMPARE(window.windowTitle(), QStringLiteral("正在侦听网卡->") + adapterText);
        break;
    case State::Stopped:
        QCOMPARE(window.windowTitle(), QStringLiteral("停止捕获"));
        break;
    }
}

void click_cell(QTableWidget& table, int row, int column)
{
    const QRect cell = table.visualRect(table.model()->index(row, column));
    QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

QString hex_of(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

// Restores the process-wide filter settings when a test is done with them.
auto keep_filter_settings()
{
    return qScopeGuard([saved = g_filter_settings] { g_filter_settings = saved; });
}

QStringList row_texts(const QTableWidget& table, int row)
{
    QStringList texts;
    for (int column = 0; column < table.columnCount(); ++column) {
        const QTableWidgetItem* item = table.item(row, column);
        texts.append(item != nullptr ? item->text() : QStringLiteral("<none>"));
    }
    return texts;
}

// While it lives, this thread (and every thread it starts) lacks the
// capability to open packet sockets, as a user without the privilege does;
// nothing changes for a process that never had it.
class WithoutCaptureCapability
{
public:
    WithoutCaptureCapability()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3];
        std::copy(std::begin(m_saved), std::end(m_saved), std::begin(reduced));
        reduced[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
        m_changed = syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutCaptureCapability()
    {
        if (m_changed)
            syscall(SYS_capset, &m_header, m_saved);
    }
    Q_DISABLE_COPY(WithoutCaptureCapability)

private:
    __user_cap_header_struct m_header {};
    __user_cap_data_struct m_saved[_LINUX_CAPABILITY_U32S_3] {};
    bool m_changed = false;
};

} // namespace

class TstMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void formWidgets_data();
    void formWidgets();
    void windowAtStart();
    void adaptersListed();
    void captureFileFillsTable();
    void failedOpenIsReported();
    void deniedCaptureSaysHow();
    void rejectedCaptureFilterIsReported();
    void startWithoutAdapter();
    void liveCaptureAndStop();
    void showDataAppendsRows_data();
    void showDataAppendsRows();
    void rowsKeepArrivalOrderAndView();
    void clearEmptiesTable();
    void filterButtonShowsForm();
    void filterAppliesFromNextCapture();
    void payloadOfClickedHexCell_data();
    void payloadOfClickedHexCell();
    void otherCellsChangeNothing();
    void decodeButtons_data();
    void decodeButtons();
};

void TstMainWindow::cleanup()
{
    // Each test builds its own window; adapters a test added go with it.
    g_adapter_names.clear();
}

void TstMainWindow::formWidgets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    auto row = [](const char* name, const char* cls, QRect rect, const QString& text) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << rect
                            << text;
    };
    row("label", "QLabel", { 10, 14, 71, 21 }, QStringLiteral("选择网卡"));
    row("comboBox", "QComboBox", { 90, 10, 521, 31 }, QString());
    row("pushButton_2", "QPushButton", { 640, 10, 101, 31 }, QStringLiteral("开始"));
    row("pushButton_7", "QPushButton", { 750, 10, 101, 31 }, QStringLiteral("停止"));
    row("pushButton_3", "QPushButton", { 860, 10, 91, 31 }, QStringLiteral("过滤规则"));
    row("pushButton", "QPushButton", { 960, 10, 91, 31 }, QStringLiteral("清空"));
    row("pushButton_10", "QPushButton", { 1060, 10, 91, 31 }, QStringLiteral("说明"));
    row("tableWidget_2", "QTableWidget", { 10, 50, 1201, 481 }, QString());
    row("textEdit", "QTextEdit", { 10, 530, 571, 241 }, QString());
    row("textEdit_2", "QTextEdit", { 620, 530, 591, 241 }, QString());
    row("pushButton_4", "QPushButton", { 10, 780, 93, 28 }, QStringLiteral("ToAscii"));
    row("pushButton_5", "QPushButton", { 110, 780, 93, 28 }, QStringLiteral("ToUTF8"));
    row("label_3", "QLabel", { 470, 780, 111, 21 }, QStringLiteral("长度:"));
    row("pushButton_9", "QPushButton", { 590, 780, 93, 28 }, QStringLiteral("黑色主题"));
    row("pushButton_8", "QPushButton", { 950, 780, 93, 28 }, QStringLiteral("HexView"));
    row("label_2", "QLabel", { 1070, 780, 111, 21 }, QStringLiteral("长度:"));
    row("menubar", "QMenuBar", { 0, 0, 1213, 26 }, QString());
}

void TstMainWindow::formWidgets()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    MainWindow window;
    const auto* widget = window.findChild<QWidget*>(name);
    QVERIFY(widget != nullptr);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    if (name == QLatin1String("menubar")) {
        // The window's layout gives the empty menu bar the height the theme
        // asks for; it spans the top of the window.
        QCOMPARE(window.menuBar(), widget);
        QCOMPARE(widget->geometry().topLeft(), geometry.topLeft());
        QCOMPARE(widget->width(), geometry.width());
    } else {
        QCOMPARE(widget->geometry(), geometry);
    }
    const QString parentName = name == QLatin1String("menubar") ? QStringLiteral("MainWindow")
                                                                : QStringLiteral("centralwidget");
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    if (!text.isEmpty())
        QCOMPARE(widget->property("text").toString(), text);
}

void TstMainWindow::windowAtStart()
{
    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    // Fixed: 1213 wide, and 830 high unless the menu bar needs more room.
    QCOMPARE(window.width(), 1213);
    QVERIFY(window.height() >= 830);
    QCOMPARE(window.minimumSize(), window.size());
    QCOMPARE(window.maximumSize(), window.size());
    // Every widget of the form is seen whole, below the menu bar.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QWidget* central = window.centralWidget();
    for (const QWidget* widget :
         central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(central->rect().contains(widget->geometry()), qPrintable(widget->objectName()));
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    verify_state(window, State::Idle);

    QCOMPARE(child<QTextEdit>(window, "textEdit")->toPlainText(),
             QStringLiteral("默认显示UTF8数据"));
    QCOMPARE(child<QTextEdit>(window, "textEdit_2")->toPlainText(), QStringLiteral("16"));

    const auto* table = child<QTableWidget>(window, "tableWidget_2");
    const QStringList headers
            = { QStringLiteral("时间"),     QStringLiteral("协议"),     QStringLiteral("源IP"),
                QStringLiteral("源端口"),   QStringLiteral("目标IP"),   QStringLiteral("目标端口"),
                QStringLiteral("数据长度"), QStringLiteral("数据-Hex"), QStringLiteral("备注") };
    QCOMPARE(table->columnCount(), headers.size());
    for (int column = 0; column < headers.size(); ++column)
        QCOMPARE(table->horizontalHeaderItem(column)->text(), headers.at(column));
    QCOMPARE(table->rowCount(), 0);
}

void TstMainWindow::adaptersListed()
{
    // The independent count: libpcap's own listing.
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* adapters = nullptr;
    QVERIFY2(pcap_findalldevs(&adapters, errbuf) == 0, errbuf);
    QStringList names;
    QStringList descriptions;
    for (const pcap_if_t* a = adapters; a != nullptr; a = a->next) {
        names.append(QString::fromUtf8(a->name));
        descriptions.append(QString::fromUtf8(a->description));
    }
    pcap_freealldevs(adapters);

    MainWindow window;
    const auto* combo = child<QComboBox>(window, "comboBox");
    QCOMPARE(g_adapter_names, names);
    QCOMPARE(combo->count(), names.size());
    for (int i = 0; i < combo->count(); ++i) {
        const QString expected = descriptions.at(i).isEmpty() ? names.at(i) : descriptions.at(i);
        QCOMPARE(combo->itemText(i), expected);
    }
    if (!names.isEmpty())
        QCOMPARE(combo->currentIndex(), 0);
}

void TstMainWindow::captureFileFillsTable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("three.pcap"));
    QVector<QByteArray> frames;
    for (const char* payload : { "one", "", "three" }) {
        Ipv4Packet p;
        p.payload = payload;
        frames.append(ethernet(ipv4(p), 0x0800, {}, 60));
    }
    Ipv4Packet udp;
    udp.protocol = 17;
    frames.insert(1, ethernet(ipv4(udp)));
    QVERIFY(write_capture(path, DLT_EN10MB, frames));

    MainWindow window;
    const int index
            = add_adapter(window, QStringLiteral("test file"), QStringLiteral("file://") + path);
    child<QComboBox>(window, "comboBox")->setCurrentIndex(index);
    QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton);
    verify_state(window, State::Capturing, QStringLiteral("test file"));
    QVERIFY(g_capture_thread != nullptr);

    // The end of the file ends the capture and the window shows it stopped.
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    verify_state(window, State::Stopped);

    const auto* table = child<QTableWidget>(window, "tableWidget_2");
    QCOMPARE(table->rowCount(), 3);
    const QStringList hexes = { QStringLiteral("6F6E65"), QString(), QStringLiteral("7468726565") };
    const QStringList lengths = { QStringLiteral("3"), QStringLiteral("0"), QStringLiteral("5") };
    for (int row = 0; row < 3; ++row) {
        const QStringList texts = row_texts(*table, row);
        QCOMPARE(texts.mid(1, 6),
                 (QStringList { QStringLiteral("TCP"), QStringLiteral("192.168.0.1"),
                                QStringLiteral("80"), QStringLiteral("10.0.0.5"),
                                QStringLiteral("51000"), lengths.at(row) }));
        QCOMPARE(texts.at(7), hexes.at(row));
        QCOMPARE(texts.at(8), QStringLiteral("<none>"));
    }
}

void TstMainWindow::failedOpenIsReported()
{
    MainWindow window;
    const int index = add_adapter(window, QStringLiteral("gone"),
                                  QStringLiteral("file:///nonexistent/tarnlook.pcap"));
    child<QComboBox>(window, "comboBox")->setCurrentIndex(index);

    MessageBoxCatcher catcher;
    // The offscreen platform's note on showing a dialog.
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(catcher.seen, 1, 10000);
    QCOMPARE(catcher.title, QStringLiteral("err"));
    QVERIFY2(catcher.text.startsWith(QStringLiteral("open pcap fail\n")), qPrintable(catcher.text));
    QVERIFY2(catcher.text.size() > QStringLiteral("open pcap fail\n").size(),
             "libpcap's reason follows");
    QTRY_COMPARE(g_capture_thread, nullptr);
    verify_state(window, State::Idle); // nothing was captured
    QCOMPARE(child<QTableWidget>(window, "tableWidget_2")->rowCount(), 0);
}

void TstMainWindow::deniedCaptureSaysHow()
{
    // Neither the window nor the capture program may capture.
    CaptureHelper::set_program(QStringLiteral("/nonexistent/tarnlook-capture"));
    const auto defaultProgram = qScopeGuard([] { CaptureHelper::set_program(QString()); });
    MainWindow window;
    const int index = add_adapter(window, QStringLiteral("loopback"), QStringLiteral("lo"));
    child<QComboBox>(window, "comboBox")->setCurrentIndex(index);

    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    {
        const WithoutCaptureCapability unprivileged;
        QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton);
    }
    QTRY_COMPARE_WITH_TIMEOUT(catcher.seen, 1, 10000);
    QCOMPARE(catcher.title, QStringLiteral("err"));
    // How to get the privilege, in the window's language, then the reason.
    QVERIFY2(catcher.text.startsWith(QStringLiteral("没有捕获网卡的权限")),
             qPrintable(catcher.text));
    QVERIFY2(catcher.text.contains(QStringLiteral("sudo usermod -aG tarnlook $USER")),
             qPrintable(catcher.text));
    QVERIFY2(catcher.text.contains(QStringLiteral("No such file or directory")),
             qPrintable(catcher.text));
    QTRY_COMPARE(g_capture_thread, nullptr);
    verify_state(window, State::Idle); // nothing was captured
    QCOMPARE(child<QTableWidget>(window, "tableWidget_2")->rowCount(), 0);
}

void TstMainWindow::rejectedCaptureFilterIsReported()
{
    const auto restore = keep_filter_settings();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("one.pcap"));
    Ipv4Packet p;
    p.payload = "one";
    QVERIFY(write_capture(path, DLT_EN10MB, { ethernet(ipv4(p)) }));
    // Set as the form would not let it be: the start itself must refuse it.
    g_filter_settings.capture_filter_on = true;
    g_filter_settings.capture_filter = QStringLiteral("tcp port 80 and");

    MainWindow window;
    const int index
            = add_adapter(window, QStringLiteral("test file"), QStringLiteral("file://") + path);
    child<QComboBox>(window, "comboBox")->setCurrentIndex(index);
    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(catcher.seen, 1, 10000);
    QCOMPARE(catcher.title, QStringLiteral("err"));
    QVERIFY2(catcher.text.contains(QStringLiteral("syntax error")), qPrintable(catcher.text));
    QTRY_COMPARE(g_capture_thread, nullptr);
    verify_state(window, State::Idle); // nothing was captured
    QCOMPARE(child<QTableWidget>(window, "tableWidget_2")->rowCount(), 0);
}

void TstMainWindow::startWithoutAdapter()
{
    MainWindow window;
    auto* combo = child<QComboBox>(window, "comboBox");
    combo->clear(); // as on a machine without adapters
    QCOMPARE(combo->currentIndex(), -1);
    QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton);
    QCOMPARE(g_capture_thread, nullptr);
    verify_state(window, State::Idle);
}

void TstMainWindow::liveCaptureAndStop()
{
    QString reason;
    if (!can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));

    MainWindow window;
    auto* combo = child<QComboBox>(window, "comboBox");
    const int lo = g_adapter_names.indexOf(QStringLiteral("lo"));
    QVERIFY(lo >= 0);
    combo->setCurrentIndex(lo);
    const QString text = combo->currentText();
    QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton);
    verify_state(window, State::Capturing, text);

    const QByteArray payload("tarnlook main window");
    const QString hex = QString::fromLatin1(payload.toHex().toUpper());
    const auto* table = child<QTableWidget>(window, "tableWidget_2");
    auto findRow = [&] {
        for (int row = 0; row < table->rowCount(); ++row)
            if (table->item(row, 7) != nullptr && table->item(row, 7)->text() == hex)
                return row;
        return -1;
    };
    QStringList ports; // of every connection made
    for (int attempt = 0; attempt < 30 && findRow() < 0; ++attempt) {
        const std::uint16_t port = exchange_on_loopback(payload);
        QVERIFY(port != 0);
        ports.append(QString::number(port));
        if (QTest::qWaitFor([&] { return findRow() >= 0; }, 500))
            break;
    }
    const int row = findRow();
    QVERIFY(row >= 0);
    const QStringList texts = row_texts(*table, row);
    QCOMPARE(texts.at(2), QStringLiteral("127.0.0.1"));
    QCOMPARE(texts.at(4), QStringLiteral("127.0.0.1"));
    QVERIFY(ports.contains(texts.at(5)));
    QCOMPARE(texts.at(6), QString::number(payload.size()));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"))
                    .match(texts.at(0))
                    .hasMatch());

    QTest::mouseClick(button(window, "pushButton_7"), Qt::LeftButton);
    verify_state(window, State::Stopped);
    // The capture ends by itself within about a second and is released.
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 3000);

    // A second start makes a new capture; closing the window joins it.
    QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton);
    verify_state(window, State::Capturing, text);
    QVERIFY(g_capture_thread != nullptr);
    QVERIFY(g_capture_thread->isRunning());
}

void TstMainWindow::showDataAppendsRows_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("cells");
    const QString none = QStringLiteral("<none>");
    QTest::newRow("record-line") << QStringLiteral(
            "09:03:05|TCP|192.168.0.1|49152|10.0.0.5|80|2|4142")
                                 << QStringList { QStringLiteral("09:03:05"),
                                                  QStringLiteral("TCP"),
                                                  QStringLiteral("192.168.0.1"),
                                                  QStringLiteral("49152"),
                                                  QStringLiteral("10.0.0.5"),
                                                  QStringLiteral("80"),
                                                  QStringLiteral("2"),
                                                  QStringLiteral("4142"),
                                                  none };
    QTest::newRow("no-payload") << QStringLiteral("09:03:05|TCP|1.2.3.4|1|5.6.7.8|2|0|")
                                << QStringList { QStringLiteral("09:03:05"),
                                                 QStringLiteral("TCP"),
                                                 QStringLiteral("1.2.3.4"),
                                                 QStringLiteral("1"),
                                                 QStringLiteral("5.6.7.8"),
                                                 QStringLiteral("2"),
                                                 QStringLiteral("0"),
                                                 QString(),
                                                 none };
    QTest::newRow("fewer-fields") << QStringLiteral("a|b|c") << QStringList { QStringLiteral("a"),
                                                                              QStringLiteral("b"),
                                                                              QStringLiteral("c"),
                                                                              none,
                                                                              none,
                                                                              none,
                                                                              none,
                                                                              none,
                                                                              none };
    QTest::newRow("more-fields")
            << QStringLiteral("0|1|2|3|4|5|6|7|8|9")
            << QStringList { QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                             QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"),
                             QStringLiteral("6"), QStringLiteral("7"), none };
}

void TstMainWindow::showDataAppendsRows()
{
    QFETCH(QString, line);
    QFETCH(QStringList, cells);

    MainWindow window;
    window.show_data_UI(line);
    const auto* table = child<QTableWidget>(window, "tableWidget_2");
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(row_texts(*table, 0), cells);
    for (int column = 0; column < table->columnCount(); ++column) {
        if (const QTableWidgetItem* item = table->item(0, column)) {
            QCOMPARE(item->textAlignment(), int(Qt::AlignCenter));
            QCOMPARE(item->type(), int(QTableWidgetItem::Type));
        }
    }
}

void TstMainWindow::rowsKeepArrivalOrderAndView()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto* table = child<QTableWidget>(window, "tableWidget_2");
    for (int i = 0; i < 200; ++i)
        window.show_data_UI(QStringLiteral("00:00:00|TCP|1.1.1.1|%1|2.2.2.2|80|0|").arg(i));
    QCOMPARE(table->rowCount(), 200);
    for (int i = 0; i < 200; ++i)
        QCOMPARE(table->item(i, 3)->text(), QString::number(i));
    // A flood of rows holds the table's repaints back only briefly.
    QTRY_VERIFY(table->updatesEnabled());
    // The view stays where the user looks; the scroll bar grows.
    QCoreApplication::processEvents();
    QVERIFY(table->verticalScrollBar()->maximum() > 0);
    QCOMPARE(table->verticalScrollBar()->value(), 0);
}

void TstMainWindow::clearEmptiesTable()
{
    MainWindow window;
    auto* table = child<QTableWidget>(window, "tableWidget_2");
    auto* clear = button(window, "pushButton");

    QTest::mouseClick(clear, Qt::LeftButton); // an empty table stays empty
    QCOMPARE(table->rowCount(), 0);

    for (int i = 0; i < 1000; ++i)
        window.show_data_UI(QStringLiteral("00:00:00|TCP|1.1.1.1|%1|2.2.2.2|80|1|41").arg(i));
    child<QTextEdit>(window, "textEdit_2")->setPlainText(QStringLiteral("4142"));
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(table->columnCount(), 9);
    QCOMPARE(table->horizontalHeaderItem(7)->text(), QStringLiteral("数据-Hex"));
    // Nothing but the table is reset.
    QCOMPARE(child<QTextEdit>(window, "textEdit_2")->toPlainText(), QStringLiteral("4142"));

    window.show_data_UI(QStringLiteral("00:00:01|TCP|1.1.1.1|7|2.2.2.2|80|0|"));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("7"));
}

void TstMainWindow::filterButtonShowsForm()
{
    MainWindow window;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QVERIFY(g_filter_form != nullptr);
    QVERIFY(g_filter_form->isHidden());
    QVERIFY(g_filter_form->isWindow());
    QTest::mouseClick(button(window, "pushButton_3"), Qt::LeftButton);
    QVERIFY(g_filter_form->isVisible());
    QCOMPARE(g_filter_form->windowTitle(), QStringLiteral("过滤选项,开始抓包前设置有效"));
    QTest::mouseClick(button(window, "pushButton_3"), Qt::LeftButton); // no second form
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.cbegin(), windows.cend(),
                           [](QWidget* w) { return qobject_cast<FitWid*>(w) != nullptr; }),
             1);
}

void TstMainWindow::filterAppliesFromNextCapture()
{
    const auto restore = keep_filter_settings();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("ports.pcap"));
    QVector<QByteArray> frames;
    for (const std::uint16_t port : { 80, 443, 8888 }) {
        Ipv4Packet p;
        p.src_port = port;
        frames.append(ethernet(ipv4(p)));
    }
    QVERIFY(write_capture(path, DLT_EN10MB, frames));

    MainWindow window;
    child<QComboBox>(window, "comboBox")
            ->setCurrentIndex(
                    add_adapter(window, QStringLiteral("ports"), QStringLiteral("file://") + path));
    const auto* table = child<QTableWidget>(window, "tableWidget_2");
    auto* includePorts = g_filter_form->findChild<QCheckBox*>(QStringLiteral("checkBox_2"));
    auto capture = [&] { QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton); };
    auto sourcePorts = [&] {
        QStringList ports;
        for (int row = 0; row < table->rowCount(); ++row)
            ports.append(table->item(row, 3)->text());
        return ports;
    };

    // The form's initial ports are 80 and 8888.
    testwidgets::click_check_box(includePorts);
    capture();
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QCOMPARE(sourcePorts(), (QStringList { QStringLiteral("80"), QStringLiteral("8888") }));

    // Switched off after the start: this capture keeps the filter it began with.
    capture();
    testwidgets::click_check_box(includePorts);
    QVERIFY(!g_filter_settings.include_port_enabled);
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QCOMPARE(table->rowCount(), 4);

    capture();
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QCOMPARE(sourcePorts().mid(4),
             (QStringList { QStringLiteral("80"), QStringLiteral("443"), QStringLiteral("8888") }));
}

void TstMainWindow::payloadOfClickedHexCell_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("bytesLabel");
    QTest::addColumn<QString>("textLabel");
    QTest::newRow("hello") << hex_of("Hello") << "Hello"
                           << "长度:5"
                           << "长度:5";
    QTest::newRow("zero-ends-text") << "410042"
                                    << "A"
                                    << "长度:3"
                                    << "长度:1";
    QTest::newRow("cjk") << "E4BDA0"
                         << "你"
                         << "长度:3"
                         << "长度:1";
    QTest::newRow("odd-digit-count") << "48656C6C6"
                                     << "Hell"
                                     << "长度:4"
                                     << "长度:4";
    QTest::newRow("empty") << ""
                           << ""
                           << "长度:0"
                           << "长度:0";
    QTest::newRow("invalid-utf8") << "FF41"
                                  << QString::fromUtf8("\xEF\xBF\xBD"
                                                       "A")
                                  << "长度:2"
                                  << "长度:2";
    QTest::newRow("markup-shown-as-source")
            << hex_of("<b>bold</b><br>\n<i>x</i>") << "<b>bold</b><br>\n<i>x</i>"
            << "长度:24"
            << "长度:24";
    QTest::newRow("lower-case-hex") << "6869"
                                    << "hi"
                                    << "长度:2"
                                    << "长度:2";
}

void TstMainWindow::payloadOfClickedHexCell()
{
    QFETCH(QString, hex);
    QFETCH(QString, text);
    QFETCH(QString, bytesLabel);
    QFETCH(QString, textLabel);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.show_data_UI(QStringLiteral("09:03:05|TCP|1.1.1.1|80|2.2.2.2|81|%1|%2")
                                .arg(hex.size() / 2)
                                .arg(hex));
    click_cell(*child<QTableWidget>(window, "tableWidget_2"), 0, 7);

    QCOMPARE(child<QTextEdit>(window, "textEdit_2")->toPlainText(), hex);
    QCOMPARE(child<QTextEdit>(window, "textEdit")->toPlainText(), text);
    QCOMPARE(child<QLabel>(window, "label_2")->text(), bytesLabel);
    QCOMPARE(child<QLabel>(window, "label_3")->text(), textLabel);
}

void TstMainWindow::otherCellsChangeNothing()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.show_data_UI(QStringLiteral("09:03:05|TCP|1.1.1.1|80|2.2.2.2|81|2|4142"));
    auto* table = child<QTableWidget>(window, "tableWidget_2");
    // Markup typed into the hex column is also shown as it stands.
    table->item(0, 6)->setText(QStringLiteral("<b>6</b>"));
    for (int column : { 0, 1, 2, 3, 4, 5, 6, 8 })
        click_cell(*table, 0, column);
    QCOMPARE(child<QTextEdit>(window, "textEdit_2")->toPlainText(), QStringLiteral("16"));
    QCOMPARE(child<QTextEdit>(window, "textEdit")->toPlainText(),
             QStringLiteral("默认显示UTF8数据"));
    QCOMPARE(child<QLabel>(window, "label_2")->text(), QStringLiteral("长度:"));
    QCOMPARE(child<QLabel>(window, "label_3")->text(), QStringLiteral("长度:"));

    table->item(0, 7)->setText(QStringLiteral("<i>4142</i>")); // edited by the user
    click_cell(*table, 0, 7);
    QCOMPARE(child<QTextEdit>(window, "textEdit_2")->toPlainText(), QStringLiteral("<i>4142</i>"));
}

void TstMainWindow::decodeButtons_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("text");
    QTest::newRow("initial-16") << QString() << QStringLiteral("\x16");
    QTest::newRow("ascii") << hex_of("Hi there") << QStringLiteral("Hi there");
    QTest::newRow("zero-ends-text") << QStringLiteral("48690048") << QStringLiteral("Hi");
    QTest::newRow("odd-digit-count") << QStringLiteral("4869A") << QStringLiteral("Hi");
    QTest::newRow("empty") << QStringLiteral("") << QString();
    QTest::newRow("line-breaks-and-tabs")
            << QStringLiteral("610D0A09620A63") << QStringLiteral("a\r\n\tb\nc");
    QTest::newRow("markup") << hex_of("<h1>t</h1>") << QStringLiteral("<h1>t</h1>");
}

void TstMainWindow::decodeButtons()
{
    QFETCH(QString, hex);
    QFETCH(QString, text);

    MainWindow window;
    auto* hexEdit = child<QTextEdit>(window, "textEdit_2");
    auto* textEdit = child<QTextEdit>(window, "textEdit");
    if (!hex.isNull())
        hexEdit->setPlainText(hex);
    const QString labelBefore = child<QLabel>(window, "label_2")->text();

    // QTextEdit keeps a carriage return followed by a line feed as one break.
    const QString expected = QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTest::mouseClick(button(window, "pushButton_5"), Qt::LeftButton); // ToUTF8
    QCOMPARE(textEdit->toPlainText(), expected);
    textEdit->clear();
    QTest::mouseClick(button(window, "pushButton_4"), Qt::LeftButton); // ToAscii
    QCOMPARE(textEdit->toPlainText(), expected);
    QCOMPARE(child<QLabel>(window, "label_2")->text(), labelBefore); // labels untouched
}

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
