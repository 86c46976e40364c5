// SPDX-License-Identifier: GPL-2.0-or-later

// The capture thread fed directly by libpcap against the same thread fed
// through tarnlook-capture's pipe: the record lines per second each way
// delivers, sustained for 10 s at rising offered rates, and how long stop
// takes on a quiet adapter. Runs on the lo of a private network namespace of
// its own (unshare), so that nothing else's traffic counts and nothing goes
// beyond it. Needs root; without it prints why and ends with status 0.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "benchtraffic.h"
#include "capturehelper.h"
#include "cupdate.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRates[] = { 20000, 50000, 100000, 200000 };
constexpr int kSeconds = 10;
constexpr int kStopRuns = 10;

// While it lives, threads started by this one may not open packet sockets,
// so that CUpdate captures through the program.
class WithoutCaptureCapability
{
public:
    WithoutCaptureCapability()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        syscall(SYS_capget, &m_header, m_saved);
        __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3];
        std::copy(std::begin(m_saved), std::end(m_saved), std::begin(reduced));
        reduced[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
        syscall(SYS_capset, &m_header, reduced);
    }
    ~WithoutCaptureCapability() { syscall(SYS_capset, &m_header, m_saved); }

private:
    __user_cap_header_struct m_header {};
    __user_cap_data_struct m_saved[_LINUX_CAPABILITY_U32S_3] {};
};

struct Capture
{
    std::unique_ptr<CUpdate> thread;
    std::atomic<long> lines { 0 };
    std::atomic<bool> failed { false };
};

// Starts a capture on lo, the direct way or through the program; counts its
// lines on the capture thread itself, so that no event loop limits it.
void start(Capture& capture, bool through_program)
{
    capture.thread = std::make_unique<CUpdate>(FilterSettings {});
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
    capture.thread->adapter_name = QStringLiteral("lo");
    if (through_program) {
        const WithoutCaptureCapability unprivileged;
        capture.thread->start();
    } else {
        capture.thread->start();
    }
}

// Sends one segment at a time until one shows up as a line: the capture is
// open (and, through the program, its stream flows).
bool wait_until_capturing(Capture& capture, int fd)
{
    for (int i = 0; i < 50 && !capture.failed; ++i) {
        bench::send_segment(fd, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (capture.lines > 0)
            return true;
    }
    return false;
}

struct Level
{
    long sent = 0;
    long lines = 0;
    double seconds = 0;
};

Level run_level(bool through_program, int rate, int fd)
{
    Capture capture;
    start(capture, through_program);
    Level level;
    if (!wait_until_capturing(capture, fd))
        return level;
    // The 1 s block timeout hands over what the first probes left behind.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const long before = capture.lines;
    const bench::Sent sent = bench::send_at_rate(fd, rate, kSeconds);
    level.sent = sent.segments;
    level.seconds = sent.seconds;
    // What is still in the ring or the pipe arrives within the block timeout.
    long seen = -1;
    while (seen != capture.lines) {
        seen = capture.lines;
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    }
    level.lines = capture.lines - before;
    capture.thread->stop_flag = true;
    capture.thread->wait();
    return level;
}

// Milliseconds from the stop flag to the end of the thread, the median of
// kStopRuns captures of a quiet lo.
double stop_ms(bool through_program, int fd)
{
    std::vector<double> times;
    for (int run = 0; run < kStopRuns; ++run) {
        Capture capture;
        start(capture, through_program);
        if (!wait_until_capturing(capture, fd))
            return -1;
        QElapsedTimer clock;
        clock.start();
        capture.thread->stop_flag = true;
        capture.thread->wait();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    // Before any thread exists: every later one, and the program, inherit it.
    if (geteuid() != 0 || !bench::private_loopback()) {
        std::printf("\nbench_helper: skipped, needs root for a network namespace of its own\n");
        return 0;
    }
    QCoreApplication app(argc, argv);
    CaptureHelper::set_program(QStringLiteral(TARNLOOK_CAPTURE_PROGRAM));
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (fd < 0) {
        std::perror("bench_helper: raw socket");
        return 1;
    }

    std::printf("\n## Capture thread, direct and through tarnlook-capture (lo of a private "
                "network namespace, %d s per level; lines counted on the capture thread)\n\n",
                kSeconds);
    std::printf("| offered segments/s | way | sent/s | lines/s | lost |\n");
    std::printf("| --- | --- | --- | --- | --- |\n");
    for (const int rate : kRates) {
        for (const bool through_program : { false, true }) {
            const Level level = run_level(through_program, rate, fd);
            const double lost
                    = level.sent > 0 ? 100.0 * (level.sent - level.lines) / level.sent : 100;
            std::printf("| %d | %s | %.0f | %.0f | %.2f %% |\n", rate,
                        through_program ? "program" : "direct", level.sent / level.seconds,
                        level.lines / level.seconds, std::max(0.0, lost));
            std::fflush(stdout);
        }
    }
    std::printf("\n| stop on a quiet lo (median of %d) | ms |\n| --- | --- |\n", kStopRuns);
    std::printf("| direct | %.1f |\n", stop_ms(false, fd));
    std::printf("| through tarnlook-capture | %.1f |\n", stop_ms(true, fd));
    close(fd);
    return 0;
}
