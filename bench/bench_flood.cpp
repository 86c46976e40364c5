// SPDX-License-Identifier: GPL-2.0-or-later

// The window under an endless stream as fast as a pipe carries it: a
// "remote" tcpdump (a script in the PATH of the benchmark's own OpenSSH
// server, tests/common/testsshserver.h) that writes 60-byte frames without
// end. Measures, for 10 s of capture, how late the interface thread answers
// (a 10 ms timer's lateness), the rows it takes in, the memory the process
// grows by, and how long "停止" takes to show the stopped state; then, with
// a memory floor set 1.5 GiB below what is free, how far the process grows
// past that headroom before the capture stops by itself.
//
//   bench_flood [seconds]     default 10
//
// Needs root, sshd and ssh; without them prints why and ends with status 0.
// A watchdog thread stops the capture (its stop flag) at the deadline even
// when the event loop does not come round, and when the process grows past
// 6 GiB.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include <pcap/pcap.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include "benchlateness.h"
#include "benchreport.h"
#include "cupdate.h"
#include "mainwindow.h"
#include "resourcefloors.h"
#include "testframes.h"
#include "testsshserver.h"

namespace {

constexpr int kChunkFrames = 100000;
constexpr qint64 kHeadroomBytes = qint64(1536) << 20;
constexpr qint64 kWatchdogBytes = qint64(6) << 30;
constexpr int kFloorLimitS = 120;

// The stream: a pcap file of 60-byte TCP frames whose records the script
// repeats for ever after its header.
bool write_stream(const QString& folder)
{
    const QString frames = folder + QStringLiteral("/frames.pcap");
    QVector<QByteArray> records;
    for (int i = 0; i < kChunkFrames; ++i) {
        testframes::Ipv4Packet p;
        p.src_port = static_cast<std::uint16_t>(1024 + i % 50000);
        p.payload = QByteArray(6, 'f');
        records.append(testframes::ethernet(testframes::ipv4(p)));
    }
    if (!testframes::write_capture(frames, DLT_EN10MB, records, 1700000000))
        return false;
    QFile script(folder + QStringLiteral("/tcpdump"));
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write("#!/bin/sh\n"
                 "[ \"$1\" = --help ] && exit 0\n"
                 "head -c 24 '"
                 + QFile::encodeName(frames)
                 + "' || exit 1\n"
                   "while :; do tail -c +25 '"
                 + QFile::encodeName(frames) + "' || exit 0; done\n");
    script.close();
    return script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

bool wait_until(const std::function<bool()>& done, int limit_ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= limit_ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Stops the capture from another thread at the deadline, or once the
// process has grown past kWatchdogBytes.
class Watchdog
{
public:
    Watchdog(CUpdate* capture, int seconds)
        : m_thread([this, capture, seconds] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
            while (!m_done.load() && std::chrono::steady_clock::now() < deadline
                   && bench::residentBytes() < kWatchdogBytes)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (!m_done.load()) {
                m_fired = true;
                capture->stop_flag = true;
            }
        })
    { }
    ~Watchdog()
    {
        m_done = true;
        m_thread.join();
    }
    bool fired() const { return m_fired.load(); }

private:
    std::atomic<bool> m_done { false };
    std::atomic<bool> m_fired { false };
    std::thread m_thread;
};

struct Run
{
    double p99_ms = 0;
    double worst_ms = 0;
    int rows = 0;
    double seconds = 0;
    double grown_mib = 0;
    double stopped_after_s = -1; // from the stop to the stopped state
    bool watchdog = false;
};

Run flood(MainWindow& window, QTableWidget& table, QPushButton& stop, int seconds)
{
    Run run;
    const qint64 before = bench::residentBytes();
    QElapsedTimer clock;
    clock.start();
    window.start_capture();
    CUpdate* capture = g_capture_thread;
    if (capture == nullptr)
        return run;
    bench::Lateness lateness;
    lateness.start();
    {
        Watchdog watchdog(capture, seconds + 5);
        // The stop button at the deadline, as a person would press it.
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, &stop, [&stop, &run, &clock] {
            run.seconds = clock.nsecsElapsed() / 1e9;
            stop.click();
        });
        deadline.start(seconds * 1000);
        QElapsedTimer since_stop;
        wait_until(
                [&] {
                    if (run.seconds > 0 && !since_stop.isValid())
                        since_stop.start();
                    return g_capture_thread == nullptr;
                },
                (seconds + 600) * 1000);
        run.watchdog = watchdog.fired();
        if (since_stop.isValid())
            run.stopped_after_s = since_stop.nsecsElapsed() / 1e9;
    }
    lateness.stop();
    run.p99_ms = lateness.percentile_ms(99);
    run.worst_ms = lateness.worst_ms();
    run.rows = table.rowCount();
    run.grown_mib = (bench::residentBytes() - before) / 1048576.0;
    return run;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("tarnlook.*.debug=false"));
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const QString why = TestSshServer::unavailable();
    if (!why.isEmpty()) {
        std::printf("Endless stream: skipped, %s\n", qPrintable(why));
        return 0;
    }
    QTemporaryDir folder;
    if (!folder.isValid() || !write_stream(folder.path())) {
        std::printf("Endless stream: skipped, cannot write the stream's files\n");
        return 1;
    }
    TestSshServer server(
            QStringLiteral("environment=\"PATH=%1:/usr/bin:/bin\"").arg(folder.path()));
    if (!server.running()) {
        std::printf("Endless stream: skipped, the ssh server did not start\n");
        return 0;
    }
    const QString source = QStringLiteral("ssh://root@127.0.0.1:%1/lo").arg(server.port());

    MainWindow window;
    window.show();
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    auto* stop = window.findChild<QPushButton*>(QStringLiteral("pushButton_7"));
    auto* clear = window.findChild<QPushButton*>(QStringLiteral("pushButton"));
    if (table == nullptr || stop == nullptr || clear == nullptr || !window.select_adapter(source)) {
        std::printf("Endless stream: skipped, no main window controls\n");
        return 1;
    }
    // A message box (the floor's) is read and closed.
    QString box_text;
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&box_text] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box_text = box->text();
            box->accept();
        }
    });
    boxes.start(50);

    const QString load_before = bench::loadAverage();
    const Run run = flood(window, *table, *stop, seconds);
    const QString load_after = bench::loadAverage();
    bench::Table figures({ QStringLiteral("s"), QStringLiteral("rows"), QStringLiteral("rows/s"),
                           QStringLiteral("lateness p99 ms"), QStringLiteral("lateness worst ms"),
                           QStringLiteral("process grew MiB"), QStringLiteral("stop to stopped s"),
                           QStringLiteral("load before / after") });
    figures.add({ bench::number(run.seconds, 1), QString::number(run.rows),
                  bench::number(run.seconds > 0 ? run.rows / run.seconds : 0),
                  bench::number(run.p99_ms, 1), bench::number(run.worst_ms, 1),
                  bench::number(run.grown_mib, 0),
                  bench::number(run.stopped_after_s, 2)
                          + (run.watchdog ? QStringLiteral(" (watchdog)") : QString()),
                  load_before + QStringLiteral(" / ") + load_after });
    figures.print(
            QStringLiteral("An endless stream of 60-byte frames through ssh, %1 s").arg(seconds));

    // The floor: the capture must stop by itself once the process has taken
    // about the headroom.
    clear->click();
    QApplication::processEvents();
    const std::optional<std::int64_t> free_now = available_memory();
    if (!free_now) {
        std::printf("Memory floor: skipped, available memory unknown\n");
        return 0;
    }
    g_resource_floors.memory_bytes = *free_now - kHeadroomBytes;
    box_text.clear();
    const qint64 before = bench::residentBytes();
    const QString floor_load = bench::loadAverage();
    window.start_capture();
    CUpdate* capture = g_capture_thread;
    std::int64_t free_at_end = -1;
    bool watchdog = false;
    if (capture != nullptr) {
        Watchdog guard(capture, kFloorLimitS);
        wait_until([] { return g_capture_thread == nullptr; }, (kFloorLimitS + 600) * 1000);
        watchdog = guard.fired();
        free_at_end = available_memory().value_or(-1);
    }
    const double grown = (bench::residentBytes() - before) / 1048576.0;
    bench::Table floor({ QStringLiteral("headroom MiB"), QStringLiteral("process grew MiB"),
                         QStringLiteral("past the headroom MiB"),
                         QStringLiteral("free at the end vs floor MiB"), QStringLiteral("rows"),
                         QStringLiteral("stopped by"), QStringLiteral("load") });
    floor.add({ bench::number(kHeadroomBytes / 1048576.0, 0), bench::number(grown, 0),
                bench::number(grown - kHeadroomBytes / 1048576.0, 0),
                bench::number((free_at_end - g_resource_floors.memory_bytes) / 1048576.0, 0),
                QString::number(table->rowCount()),
                watchdog ? QStringLiteral("watchdog")
                         : (box_text.isEmpty() ? QStringLiteral("?") : QStringLiteral("floor")),
                floor_load });
    floor.print(QStringLiteral("Memory floor set %1 MiB below the free memory, same stream")
                        .arg(kHeadroomBytes / 1048576));
    std::printf("Free memory is the system's (MemAvailable, or the cgroup's room): other "
                "processes on the machine move it too.\n\n");
    std::fflush(stdout);
    return 0;
}
