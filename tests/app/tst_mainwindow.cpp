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
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include "capturehelper.h"
#include "cupdate.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "mainwindow.h"
#include "packetfindbar.h"
#include "resourcefloors.h"
#include "testframes.h"
#include "testwidgets.h"
#include "windowplacement.h"

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
    void windowResizes_data();
    void windowResizes();
    void openingSize_data();
    void openingSize();
    void formBesideWindow_data();
    void formBesideWindow();
    void adaptersListed();
    void captureFileFillsTable();
    void failedOpenIsReported();
    void deniedCaptureSaysHow();
    void rejectedCaptureFilterIsReported();
    void boxTitles_data();
    void boxTitles();
    void startWithoutAdapter();
    void liveCaptureAndStop();
    void showDataAppendsRows_data();
    void showDataAppendsRows();
    void rowsKeepArrivalOrderAndView();
    void clearEmptiesTable();
    void filterButtonShowsForm();
    void listsInForceAreShown_data();
    void listsInForceAreShown();
    void filterAppliesFromNextCapture();
    void payloadOfClickedHexCell_data();
    void payloadOfClickedHexCell();
    void keyboardShowsPayload();
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

    // Laid out at the window's own size, as on a screen large enough.
    MainWindow window;
    window.resize(window.sizeHint());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
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
    // Its own size: 1213 wide, and 830 high unless the menu bar needs more
    // room. It fits into the screen (this one, 800 x 600, is too small).
    QCOMPARE(window.sizeHint().width(), 1213);
    QVERIFY(window.sizeHint().height() >= 830);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(window.size(),
             fitted_size(window.sizeHint(), window.minimumSize(), screen, QMargins(8, 40, 8, 8)));
    // Resizable and maximisable, down to what a 1024 x 600 screen holds with a
    // panel and a title bar.
    QVERIFY(window.minimumWidth() <= 1000);
    QVERIFY(window.minimumHeight() <= 520);
    QCOMPARE(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QVERIFY(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    // Every widget of the form is seen whole, below the menu bar.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QWidget* central = window.centralWidget();
    for (const QWidget* widget :
         central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(central->rect().contains(widget->geometry()), qPrintable(widget->objectName()));
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

void TstMainWindow::windowResizes_data()
{
    QTest::addColumn<QSize>("size"); // 0 x 0: the least; -1 x -1: maximised
    QTest::newRow("least") << QSize(0, 0);
    QTest::newRow("1024x600-screen") << QSize(1000, 520);
    QTest::newRow("1366x768-screen") << QSize(1350, 690);
    QTest::newRow("wide-and-low") << QSize(1900, 560);
    QTest::newRow("1920x1080-screen") << QSize(1910, 1000);
    QTest::newRow("maximised") << QSize(-1, -1);
}

void TstMainWindow::windowResizes()
{
    QFETCH(QSize, size);
    MainWindow window;
    window.resize(window.sizeHint());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QWidget* central = window.centralWidget();
    // Where everything is at the window's own size.
    QHash<QString, QRect> before;
    for (const QWidget* widget :
         central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        before.insert(widget->objectName(), widget->geometry());

    if (size.width() < 0)
        window.showMaximized();
    else
        window.resize(size.expandedTo(window.minimumSize()));
    if (size.width() < 0)
        QTRY_VERIFY(window.isMaximized());
    else
        QTRY_COMPARE(window.size(), size.expandedTo(window.minimumSize()));
    // Laid out: the bottom row keeps its margin.
    QTRY_COMPARE(central->findChild<QWidget*>(QStringLiteral("pushButton_8"))->geometry().bottom()
                         + 1 + 10,
                 central->height());

    const auto now = [central](const char* name) {
        return central->findChild<QWidget*>(QLatin1String(name))->geometry();
    };
    // Every widget seen whole, none on another (the table and the payload
    // views touch, as in the form), each row in its order.
    const QList<QWidget*> widgets
            = central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (const QWidget* widget : widgets) {
        QVERIFY2(central->rect().contains(widget->geometry()), qPrintable(widget->objectName()));
        QVERIFY2(widget->width() >= widget->minimumWidth()
                         && widget->height() >= widget->minimumHeight(),
                 qPrintable(widget->objectName()));
        for (const QWidget* other : widgets) {
            const QRect overlap = widget->geometry() & other->geometry();
            const bool formOverlap
                    = (before.value(widget->objectName()) & before.value(other->objectName()))
                              .isValid();
            QVERIFY2(widget == other || formOverlap || overlap.isEmpty(),
                     qPrintable(widget->objectName() + QLatin1Char('/') + other->objectName()));
        }
    }
    // The table and the payload views take what the window has more or less
    // than its own size; the buttons keep theirs.
    const int wider = central->width() - window.sizeHint().width();
    const int higher
            = central->height() - (window.sizeHint().height() - window.menuBar()->height());
    QCOMPARE(now("tableWidget_2").width(),
             before.value(QStringLiteral("tableWidget_2")).width() + wider);
    QVERIFY(qAbs(now("textEdit").width() + now("textEdit_2").width()
                 - before.value(QStringLiteral("textEdit")).width()
                 - before.value(QStringLiteral("textEdit_2")).width() - wider)
            <= 1);
    QVERIFY(qAbs(now("tableWidget_2").height() + now("textEdit").height()
                 - before.value(QStringLiteral("tableWidget_2")).height()
                 - before.value(QStringLiteral("textEdit")).height() - higher)
            <= 1);
    for (const char* name : { "pushButton_2", "pushButton_7", "pushButton_4", "pushButton_8" })
        QCOMPARE(now(name).size(), before.value(QLatin1String(name)).size());
    QCOMPARE(now("pushButton_10").right() - central->width(),
             before.value(QStringLiteral("pushButton_10")).right() - window.sizeHint().width());
}

void TstMainWindow::openingSize_data()
{
    QTest::addColumn<QRect>("available"); // the screen without its panel
    QTest::addColumn<QSize>("expected");
    const QSize wanted(1213, 849);
    const QSize least(892, 451);
    QTest::newRow("1920x1080") << QRect(0, 0, 1920, 1050) << wanted;
    QTest::newRow("1366x768") << QRect(0, 0, 1366, 738) << QSize(1213, 738 - 48);
    QTest::newRow("1280x720") << QRect(0, 0, 1280, 720) << QSize(1213, 720 - 48);
    QTest::newRow("1024x600") << QRect(0, 0, 1024, 570) << QSize(1024 - 16, 570 - 48);
    QTest::newRow("second-screen") << QRect(1920, 0, 1024, 768) << QSize(1008, 720);
    QTest::newRow("800x480") << QRect(0, 0, 800, 480) << least;
}

void TstMainWindow::openingSize()
{
    QFETCH(QRect, available);
    QFETCH(QSize, expected);
    QCOMPARE(fitted_size(QSize(1213, 849), QSize(892, 451), available, QMargins(8, 40, 8, 8)),
             expected);
}

void TstMainWindow::formBesideWindow_data()
{
    QTest::addColumn<QRect>("owner"); // the main window's frame
    QTest::addColumn<QPoint>("at"); // the form's frame, 527 x 240
    QTest::newRow("room-right") << QRect(0, 0, 800, 700) << QPoint(800, 0);
    QTest::newRow("room-left") << QRect(560, 20, 800, 700) << QPoint(33, 20);
    QTest::newRow("room-below") << QRect(100, 0, 1000, 500) << QPoint(100, 500);
    QTest::newRow("right-moved-up") << QRect(0, 600, 800, 100) << QPoint(800, 528);
    QTest::newRow("maximised") << QRect(0, 0, 1366, 768) << QPoint(839, 524);
}

void TstMainWindow::formBesideWindow()
{
    QFETCH(QRect, owner);
    QFETCH(QPoint, at);
    // A 1366 x 768 screen; the menu bar is under the owner's title bar.
    const QRect menu(owner.left() + 8, owner.top() + 30, owner.width() - 16, 24);
    const QSize form(527, 240);
    QCOMPARE(beside_position(owner, menu, form, QRect(0, 0, 1366, 768)), at);
    QVERIFY(!QRect(at, form).intersects(menu));
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
    // Then "远程抓包...", which has no name (no remote source is remembered
    // here).
    QCOMPARE(g_adapter_names, names + QStringList(QString()));
    QCOMPARE(combo->count(), names.size() + 1);
    QCOMPARE(combo->itemText(names.size()), QStringLiteral("远程抓包..."));
    for (int i = 0; i < names.size(); ++i) {
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
        // The third segment carries the first one's sequence number again.
        QCOMPARE(texts.at(8), row == 2 ? QStringLiteral("重传") : QStringLiteral("<none>"));
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

void TstMainWindow::boxTitles_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("title");
    // The window's first boxes say "err" (failedOpenIsReported); later ones
    // say what they are about.
    QTest::newRow("file-not-a-capture") << "open" << "打开捕获文件";
    QTest::newRow("save-fails") << "save" << "保存捕获文件";
    QTest::newRow("capture-stops-itself") << "floor" << "抓包已停止";
}

void TstMainWindow::boxTitles()
{
    QFETCH(QString, what);
    QFETCH(QString, title);
    const auto floors = qScopeGuard([saved = g_resource_floors] { g_resource_floors = saved; });
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString capture = dir.filePath(QStringLiteral("one.pcap"));
    QVERIFY(write_capture(capture, DLT_EN10MB, { ethernet(ipv4(Ipv4Packet())) }));
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    QFile notes(text);
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("no capture\n") > 0);
    notes.close();

    MainWindow window;
    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    if (what == QLatin1String("open")) {
        QVERIFY(!window.open_capture_file(text));
    } else if (what == QLatin1String("save")) {
        window.show_data_UI(QStringLiteral("00:00:00|TCP|1.1.1.1|1|2.2.2.2|2|1|41"));
        QVERIFY(!window.save_capture_file(dir.filePath(QStringLiteral("no/such/folder.pcap"))));
    } else {
        g_resource_floors.memory_bytes = std::numeric_limits<std::int64_t>::max();
        child<QComboBox>(window, "comboBox")
                ->setCurrentIndex(add_adapter(window, QStringLiteral("source"),
                                              QStringLiteral("file://") + capture));
        QTest::mouseClick(button(window, "pushButton_2"), Qt::LeftButton);
    }
    QTRY_COMPARE_WITH_TIMEOUT(catcher.seen, 1, 10000);
    QCOMPARE(catcher.title, title);
    QTRY_COMPARE(g_capture_thread, nullptr);
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
    // What was shown of the rows: a file's counts in the title, a row's
    // payload, the find bar's last word.
    window.setWindowTitle(QStringLiteral("http.pcap: 1000 帧, 显示 1000 行"));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                      table->visualRect(table->model()->index(0, 7)).center());
    QCOMPARE(child<QTextEdit>(window, "textEdit_2")->toPlainText(), QStringLiteral("41"));
    auto* find = window.findChild<PacketFindBar*>();
    find->activate();
    find->find_next(); // its pattern is empty: the bar says so
    QVERIFY(!find->message().isEmpty());
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(table->columnCount(), 9);
    QCOMPARE(table->horizontalHeaderItem(7)->text(), QStringLiteral("数据-Hex"));
    // None of it stays: all is as at the start.
    QCOMPARE(window.windowTitle(), QStringLiteral("Tarnlook -- 网卡流量捕获"));
    QCOMPARE(child<QTextEdit>(window, "textEdit_2")->toPlainText(), QStringLiteral("16"));
    QCOMPARE(child<QTextEdit>(window, "textEdit")->toPlainText(),
             QStringLiteral("默认显示UTF8数据"));
    QCOMPARE(child<QLabel>(window, "label_2")->text(), QStringLiteral("长度:"));
    QCOMPARE(child<QLabel>(window, "label_3")->text(), QStringLiteral("长度:"));
    QCOMPARE(find->message(), QString());

    window.show_data_UI(QStringLiteral("00:00:01|TCP|1.1.1.1|7|2.2.2.2|80|0|"));
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("7"));
}

void TstMainWindow::filterButtonShowsForm()
{
    MainWindow window;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    if (g_filter_form == nullptr)
        QFAIL("The window made no filter form");
    QVERIFY(g_filter_form->isHidden());
    QVERIFY(g_filter_form->isWindow());
    QTest::mouseClick(button(window, "pushButton_3"), Qt::LeftButton);
    QVERIFY(g_filter_form->isVisible());
    QCOMPARE(g_filter_form->windowTitle(),
             QStringLiteral("过滤规则 (用于之后的抓包和打开的文件, 也可应用到已显示的行)"));
    QTest::mouseClick(button(window, "pushButton_3"), Qt::LeftButton); // no second form
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.cbegin(), windows.cend(),
                           [](QWidget* w) { return qobject_cast<FitWid*>(w) != nullptr; }),
             1);
}

void TstMainWindow::listsInForceAreShown_data()
{
    QTest::addColumn<QString>("ticked"); // boxes of the form, by name
    QTest::addColumn<bool>("narrow"); // then "应用到已显示的行", and the boxes unticked
    QTest::addColumn<QString>("notice"); // empty: none shown
    QTest::newRow("none") << "" << false << "";
    QTest::newRow("include-ports") << "checkBox_2" << false << "过滤列表: 包含端口 80|8888";
    QTest::newRow("two-lists") << "checkBox checkBox_5" << false
                               << "过滤列表: 包含IP 127.0.1.1|192.168.0.1; 不含端口 443";
    QTest::newRow("capture-filter-only") << "checkBox_6" << false << "";
    QTest::newRow("narrowed") << "checkBox_2" << true << "显示的行已按列表缩小";
}

// While lists are in force, for later captures and files or on the shown
// rows, the status bar says so, and its notice opens the form.
void TstMainWindow::listsInForceAreShown()
{
    QFETCH(QString, ticked);
    QFETCH(bool, narrow);
    QFETCH(QString, notice);
    const auto restore = keep_filter_settings();
    g_filter_settings = FilterSettings();

    MainWindow window;
    window.show_data_UI(QStringLiteral("00:00:00|TCP|1.1.1.1|80|2.2.2.2|5000|1|41"));
    window.show_data_UI(QStringLiteral("00:00:00|TCP|1.1.1.1|81|2.2.2.2|5000|1|41"));
    const QStringList boxes = ticked.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& name : boxes)
        testwidgets::click_check_box(g_filter_form->findChild<QCheckBox*>(name));
    if (narrow) {
        QTest::mouseClick(
                g_filter_form->findChild<QPushButton*>(QStringLiteral("applyToShownRows")),
                Qt::LeftButton);
        for (const QString& name : boxes)
            testwidgets::click_check_box(g_filter_form->findChild<QCheckBox*>(name));
    }
    // Made when first needed.
    const auto shown
            = [&window] { return window.findChild<QToolButton*>(QStringLiteral("listNotice")); };
    const auto seen = [&] { return shown() != nullptr && shown()->isVisibleTo(&window); };
    QTRY_COMPARE(seen(), !notice.isEmpty());
    if (notice.isEmpty())
        return;
    QTRY_COMPARE(shown()->text(), notice);
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QTest::mouseClick(shown(), Qt::LeftButton);
    QVERIFY(g_filter_form->isVisible());
    // Cleared, nothing is narrowed any more.
    QTest::mouseClick(button(window, "pushButton"), Qt::LeftButton);
    QTRY_COMPARE(seen(), !narrow);
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
    // Every byte is shown, a control byte as a dot, as the hex window's
    // text column shows it; tabs and line breaks stay what they are.
    QTest::newRow("zero-inside") << "410042"
                                 << "A.B"
                                 << "长度:3"
                                 << "长度:3";
    QTest::newRow("zero-after-three-of-eighteen")
            << hex_of(QByteArray("ABC\0DEFGHIJKLMNOPQ", 18)) << "ABC.DEFGHIJKLMNOPQ"
            << "长度:18"
            << "长度:18";
    QTest::newRow("trailing-zeros") << "41000000"
                                    << "A..."
                                    << "长度:4"
                                    << "长度:4";
    QTest::newRow("control-bytes") << hex_of("\x01\x1B[0m\x7F\t|\n") << "..[0m.\t|\n"
                                   << "长度:9"
                                   << "长度:9";
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

void TstMainWindow::keyboardShowsPayload()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QStringList payloads
            = { QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third") };
    for (const QString& payload : payloads)
        window.show_data_UI(QStringLiteral("09:03:05|TCP|1.1.1.1|80|2.2.2.2|81|%1|%2")
                                    .arg(payload.size())
                                    .arg(hex_of(payload.toLatin1())));
    auto* table = child<QTableWidget>(window, "tableWidget_2");
    const auto* text = child<QTextEdit>(window, "textEdit");
    const auto* hex = child<QTextEdit>(window, "textEdit_2");
    const auto* bytes = child<QLabel>(window, "label_2");
    auto shows = [&](int row) {
        const QString payload = payloads.at(row);
        return text->toPlainText() == payload && hex->toPlainText() == hex_of(payload.toLatin1())
                && bytes->text() == QStringLiteral("长度:%1").arg(payload.size());
    };

    click_cell(*table, 0, 7);
    QVERIFY(shows(0));
    QTest::keyClick(table, Qt::Key_Down);
    QVERIFY(shows(1));
    QTest::keyClick(table, Qt::Key_PageDown); // to the last row
    QVERIFY(shows(2));
    QTest::keyClick(table, Qt::Key_Up);
    QVERIFY(shows(1));
    // Another column shows nothing new; back in the hex column it does.
    QTest::keyClick(table, Qt::Key_Left);
    QTest::keyClick(table, Qt::Key_Up);
    QVERIFY(shows(1));
    QTest::keyClick(table, Qt::Key_Right);
    QVERIFY(shows(0));
    table->setCurrentCell(2, 7);
    QVERIFY(shows(2));

    // A click, through the window as the system delivers it, shows once.
    QSignalSpy shown(hex, &QTextEdit::textChanged);
    const QRect cell = table->visualRect(table->model()->index(1, 7));
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      table->viewport()->mapTo(&window, cell.center()));
    QVERIFY(shows(1));
    QCOMPARE(shown.count(), 1);
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
    QTest::newRow("initial-16") << QString() << QStringLiteral(".");
    QTest::newRow("ascii") << hex_of("Hi there") << QStringLiteral("Hi there");
    QTest::newRow("zero-inside") << QStringLiteral("48690048") << QStringLiteral("Hi.H");
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
