// SPDX-License-Identifier: GPL-2.0-or-later

// Live capture on lo: the highest rate of TCP segments on 127.0.0.1 at which
// the running application loses nothing (every segment becomes a row,
// libpcap drops nothing) while its event loop keeps answering within 100 ms;
// and, as the reference, the same figure for `tcpdump -i lo -w /dev/null`.
//
// Needs root (or cap_net_raw); without it prints why and ends
// with status 0. Sends only to 127.0.0.1; every level is bounded in segments
// and seconds, and the whole run ends by itself within a few minutes.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>

#include "benchlateness.h"
#include "benchreport.h"
#include "capturehelper.h"
#include "cupdate.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "testframes.h"

namespace {

using Clock = std::chrono::steady_clock;

// Segments per second offered, one level after the other.
// TARNLOOK_BENCH_RATES (comma-separated) chooses others.
const std::vector<int> kDefaultRates = { 50000, 100000, 200000, 400000 };
// Runs per rate, for the app and for tcpdump in turn (TARNLOOK_BENCH_RUNS).
const int kRuns = qEnvironmentVariableIntValue("TARNLOOK_BENCH_RUNS") > 0
        ? qEnvironmentVariableIntValue("TARNLOOK_BENCH_RUNS")
        : 3;
// A level offers rate × kLevelSeconds segments, at most kMaxSegments (which
// bounds the table, and the memory, of one level). Sustained: a short burst
// hides a backlog of queued lines that a longer run exposes.
constexpr double kLevelSeconds = 10.0;
constexpr int kMaxSegments = 4000000;
// The sender stops here even when it has not sent them all.
constexpr int kSendLimitMs = 12000;

std::vector<int> rates()
{
    std::vector<int> chosen;
    for (const QString& rate :
         qEnvironmentVariable("TARNLOOK_BENCH_RATES").split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (rate.toInt() > 0)
            chosen.push_back(rate.toInt());
    return chosen.empty() ? kDefaultRates : chosen;
}
constexpr int kPayloadSize = 100; // bytes per segment
constexpr int kMarkerSize = 16; // "TLBM", two digits of level, ten of sequence
using bench::kLatenessTickMs;
using bench::Lateness;
constexpr qint64 kLatenessLimitMs = 100;
// Rows unchanged this long: the capture has read everything lo carried.
constexpr int kQuietMs = 1000;
constexpr int kDrainLimitMs = 60000;
constexpr int kProbeLimitMs = 10000;
constexpr int kStopLimitMs = 30000;
// tcpdump writes its capture in blocks retired after a 1 s timeout; waiting
// longer lets it count every packet as captured before it is stopped.
constexpr int kTcpdumpFlushMs = 1500;
constexpr int kTcpdumpStartLimitMs = 10000;
constexpr int kHexColumn = 7;

// ---- the capture thread's closing line ------------------------------------

struct PcapStats
{
    qint64 received = 0;
    qint64 dropped = 0;
};

std::mutex g_stats_mutex;
std::optional<PcapStats> g_last_stats; // guarded by g_stats_mutex
QtMessageHandler g_previous_handler = nullptr;

// Catches "capture on lo ended: received N dropped M" (written on the
// capture thread) and keeps the program's other debug lines quiet; anything
// else goes to the previous handler.
void on_message(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const bool ours = context.category != nullptr
            && std::strncmp(context.category, "tarnlook.", std::strlen("tarnlook.")) == 0;
    if (ours && type == QtDebugMsg) {
        const QRegularExpression pattern(QStringLiteral("ended: received (\\d+) dropped (\\d+)"));
        const QRegularExpressionMatch match = pattern.match(text);
        if (match.hasMatch()) {
            const std::lock_guard<std::mutex> lock(g_stats_mutex);
            g_last_stats
                    = PcapStats { match.captured(1).toLongLong(), match.captured(2).toLongLong() };
        }
        return;
    }
    if (g_previous_handler != nullptr)
        g_previous_handler(type, context, text);
}

std::optional<PcapStats> take_capture_stats()
{
    const std::lock_guard<std::mutex> lock(g_stats_mutex);
    std::optional<PcapStats> stats = g_last_stats;
    g_last_stats.reset();
    return stats;
}

// ---- traffic ---------------------------------------------------------------

// Packets lo has carried since it came up; -1 when unreadable.
qint64 lo_packets()
{
    QFile file(QStringLiteral("/sys/class/net/lo/statistics/rx_packets"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().trimmed().toLongLong();
}

// A payload of kPayloadSize bytes: tag ("TLBM" for measured segments, "TLBP"
// for probes), level, sequence number, filler.
QByteArray payload(const char* tag, int level, int sequence)
{
    char marker[kMarkerSize + 1] = {};
    std::snprintf(marker, sizeof marker, "%.4s%02u%010u", tag, static_cast<unsigned>(level) % 100u,
                  static_cast<unsigned>(sequence));
    QByteArray bytes(kPayloadSize, 'x');
    std::memcpy(bytes.data(), marker, kMarkerSize);
    return bytes;
}

// The hex text of the first six bytes of a payload: tag and level.
QString marker_hex(const char* tag, int level)
{
    return QString::fromLatin1(payload(tag, level, 0).left(6).toHex().toUpper());
}

// Sends TCP segments to 127.0.0.1 through a raw socket, one packet per
// send, whole IPv4 header included. Each carries a deliberately wrong TCP
// checksum: the captures see it on lo, then the kernel's TCP drops it
// unanswered, so lo carries exactly the packets sent (no acknowledgements, no
// resets, no segments merged by the sender's TCP).
class RawSender
{
public:
    RawSender() = default;
    RawSender(const RawSender&) = delete;
    RawSender& operator=(const RawSender&) = delete;
    ~RawSender()
    {
        if (m_fd >= 0)
            close(m_fd);
    }

    [[nodiscard]] bool open()
    {
        m_fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW); // send only, header included
        return m_fd >= 0;
    }
    // One segment carrying `bytes` as its payload; false when not sent.
    [[nodiscard]] bool send_segment(const QByteArray& bytes, std::uint32_t sequence) const;

private:
    int m_fd = -1;
};

constexpr std::uint16_t kSourcePort = 47001;
constexpr std::uint16_t kDestinationPort = 47002;

void put_be16(unsigned char* at, std::uint16_t value)
{
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value & 0xFF);
}

bool RawSender::send_segment(const QByteArray& bytes, std::uint32_t sequence) const
{
    constexpr int kHeaders = 40; // IPv4 and TCP, no options
    unsigned char packet[kHeaders + kPayloadSize] = {};
    const int size = kHeaders + std::min(static_cast<int>(bytes.size()), kPayloadSize);
    const unsigned char loopback[4] = { 127, 0, 0, 1 }; // never anywhere else

    unsigned char* ip = packet;
    ip[0] = 0x45;
    put_be16(ip + 2, static_cast<std::uint16_t>(size));
    ip[8] = 64; // TTL
    ip[9] = IPPROTO_TCP;
    std::memcpy(ip + 12, loopback, 4);
    std::memcpy(ip + 16, loopback, 4);

    unsigned char* tcp = packet + 20;
    put_be16(tcp, kSourcePort);
    put_be16(tcp + 2, kDestinationPort);
    put_be16(tcp + 4, static_cast<std::uint16_t>(sequence >> 16));
    put_be16(tcp + 6, static_cast<std::uint16_t>(sequence & 0xFFFF));
    tcp[12] = 5 << 4; // header of 20 bytes
    tcp[13] = 0x18; // PSH, ACK
    put_be16(tcp + 14, 65535);
    std::memcpy(tcp + 20, bytes.constData(), static_cast<std::size_t>(size - kHeaders));

    // The right checksum (pseudo-header, header, payload), then spoilt.
    const int tcp_size = size - 20;
    std::uint32_t sum = IPPROTO_TCP + static_cast<std::uint32_t>(tcp_size);
    for (int i = 12; i < 20; i += 2)
        sum += static_cast<std::uint32_t>((ip[i] << 8) | ip[i + 1]);
    for (int i = 0; i < tcp_size; i += 2)
        sum += static_cast<std::uint32_t>((tcp[i] << 8) | (i + 1 < tcp_size ? tcp[i + 1] : 0));
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    const auto right = static_cast<std::uint16_t>(~sum & 0xFFFF);
    put_be16(tcp + 16, static_cast<std::uint16_t>(right ^ 0x00FF));

    sockaddr_in destination {};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sendto(m_fd, packet, static_cast<std::size_t>(size), 0,
                  reinterpret_cast<const sockaddr*>(&destination), sizeof destination)
            == size;
}

void name_this_thread(const char* name)
{
    pthread_setname_np(pthread_self(), name);
}

struct SendResult
{
    int sent = 0;
    double seconds = 0;
    double rate() const { return seconds > 0 ? sent / seconds : 0; }
};

// Sends count segments of the level, paced to rate per second; stops early
// at kSendLimitMs or when a send fails.
SendResult send_segments(const RawSender& sender, int level, int rate, int count)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point limit = start + std::chrono::milliseconds(kSendLimitMs);
    QByteArray bytes = payload("TLBM", level, 0);
    int sent = 0;
    for (; sent < count; ++sent) {
        const Clock::time_point due
                = start + std::chrono::nanoseconds(static_cast<long long>(sent * 1e9 / rate));
        const Clock::time_point now = Clock::now();
        if (now >= limit)
            break;
        // Sleeping costs tens of microseconds: only worth it when ahead by more.
        if (due - now > std::chrono::microseconds(20))
            std::this_thread::sleep_until(due);
        char sequence[11] = {};
        std::snprintf(sequence, sizeof sequence, "%010u", static_cast<unsigned>(sent));
        std::memcpy(bytes.data() + 6, sequence, 10);
        // One byte stream: a followed level takes every payload in turn,
        // after the probe's at 0.
        if (!sender.send_segment(bytes, static_cast<std::uint32_t>((sent + 1) * kPayloadSize)))
            break;
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    return { sent, elapsed.count() };
}

// ---- the application -------------------------------------------------------

// Runs the event loop until done() holds (looked at every interval_ms) or
// the limit is over; returns whether done() held.
bool wait_until(const std::function<bool()>& done, int limit_ms, int interval_ms = 20)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    bool held = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            held = true;
            loop.quit();
        } else if (clock.elapsed() >= limit_ms) {
            loop.quit();
        }
    });
    poll.setTimerType(Qt::PreciseTimer);
    poll.start(interval_ms);
    loop.exec();
    return held;
}

struct Controls
{
    QTableWidget* table = nullptr;
    QComboBox* adapters = nullptr;
    QPushButton* start = nullptr;
    QPushButton* stop = nullptr;
    QPushButton* clear = nullptr;
    int lo_index = -1;
};

// How many distinct segments of the level (sequence below sent) the hex
// cells of the table carry; a row holding several merged ones counts each.
int segments_shown(const QTableWidget& table, int level, int sent)
{
    const QString marker = marker_hex("TLBM", level);
    std::vector<char> seen(static_cast<std::size_t>(std::max(sent, 0)), 0);
    int shown = 0;
    for (int row = 0; row < table.rowCount(); ++row) {
        const QTableWidgetItem* hex_item = table.item(row, kHexColumn);
        if (hex_item == nullptr)
            continue;
        const QString hex = hex_item->text();
        for (int at = hex.indexOf(marker); at >= 0; at = hex.indexOf(marker, at + 1)) {
            if (at % 2 != 0 || at + 2 * kMarkerSize > hex.size())
                continue;
            long long sequence = 0;
            bool digits = true;
            for (int i = 6; i < kMarkerSize && digits; ++i) {
                const QChar high = hex.at(at + 2 * i);
                const QChar low = hex.at(at + 2 * i + 1);
                digits = high == QLatin1Char('3') && low >= QLatin1Char('0')
                        && low <= QLatin1Char('9');
                sequence = sequence * 10 + (low.unicode() - '0');
            }
            if (!digits || sequence >= sent)
                continue;
            if (!seen[static_cast<std::size_t>(sequence)]) {
                seen[static_cast<std::size_t>(sequence)] = 1;
                ++shown;
            }
        }
    }
    return shown;
}

// Whether a row from `from` on carries the probe of the level; moves `from`
// past the rows looked at.
bool probe_shown(const QTableWidget& table, const QString& probe, int* from)
{
    bool found = false;
    for (; *from < table.rowCount(); ++*from)
        if (const QTableWidgetItem* item = table.item(*from, kHexColumn);
            item != nullptr && item->text().contains(probe))
            found = true;
    return found;
}

struct AppLevel
{
    SendResult send;
    int shown = 0; // distinct segments of the level in rows
    std::optional<PcapStats> stats;
    double worst_ms = -1;
    double p99_ms = -1;
    // From the first segment sent until the last row appeared.
    double caught_up_s = -1;
    bool drained = false;
    QString failure;
    qint64 followed_bytes = -1; // in the followed stream's window, when one was

    bool loss_free() const
    {
        return failure.isEmpty() && drained && send.sent > 0 && shown == send.sent && stats
                && stats->dropped == 0 && worst_ms < kLatenessLimitMs;
    }
};

// With `follow`, the level's stream is followed from its probe's row while
// the segments come.
AppLevel run_app_level(const Controls& ui, int level, int rate, int count,
                       MainWindow* follow = nullptr)
{
    AppLevel result;
    RawSender sender;
    if (!sender.open()) {
        result.failure = QStringLiteral("no raw socket");
        return result;
    }
    ui.clear->click();
    take_capture_stats();
    ui.adapters->setCurrentIndex(ui.lo_index);
    ui.start->click();
    if (g_capture_thread == nullptr) {
        result.failure = QStringLiteral("capture did not start");
        return result;
    }

    // The capture opens lo on its own thread: probe until a probe is a row.
    const QByteArray probe = payload("TLBP", level, 0);
    const QString probe_hex = marker_hex("TLBP", level);
    int probed_rows = 0;
    bool ready = false;
    QElapsedTimer probing;
    probing.start();
    while (!ready && probing.elapsed() < kProbeLimitMs) {
        if (!sender.send_segment(probe, 0))
            break;
        ready = wait_until([&] { return probe_shown(*ui.table, probe_hex, &probed_rows); }, 200);
    }

    QPointer<HexWindow> followed;
    if (ready && follow != nullptr) {
        for (int row = 0; row < ui.table->rowCount() && followed.isNull(); ++row)
            if (const QTableWidgetItem* item = ui.table->item(row, kHexColumn);
                item != nullptr && item->text().contains(probe_hex))
                followed = follow->follow_tcp_stream(row);
        if (followed.isNull())
            result.failure = QStringLiteral("the probe's stream could not be followed");
    }
    if (ready) {
        Lateness lateness;
        lateness.start();
        QElapsedTimer since_start;
        since_start.start();
        std::atomic<bool> sent_all { false };
        std::thread sending([&] {
            name_this_thread("bench-sender");
            result.send = send_segments(sender, level, rate, count);
            sent_all = true;
        });
        // The sender ends by itself within kSendLimitMs.
        wait_until([&] { return sent_all.load(); }, kSendLimitMs + 5000);
        sending.join();

        int last_rows = -1;
        QElapsedTimer quiet;
        quiet.start();
        result.drained = wait_until(
                [&] {
                    const int rows = ui.table->rowCount();
                    if (rows != last_rows) {
                        last_rows = rows;
                        quiet.restart();
                        result.caught_up_s = since_start.nsecsElapsed() / 1e9;
                        return false;
                    }
                    return quiet.elapsed() >= kQuietMs;
                },
                kDrainLimitMs);
        lateness.stop();
        result.worst_ms = lateness.worst_ms();
        result.p99_ms = lateness.percentile_ms(99);
    } else {
        result.failure = QStringLiteral("no probe row within %1 s").arg(kProbeLimitMs / 1000);
    }

    ui.stop->click();
    // Null once the capture has finished: every line it emitted is a row.
    if (!wait_until([] { return g_capture_thread == nullptr; }, kStopLimitMs))
        result.failure = QStringLiteral("capture did not end");
    result.stats = take_capture_stats();
    result.shown = segments_shown(*ui.table, level, result.send.sent);
    if (!followed.isNull()) {
        // Its last bytes come with the window's next look at the rows.
        wait_until([] { return false; }, 1000);
        result.followed_bytes = followed->view()->document()->length();
        delete followed;
    }
    ui.clear->click();
    return result;
}

// ---- the first row ---------------------------------------------------------

// While it lives, threads started by this one may not open packet sockets,
// so that a capture started meanwhile goes through tarnlook-capture.
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
    WithoutCaptureCapability(const WithoutCaptureCapability&) = delete;
    WithoutCaptureCapability& operator=(const WithoutCaptureCapability&) = delete;

private:
    __user_cap_header_struct m_header {};
    __user_cap_data_struct m_saved[_LINUX_CAPABILITY_U32S_3] {};
};

constexpr int kFirstRowRuns = 20;
constexpr int kFirstRowGapMs = 300;

// Milliseconds from sending one segment on a quiet lo to its row in the
// table (looked at every millisecond), kFirstRowRuns times, the capture
// running directly or through tarnlook-capture; empty when it did not start.
std::vector<double> first_row_delays(const Controls& ui, int level, bool through_helper)
{
    std::vector<double> delays;
    RawSender sender;
    if (!sender.open())
        return delays;
    ui.clear->click();
    ui.adapters->setCurrentIndex(ui.lo_index);
    {
        std::optional<WithoutCaptureCapability> unprivileged;
        if (through_helper)
            unprivileged.emplace();
        ui.start->click();
    }
    if (g_capture_thread == nullptr)
        return delays;
    const QString probe_hex = marker_hex("TLBP", level);
    int probed_rows = 0;
    bool ready = false;
    for (int tries = 0; !ready && tries < 50; ++tries) {
        if (!sender.send_segment(payload("TLBP", level, 0), 0))
            break;
        ready = wait_until([&] { return probe_shown(*ui.table, probe_hex, &probed_rows); }, 200);
    }
    for (int run = 0; ready && run < kFirstRowRuns; ++run) {
        wait_until([] { return false; }, kFirstRowGapMs); // quiet again
        const int before = ui.table->rowCount();
        QElapsedTimer clock;
        clock.start();
        if (!sender.send_segment(payload("TLBF", level, run), 0))
            break;
        if (!wait_until([&] { return ui.table->rowCount() > before; }, 5000, 1))
            break;
        delays.push_back(clock.nsecsElapsed() / 1e6);
    }
    ui.stop->click();
    wait_until([] { return g_capture_thread == nullptr; }, kStopLimitMs);
    ui.clear->click();
    return delays;
}

// ---- tcpdump ---------------------------------------------------------------

struct DumpLevel
{
    SendResult send;
    qint64 captured = -1;
    qint64 dropped = -1;
    qint64 lo = -1; // packets lo carried from tcpdump's "listening" until stopped
    QString failure;

    bool loss_free() const
    {
        return failure.isEmpty() && send.sent > 0 && dropped == 0 && captured >= send.sent
                && captured >= lo;
    }
};

qint64 stderr_count(const QString& text, const QString& what)
{
    const QRegularExpression pattern(QStringLiteral("(\\d+) packets? ") + what);
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

DumpLevel run_tcpdump_level(const QString& program, int level, int rate, int count)
{
    DumpLevel result;
    RawSender sender;
    if (!sender.open()) {
        result.failure = QStringLiteral("no raw socket");
        return result;
    }
    QProcess tcpdump;
    tcpdump.setProgram(program);
    tcpdump.setArguments({ QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-w"),
                           QStringLiteral("/dev/null") });
    tcpdump.setReadChannel(QProcess::StandardError);
    tcpdump.start();
    QByteArray messages;
    QElapsedTimer starting;
    starting.start();
    while (tcpdump.state() != QProcess::NotRunning && !messages.contains("listening on")
           && starting.elapsed() < kTcpdumpStartLimitMs) {
        tcpdump.waitForReadyRead(100);
        messages += tcpdump.readAllStandardError();
    }
    if (!messages.contains("listening on")) {
        result.failure = QStringLiteral("tcpdump did not start");
        tcpdump.kill();
        tcpdump.waitForFinished(5000);
        return result;
    }

    const qint64 lo_before = lo_packets();
    std::thread sending([&] {
        name_this_thread("bench-sender");
        result.send = send_segments(sender, level, rate, count);
    });
    sending.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(kTcpdumpFlushMs));
    const qint64 lo_after = lo_packets();
    result.lo = lo_before >= 0 && lo_after >= 0 ? lo_after - lo_before : -1;

    tcpdump.terminate(); // tcpdump prints its counts on SIGTERM
    if (!tcpdump.waitForFinished(10000)) {
        tcpdump.kill();
        tcpdump.waitForFinished(5000);
        result.failure = QStringLiteral("tcpdump did not stop");
    }
    messages += tcpdump.readAllStandardError();
    const QString text = QString::fromLocal8Bit(messages);
    result.captured = stderr_count(text, QStringLiteral("captured"));
    result.dropped = stderr_count(text, QStringLiteral("dropped by kernel"));
    if (result.captured < 0 || result.dropped < 0)
        result.failure = QStringLiteral("no counts from tcpdump");
    return result;
}

// ---- report ----------------------------------------------------------------

QString count_or_dash(qint64 value)
{
    return value >= 0 ? QString::number(value) : QStringLiteral("–");
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Rules from the environment win over setFilterRules: keep ours last.
    if (!qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        qputenv("QT_LOGGING_RULES", qgetenv("QT_LOGGING_RULES") + ";tarnlook.capture.debug=true");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(
            QStringLiteral("tarnlook.*.debug=false\ntarnlook.capture.debug=true"));
    g_previous_handler = qInstallMessageHandler(on_message);

    QString reason;
    if (!testframes::can_capture_on_loopback(&reason)) {
        std::printf("Live capture on lo: skipped, the live benchmark needs root (%s)\n",
                    qPrintable(reason));
        return 0;
    }

#ifdef TARNLOOK_CAPTURE_PROGRAM
    CaptureHelper::set_program(QStringLiteral(TARNLOOK_CAPTURE_PROGRAM));
#endif
    MainWindow window;
    window.show();
    Controls ui;
    ui.table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    ui.adapters = window.findChild<QComboBox*>(QStringLiteral("comboBox"));
    ui.start = window.findChild<QPushButton*>(QStringLiteral("pushButton_2"));
    ui.stop = window.findChild<QPushButton*>(QStringLiteral("pushButton_7"));
    ui.clear = window.findChild<QPushButton*>(QStringLiteral("pushButton"));
    ui.lo_index = g_adapter_names.indexOf(QStringLiteral("lo"));
    if (ui.table == nullptr || ui.adapters == nullptr || ui.start == nullptr || ui.stop == nullptr
        || ui.clear == nullptr || ui.lo_index < 0) {
        std::printf("Live capture on lo: skipped, no adapter lo or no main window controls\n");
        return 0;
    }

    if (argc > 1 && qstrcmp(argv[1], "--first-row") == 0) {
        bench::Table table({ QStringLiteral("capture"), QStringLiteral("runs"),
                             QStringLiteral("median ms"), QStringLiteral("90th percentile ms"),
                             QStringLiteral("worst ms"), QStringLiteral("load") });
        int level = 70;
        for (const bool helper : { false, true }) {
            std::vector<double> delays = first_row_delays(ui, level++, helper);
            std::sort(delays.begin(), delays.end());
            const auto at = [&delays](double p) {
                return delays.empty()
                        ? QStringLiteral("–")
                        : bench::number(delays[static_cast<std::size_t>(p * (delays.size() - 1))],
                                        1);
            };
            table.add({ helper ? QStringLiteral("through tarnlook-capture")
                               : QStringLiteral("direct"),
                        QString::number(delays.size()),
                        QString(bench::number(bench::median(delays), 1)), at(0.9), at(1.0),
                        bench::loadAverage() });
        }
        table.print(QStringLiteral("First row: one segment on a quiet lo to its row in the table"));
        std::printf("Each run sends one TCP segment to 127.0.0.1 through a raw socket %d ms after "
                    "the last, and times it until the table has one more row (looked at every "
                    "millisecond on the interface thread).\n\n",
                    kFirstRowGapMs);
        return 0;
    }

    if (argc > 1 && qstrcmp(argv[1], "--follow") == 0) {
        const int rate = argc > 2 ? std::atoi(argv[2]) : 100000;
        const int count = std::min(kMaxSegments, static_cast<int>(rate * kLevelSeconds));
        bench::Table table({ QStringLiteral("run"), QStringLiteral("sent seg/s"),
                             QStringLiteral("segments shown / sent"),
                             QStringLiteral("pcap dropped / received"),
                             QStringLiteral("followed bytes / sent"),
                             QStringLiteral("lateness p99 / worst ms"), QStringLiteral("load") });
        for (int run = 0; run < kRuns; ++run) {
            const AppLevel a = run_app_level(ui, 90 + run, rate, count, &window);
            table.add({ QString::number(run + 1), bench::number(a.send.rate()),
                        QStringLiteral("%1 / %2").arg(a.shown).arg(a.send.sent),
                        a.stats ? QStringLiteral("%1 / %2")
                                          .arg(a.stats->dropped)
                                          .arg(a.stats->received)
                                : QStringLiteral("–"),
                        QStringLiteral("%1 / %2")
                                        .arg(a.followed_bytes - kPayloadSize)
                                        .arg(qint64(a.send.sent) * kPayloadSize)
                                + (a.failure.isEmpty() ? QString()
                                                       : QStringLiteral(" (%1)").arg(a.failure)),
                        QStringLiteral("%1 / %2").arg(bench::number(a.p99_ms, 1),
                                                      bench::number(a.worst_ms, 1)),
                        bench::loadAverage() });
        }
        table.print(QStringLiteral("Live capture on lo at %1 seg/s with the stream followed")
                            .arg(rate));
        return 0;
    }

    const QString tcpdump_program = QStandardPaths::findExecutable(QStringLiteral("tcpdump"));
    struct LevelRuns
    {
        int rate = 0;
        std::vector<AppLevel> app;
        std::vector<DumpLevel> dump;
    };
    std::vector<LevelRuns> levels;
    int marker_level = 0; // a fresh marker for every run
    for (const int rate : rates()) {
        const int count = std::min(kMaxSegments, static_cast<int>(rate * kLevelSeconds));
        LevelRuns& level = levels.emplace_back();
        level.rate = rate;
        // Interleaved, so that a disturbance of the machine meets both.
        for (int run = 0; run < kRuns; ++run) {
            const AppLevel& a
                    = level.app.emplace_back(run_app_level(ui, marker_level++, rate, count));
            std::fprintf(stderr,
                         "app %d/s run %d: %d of %d shown, lateness p99 %.1f ms, worst %.1f ms\n",
                         rate, run + 1, a.shown, a.send.sent, a.p99_ms, a.worst_ms);
            DumpLevel& d = level.dump.emplace_back();
            if (tcpdump_program.isEmpty())
                d.failure = QStringLiteral("tcpdump not installed");
            else
                d = run_tcpdump_level(tcpdump_program, marker_level++, rate, count);
            std::fprintf(stderr, "tcpdump %d/s run %d: %lld captured, %lld dropped\n", rate,
                         run + 1, d.captured, d.dropped);
        }
    }

    bench::Table table(
            { QStringLiteral("offered seg/s"),
              QStringLiteral("sent seg/s, median (app runs / tcpdump runs)"),
              QStringLiteral("app: segments shown / offered, worst run"),
              QStringLiteral("app: pcap dropped / received, worst run"),
              QStringLiteral("app: event-loop lateness p99 ms, median (worst run)"),
              QStringLiteral("app: event-loop lateness worst ms, median (worst run)"),
              QStringLiteral("app: last row after s, median"),
              QStringLiteral("app: last row after the last segment ms, median (worst run)"),
              QStringLiteral("app loss-free runs"),
              QStringLiteral("tcpdump: captured / offered, worst run"),
              QStringLiteral("tcpdump: dropped, worst run"),
              QStringLiteral("tcpdump loss-free runs") });
    // The highest rate loss-free in every run, every lower one too.
    int app_best = 0;
    int dump_best = 0;
    double app_best_sent = 0; // median sent rate at that level
    double dump_best_sent = 0;
    bool app_held = true;
    bool dump_held = true;
    for (const LevelRuns& level : levels) {
        std::vector<double> app_sent, dump_sent, lateness, lateness_p99, caught_up, last_delay;
        const AppLevel* app_worst = &level.app.front();
        const DumpLevel* dump_worst = &level.dump.front();
        int app_clean = 0;
        int dump_clean = 0;
        for (const AppLevel& a : level.app) {
            app_sent.push_back(a.send.rate());
            lateness.push_back(a.worst_ms);
            lateness_p99.push_back(a.p99_ms);
            caught_up.push_back(a.caught_up_s);
            last_delay.push_back(1000 * (a.caught_up_s - a.send.seconds));
            app_clean += a.loss_free() ? 1 : 0;
            const auto lost = [](const AppLevel& x) {
                return std::make_pair(x.send.sent - x.shown, x.stats ? x.stats->dropped : -1);
            };
            if (lost(a) > lost(*app_worst))
                app_worst = &a;
        }
        for (const DumpLevel& d : level.dump) {
            dump_sent.push_back(d.send.rate());
            dump_clean += d.loss_free() ? 1 : 0;
            if (std::make_pair(d.dropped, d.send.sent - d.captured)
                > std::make_pair(dump_worst->dropped, dump_worst->send.sent - dump_worst->captured))
                dump_worst = &d;
        }
        app_held = app_held && app_clean == kRuns;
        dump_held = dump_held && dump_clean == kRuns;
        if (app_held) {
            app_best = level.rate;
            app_best_sent = bench::median(app_sent);
        }
        if (dump_held) {
            dump_best = level.rate;
            dump_best_sent = bench::median(dump_sent);
        }

        QString app_failures;
        for (const AppLevel& a : level.app)
            if (!a.failure.isEmpty() || !a.drained)
                app_failures = a.failure.isEmpty() ? QStringLiteral(" (not drained)")
                                                   : QStringLiteral(" (%1)").arg(a.failure);
        QString dump_failures;
        for (const DumpLevel& d : level.dump)
            if (!d.failure.isEmpty())
                dump_failures = QStringLiteral(" (%1)").arg(d.failure);
        table.add(
                { QString::number(level.rate),
                  bench::number(bench::median(app_sent)) + QStringLiteral(" / ")
                          + bench::number(bench::median(dump_sent)),
                  QStringLiteral("%1 / %2").arg(app_worst->shown).arg(app_worst->send.sent),
                  app_worst->stats ? QStringLiteral("%1 / %2")
                                             .arg(app_worst->stats->dropped)
                                             .arg(app_worst->stats->received)
                                   : QStringLiteral("–"),
                  QStringLiteral("%1 (%2)").arg(
                          bench::number(bench::median(lateness_p99), 1),
                          bench::number(*std::max_element(lateness_p99.begin(), lateness_p99.end()),
                                        1)),
                  QStringLiteral("%1 (%2)").arg(
                          bench::number(bench::median(lateness), 1),
                          bench::number(*std::max_element(lateness.begin(), lateness.end()), 1)),
                  bench::number(bench::median(caught_up), 2),
                  QStringLiteral("%1 (%2)").arg(
                          bench::number(bench::median(last_delay), 0),
                          bench::number(*std::max_element(last_delay.begin(), last_delay.end()),
                                        0)),
                  QStringLiteral("%1/%2").arg(app_clean).arg(kRuns) + app_failures,
                  QStringLiteral("%1 / %2")
                          .arg(count_or_dash(dump_worst->captured))
                          .arg(dump_worst->send.sent),
                  count_or_dash(dump_worst->dropped),
                  QStringLiteral("%1/%2").arg(dump_clean).arg(kRuns) + dump_failures });
    }
    table.print(QStringLiteral("Live capture on lo"));
    std::printf(
            "Each run: TCP segments of %d payload bytes sent to 127.0.0.1 through a raw "
            "socket at the offered rate, one packet each, for %.0f s (at most %d); a wrong "
            "checksum makes the kernel drop them unanswered, so lo carries nothing else of "
            "ours. %d runs per rate, app and tcpdump in turn. Neither capture has a filter; "
            "the app asks libpcap for a 32 MiB ring, tcpdump keeps its own default (2 MiB). "
            "pcap counts every packet on lo twice (sent "
            "and received copy; libpcap keeps the received one), hence received and dropped "
            "are twice the packets. Loss-free: app, every segment in a row, no drop, "
            "event-loop lateness under %lld ms; tcpdump, no drop and captured at least the "
            "packets lo carried. Last row after: from the first segment sent. Lateness: how late a "
            "%d ms timer on the interface thread fires, over every due time of the run (a "
            "stall makes each due time within it late).\n\n",
            kPayloadSize, kLevelSeconds, kMaxSegments, kRuns, kLatenessLimitMs, kLatenessTickMs);
    const auto best_text = [](int rate, double sent) {
        return rate > 0
                ? QStringLiteral("%1 seg/s offered (%2 sent)").arg(rate).arg(bench::number(sent))
                : QStringLiteral("none");
    };
    std::printf("Highest loss-free rate (every run, every lower rate too): app %s, tcpdump %s\n",
                qPrintable(best_text(app_best, app_best_sent)),
                qPrintable(best_text(dump_best, dump_best_sent)));
    std::fflush(stdout);
    return 0;
}
