// SPDX-License-Identifier: GPL-2.0-or-later

#include <cstring>

#include <pcap/pcap.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSpinBox>
#include <QStatusBar>
#include <QtTest>

#include "fitwid.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "privileges.h"
#include "remotecapturedialog.h"
#include "streamwindow.h"
#include "testframes.h"
#include "translation.h"
#include "uisteps.h"

namespace {

// Where a widget is on the screen, frame excluded.
QRect global_rect(const QWidget& widget)
{
    return QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size());
}

QVector<QByteArray> frames()
{
    testframes::Ipv4Packet packet;
    packet.payload = "a payload to look at";
    // Long endpoints, for the stream window's choice.
    const std::uint8_t loopback[4] = { 127, 0, 0, 1 };
    std::memcpy(packet.src, loopback, 4);
    std::memcpy(packet.dst, loopback, 4);
    packet.src_port = 41586;
    packet.dst_port = 8080;
    return { testframes::ethernet(testframes::ipv4(packet)) };
}

// Whether every entry of the box's open list is drawn whole: a cut one runs
// into the list's right edge, where a whole one leaves the row's
// background.
bool entries_whole(QComboBox& box, QString* why)
{
    QAbstractItemView* view = box.view();
    const QImage image = view->viewport()->grab().toImage();
    const double ratio = image.devicePixelRatio();
    for (int row = 0; row < box.count(); ++row) {
        const QRect item = view->visualRect(box.model()->index(row, box.modelColumn()));
        const int x = int((view->viewport()->width() - 3) * ratio);
        QSet<QRgb> colours;
        for (int y = int((item.top() + 2) * ratio); y < int((item.bottom() - 1) * ratio); ++y)
            for (int dx = 0; dx < int(2 * ratio); ++dx)
                colours.insert(image.pixel(x + dx, y));
        if (colours.size() > 1) {
            *why = QStringLiteral("\"%1\" is cut").arg(box.itemText(row));
            return false;
        }
    }
    return true;
}

// Rows of what is looked at, each in both languages and themes.
void add_rows(std::initializer_list<const char*> whats)
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("theme");
    for (const char* what : whats)
        for (const char* language : { "zh_CN", "en_US" })
            for (const int theme : { 1, 0 })
                QTest::addRow("%s/%s/%s", what, language, theme == 1 ? "dark" : "light")
                        << QString::fromLatin1(what) << QString::fromLatin1(language) << theme;
}

// A row's process: the language, the theme and a main window showing a
// file of one row, on the small screen.
struct SmallScreen
{
    uisteps::Driver driver;
    MainWindow main;
    QRect screen;

    bool open(bool maximised = false)
    {
        QFETCH(QString, language);
        QFETCH(int, theme);
        install_translation(*qApp, QLocale(language));
        MainWindow::load_theme(theme);
        if (maximised)
            main.showMaximized();
        const QString file = driver.path(QStringLiteral("one.pcap"));
        screen = main.screen()->availableGeometry();
        return screen.height() <= 600 // else TARNLOOK_XVFB_SCREEN is not set
                && testframes::write_capture(file, DLT_EN10MB, frames()) && xtest::activate(&main)
                && main.open_capture_file(file)
                && QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 10000)
                && (!maximised || QTest::qWaitFor([this] { return main.isMaximized(); }));
    }
    ~SmallScreen() { qDeleteAll(main.findChildren<HexWindow*>()); }
};

} // namespace

// What a person meets on a small screen (1024 x 600, run-on-xvfb with
// TARNLOOK_XVFB_SCREEN), in both languages and themes, each row in a
// process of its own.
class TstSmallScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowsFit_data() { add_rows({ "main", "hex", "stream" }); }
    void windowsFit();
    void formClearOfMenuBar_data() { add_rows({ "form" }); }
    void formClearOfMenuBar();
    // The adapters, the find bar's kinds, the stream window's directions.
    void listsShowWholeEntries_data() { add_rows({ "comboBox", "findKind", "streamChoice" }); }
    void listsShowWholeEntries();
    void noticeShowsEveryWord_data() { add_rows({ "notice" }); }
    void noticeShowsEveryWord();
    void patternKeepsRoom_data() { add_rows({ "findPattern" }); }
    void patternKeepsRoom();
    void remoteDialogKeepsItsSize_data() { add_rows({ "remoteDialog" }); }
    void remoteDialogKeepsItsSize();
};

void TstSmallScreen::initTestCase()
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

// Each window, frame and status bar included, on the screen.
void TstSmallScreen::windowsFit()
{
    XTEST_ROW_IN_OWN_PROCESS();
    QFETCH(QString, what);
    const QString& window = what;
    SmallScreen small;
    QVERIFY(small.open());
    QMainWindow* shown = &small.main;
    if (window == QLatin1String("hex")) {
        QTest::mouseClick(small.main.findChild<QPushButton*>(QStringLiteral("pushButton_8")),
                          Qt::LeftButton);
        QTRY_VERIFY((shown = small.main.findChild<HexWindow*>()) != nullptr);
    } else if (window == QLatin1String("stream")) {
        QVERIFY((shown = small.main.follow_tcp_stream(0)) != nullptr);
    }
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    QTRY_VERIFY(shown->frameGeometry() != shown->geometry()); // framed by now
    const QRect frame = shown->frameGeometry();
    QVERIFY2(small.screen.contains(frame),
             qPrintable(QStringLiteral("%1 x %2 at %3, %4")
                                .arg(frame.width())
                                .arg(frame.height())
                                .arg(frame.x())
                                .arg(frame.y())));
    QVERIFY(small.screen.contains(global_rect(*shown->statusBar())));
}

// The filter form over a maximised window, the first time and after "确认"
// hid it: what the screen shows where the menu bar is must be the menu
// bar, the window manager's frame of the form included, whatever Qt knows
// of that frame.
void TstSmallScreen::formClearOfMenuBar()
{
    XTEST_ROW_IN_OWN_PROCESS();
    SmallScreen small;
    QVERIFY(small.open(true));
    QMenuBar* bar = small.main.menuBar();
    const QRect menu = global_rect(*bar);
    const auto menu_in_sight = [&] {
        const QImage shown
                = small.main.screen()
                          ->grabWindow(0, menu.x(), menu.y(), menu.width(), menu.height())
                          .toImage()
                          .convertToFormat(QImage::Format_RGB32);
        return shown == bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    QVERIFY(menu_in_sight());
    for (int time = 0; time < 2; ++time) {
        QTest::mouseClick(small.main.findChild<QPushButton*>(QStringLiteral("pushButton_3")),
                          Qt::LeftButton);
        QVERIFY(QTest::qWaitForWindowExposed(g_filter_form));
        QVERIFY(!g_filter_form->geometry().intersects(menu) && menu_in_sight());
        QVERIFY(small.screen.contains(g_filter_form->geometry()));
        QTest::mouseClick(g_filter_form->findChild<QPushButton*>(QStringLiteral("pushButton_2")),
                          Qt::LeftButton);
        QTRY_VERIFY(!g_filter_form->isVisible());
    }
}

void TstSmallScreen::listsShowWholeEntries()
{
    XTEST_ROW_IN_OWN_PROCESS();
    QFETCH(QString, what);
    const QString& box = what;
    SmallScreen small;
    QVERIFY(small.open());
    QWidget* owner = &small.main;
    if (box == QLatin1String("findKind"))
        xtest::type_keys(QStringLiteral("Ctrl+F"));
    else if (box == QLatin1String("streamChoice"))
        QVERIFY((owner = small.main.follow_tcp_stream(0)) != nullptr && xtest::activate(owner));
    auto* combo = owner->findChild<QComboBox*>(box);
    QVERIFY(combo != nullptr);
    QTRY_VERIFY(combo->isVisible());
    combo->showPopup();
    // Drawn into an image of its own: whether it is exposed does not matter.
    QTRY_VERIFY(combo->view()->isVisible());
    QString why;
    QVERIFY2(entries_whole(*combo, &why), qPrintable(why));
    combo->hidePopup();
}

// The notice of a window run as root, on one line or on as many as it
// needs, every word in sight.
void TstSmallScreen::noticeShowsEveryWord()
{
    XTEST_ROW_IN_OWN_PROCESS();
    SmallScreen small;
    QVERIFY(small.open());
    const QString text = privileges::warning();
    small.main.show_notice(text);
    auto* label = small.main.statusBar()->findChild<QLabel*>(QStringLiteral("notice"));
    QVERIFY(label != nullptr);
    QTRY_VERIFY(label->isVisible());
    const QFontMetrics metrics(label->font());
    const auto whole = [&] {
        const QRect room = label->contentsRect();
        return label->wordWrap()
                ? metrics.boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, text)
                                .height()
                        <= room.height()
                : metrics.horizontalAdvance(text) <= room.width();
    };
    QTRY_VERIFY(whole());
    QVERIFY(small.screen.contains(global_rect(*label)));
}

// About 20 characters for the find pattern in a window at its least width,
// and the window still on the screen.
void TstSmallScreen::patternKeepsRoom()
{
    XTEST_ROW_IN_OWN_PROCESS();
    SmallScreen small;
    QVERIFY(small.open());
    xtest::type_keys(QStringLiteral("Ctrl+F"));
    auto* pattern = small.main.findChild<QLineEdit*>(QStringLiteral("findPattern"));
    QVERIFY(pattern != nullptr);
    QTRY_VERIFY(pattern->isVisible());
    small.main.resize(small.main.minimumSizeHint());
    QTRY_COMPARE(small.main.width(), small.main.minimumSizeHint().width());
    QTRY_VERIFY(pattern->width() >= 18 * pattern->fontMetrics().averageCharWidth());
    QVERIFY(small.main.frameGeometry().width() <= small.screen.width());
}

// The remote dialog showing ssh's error, twice: its size, OK's place and
// the interface box stay, and every line of the error is in sight. The
// connection is refused on this machine: the error comes at once.
void TstSmallScreen::remoteDialogKeepsItsSize()
{
    XTEST_ROW_IN_OWN_PROCESS();
    SmallScreen small;
    QVERIFY(small.open());
    RemoteCaptureDialog dialog(&small.main);
    QVERIFY(xtest::activate(&dialog));
    dialog.findChild<QLineEdit*>(QStringLiteral("host"))->setText(QStringLiteral("127.0.0.1"));
    dialog.findChild<QSpinBox*>(QStringLiteral("port"))->setValue(1);
    auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    auto* interface = dialog.findChild<QComboBox*>(QStringLiteral("interface"));
    auto* status = dialog.findChild<QLabel*>(QStringLiteral("status"));
    const auto places = [&] {
        return QList<QRect> { dialog.rect(), QRect(ok->mapTo(&dialog, QPoint()), ok->size()),
                              interface->geometry() };
    };
    const QList<QRect> before = places();
    for (int attempt = 0; attempt < 2; ++attempt) {
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("list")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QLatin1String("127.0.0.1")), 20000);
        QCOMPARE(places(), before);
        QVERIFY2(status->visibleRegion().boundingRect().height()
                         >= status->heightForWidth(status->width()),
                 qPrintable(status->text()));
    }
}

QTEST_MAIN(TstSmallScreen)
#include "tst_smallscreen.moc"
