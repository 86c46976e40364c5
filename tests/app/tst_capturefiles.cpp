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
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "capturestore.h"
#include "cupdate.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "mainwindow.h"
#include "packetrows.h"
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
    const QDir parent(CaptureStore::default_parent());
    const QStringList folders = parent.entryList(
            { QStringLiteral("tarnlook-%1-*").arg(QCoreApplication::applicationPid()) },
            QDir::Dirs);
    return folders.size() == 1 ? parent.filePath(folders.first()) : QString();
}

// Writes the frames with these timestamps (seconds, nanoseconds) to a pcap
// file of the given precision.
bool write_timed_capture(const QString& path, int precision,
                         const QVector<QPair<long, long>>& times)
{
    pcap_t* dead = pcap_open_dead_with_tstamp_precision(DLT_EN10MB, 65536, precision);
    pcap_dumper_t* dumper
            = dead != nullptr ? pcap_dump_open(dead, QFile::encodeName(path).constData()) : nullptr;
    if (dumper == nullptr) {
        if (dead != nullptr)
            pcap_close(dead);
        return false;
    }
    QVector<QByteArray> frames = sample_frames();
    frames.removeAt(1); // not TCP: no row
    for (int i = 0; i < times.size(); ++i) {
        const QByteArray& frame = frames.at(i % frames.size());
        pcap_pkthdr header = header_for(frame, times.at(i).first);
        header.ts.tv_usec = precision == PCAP_TSTAMP_PRECISION_NANO ? times.at(i).second
                                                                    : times.at(i).second / 1000;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header,
                  reinterpret_cast<const u_char*>(frame.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
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
    void openReplacesTheRows();
    void titleCountsFramesAndRows_data();
    void titleCountsFramesAndRows();
    void badFiles_data();
    void badFiles();
    void pcapngOfTwoLinkTypes();
    void openRefusedWhileCapturing();
    void saveReadsBack();
    void saveKeepsNanoseconds_data();
    void saveKeepsNanoseconds();
    void failedSaveKeepsOldFile();
    void storeFollowsTable();
    void clearWhileReading();
    void refusedStoreSavesNothing();
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
    // "文件", then "统计" with the capture's figures.
    const QList<QAction*> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 2); // then "统计", the figures of the capture
    QCOMPARE(menus.first()->text(), QStringLiteral("文件"));
    QCOMPARE(menus.last()->text(), QStringLiteral("统计"));
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
    QCOMPARE(window.windowTitle(), QStringLiteral("tshark.%1: 5 帧, 显示 4 行").arg(format));
    QVERIFY(window.findChild<QAction*>(QStringLiteral("actionOpen"))->isEnabled());
}

void TstCaptureFiles::openReplacesTheRows()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString first = dir.filePath(QStringLiteral("first.pcap"));
    const QString second = dir.filePath(QStringLiteral("second.pcap"));
    QVERIFY(write_capture(first, DLT_EN10MB, sample_frames(), 1700000000));
    Ipv4Packet packet;
    packet.payload = "second";
    const QVector<QByteArray> frames { ethernet(ipv4(packet)), ethernet(ipv4(packet)) };
    QVERIFY(write_capture(second, DLT_EN10MB, frames, 1700000100));

    // The oracle: a window that opened the second file alone.
    MainWindow alone;
    QVERIFY(open_and_wait(alone, second));
    MainWindow window;
    QVERIFY(open_and_wait(window, first));
    QCOMPARE(table_of(window)->rowCount(), 4);
    QVERIFY(open_and_wait(window, second));
    QCOMPARE(rows_of(window), rows_of(alone));
    QCOMPARE(window.windowTitle(), QStringLiteral("second.pcap: 2 帧, 显示 2 行"));
    // A save holds that file's frames and no other's.
    const QString saved = dir.filePath(QStringLiteral("saved.pcap"));
    QVERIFY(window.save_capture_file(saved));
    QByteArray payloads;
    QVERIFY(run(QStringLiteral("tshark"),
                { QStringLiteral("-r"), saved, QStringLiteral("-T"), QStringLiteral("fields"),
                  QStringLiteral("-e"), QStringLiteral("tcp.payload") },
                &payloads));
    const QByteArray hex = packet.payload.toHex();
    QCOMPARE(payloads, hex + '\n' + hex + '\n');
}

void TstCaptureFiles::titleCountsFramesAndRows_data()
{
    QTest::addColumn<bool>("ipsOn");
    QTest::addColumn<QStringList>("ips");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("refused"); // what the titles add for the lines the lists refused
    // Five frames, one of them UDP; the TCP ones go from 192.168.0.1.
    QTest::newRow("no-filter") << false << QStringList() << 4 << "";
    QTest::newRow("include-matching-nothing")
            << true << QStringList { "10.9.9.9" } << 0 << ", 过滤列表滤掉 4 行";
    QTest::newRow("include-matching-all") << true << QStringList { "192.168.0.1" } << 4 << "";
}

void TstCaptureFiles::titleCountsFramesAndRows()
{
    QFETCH(bool, ipsOn);
    QFETCH(QStringList, ips);
    QFETCH(int, rows);
    QFETCH(QString, refused);
    const auto restore = qScopeGuard([saved = g_filter_settings] { g_filter_settings = saved; });
    g_filter_settings = FilterSettings();
    g_filter_settings.include_ip_enabled = ipsOn;
    g_filter_settings.include_ips = ips;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("http.pcap"));
    const QVector<QByteArray> frames = sample_frames();
    QVERIFY(write_capture(path, DLT_EN10MB, frames));

    MainWindow window;
    QVERIFY(open_and_wait(window, path));
    QCOMPARE(table_of(window)->rowCount(), rows);
    QCOMPARE(window.windowTitle(),
             QStringLiteral("http.pcap: %1 帧, 显示 %2 行").arg(frames.size()).arg(rows) + refused);
    // Read as a capture, the stopped window says as much.
    window.findChild<QComboBox*>(QStringLiteral("comboBox"))->addItem(QStringLiteral("file"));
    g_adapter_names.append(QStringLiteral("file://") + path);
    QVERIFY(window.select_adapter(g_adapter_names.constLast()));
    window.start_capture();
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QCOMPARE(window.windowTitle(),
             refused.isEmpty() ? QStringLiteral("停止捕获")
                               : QStringLiteral("停止捕获 (过滤列表滤掉了 %1 行)").arg(4 - rows));
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
    QVERIFY(write_capture(original, DLT_EN10MB, sample_frames() + sample_frames(), 1700000000));
    QVERIFY(open_and_wait(window, original)); // eight rows
    const QStringList rows = rows_of(window);
    QCOMPARE(rows.size(), 8);

    const QString saved = dir.filePath(QStringLiteral("saved.pcap"));
    QVERIFY(window.save_capture_file(saved));
    // Done, and where.
    QCOMPARE(window.statusBar()->currentMessage(),
             QStringLiteral("已保存 8 个数据包到 %1").arg(saved));

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

void TstCaptureFiles::saveKeepsNanoseconds_data()
{
    QTest::addColumn<QStringList>("sources"); // nano or micro, pcap or pcapng
    QTest::addColumn<std::uint32_t>("magic"); // of the saved file

    QTest::newRow("nanosecond-pcap") << QStringList { QStringLiteral("nano.pcap") } << 0xa1b23c4du;
    QTest::newRow("nanosecond-pcapng")
            << QStringList { QStringLiteral("nano.pcapng") } << 0xa1b23c4du;
    QTest::newRow("microsecond-pcap")
            << QStringList { QStringLiteral("micro.pcap") } << 0xa1b2c3d4u;
    QTest::newRow("microsecond-pcapng")
            << QStringList { QStringLiteral("micro.pcapng") } << 0xa1b2c3d4u;
    QTest::newRow("micro-then-nano")
            << QStringList { QStringLiteral("micro.pcap"), QStringLiteral("nano.pcapng") }
            << 0xa1b23c4du;
}

// What a file's timestamps hold is what the saved file holds: tshark reads
// the same times from the sources as from the save.
void TstCaptureFiles::saveKeepsNanoseconds()
{
    QFETCH(QStringList, sources);
    QFETCH(std::uint32_t, magic);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QVector<QPair<long, long>> times
            = { { 1700000000, 924505488 }, { 1700000001, 1 }, { 1700000002, 999999999 } };
    for (const QString& kind : { QStringLiteral("nano"), QStringLiteral("micro") }) {
        const QString pcap = dir.filePath(kind + QStringLiteral(".pcap"));
        QVERIFY(write_timed_capture(pcap,
                                    kind == QLatin1String("nano") ? PCAP_TSTAMP_PRECISION_NANO
                                                                  : PCAP_TSTAMP_PRECISION_MICRO,
                                    times));
        if (!run(QStringLiteral("editcap"),
                 { QStringLiteral("-F"), QStringLiteral("pcapng"), pcap,
                   pcap + QStringLiteral("ng") }))
            QSKIP("editcap could not write pcapng");
    }
    const auto epochs = [](const QString& path) {
        QByteArray out;
        run(QStringLiteral("tshark"),
            { QStringLiteral("-r"), path, QStringLiteral("-T"), QStringLiteral("fields"),
              QStringLiteral("-e"), QStringLiteral("frame.time_epoch") },
            &out);
        return out;
    };

    // Rows of both precisions in one table: a file opened, then another
    // read as a capture, which adds to the rows.
    MainWindow window;
    QByteArray expected;
    for (const QString& source : sources) {
        if (expected.isEmpty()) {
            QVERIFY(open_and_wait(window, dir.filePath(source)));
        } else {
            window.findChild<QComboBox*>(QStringLiteral("comboBox"))->addItem(source);
            g_adapter_names.append(QStringLiteral("file://") + dir.filePath(source));
            QVERIFY(window.select_adapter(g_adapter_names.constLast()));
            window.start_capture();
            QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
        }
        expected += epochs(dir.filePath(source));
    }
    QVERIFY(expected.contains(magic == 0xa1b23c4du ? ".924505488" : ".924505000"));
    const QString saved = dir.filePath(QStringLiteral("saved.pcap"));
    QVERIFY(window.save_capture_file(saved));
    QCOMPARE(epochs(saved), expected);
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    std::uint32_t first = 0;
    QCOMPARE(file.read(reinterpret_cast<char*>(&first), 4), qint64(4));
    QCOMPARE(first, magic);
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

// "清空" while a file is read: the rows queued before it go with their
// frames; every row after it has its frame, the file's last ones in order,
// and a save holds exactly the rows shown. (That rows read after the clear
// all come is tested with a small backlog in app.packetrows.)
void TstCaptureFiles::clearWhileReading()
{
    constexpr int kFrames = 30000;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = dir.filePath(QStringLiteral("many.pcap"));
    QVector<QByteArray> frames;
    frames.reserve(kFrames);
    for (int i = 0; i < kFrames; ++i) {
        Ipv4Packet p;
        p.payload = QByteArray::number(i).rightJustified(8, '0');
        frames.append(ethernet(ipv4(p)));
    }
    QVERIFY(write_capture(original, DLT_EN10MB, frames));

    MainWindow window;
    QVERIFY(window.open_capture_file(original));
    QTRY_VERIFY(table_of(window)->rowCount() > 0);
    QVERIFY2(g_capture_thread != nullptr, "the file was read before the clear");
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 60000);

    const QTableWidget* table = table_of(window);
    const PacketRows* rows = PacketRows::of(table);
    const int shown = table->rowCount();
    QVERIFY(shown < kFrames);
    for (int row = 0; row < shown; ++row) {
        QVERIFY2(rows->frame(row).has_value(), qPrintable(QString::number(row)));
        const QByteArray payload = QByteArray::fromHex(table->item(row, 7)->text().toLatin1());
        QCOMPARE(payload.toInt(), kFrames - shown + row);
    }
    const QString saved = dir.filePath(QStringLiteral("saved.pcap"));
    QVERIFY(window.save_capture_file(saved));
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* reader = pcap_open_offline(QFile::encodeName(saved).constData(), errbuf);
    QVERIFY2(reader != nullptr, errbuf);
    int in_file = 0;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(reader, &header, &data) == 1)
        ++in_file;
    pcap_close(reader);
    QCOMPARE(in_file, shown);
}

// Without a folder for the frames, the rows of a file still show, the window
// says why their payloads are gone, and a save fails instead of writing a
// file without them.
void TstCaptureFiles::refusedStoreSavesNothing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString original = dir.filePath(QStringLiteral("in.pcap"));
    QVERIFY(write_capture(original, DLT_EN10MB, sample_frames()));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkdir(runtime));
    QVERIFY(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                   | QFile::ReadGroup | QFile::ExeGroup));
    const QByteArray saved_runtime = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([saved_runtime] { qputenv("XDG_RUNTIME_DIR", saved_runtime); });
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("mode 0?750")));
    MainWindow window;
    QVERIFY(window.statusBar()->currentMessage().contains(runtime));
    QVERIFY(open_and_wait(window, original));
    QVERIFY(table_of(window)->rowCount() > 0);

    const QString target = dir.filePath(QStringLiteral("out.pcap"));
    MessageBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QVERIFY(!window.save_capture_file(target));
    QTRY_COMPARE(catcher.texts.size(), 1);
    QVERIFY2(catcher.texts.first().startsWith(QStringLiteral("保存文件失败")),
             qPrintable(catcher.texts.first()));
    QVERIFY(!QFileInfo::exists(target));
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
    // The file again, read as a capture: one that adds to the rows.
    window.findChild<QComboBox*>(QStringLiteral("comboBox"))->addItem(QStringLiteral("file"));
    g_adapter_names.append(QStringLiteral("file://") + path);
    QVERIFY(window.select_adapter(g_adapter_names.constLast()));
    window.start_capture();
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, nullptr, 10000);
    QTRY_COMPARE(catcher.texts.size(), 1);
    QVERIFY2(catcher.texts.first().contains(message)
                     && catcher.texts.first().contains(QStringLiteral("4 行")),
             qPrintable(catcher.texts.first()));
    // Stopped before its first frame: no row added.
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
