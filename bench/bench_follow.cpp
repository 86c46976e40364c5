// SPDX-License-Identifier: GPL-2.0-or-later

// Following a TCP stream from a row: a 1 GiB stream (about 750,000
// segments of 1448 bytes) among 1,000,000 rows, opened from a capture file
// in the window. Times the follow up to the first paint of its window, the
// follow of a small stream among the same rows, and the memory the big
// stream's window takes (with the heaps trimmed before and after);
// tshark's follow of the same stream for comparison. The machine's load
// is printed next to every timing.
//
// With --hostile, a capture made to hold the reassembly up: after a SYN,
// 30,000 one-byte segments at every other sequence number after the first
// (which never comes), then frames without payload whose IPv4 total length
// claims 65,535 bytes from the first of those on, each spanning every byte
// that waits; `frames` in all. Times the follow of row 0 to the first paint, and
// tshark's follow of the same file.
//
//   bench_follow [segments] [other rows]   default 750000 and 250000;
//   bench_follow --hostile [frames]        default 1000000;
//   TARNLOOK_BENCH_RUNS follows (3), TARNLOOK_BENCH_TSHARK_SECONDS for
//   tshark at most (900)

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <malloc.h>
#include <pcap/pcap.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "benchreport.h"
#include "cupdate.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "memoryrelease.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "testframes.h"

namespace {

constexpr int kSegment = 1448;
constexpr int kTsharkLimit = 900; // seconds
constexpr int kHostileBytes = 30000; // one-byte segments of the hostile capture

// Writes frames to a capture file, a microsecond apart.
class Dumper
{
public:
    explicit Dumper(const QString& path)
        : m_dead(pcap_open_dead(DLT_EN10MB, 65536))
        , m_dumper(pcap_dump_open(m_dead, QFile::encodeName(path).constData()))
    {
        m_header.ts.tv_sec = 1700000000;
    }
    ~Dumper()
    {
        if (m_dumper != nullptr)
            pcap_dump_close(m_dumper);
        pcap_close(m_dead);
    }
    Dumper(const Dumper&) = delete;
    Dumper& operator=(const Dumper&) = delete;

    bool isOpen() const { return m_dumper != nullptr; }
    void dump(const QByteArray& frame)
    {
        m_header.caplen = m_header.len = static_cast<bpf_u_int32>(frame.size());
        ++m_header.ts.tv_usec;
        if (m_header.ts.tv_usec >= 1000000) {
            m_header.ts.tv_usec = 0;
            ++m_header.ts.tv_sec;
        }
        pcap_dump(reinterpret_cast<u_char*>(m_dumper), &m_header,
                  reinterpret_cast<const u_char*>(frame.constData()));
    }

private:
    pcap_t* m_dead;
    pcap_dumper_t* m_dumper;
    pcap_pkthdr m_header {};
};

testframes::Ipv4Packet loopback_packet()
{
    testframes::Ipv4Packet p;
    p.src[0] = p.dst[0] = 127;
    p.src[3] = p.dst[3] = 1;
    p.src[1] = p.src[2] = p.dst[1] = p.dst[2] = 0;
    p.src_port = 40000;
    p.dst_port = 8080;
    return p;
}

// The hostile capture of the header comment, `frames` frames in all.
bool write_hostile_file(const QString& path, int frames)
{
    Dumper dumper(path);
    if (!dumper.isOpen())
        return false;
    constexpr std::uint32_t kIsn = 1000;
    testframes::Ipv4Packet p = loopback_packet();
    p.seq = kIsn;
    p.tcp_flags = 0x02;
    dumper.dump(testframes::ethernet(testframes::ipv4(p)));
    p.tcp_flags = 0x18;
    p.payload = QByteArray(1, 'b');
    for (int i = 0; i < kHostileBytes && i + 1 < frames; ++i) {
        p.seq = kIsn + 2 + 2 * static_cast<std::uint32_t>(i);
        dumper.dump(testframes::ethernet(testframes::ipv4(p)));
    }
    p.tcp_flags = 0x10;
    p.payload.clear();
    p.seq = kIsn + 2;
    p.total_length = 65535;
    const QByteArray empty = testframes::ethernet(testframes::ipv4(p));
    for (int i = kHostileBytes + 1; i < frames; ++i)
        dumper.dump(empty);
    return true;
}

// The big stream from 127.0.0.1:40000 to 127.0.0.1:8080, in order, after
// its SYN; every fourth row one of 250 small streams of 100-byte segments.
bool write_file(const QString& path, int segments, int others)
{
    Dumper dumper(path);
    if (!dumper.isOpen())
        return false;
    testframes::Ipv4Packet big = loopback_packet();
    big.seq = 1000;
    big.tcp_flags = 0x02;
    QByteArray syn = testframes::ethernet(testframes::ipv4(big));
    big.tcp_flags = 0x18;
    big.payload = QByteArray(kSegment, 'x');
    QByteArray data = testframes::ethernet(testframes::ipv4(big));
    const int seq_at = 14 + 20 + 4;
    testframes::Ipv4Packet small = big;
    small.payload = QByteArray(100, 'y');

    dumper.dump(syn);
    std::uint32_t seq = 1001;
    int other = 0;
    for (int i = 0; i < segments; ++i) {
        for (int k = 0; k < 4; ++k)
            data[seq_at + k] = static_cast<char>(seq >> (24 - 8 * k));
        dumper.dump(data);
        seq += kSegment;
        if (i % 3 == 2 && other < others) {
            small.src_port = static_cast<std::uint16_t>(20000 + other % 250);
            small.seq = static_cast<std::uint32_t>(other / 250) * 100;
            dumper.dump(testframes::ethernet(testframes::ipv4(small)));
            ++other;
        }
    }
    for (; other < others; ++other) {
        small.src_port = static_cast<std::uint16_t>(20000 + other % 250);
        small.seq = static_cast<std::uint32_t>(other / 250) * 100;
        dumper.dump(testframes::ethernet(testframes::ipv4(small)));
    }
    return true;
}

// The processor time of the whole process (the follow runs on a thread of
// its own), in seconds.
double process_cpu_seconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The resident set once what the program gives back later (the follow's
// leftovers) and every free page of the heaps were given back.
qint64 trimmed_resident_bytes()
{
    memory_release::wait_idle();
    malloc_trim(0);
    return bench::residentBytes();
}

// Opens the file in the window: false when that fails.
bool open_file(MainWindow& window, const QString& path)
{
    window.show();
    if (!window.open_capture_file(path)
        || !QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 3600 * 1000)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return false;
    }
    return true;
}

int run_hostile(int frames)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hostile.pcap"));
    if (!dir.isValid() || !write_hostile_file(path, frames)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    MainWindow window;
    if (!open_file(window, path))
        return 1;
    std::vector<double> times;
    std::vector<double> cpu;
    for (int run = 0; run < bench::runs(); ++run) {
        QElapsedTimer timer;
        timer.start();
        const double cpu_before = process_cpu_seconds();
        HexWindow* followed = window.follow_tcp_stream(0);
        if (followed == nullptr)
            return 1;
        (void)QTest::qWaitForWindowExposed(followed);
        followed->view()->viewport()->repaint();
        times.push_back(timer.nsecsElapsed() / 1e9);
        cpu.push_back(process_cpu_seconds() - cpu_before);
        const qint64 length = followed->view()->document()->length();
        delete followed;
        if (length != std::min(kHostileBytes, frames - 1)) {
            std::fprintf(stderr, "followed %lld bytes\n", static_cast<long long>(length));
            return 1;
        }
        std::fprintf(stderr, "hostile follow, run %d: %.3f s\n", run + 1, times.back());
    }
    const QString load = bench::loadAverage();
    const int tshark_limit = qEnvironmentVariableIsSet("TARNLOOK_BENCH_TSHARK_SECONDS")
            ? qEnvironmentVariableIntValue("TARNLOOK_BENCH_TSHARK_SECONDS")
            : kTsharkLimit;
    const double tshark
            = bench::timeCommand(QStringLiteral("tshark"),
                                 { QStringLiteral("-r"), path, QStringLiteral("-q"),
                                   QStringLiteral("-z"), QStringLiteral("follow,tcp,raw,0") },
                                 tshark_limit);
    bench::Table table(
            { QStringLiteral("measure"), QStringLiteral("figure"), QStringLiteral("load") });
    table.add({ QStringLiteral("follow row 0 of the hostile capture (%1 frames, %2 MiB), to the "
                               "first paint")
                        .arg(frames)
                        .arg(QFileInfo(path).size() >> 20),
                QStringLiteral("%1 s (processor time %2 s)")
                        .arg(bench::number(bench::median(times), 3),
                             bench::number(bench::median(cpu), 3)),
                load });
    table.add({ QStringLiteral("tshark -z follow,tcp,raw,0 of the same file"),
                tshark < 0 ? QStringLiteral("not done within %1 s").arg(tshark_limit)
                           : bench::number(tshark, 2) + QStringLiteral(" s"),
                bench::loadAverage() });
    table.print(QStringLiteral("Following a stream made to hold the reassembly up (medians of %1 "
                               "runs)")
                        .arg(bench::runs()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--hostile") == 0)
        return run_hostile(argc > 2 ? std::atoi(argv[2]) : 1000000);
    const int segments = argc > 1 ? std::atoi(argv[1]) : 750000;
    const int others = argc > 2 ? std::atoi(argv[2]) : 250000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("follow.pcap"));
    if (!dir.isValid() || !write_file(path, segments, others)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    MainWindow window;
    if (!open_file(window, path))
        return 1;
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    const int rows = table->rowCount();
    const qint64 stream_bytes = qint64(segments) * kSegment;

    std::vector<double> big_times;
    std::vector<double> big_cpu;
    std::vector<double> small_times;
    qint64 memory = 0;
    for (int run = 0; run < bench::runs(); ++run) {
        // Measured with the heaps' free pages given back before and after:
        // what the follow holds, wherever its thread left what it freed.
        const qint64 before = run == 0 ? trimmed_resident_bytes() : 0;
        QElapsedTimer timer;
        timer.start();
        const double cpu = bench::threadCpuSeconds();
        HexWindow* big = window.follow_tcp_stream(1);
        if (big == nullptr)
            return 1;
        (void)QTest::qWaitForWindowExposed(big);
        big->view()->viewport()->repaint();
        big_times.push_back(timer.nsecsElapsed() / 1e9);
        big_cpu.push_back(bench::threadCpuSeconds() - cpu);
        if (run == 0) // later runs reuse what the first one freed
            memory = trimmed_resident_bytes() - before;
        if (big->view()->document()->length() != stream_bytes) {
            std::fprintf(stderr, "followed %lld bytes of %lld\n",
                         static_cast<long long>(big->view()->document()->length()),
                         static_cast<long long>(stream_bytes));
            return 1;
        }
        delete big;

        timer.restart();
        HexWindow* small = window.follow_tcp_stream(rows - 1);
        if (small == nullptr)
            return 1;
        small_times.push_back(timer.nsecsElapsed() / 1e9);
        delete small;
    }
    std::fprintf(stderr,
                 "follow: %.3f s (median; processor %.3f s), small stream %.3f s, memory %lld B\n",
                 bench::median(big_times), bench::median(big_cpu), bench::median(small_times),
                 static_cast<long long>(memory));
    // tshark's follow of a stream this long takes many minutes: bounded.
    const int tshark_limit = qEnvironmentVariableIsSet("TARNLOOK_BENCH_TSHARK_SECONDS")
            ? qEnvironmentVariableIntValue("TARNLOOK_BENCH_TSHARK_SECONDS")
            : kTsharkLimit;
    const double tshark
            = bench::timeCommand(QStringLiteral("tshark"),
                                 { QStringLiteral("-r"), path, QStringLiteral("-q"),
                                   QStringLiteral("-z"), QStringLiteral("follow,tcp,raw,0") },
                                 tshark_limit);

    bench::Table table_out(
            { QStringLiteral("measure"), QStringLiteral("figure"), QStringLiteral("load") });
    table_out.add({ QStringLiteral("follow a %1 MiB stream (%2 segments) among %3 rows, to the "
                                   "first paint")
                            .arg(stream_bytes >> 20)
                            .arg(segments)
                            .arg(rows),
                    QStringLiteral("%1 s (processor time %2 s)")
                            .arg(bench::number(bench::median(big_times), 3),
                                 bench::number(bench::median(big_cpu), 3)),
                    bench::loadAverage() });
    table_out.add({ QStringLiteral("tshark -z follow,tcp,raw of the same stream"),
                    tshark < 0 ? QStringLiteral("not done within %1 s").arg(tshark_limit)
                               : bench::number(tshark, 2) + " s",
                    bench::loadAverage() });
    table_out.add({ QStringLiteral("find and follow a stream of %1 segments among %2 rows")
                            .arg(others / 250)
                            .arg(rows),
                    bench::number(bench::median(small_times), 3) + QStringLiteral(" s"),
                    bench::loadAverage() });
    table_out.add({ QStringLiteral("memory of the followed stream's window"),
                    QStringLiteral("%1 MiB, %2 B per segment")
                            .arg(memory >> 20)
                            .arg(double(memory) / segments, 0, 'f', 1),
                    QStringLiteral("-") });
    table_out.print(
            QStringLiteral("Following a TCP stream (medians of %1 runs)").arg(bench::runs()));
    return 0;
}
