// SPDX-License-Identifier: GPL-2.0-or-later

// The capture store under load: rows whose payload stays on disk, against
// rows that keep their whole record line (how every row was kept before the
// store). Each case runs in a process of its own so that its memory is its
// own; the machine's load (uptime) is printed next to every timing, since
// the machine may be shared.
//
//   bench_store [rows]                  default 1000000, all tables
//   bench_store --file [rows]           the file against tcpdump -w only
//   bench_store --case MODE PAYLOAD ROWS  one case, one line of figures
//   bench_store --decode FILE           decode and store FILE, no window
//   bench_store --write FILE [ROWS]     write the benchmark's file (default
//                                       1000000 frames of 100 B), for a
//                                       profiler's run of --decode
//   bench_store --click PAYLOAD         a click on one row's hex cell
//
// TARNLOOK_BENCH_BASELINE=PATH: the bench_store of another build (the code
// before a change), whose decoding and stored-frame rows are measured in
// turn with this build's, in the same run.
//
// MODE "stored": the rows come from a capture file opened in the window
// (decode, filter, store, table); "lines": the same record lines are handed
// to show_data_UI without a stored frame.

#include <cstdio>
#include <ctime>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include <pcap/pcap.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "benchreport.h"
#include "capturestore.h"
#include "cupdate.h"
#include "mainwindow.h"
#include "memoryrelease.h"
#include "testframes.h"

namespace {

QString load()
{
    return bench::loadAverage();
}

// CPU seconds this thread has used: what a step costs whatever the load.
double threadSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// A capture file of `rows` TCP frames of `payload` bytes each.
bool writeFile(const QString& path, int payload, int rows)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* dumper = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (dumper == nullptr)
        return false;
    for (int i = 0; i < rows; ++i) {
        testframes::Ipv4Packet p;
        p.src_port = static_cast<std::uint16_t>(1024 + i % 60000);
        p.payload = QByteArray(payload, static_cast<char>('a' + i % 26));
        const QByteArray frame = testframes::ethernet(testframes::ipv4(p));
        const pcap_pkthdr header = testframes::header_for(frame, 1700000000 + i / 1000);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header,
                  reinterpret_cast<const u_char*>(frame.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

// Prints "rows/s bytes-per-row clear-s quit-s load save-s rows MiB-returned
// clear-cpu-s quit-cpu-s released-s": released-s is when the release thread
// has given back the cleared rows' memory.
int runCase(const QString& mode, int payload, int rows)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("in.pcap"));
    if (!writeFile(path, payload, rows))
        return 1;
    QStringList lines; // for "lines": the record lines a capture makes
    if (mode == QLatin1String("lines")) {
        CUpdate decoder { FilterSettings {} };
        QObject::connect(
                &decoder, &CUpdate::send_update, &decoder,
                [&lines](const QString& line) { lines.append(line); }, Qt::DirectConnection);
        decoder.adapter_name = QStringLiteral("file://") + path;
        decoder.start();
        decoder.wait();
    }

    auto* window = new MainWindow; // deleted below, timed
    window->show();
    QApplication::processEvents();
    const qint64 before = bench::residentBytes();
    QElapsedTimer timer;
    timer.start();
    if (mode == QLatin1String("stored")) {
        window->open_capture_file(path);
        while (g_capture_thread != nullptr)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } else {
        for (int i = 0; i < lines.size(); ++i) {
            window->show_data_UI(lines.at(i));
            if (i % 256 == 255)
                QApplication::processEvents();
        }
    }
    QApplication::processEvents();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const QStringList kept = lines; // the lines stay out of the figures above
    lines.clear();
    const qint64 after = bench::residentBytes();
    auto* table = window->findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    const int shown = table->rowCount();

    double save = -1;
    if (mode == QLatin1String("stored")) {
        timer.restart();
        if (window->save_capture_file(dir.filePath(QStringLiteral("out.pcap"))))
            save = timer.nsecsElapsed() / 1e9;
    }

    timer.restart();
    double cpu = threadSeconds();
    window->findChild<QPushButton*>(QStringLiteral("pushButton"))->click();
    QApplication::processEvents();
    const double clear = timer.nsecsElapsed() / 1e9;
    const double clearCpu = threadSeconds() - cpu;
    // What the release thread gives back after the table is empty.
    memory_release::wait_idle();
    const double released = timer.nsecsElapsed() / 1e9;
    const qint64 cleared = bench::residentBytes();

    // Quitting: the same rows again, then the window's end.
    if (mode == QLatin1String("stored")) {
        window->open_capture_file(path);
        while (g_capture_thread != nullptr)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } else {
        for (int i = 0; i < kept.size(); ++i)
            window->show_data_UI(kept.at(i));
    }
    // As the program quits: main() leaves the table to the process's end.
    timer.restart();
    cpu = threadSeconds();
    window->close();
    window->end_with_process();
    delete window;
    const double quit = timer.nsecsElapsed() / 1e9;
    const double quitCpu = threadSeconds() - cpu;

    std::printf("%.1f %.1f %.3f %.3f %s %.3f %d %.1f %.3f %.3f %.3f\n", shown / seconds,
                double(after - before) / qMax(1, shown), clear, quit, qPrintable(load()), save,
                shown, double(after - cleared) / (1 << 20), clearCpu, quitCpu, released);
    return 0;
}

// Runs of each contestant on a file, and the core they all run on: the last.
constexpr int kFileRuns = 9;
const QString kBenchCore = QString::number(std::max(1, QThread::idealThreadCount()) - 1);

// Decode and store on the capture thread alone, no window: frames/s. The
// rows are handed over in batches as to the window, and taken on the
// capture thread itself as they come.
// User and system seconds of this process (who: RUSAGE_SELF) or of its
// children that have ended (RUSAGE_CHILDREN).
struct CpuSeconds
{
    double user = 0;
    double system = 0;
};

CpuSeconds cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return { usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
             usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6 };
}

double decodeAndStore(const QString& path, int* lines, CpuSeconds* cpu)
{
    QTemporaryDir dir;
    CaptureStore store(dir.path());
    CUpdate capture { FilterSettings {} };
    capture.store = &store;
    int count = 0;
    QObject::connect(
            &capture, &CUpdate::batch_ready, &capture,
            [&count, &capture] {
                while (const std::optional<CaptureBatch> batch = capture.take_batch())
                    count += static_cast<int>(batch->rows.size());
            },
            Qt::DirectConnection);
    capture.adapter_name = QStringLiteral("file://") + path;
    QElapsedTimer timer;
    // This thread only waits meanwhile: the process's time is the capture
    // thread's.
    const CpuSeconds before = cpuSeconds(RUSAGE_SELF);
    timer.start();
    capture.start();
    capture.wait();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const CpuSeconds after = cpuSeconds(RUSAGE_SELF);
    *lines = count;
    *cpu = { after.user - before.user, after.system - before.system };
    return seconds;
}

// A click on the hex cell of a row with a payload of `size` bytes: seconds
// until the payload views show it.
double clickTime(int size)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("one.pcap"));
    if (!writeFile(path, size, 1))
        return -1;
    MainWindow window;
    window.show();
    window.open_capture_file(path);
    while (g_capture_thread != nullptr)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    const QRect cell = table->visualRect(table->model()->index(0, 7));
    QElapsedTimer timer;
    timer.start();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QApplication::processEvents(); // the views lay out and paint
    window.repaint();
    return timer.nsecsElapsed() / 1e9;
}

QStringList runChild(const QString& self, const QStringList& arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self, arguments);
    child.waitForFinished(-1);
    return QString::fromLatin1(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
}

// Wall and processor seconds of one run.
struct RunTime
{
    double wall = 0;
    CpuSeconds cpu;
};

// The capture thread's seconds for decoding and storing `path`, in a process
// of `program` (a bench_store) of its own, on the bench core.
RunTime decodeSeconds(const QString& program, const QString& path)
{
    // "N lines in S s, user U s, system Y s"
    const QStringList f = runChild(
            QStringLiteral("taskset"),
            { QStringLiteral("-c"), kBenchCore, program, QStringLiteral("--decode"), path });
    return { f.value(3).toDouble(), { f.value(6).toDouble(), f.value(9).toDouble() } };
}

// A whole process's wall and processor seconds.
RunTime commandSeconds(const QString& program, const QStringList& arguments)
{
    const CpuSeconds before = cpuSeconds(RUSAGE_CHILDREN);
    const double wall = bench::timeCommand(program, arguments);
    const CpuSeconds after = cpuSeconds(RUSAGE_CHILDREN);
    return { wall, { after.user - before.user, after.system - before.system } };
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--decode")) {
        int lines = 0;
        CpuSeconds cpu;
        const double seconds = decodeAndStore(args.at(2), &lines, &cpu);
        std::printf("%d lines in %.3f s, user %.3f s, system %.3f s\n", lines, seconds, cpu.user,
                    cpu.system);
        return 0;
    }
    if (args.size() >= 3 && args.at(1) == QLatin1String("--write"))
        return writeFile(args.at(2), 100, args.size() > 3 ? args.at(3).toInt() : 1000000) ? 0 : 1;
    if (args.size() == 3 && args.at(1) == QLatin1String("--click")) {
        std::printf("%.1f ms\n", clickTime(args.at(2).toInt()) * 1000);
        return 0;
    }
    if (args.size() == 5 && args.at(1) == QLatin1String("--case"))
        return runCase(args.at(2), args.at(3).toInt(), args.at(4).toInt());

    // "--file": the file's road against the peer tools only.
    QStringList rest = args.mid(1);
    const bool fileOnly = rest.removeAll(QStringLiteral("--file")) > 0;
    const int rows = !rest.isEmpty() ? rest.at(0).toInt() : 1000000;
    // Another build's bench_store, measured in turn with this one: "before".
    const QString baseline = qEnvironmentVariable("TARNLOOK_BENCH_BASELINE");

    // The road of a file, against the peer tools on the same file.
    {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.pcap"));
        writeFile(in, 100, rows);
        const QString out = dir.filePath(QStringLiteral("out.pcap"));
        bench::Table peers({ QStringLiteral("what"), QStringLiteral("s"),
                             QStringLiteral("frames/s"), QStringLiteral("user s"),
                             QStringLiteral("system s"), QStringLiteral("against tcpdump -w"),
                             QStringLiteral("load") });
        // Each on the same single core, in turn, after the previous run's
        // writes have reached the disk: the median of kFileRuns runs each.
        const auto settle = [] {
            ::sync();
            QThread::sleep(1);
        };
        std::vector<RunTime> ours;
        std::vector<RunTime> base;
        std::vector<RunTime> dump;
        for (int run = 0; run < kFileRuns; ++run) {
            settle();
            ours.push_back(decodeSeconds(app.applicationFilePath(), in));
            if (!baseline.isEmpty()) {
                settle();
                base.push_back(decodeSeconds(baseline, in));
            }
            settle();
            dump.push_back(
                    commandSeconds(QStringLiteral("taskset"),
                                   { QStringLiteral("-c"), kBenchCore, QStringLiteral("tcpdump"),
                                     QStringLiteral("-r"), in, QStringLiteral("-w"), out }));
            QFile::remove(out);
        }
        const auto median = [](const std::vector<RunTime>& runs, double RunTime::*wall,
                               double CpuSeconds::*part) {
            std::vector<double> values;
            for (const RunTime& run : runs)
                values.push_back(part != nullptr ? run.cpu.*part : run.*wall);
            return bench::median(values);
        };
        const double dumpSeconds = median(dump, &RunTime::wall, nullptr);
        const auto add = [&](const QString& what, const std::vector<RunTime>& runs) {
            const double seconds = median(runs, &RunTime::wall, nullptr);
            peers.add({ what, QString::number(seconds, 'f', 3),
                        QString::number(rows / seconds, 'f', 0),
                        QString::number(median(runs, nullptr, &CpuSeconds::user), 'f', 3),
                        QString::number(median(runs, nullptr, &CpuSeconds::system), 'f', 3),
                        QStringLiteral("%1×").arg(dumpSeconds / seconds, 0, 'f', 2), load() });
        };
        if (!baseline.isEmpty())
            add(QStringLiteral("Tarnlook before: decode, filter and store (capture thread)"), base);
        add(QStringLiteral("Tarnlook: decode, filter and store (capture thread, no window)"), ours);
        add(QStringLiteral("tcpdump -r FILE -w OUT (whole process)"), dump);
        if (fileOnly) {
            peers.print(QStringLiteral("A file of %1 frames of 100 payload bytes, one core each "
                                       "(median of %2 runs on core %3)")
                                .arg(rows)
                                .arg(kFileRuns)
                                .arg(kBenchCore));
            return 0;
        }
        const double nn = bench::timeCommand(QStringLiteral("tcpdump"),
                                             { QStringLiteral("-r"), in, QStringLiteral("-nn") });
        peers.add({ QStringLiteral("tcpdump -r FILE -nn"), QString::number(nn, 'f', 2),
                    QString::number(rows / nn, 'f', 0), QString(), QString(), QString(), load() });
        const double fields = bench::timeCommand(
                QStringLiteral("tshark"),
                { QStringLiteral("-r"), in, QStringLiteral("-T"), QStringLiteral("fields"),
                  QStringLiteral("-e"), QStringLiteral("frame.time"), QStringLiteral("-e"),
                  QStringLiteral("ip.src"), QStringLiteral("-e"), QStringLiteral("tcp.srcport"),
                  QStringLiteral("-e"), QStringLiteral("ip.dst"), QStringLiteral("-e"),
                  QStringLiteral("tcp.dstport"), QStringLiteral("-e"), QStringLiteral("tcp.len") });
        peers.add({ QStringLiteral("tshark -r FILE -T fields (6 fields)"),
                    QString::number(fields, 'f', 2), QString::number(rows / fields, 'f', 0),
                    QString(), QString(), QString(), load() });
        peers.print(QStringLiteral("A file of %1 frames of 100 payload bytes, one core each "
                                   "(Tarnlook and tcpdump -w: median of %2 runs on core %3)")
                            .arg(rows)
                            .arg(kFileRuns)
                            .arg(kBenchCore));
    }
    {
        bench::Table clicks({ QStringLiteral("payload"), QStringLiteral("click to shown, ms"),
                              QStringLiteral("load") });
        for (const int size : { 1448, 32768, 62491 })
            clicks.add({ QStringLiteral("%1 B").arg(size),
                         QString::number(clickTime(size) * 1000, 'f', 1), load() });
        clicks.print(QStringLiteral("A click on the hex cell of one row"));
    }

    bench::Table table({ QStringLiteral("rows kept as"), QStringLiteral("payload"),
                         QStringLiteral("rows"), QStringLiteral("rows/s"),
                         QStringLiteral("RAM bytes/row"), QStringLiteral("clear s (CPU s)"),
                         QStringLiteral("MiB returned by clear (done after s)"),
                         QStringLiteral("quit s (CPU s)"), QStringLiteral("save s"),
                         QStringLiteral("load at end") });
    for (const int payload : { 0, 100, 1448 }) {
        struct Kind
        {
            QString program;
            QString mode;
            QString label;
        };
        std::vector<Kind> kinds { { app.applicationFilePath(), QStringLiteral("lines"),
                                    QStringLiteral("whole line (old way)") } };
        if (!baseline.isEmpty())
            kinds.push_back({ baseline, QStringLiteral("stored"),
                              QStringLiteral("stored frame (before)") });
        kinds.push_back({ app.applicationFilePath(), QStringLiteral("stored"),
                          QStringLiteral("stored frame (now)") });
        for (const Kind& kind : kinds) {
            const QStringList f = runChild(kind.program,
                                           { QStringLiteral("--case"), kind.mode,
                                             QString::number(payload), QString::number(rows) });
            if (f.size() < 10)
                continue;
            // A build from before the release thread gives no time for it.
            const QString released = f.size() > 10 ? f.at(10) : QStringLiteral("—");
            table.add({ kind.label, QStringLiteral("%1 B").arg(payload), f.at(6), f.at(0), f.at(1),
                        QStringLiteral("%1 (%2)").arg(f.at(2), f.at(8)),
                        QStringLiteral("%1 (%2)").arg(f.at(7), released),
                        QStringLiteral("%1 (%2)").arg(f.at(3), f.at(9)),
                        f.at(5) == QLatin1String("-1.000") ? QStringLiteral("—") : f.at(5),
                        f.at(4) });
        }
    }
    table.print(
            QStringLiteral("Rows and the capture store: %1 frames opened from a file, window shown")
                    .arg(rows));
    return 0;
}
