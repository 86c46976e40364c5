// SPDX-License-Identifier: GPL-2.0-or-later

#include <memory>

#include <pcap/pcap.h>

#include <QClipboard>
#include <QComboBox>
#include <QTableView>
#include <QTableWidget>
#include <QTextEdit>
#include <QtTest>

#include "conversationswindow.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "packetfindbar.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "remotecapturedialog.h"
#include "streamwindow.h"
#include "testframes.h"
#include "uisteps.h"

namespace {

const QList<QByteArray> kPayloads { "first row", "second row", "third row" };

QVector<QByteArray> frames()
{
    QVector<QByteArray> frames;
    for (const QByteArray& payload : kPayloads) {
        testframes::Ipv4Packet packet;
        packet.payload = payload;
        // A connection of its own: following a row shows its payload alone.
        packet.src_port = static_cast<std::uint16_t>(8000 + frames.size());
        frames.append(testframes::ethernet(testframes::ipv4(packet)));
    }
    return frames;
}

// Packets in a capture file, as libpcap reads them; -1 when it cannot.
int packets_in(const QString& path)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.toLocal8Bit().constData(), error);
    if (file == nullptr)
        return -1;
    int count = 0;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(file, &header, &data) == 1)
        ++count;
    pcap_close(file);
    return count;
}

bool dark(const QWidget& widget)
{
    return widget.palette().color(QPalette::Window).lightness() < 128;
}

int hex_windows()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<HexWindow*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
    return count;
}

} // namespace

// Every menu action and shortcut of the main window and the buttons and
// fields of the filter form, used on the active window, with what a person
// sees afterwards.
class TstMainWindowKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void actions_data();
    void actions();
    void remoteSourceByKeys();
};

void TstMainWindowKeys::initTestCase()
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TstMainWindowKeys::actions_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<QString>("rows"); // none, file (three rows) or captured
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("checks"); // separated by "|"

    struct Row
    {
        const char* name;
        const char* rows;
        const char* steps;
        const char* checks;
    };
    static const Row table[] = {
        { "open-by-shortcut", "none", "answer:file:three.pcap;key:Ctrl+O", "rows=3|dialogs=1" },
        { "open-by-menu", "none", "answer:file:three.pcap;menu:actionOpen", "rows=3|dialogs=1" },
        { "save-by-shortcut", "file", "answer:file:out.pcap;key:Ctrl+S", "saved=out.pcap" },
        { "save-by-menu", "file", "answer:file:out.pcap;menu:actionSave", "saved=out.pcap" },
        { "quit-by-shortcut", "none", "key:Ctrl+Q", "closed|boxes=0" },
        { "quit-by-menu", "none", "menu:actionQuit", "closed|boxes=0" },
        { "quit-after-open-asks-nothing", "file", "key:Ctrl+Q", "closed|boxes=0" },
        { "quit-captured-asks-cancel", "captured", "answer:reject;key:Ctrl+Q", "visible|boxes=1" },
        { "quit-captured-asks-discard", "captured", "answer:destructive;menu:actionQuit",
          "closed|boxes=1" },
        { "quit-captured-asks-save", "captured", "answer:accept;answer:file:kept.pcap;key:Ctrl+Q",
          "closed|boxes=1|saved=kept.pcap" },
        { "clear-button", "file", "click:pushButton", "rows=0" },
        { "click-shows-payload", "file", "cell:1,7", "payload=1" },
        { "down-key-shows-payload", "file", "cell:0,7;key:Down", "payload=1" },
        { "up-key-shows-payload", "file", "cell:2,7;key:Up", "payload=1" },
        { "theme-button", "none", "click:pushButton_9", "theme=flipped" },
        { "theme-button-twice", "none", "click:pushButton_9;click:pushButton_9", "theme=kept" },
        { "explanation-button", "none", "click:pushButton_10", "boxes=1|visible" },
        { "hex-view-button", "file", "cell:2,7;click:pushButton_8", "hexwindows=1" },
        { "follow-by-shortcut", "file", "cell:1,7;key:Ctrl+Alt+Shift+T", "streamwindows=1" },
        { "follow-by-context-menu", "file", "answer:menu:actionFollowStream;rightclick:2,3",
          "streamwindows=1" },
        // These rows are no TLS: the follow says so.
        { "follow-tls-by-shortcut", "file", "cell:1,7;answer:accept;key:Ctrl+Alt+Shift+S",
          "boxes=1" },
        { "follow-tls-by-context-menu", "file",
          "answer:menu:actionFollowTlsStream;answer:accept;rightclick:2,3",
          "boxes=1" },
        { "filter-button", "none", "click:pushButton_3", "form=shown" },
        { "form-tick-takes-text", "none",
          "click:pushButton_3;activate:FitWid;click:lineEdit_2;key:Ctrl+A;text:8001;"
          "click:checkBox_2",
          "ports=8001" },
        { "form-untick", "none",
          "click:pushButton_3;activate:FitWid;click:checkBox_2;click:checkBox_2", "ports=off" },
        { "form-edit-while-ticked", "none",
          "click:pushButton_3;activate:FitWid;click:checkBox_2;click:lineEdit_2;key:Ctrl+A;"
          "text:8001",
          "ports=8001" },
        { "form-space-ticks", "none",
          "click:pushButton_3;activate:FitWid;click:lineEdit_2;key:Shift+Tab;key:Space",
          "ports=80,8888" },
        { "form-explanation", "none", "click:pushButton_3;activate:FitWid;click:pushButton",
          "boxes=1|form=shown" },
        { "form-confirm", "none", "click:pushButton_3;activate:FitWid;click:pushButton_2",
          "form=hidden" },
        { "find-by-shortcut", "file", "key:Ctrl+F;text:second;key:Return",
          "findbar=shown|focus=findPattern|current=1|payload=1" },
        { "find-next-by-f3", "file", "cell:0,7;key:Ctrl+F;text:row;key:Return;key:F3",
          "current=2|payload=2" },
        { "find-previous-by-shift-f3", "file", "cell:2,7;key:Ctrl+F;text:row;key:Shift+F3",
          "current=1|payload=1" },
        { "find-previous-by-shift-enter", "file", "cell:0,7;key:Ctrl+F;text:row;key:Shift+Return",
          "current=2|payload=2" },
        { "find-f3-asks-for-pattern", "file", "key:F3", "findbar=shown|focus=findPattern" },
        { "find-again-from-table", "file", "key:Ctrl+F;text:third;key:Escape;cell:0,7;key:F3",
          "findbar=shown|current=2|payload=2" },
        { "find-esc-closes", "file", "key:Ctrl+F;key:Escape",
          "findbar=hidden|focus=tableWidget_2" },
        { "narrow-by-form", "file",
          "click:pushButton_3;activate:FitWid;click:lineEdit_2;key:Ctrl+A;text:8001;"
          "click:checkBox_2;click:applyToShownRows",
          "rows=3|shown=1" },
        { "conversations-by-shortcut", "file", "key:Ctrl+Alt+C", "conversations=3" },
        { "conversations-by-menu", "file", "menu:actionConversations", "conversations=3" },
        { "conversation-found-and-followed", "file",
          "key:Ctrl+Alt+C;activate:conversationsWindow;text:8001;key:Return",
          "conversations=1|streamshows=1" },
        { "conversation-followed-from-table", "file",
          "key:Ctrl+Alt+C;activate:conversationsWindow;text:8002;key:Down;key:Return",
          "streamshows=2" },
        { "conversation-narrows-table", "file",
          "key:Ctrl+Alt+C;activate:conversationsWindow;text:8002;key:Down;"
          "click:conversationsNarrow",
          "shown=1" },
        { "conversation-copied", "file",
          "key:Ctrl+Alt+C;activate:conversationsWindow;text:8000;key:Down;key:Ctrl+C",
          "csvrows=1" },
        { "conversations-esc-closes", "file",
          "key:Ctrl+Alt+C;activate:conversationsWindow;key:Escape", "conversations=closed" },
        { "form-marked-only", "file",
          "click:pushButton_3;activate:FitWid;click:markedRowsOnly;click:applyToShownRows",
          "shown=0" },
        { "save-shown-rows", "file",
          "click:pushButton_3;activate:FitWid;click:lineEdit_2;key:Ctrl+A;text:8001;"
          "click:checkBox_2;click:applyToShownRows;activate:MainWindow;answer:yes;"
          "answer:file:out.pcap;key:Ctrl+S",
          "boxes=1|savedshown=out.pcap" },
    };
    for (const int theme : { 1, 0 }) {
        for (const Row& row : table)
            QTest::addRow("%s/%s", row.name, theme == 1 ? "dark" : "light")
                    << theme << row.rows << row.steps << row.checks;
    }
}

void TstMainWindowKeys::actions()
{
    XTEST_ROW_IN_OWN_PROCESS();
    QFETCH(int, theme);
    QFETCH(QString, rows);
    QFETCH(QString, steps);
    QFETCH(QString, checks);

    uisteps::Driver driver;
    QVERIFY(testframes::write_capture(driver.path(QStringLiteral("three.pcap")), DLT_EN10MB,
                                      frames()));
    MainWindow window;
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    QVERIFY(xtest::activate(&window));
    // The theme button knows the theme by its text: the dark one through it.
    MainWindow::load_theme(0);
    if (theme == 1)
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton_9")),
                          Qt::LeftButton);
    if (rows == QLatin1String("file")) {
        QVERIFY(window.open_capture_file(driver.path(QStringLiteral("three.pcap"))));
        QTRY_COMPARE(table->rowCount(), kPayloads.size());
        QTRY_VERIFY(window.findChild<QWidget*>(QStringLiteral("pushButton_2"))->isEnabled());
    } else if (rows == QLatin1String("captured")) {
        QString reason;
        if (!testframes::can_capture_on_loopback(&reason))
            QSKIP(qPrintable(reason));
        QVERIFY(window.select_adapter(QStringLiteral("lo")));
        QString failure;
        QVERIFY2(driver.run(QStringLiteral("click:pushButton_2"), &failure), qPrintable(failure));
        for (int attempt = 0; attempt < 30 && table->rowCount() == 0; ++attempt) {
            QVERIFY(testframes::exchange_on_loopback("captured row") != 0);
            if (QTest::qWaitFor([&] { return table->rowCount() > 0; }, 500))
                break;
        }
        QVERIFY(table->rowCount() > 0);
        QVERIFY2(driver.run(QStringLiteral("click:pushButton_7"), &failure), qPrintable(failure));
        QTRY_VERIFY(window.findChild<QWidget*>(QStringLiteral("pushButton_2"))->isEnabled());
    }
    const bool darkBefore = dark(window);
    QCOMPARE(darkBefore, theme == 1);

    QString failure;
    QVERIFY2(driver.run(steps, &failure), qPrintable(failure));

    for (const QString& check : checks.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const QString name = check.section(QLatin1Char('='), 0, 0);
        const QString value = check.section(QLatin1Char('='), 1);
        if (name == QLatin1String("rows")) {
            QTRY_COMPARE(table->rowCount(), value.toInt());
        } else if (name == QLatin1String("boxes")) {
            QCOMPARE(driver.boxes, value.toInt());
        } else if (name == QLatin1String("dialogs")) {
            QCOMPARE(driver.fileDialogs, value.toInt());
        } else if (name == QLatin1String("closed")) {
            QTRY_VERIFY(!window.isVisible());
        } else if (name == QLatin1String("visible")) {
            QVERIFY(window.isVisible());
        } else if (name == QLatin1String("saved")) {
            QVERIFY(table->rowCount() > 0);
            QTRY_COMPARE(packets_in(driver.path(value)), table->rowCount());
        } else if (name == QLatin1String("payload")) {
            const QString hex = QString::fromLatin1(kPayloads.at(value.toInt()).toHex().toUpper());
            QCOMPARE(window.findChild<QTextEdit*>(QStringLiteral("textEdit_2"))->toPlainText(),
                     hex);
        } else if (name == QLatin1String("theme")) {
            QCOMPARE(dark(window), value == QLatin1String("flipped") ? !darkBefore : darkBefore);
            QCOMPARE(dark(*g_filter_form), dark(window));
        } else if (name == QLatin1String("hexwindows")) {
            QTRY_COMPARE(hex_windows(), value.toInt());
        } else if (name == QLatin1String("streamwindows")) {
            QTRY_COMPARE(window.findChildren<StreamWindow*>().size(), value.toInt());
            // The stream of that row: its one segment's payload.
            const QByteArray shown
                    = window.findChild<StreamWindow*>()->view()->document()->read(0, 1 << 20);
            QVERIFY2(kPayloads.contains(shown), shown.constData());
        } else if (name == QLatin1String("conversations")) {
            auto* conversations = window.findChild<ConversationsWindow*>();
            QVERIFY(conversations != nullptr);
            QTRY_COMPARE(conversations->isVisible(), value != QLatin1String("closed"));
            if (value != QLatin1String("closed"))
                QTRY_COMPARE(conversations->view()->model()->rowCount(), value.toInt());
        } else if (name == QLatin1String("streamshows")) {
            QTRY_COMPARE(window.findChildren<StreamWindow*>().size(), 1);
            QCOMPARE(window.findChild<StreamWindow*>()->view()->document()->read(0, 1 << 20),
                     kPayloads.at(value.toInt()));
        } else if (name == QLatin1String("csvrows")) {
            // The titles, then a line per connection.
            QTRY_COMPARE(QGuiApplication::clipboard()->text().count(QStringLiteral("\r\n")),
                         value.toInt() + 1);
        } else if (name == QLatin1String("form")) {
            QTRY_COMPARE(g_filter_form->isVisible(), value == QLatin1String("shown"));
        } else if (name == QLatin1String("findbar")) {
            QCOMPARE(window.findChild<PacketFindBar*>()->is_shown(),
                     value == QLatin1String("shown"));
        } else if (name == QLatin1String("focus")) {
            QTRY_VERIFY(QApplication::focusWidget() != nullptr);
            QCOMPARE(QApplication::focusWidget()->objectName(), value);
        } else if (name == QLatin1String("current")) {
            QTRY_COMPARE(table->currentRow(), value.toInt());
            QVERIFY(table->selectionModel()->isRowSelected(value.toInt(), QModelIndex()));
        } else if (name == QLatin1String("shown")) {
            int shown = 0;
            for (int row = 0; row < table->rowCount(); ++row)
                shown += table->isRowHidden(row) ? 0 : 1;
            QCOMPARE(shown, value.toInt());
        } else if (name == QLatin1String("savedshown")) {
            // The one row shown, port 8001 (row 1), and no other.
            QTRY_COMPARE(packets_in(driver.path(value)), 1);
        } else if (name == QLatin1String("ports")) {
            const bool on = value != QLatin1String("off");
            QCOMPARE(g_filter_settings.include_port_enabled, on);
            if (on)
                QCOMPARE(g_filter_settings.include_ports.join(QLatin1Char(',')), value);
        } else {
            QFAIL(qPrintable(QStringLiteral("no such check: ") + check));
        }
    }
    qDeleteAll(window.findChildren<HexWindow*>());
}

// End in the adapter list reaches "远程抓包...", which asks at once; the
// dialog filled in with keys and confirmed with Return gives the list a
// remote source, chosen, before "远程抓包...".
void TstMainWindowKeys::remoteSourceByKeys()
{
    MainWindow window;
    QVERIFY(xtest::activate(&window));
    auto* combo = window.findChild<QComboBox*>(QStringLiteral("comboBox"));
    const int ask_item = combo->count() - 1;
    QCOMPARE(combo->itemText(ask_item), QStringLiteral("远程抓包..."));
    combo->setFocus();
    QTRY_VERIFY(combo->hasFocus());

    QString asked;
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, &window, [&] {
        auto* dialog = qobject_cast<RemoteCaptureDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isActiveWindow() || !asked.isEmpty())
            return;
        asked = dialog->windowTitle();
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("server"));
        for (int field = 0; field < 3; ++field) // port, user, interface
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("eth0"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    watcher.start(50);
    QTest::keyClick(combo, Qt::Key_End);
    watcher.stop();
    QCOMPARE(asked, QStringLiteral("远程抓包"));
    QCOMPARE(combo->currentText(), QStringLiteral("ssh://server/eth0"));
    QCOMPARE(combo->currentIndex(), ask_item);
    QCOMPARE(combo->itemText(ask_item + 1), QStringLiteral("远程抓包..."));
}

QTEST_MAIN(TstMainWindowKeys)
#include "tst_mainwindowkeys.moc"
