// SPDX-License-Identifier: GPL-2.0-or-later

#include <cstring>

#include <pcap/pcap.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <QDialogButtonBox>
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

} // namespace

// What a person meets on a small screen (1024 x 600, run-on-xvfb with
// TARNLOOK_XVFB_SCREEN), in both languages and themes: every window and
// its status bar in sight, the filter form clear of the menu bar.
class TstSmallScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windows_data();
    void windows();
};

void TstSmallScreen::initTestCase()
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TstSmallScreen::windows_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("theme");
    // main, hex, stream, form (over a maximised main), or the list of a box
    // that drops down: the adapters' (comboBox), the find bar's kinds
    // (findKind), the stream window's choice (streamChoice); or a notice in
    // the status bar (the one a window run as root shows); or the find bar's
    // pattern field in a window at its least width (findPattern); or the
    // remote dialog showing an error (remoteDialog).
    QTest::addColumn<QString>("window");

    for (const char* window : { "main", "hex", "stream", "form", "comboBox", "findKind",
                                "streamChoice", "notice", "findPattern", "remoteDialog" })
        for (const char* language : { "zh_CN", "en_US" })
            for (const int theme : { 1, 0 })
                QTest::addRow("%s/%s/%s", window, language, theme == 1 ? "dark" : "light")
                        << QString::fromLatin1(language) << theme << QString::fromLatin1(window);
}

void TstSmallScreen::windows()
{
    XTEST_ROW_IN_OWN_PROCESS();
    QFETCH(QString, language);
    QFETCH(int, theme);
    QFETCH(QString, window);

    install_translation(*qApp, QLocale(language));
    uisteps::Driver driver;
    const QString file = driver.path(QStringLiteral("one.pcap"));
    QVERIFY(testframes::write_capture(file, DLT_EN10MB, frames()));
    MainWindow main;
    MainWindow::load_theme(theme);
    if (window == QLatin1String("form"))
        main.showMaximized();
    QVERIFY(xtest::activate(&main));
    const QRect screen = main.screen()->availableGeometry();
    QVERIFY2(screen.height() <= 600, "not a small screen: set TARNLOOK_XVFB_SCREEN");
    QVERIFY(main.open_capture_file(file));
    QTRY_VERIFY(g_capture_thread == nullptr);

    QMainWindow* shown = &main;
    if (window == QLatin1String("remoteDialog")) {
        // A refused connection, on this machine: the error comes at once.
        RemoteCaptureDialog dialog(&main);
        QVERIFY(xtest::activate(&dialog));
        dialog.findChild<QLineEdit*>(QStringLiteral("host"))->setText(QStringLiteral("127.0.0.1"));
        dialog.findChild<QSpinBox*>(QStringLiteral("port"))->setValue(1);
        auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        auto* interface = dialog.findChild<QComboBox*>(QStringLiteral("interface"));
        auto* status = dialog.findChild<QLabel*>(QStringLiteral("status"));
        const auto places = [&] {
            return QStringList { QString::number(dialog.width()), QString::number(dialog.height()),
                                 QString::number(ok->mapTo(&dialog, QPoint()).y()),
                                 QString::number(interface->width()),
                                 QString::number(interface->height()) };
        };
        const QStringList before = places();
        for (int attempt = 0; attempt < 2; ++attempt) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("list")),
                              Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(status->text().contains(QLatin1String("127.0.0.1")), 20000);
            QCOMPARE(places(), before);
            // Every line of it in sight.
            const QRect shown = status->visibleRegion().boundingRect();
            QVERIFY2(shown.height() >= status->heightForWidth(status->width()),
                     qPrintable(status->text()));
        }
        return;
    }
    if (window == QLatin1String("findPattern")) {
        xtest::type_keys(QStringLiteral("Ctrl+F"));
        auto* pattern = main.findChild<QLineEdit*>(QStringLiteral("findPattern"));
        QVERIFY(pattern != nullptr);
        QTRY_VERIFY(pattern->isVisible());
        main.resize(main.minimumSizeHint());
        QTRY_COMPARE(main.width(), main.minimumSizeHint().width());
        // About 20 characters, and the window still on the screen.
        QTRY_VERIFY(pattern->width() >= 18 * pattern->fontMetrics().averageCharWidth());
        QVERIFY(main.frameGeometry().width() <= screen.width());
        return;
    }
    if (window == QLatin1String("notice")) {
        const QString text = privileges::warning();
        main.show_notice(text);
        auto* label = main.statusBar()->findChild<QLabel*>(QStringLiteral("notice"));
        QVERIFY(label != nullptr);
        QTRY_VERIFY(label->isVisible());
        // Every word in sight: on one line, or on as many as it needs.
        const QRect room = label->contentsRect();
        const QFontMetrics metrics(label->font());
        const auto whole = [&] {
            return label->wordWrap()
                    ? metrics.boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, text)
                                    .height()
                            <= label->contentsRect().height()
                    : metrics.horizontalAdvance(text) <= room.width();
        };
        QTRY_VERIFY(whole());
        QVERIFY(screen.contains(global_rect(*label)));
        return;
    }
    if (window == QLatin1String("comboBox") || window == QLatin1String("findKind")
        || window == QLatin1String("streamChoice")) {
        QWidget* owner = &main;
        if (window == QLatin1String("findKind")) {
            xtest::type_keys(QStringLiteral("Ctrl+F"));
        } else if (window == QLatin1String("streamChoice")) {
            owner = main.follow_tcp_stream(0);
            QVERIFY(owner != nullptr && xtest::activate(owner));
        }
        auto* box = owner->findChild<QComboBox*>(window);
        QVERIFY(box != nullptr);
        QTRY_VERIFY(box->isVisible());
        box->showPopup();
        // Drawn into an image of its own: whether it is exposed yet does
        // not matter.
        QTRY_VERIFY(box->view()->isVisible());
        QString why;
        QVERIFY2(entries_whole(*box, &why), qPrintable(why));
        box->hidePopup();
        qDeleteAll(main.findChildren<HexWindow*>());
        return;
    }
    if (window == QLatin1String("hex")) {
        QTest::mouseClick(main.findChild<QPushButton*>(QStringLiteral("pushButton_8")),
                          Qt::LeftButton);
        QTRY_VERIFY(main.findChild<HexWindow*>() != nullptr);
        shown = main.findChild<HexWindow*>();
    } else if (window == QLatin1String("stream")) {
        shown = main.follow_tcp_stream(0);
        QVERIFY(shown != nullptr);
    } else if (window == QLatin1String("form")) {
        // Beside the window, or under its menu bar: never over it, the first
        // time or the next, after "确认" hid it. What the screen shows
        // where the menu bar is must be the menu bar: the window manager's
        // frame of the form counts too, whatever Qt knows of it.
        QTRY_VERIFY(main.isMaximized());
        QMenuBar* bar = main.menuBar();
        const QRect menu = global_rect(*bar);
        const auto menu_in_sight = [&] {
            const QImage shown
                    = main.screen()
                              ->grabWindow(0, menu.x(), menu.y(), menu.width(), menu.height())
                              .toImage()
                              .convertToFormat(QImage::Format_RGB32);
            return shown == bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        QVERIFY(menu_in_sight());
        for (int time = 0; time < 2; ++time) {
            QTest::mouseClick(main.findChild<QPushButton*>(QStringLiteral("pushButton_3")),
                              Qt::LeftButton);
            QVERIFY(QTest::qWaitForWindowExposed(g_filter_form));
            QVERIFY2(!g_filter_form->geometry().intersects(menu) && menu_in_sight(),
                     qPrintable(QStringLiteral("form at %1, %2; menu bar down to %3")
                                        .arg(g_filter_form->x())
                                        .arg(g_filter_form->y())
                                        .arg(menu.bottom())));
            QVERIFY(screen.contains(g_filter_form->geometry()));
            QTest::mouseClick(
                    g_filter_form->findChild<QPushButton*>(QStringLiteral("pushButton_2")),
                    Qt::LeftButton);
            QTRY_VERIFY(!g_filter_form->isVisible());
        }
        return;
    }
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    // The window manager has framed it by now.
    QTRY_VERIFY(shown->frameGeometry() != shown->geometry());
    QVERIFY2(screen.contains(shown->frameGeometry()),
             qPrintable(QStringLiteral("%1 x %2 at %3, %4")
                                .arg(shown->frameGeometry().width())
                                .arg(shown->frameGeometry().height())
                                .arg(shown->frameGeometry().x())
                                .arg(shown->frameGeometry().y())));
    QVERIFY(screen.contains(global_rect(*shown->statusBar())));
    qDeleteAll(main.findChildren<HexWindow*>());
}

QTEST_MAIN(TstSmallScreen)
#include "tst_smallscreen.moc"
