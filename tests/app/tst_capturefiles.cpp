// SPDX-License-Identifier: GPL-2.0-or-later

#include <sys/resource.h>

#include <csignal>

#include <pcap/pcap.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "cupdate.h"
#include "fitwid.h"
#include "mainwindow.h"
#include "resourcefloors.h"
#include "testframes.h"

using namespace testframes;

namespace {

// Answers every modal message box with OK, keeping its text.
struct MessageBoxCatcher
{
    QStringList texts;
    QTimer timer;

    MessageBoxCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.append(box->text());
                box->accept();
            }
        });
        timer.start(20);
    }
};

QTableWidget* table_of(const MainWindow& window)
{
    return window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
}

QStringList rows_of(const MainWindow& window)
{
    const QTableWidget* table = table_of(window);
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < 8; ++column)
            cells.append(table->item(row, column)->text());
        rows.append(cells.join(QLatin1Char('|')));
    }
    return rows;
}

// Opens the file and waits until its rows are in.
bool open_and_wait(MainWindow& window, const QString& path)
{
    if (!window.open_capture_file(path))
        return false;
    return QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 10000);
}

QVector<QByteArray> sample_frames()
{
    QVector<QByteArray> frames;
    int port = 1000;
    for (const QByteArray& payload : { QByteArray("GET / HTTP/1.1"), QByteArray(),
                                       QByteArray(1448, 'z'), QByteArray("\0\1\2", 3) }) {
        Ipv4Packet p;
        p.payload = payload;
        p.src_port = static_cast<std::uint16_t>(port++);
        frames.append(ethernet(ipv4(p)));
    }
    Ipv4Packet udp;
    udp.protocol = 17;
    frames.insert(1, ethernet(ipv4(udp)));
    return frames;
}

QString store_folder()
{
    const QStringList folders
            = QDir(QDir::tempPath())
                      .entryList({ QStringLiteral("tarnlook-%1-*")
                                           .arg(QCoreApplication::applicationPid()) },
                                 QDir::Dirs);
    return folders.size() == 1 ? QDir(QDir::tempPath()).filePath(folders.first()) : QString();
}

bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return false;
    if (output != nullptr)
        *output = process.readAllStandardOutput();
    return true;
}

} // namespace

class TstCaptureFiles : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void fileMenu_data();
    void fileMenu();
    void openGivesCaptureRows_data();
    void openGivesCaptureRows();
    void badFiles_data();
    void badFiles();
    void pcapngOfTwoLinkTypes();
    void openRefusedWhileCapturing();
    void saveReadsBack();
    void failedSaveKeepsOldFile();
    void storeFollowsTable();
    void floorStopsCapture_data();
    void floorStopsCapture();
    void capturedCellsReadOnly();
};

void TstCaptureFiles::cleanup()
{
    g_adapter_names.clear();
}

void TstCaptureFiles::fileMenu_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::newRow("actionOpen") << QStringLiteral("打开...")
                                << QKeySequence(QStringLiteral("Ctrl+O"));
    QTest::newRow("actionSave") << QStringLiteral("保存...")
                                << QKeySequence(QStringLiteral("Ctrl+S"));
    QTest::newRow("actionQuit") << QStringLiteral("退出") << QKeySequence(QStringLiteral("Ctrl+Q"));
}

void TstCaptureFiles::fileMenu()
{
    QFETCH(QString, text);
    QFETCH(QKeySequence, shortcut);
    MainWindow window;
    const auto* action = window.findChild<QAction*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(action != nullptr);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut(), shortcut);
    const QList<QAction*> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 1);
    QCOMPARE(menus.first()->text(), QStringLiteral("文件"));
    QVERIFY(menus.first()->menu()->actions().contains(const_cast<QAction*>(action)));
}

void TstCaptureFiles::openGivesCaptureRows_data()
{
    QTest::addColumn<QString>("format"); // as tshark writes it
    QTest::newRow("pcap") << QStringLiteral("pcap");
    QTest::newRow("pcapng") << QStringLiteral("pcapng");
}

void TstCaptureFiles::openGivesCaptureRows()
{
    QFETCH(QString, format);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = dir.filePath(QStringLiteral("original.pcap"));
    QVERIFY(write_capture(original, DLT_EN10MB, sample_frames(), 1700000000));
    const QString written = dir.filePath(QStringLiteral("tshark.") + format);
    if (!run(QStringLiteral("tshark"),
             { QStringLiteral("-r"), original, QStringLiteral("-F"), format, QStringLiteral("-w"),
               written }))
        QSKIP("tshark could not rewrite the capture");

    // The oracle: the same traffic through a capture.
    MainWindow captured;
    captured.findChild<QComboBox*>(QStringLiteral("comboBox"))->addItem(QStringLiteral("file"));
    g_adapter_names.append(QStringLiteral("file://") + original);
    captured.select_adapter(QStringLiteral("file://") + original);
    captured.start_capture();
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QCOMPARE(rows_of(captured).size(), 4);

    MainWindow window;
    QVERIFY(open_and_wait(window, written));
    QCOMPARE(rows_of(window), rows_of(captured));
    QCOMPARE(window.windowTitle(), QStringLiteral("停止捕获"));
    QVERIFY(window.findChild<QAction*>(QStringLiteral("actionOpen"))->isEnabled());
}

void TstCaptureFiles::badFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // empty with a link type: made by write_capture
    QTest::addColumn<int>("linkType");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("message"); // a part of it

    QTest::newRow("empty") << QByteArray() << 0 << 0 << false << QStringLiteral("打开文件失败");
    QTest::newRow("not-a-capture")
            << QByteArray("hello, world\n") << 0 << 0 << false << QStringLiteral("打开文件失败");
    QTest::newRow("unsupported-link-type")
            << QByteArray() << int(DLT_USB_LINUX) << 0 << false << QStringLiteral("USB");
    QTest::newRow("truncated") << QByteArray("cut") << int(DLT_EN10MB) << 3 << true
                               << QStringLiteral("捕获出错而停止");
}

void TstCaptureFiles::badFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(int, linkType);
    QFETCH(int, rows);
    QFETCH(bool, opens);
    QFETCH(QString, message);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("bad.pcap"));
    if (linkType != 0) {
        QVERIFY(write_capture(path, linkType,
                              linkType == DLT_EN10MB ? sample_frames() : QVector<QByteArray> {}));
        if (content == "cut") { // the last frame loses its end
            QFile file(path);
            QVERIFY(file.resize(file.size() - 2));
        }
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    MainWindow window;
    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    if (opens)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ended: truncated")));
    QCOMPARE(window.open_capture_file(path), opens);
    if (opens)
        QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QTRY_COMPARE(catcher.texts.size(), 1);
    QVERIFY2(catcher.texts.first().contains(message), qPrintable(catcher.texts.first()));
    QCOMPARE(table_of(window)->rowCount(), rows); // rows before the damage stay
    QVERIFY(window.findChild<QPushButton*>(QStringLiteral("pushButton_2"))->isEnabled());
}

void TstCaptureFiles::pcapngOfTwoLinkTypes()
{
    // libpcap reads a pcapng file only as long as its interfaces share one
    // link type; where that ends, the user is told, not left guessing.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ethernet_file = dir.filePath(QStringLiteral("ethernet.pcap"));
    const QString raw_file = dir.filePath(QStringLiteral("raw.pcap"));
    QVERIFY(write_capture(ethernet_file, DLT_EN10MB, sample_frames(), 1000));
    QVector<QByteArray> packets;
    for (const QByteArray& frame : sample_frames())
        packets.append(frame.mid(14));
    QVERIFY(write_capture(raw_file, DLT_RAW, packets, 2000));
    const QString mixed = dir.filePath(QStringLiteral("mixed.pcapng"));
    if (!run(QStringLiteral("mergecap"),
             { QStringLiteral("-F"), QStringLiteral("pcapng"), QStringLiteral("-w"), mixed,
               ethernet_file, raw_file }))
        QSKIP("mergecap could not make the file");

    MainWindow window;
    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ended: .*type")));
    if (window.open_capture_file(mixed))
        QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QTRY_COMPARE(catcher.texts.size(), 1);
    QVERIFY2(catcher.texts.first().contains(QStringLiteral("不同的链路类型")),
             qPrintable(catcher.texts.first()));
    QVERIFY(table_of(window)->rowCount() <= 4); // the Ethernet rows, at most
}

void TstCaptureFiles::openRefusedWhileCapturing()
{
    QString reason;
    if (!can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(path, DLT_EN10MB, sample_frames()));

    MainWindow window;
    QVERIFY(window.select_adapter(QStringLiteral("lo")));
    window.start_capture();
    QVERIFY(g_capture_thread != nullptr);
    QVERIFY(!window.findChild<QAction*>(QStringLiteral("actionOpen"))->isEnabled());
    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QVERIFY(!window.open_capture_file(path));
    QTRY_COMPARE(catcher.texts.size(), 1);

    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton_7")),
                      Qt::LeftButton);
    QVERIFY(window.findChild<QAction*>(QStringLiteral("actionOpen"))->isEnabled());
}

void TstCaptureFiles::saveReadsBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(original, DLT_EN10MB, sample_frames(), 1700000000));
    MainWindow window;
    QVERIFY(open_and_wait(window, original));
    QVERIFY(open_and_wait(window, original)); // appended: eight rows
    const QStringList rows = rows_of(window);
    QCOMPARE(rows.size(), 8);

    const QString saved = dir.filePath(QStringLiteral("saved.pcap"));
    QVERIFY(window.save_capture_file(saved));

    // tshark agrees frame by frame: time, addresses, ports, payload.
    QByteArray fields;
    QVERIFY(run(QStringLiteral("tshark"),
                { QStringLiteral("-r"), saved, QStringLiteral("-T"), QStringLiteral("fields"),
                  QStringLiteral("-e"), QStringLiteral("frame.time_epoch"), QStringLiteral("-e"),
                  QStringLiteral("ip.src"), QStringLiteral("-e"), QStringLiteral("tcp.srcport"),
                  QStringLiteral("-e"), QStringLiteral("tcp.payload") },
                &fields));
    const QList<QByteArray> lines = fields.trimmed().split('\n');
    QCOMPARE(lines.size(), rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        const QStringList row = rows.at(i).split(QLatin1Char('|'));
        const QList<QByteArray> frame = lines.at(i).split('\t');
        QCOMPARE(frame.size(), 4);
        const QDateTime time = QDateTime::fromSecsSinceEpoch(frame.at(0).toDouble());
        QCOMPARE(time.toString(QStringLiteral("HH:mm:ss")), row.at(0));
        QCOMPARE(QString::fromLatin1(frame.at(1)), row.at(2));
        QCOMPARE(QString::fromLatin1(frame.at(2)), row.at(3));
        QCOMPARE(QString::fromLatin1(frame.at(3)).remove(QLatin1Char(':')).toUpper(), row.at(7));
    }

    // And Tarnlook reads it back with the same rows.
    MainWindow again;
    QVERIFY(open_and_wait(again, saved));
    QCOMPARE(rows_of(again), rows);
}

void TstCaptureFiles::failedSaveKeepsOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(original, DLT_EN10MB, sample_frames()));
    MainWindow window;
    QVERIFY(open_and_wait(window, original));

    const QString target = dir.filePath(QStringLiteral("old.pcap"));
    QFile old(target);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old contents");
    old.close();

    // A file size limit makes the write fail as a full disk would, even for
    // root.
    rlimit saved {};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
    const auto restore = qScopeGuard([saved] {
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, SIG_DFL);
    });
    signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);

    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QVERIFY(!window.save_capture_file(target));
    QTRY_COMPARE(catcher.texts.size(), 1);
    QVERIFY2(catcher.texts.first().startsWith(QStringLiteral("保存文件失败")),
             qPrintable(catcher.texts.first()));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old contents"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no leftovers
}

void TstCaptureFiles::storeFollowsTable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(original, DLT_EN10MB, sample_frames()));
    QString folder;
    {
        MainWindow window;
        folder = store_folder();
        QVERIFY(!folder.isEmpty());
        QVERIFY(open_and_wait(window, original));
        QVERIFY(!QDir(folder).entryList(QDir::Files).isEmpty());

        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton")),
                          Qt::LeftButton);
        QCOMPARE(table_of(window)->rowCount(), 0);
        QTRY_VERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
        // Saving an empty table gives an empty capture file.
        const QString empty = dir.filePath(QStringLiteral("empty.pcap"));
        QVERIFY(window.save_capture_file(empty));
        QVERIFY(QFileInfo(empty).size() > 0);
    }
    QVERIFY(!QFileInfo::exists(folder));
}

void TstCaptureFiles::floorStopsCapture_data()
{
    QTest::addColumn<bool>("memory"); // else disk
    QTest::addColumn<QString>("message");
    QTest::newRow("memory") << true << QStringLiteral("内存不足");
    QTest::newRow("disk") << false << QStringLiteral("磁盘");
}

void TstCaptureFiles::floorStopsCapture()
{
    QFETCH(bool, memory);
    QFETCH(QString, message);
    const auto restore = qScopeGuard([saved = g_resource_floors] { g_resource_floors = saved; });
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(path, DLT_EN10MB, sample_frames()));

    MainWindow window;
    QVERIFY(open_and_wait(window, path)); // rows already shown stay
    // Floors above what any machine has: the capture meets them at once.
    (memory ? g_resource_floors.memory_bytes : g_resource_floors.disk_bytes)
            = std::numeric_limits<std::int64_t>::max();
    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QVERIFY(window.open_capture_file(path));
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QTRY_COMPARE(catcher.texts.size(), 1);
    QVERIFY2(catcher.texts.first().contains(message)
                     && catcher.texts.first().contains(QStringLiteral("4 行")),
             qPrintable(catcher.texts.first()));
    QCOMPARE(table_of(window)->rowCount(), 4);
    QCOMPARE(window.windowTitle(), QStringLiteral("停止捕获"));
    QVERIFY(window.save_capture_file(dir.filePath(QStringLiteral("kept.pcap"))));
}

void TstCaptureFiles::capturedCellsReadOnly()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(path, DLT_EN10MB, sample_frames()));
    MainWindow window;
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(open_and_wait(window, path));
    QTableWidget* table = table_of(window);
    const QStringList before = rows_of(window);

    // What a double-click does: open an editor if the cell has one.
    auto type_into = [table](int row, int column, const QString& text) {
        table->edit(table->model()->index(row, column));
        auto* editor = table->viewport()->findChild<QLineEdit*>();
        if (editor == nullptr || !editor->isVisible())
            return false;
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, Qt::Key_Return);
        return true;
    };
    for (int column = 0; column < 8; ++column) {
        QTest::ignoreMessage(QtWarningMsg, "edit: editing failed");
        QVERIFY(!(table->item(2, column)->flags() & Qt::ItemIsEditable));
        QVERIFY(!type_into(2, column, QStringLiteral("x")));
    }
    QCOMPARE(rows_of(window), before);

    // The notes column takes the user's text (committed on the next turn
    // of the event loop).
    QVERIFY(type_into(2, 8, QStringLiteral("note")));
    QTRY_VERIFY(table->item(2, 8) != nullptr);
    QCOMPARE(table->item(2, 8)->text(), QStringLiteral("note"));
    QCOMPARE(rows_of(window), before);
}

QTEST_MAIN(TstCaptureFiles)
#include "tst_capturefiles.moc"
