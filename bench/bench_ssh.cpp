// SPDX-License-Identifier: GPL-2.0-or-later

// The capture thread fed directly by libpcap against the same thread fed by
// tcpdump on a "remote" host through ssh: the record lines per second each
// way delivers, sustained for 10 s at 50,000 and 100,000 offered segments a
// second, the frames dropped on each side, and the time from the start of a
// capture to its first line. The remote host is an OpenSSH server of the
// benchmark's own (tests/common/testsshserver.h), and everything runs on the
// lo of a private network namespace (unshare), so that nothing else's
// traffic counts. Needs root, sshd and tcpdump; without them prints why and
// ends with status 0.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "benchtraffic.h"
#include "cupdate.h"
#include "testsshserver.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRates[] = { 50000, 100000 };
constexpr int kSeconds = 10;
constexpr int kFirstLineRuns = 5;

struct Capture
{
    std::unique_ptr<CUpdate> thread;
    std::atomic<long> lines { 0 };
    std::atomic<bool> failed { false };
};

// Starts a capture of source; counts its lines on the capture thread
// itself, so that no event loop limits it. Only segments to port 47012 (the
// benchmark's) count, as a capture filter here and there.
void start(Capture& capture, const QString& source)
{
    FilterSettings settings;
    settings.capture_filter_on = true;
    settings.capture_filter = QStringLiteral("tcp dst port 47012");
    capture.thread = std::make_unique<CUpdate>(settings);
    QObject::connect(
            capture.thread.get(), &CUpdate::send_update, capture.thread.get(),
            [&capture](const QString&) { ++capture.lines; }, Qt::DirectConnection);
    const auto failed = [&capture](const QString& reason) {
        std::fprintf(stderr, "capture failed: %s\n", qPrintable(reason));
        capture.failed = true;
    };
    QObject::connect(capture.thread.get(), &CUpdate::open_failed, capture.thread.get(), failed,
                     Qt::DirectConnection);
    QObject::connect(capture.thread.get(), &CUpdate::open_denied, capture.thread.get(), failed,
                     Qt::DirectConnection);
    capture.thread->adapter_name = source;
    capture.thread->start();
}

// Milliseconds from the start to the first line, while a segment goes every
// millisecond; -1 when none came within 20 s.
double first_line_ms(Capture& capture, const QString& source, int fd)
{
    QElapsedTimer clock;
    clock.start();
    start(capture, source);
    for (std::uint32_t i = 0; clock.elapsed() < 20000 && !capture.failed; ++i) {
        bench::send_segment(fd, i);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (capture.lines > 0)
            return clock.nsecsElapsed() / 1e6;
    }
    return -1;
}

struct Level
{
    long sent = 0;
    long lines = 0;
    double seconds = 0;
    std::uint64_t dropped = 0;
};

double load_average()
{
    double load = -1;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

Level run_level(const QString& source, int rate, int fd)
{
    Capture capture;
    Level level;
    if (first_line_ms(capture, source, fd) < 0)
        return level;
    // What the first probes left behind comes in meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const long before = capture.lines;
    const bench::Sent sent = bench::send_at_rate(fd, rate, kSeconds);
    level.sent = sent.segments;
    level.seconds = sent.seconds;
    // What is still in the ring, the pipe or the connection arrives.
    long seen = -1;
    while (seen != capture.lines) {
        seen = capture.lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    level.lines = capture.lines - before;
    capture.thread->stop_flag = true;
    capture.thread->wait();
    level.dropped = capture.thread->dropped;
    return level;
}

} // namespace

int main(int argc, char* argv[])
{
    // Before any thread exists: every later one, sshd and ssh inherit it.
    if (geteuid() != 0 || !bench::private_loopback()) {
        std::printf("\nbench_ssh: skipped, needs root for a network namespace of its own\n");
        return 0;
    }
    QCoreApplication app(argc, argv);
    const QString unavailable = TestSshServer::unavailable();
    if (!unavailable.isEmpty()) {
        std::printf("\nbench_ssh: skipped, %s\n", qPrintable(unavailable));
        return 0;
    }
    TestSshServer server;
    if (!server.running()) {
        std::printf("\nbench_ssh: skipped, the SSH server did not start\n");
        return 0;
    }
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (fd < 0) {
        std::perror("bench_ssh: raw socket");
        return 1;
    }
    const QString remote = server.source(QStringLiteral("lo"));

    std::printf("\n## Capture thread, direct and through ssh and tcpdump (lo of a private "
                "network namespace, %d s per level; lines counted on the capture thread)\n\n",
                kSeconds);
    std::printf("| offered segments/s | way | sent/s | lines/s | lost | dropped by the kernel "
                "| load |\n");
    std::printf("| --- | --- | --- | --- | --- | --- | --- |\n");
    for (const int rate : kRates) {
        for (const QString& source : { QStringLiteral("lo"), remote }) {
            const Level level = run_level(source, rate, fd);
            const double lost
                    = level.sent > 0 ? 100.0 * (level.sent - level.lines) / level.sent : 100;
            std::printf("| %d | %s | %.0f | %.0f | %.2f %% | %llu | %.2f |\n", rate,
                        source == remote ? "ssh" : "direct",
                        level.seconds > 0 ? level.sent / level.seconds : 0,
                        level.seconds > 0 ? level.lines / level.seconds : 0, std::max(0.0, lost),
                        static_cast<unsigned long long>(level.dropped), load_average());
            std::fflush(stdout);
        }
    }
    std::printf("\n| from the start to the first line (median of %d) | ms | load |\n"
                "| --- | --- | --- |\n",
                kFirstLineRuns);
    for (const QString& source : { QStringLiteral("lo"), remote }) {
        std::vector<double> times;
        for (int run = 0; run < kFirstLineRuns; ++run) {
            Capture capture;
            times.push_back(first_line_ms(capture, source, fd));
            capture.thread->stop_flag = true;
            capture.thread->wait();
        }
        std::sort(times.begin(), times.end());
        std::printf("| %s | %.1f | %.2f |\n", source == remote ? "ssh" : "direct",
                    times[times.size() / 2], load_average());
    }
    close(fd);
    return 0;
}
