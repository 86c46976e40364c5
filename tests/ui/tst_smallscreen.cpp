// SPDX-License-Identifier: GPL-2.0-or-later

#include <pcap/pcap.h>

#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QtTest>

#include "fitwid.h"
#include "hexwindow.h"
#include "mainwindow.h"
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
    return { testframes::ethernet(testframes::ipv4(packet)) };
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
    QTest::addColumn<QString>("window"); // main, hex, stream, form (over a maximised main)

    for (const char* window : { "main", "hex", "stream", "form" })
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
