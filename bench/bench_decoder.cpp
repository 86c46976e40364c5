// SPDX-License-Identifier: GPL-2.0-or-later

// The decoder under load: a capture file of TCP frames, over IPv4 and then
// over IPv6, read through the same road as a capture (CUpdate on a file://
// source: decode, filter, build the record line, emit), side by side with
// tcpdump and tshark on the same file.
//
//   bench_decoder [frames]      default 1000000; TARNLOOK_BENCH_RUNS runs (3);
//                               TARNLOOK_BENCH_OURS_ONLY=1 skips tcpdump and tshark

#include <atomic>
#include <cstdint>
#include <cstring>

#include <pcap/pcap.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "benchreport.h"
#include "cupdate.h"
#include "filtersettings.h"

namespace {

void put16(unsigned char* p, std::uint16_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v & 0xFF);
}

// Ethernet, IPv4 or IPv6, and TCP with the timestamp option (as Linux
// sends), a payload of 0 to 1448 bytes; sources vary over 16 hosts and many
// ports, the destination is 192.168.1.20 or 2001:db8:1::20.
bool writeCapture(const QString& path, int frames, bool ipv6)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.toLocal8Bit().constData());
    if (dumper == nullptr)
        return false;
    QRandomGenerator random(42);
    std::vector<unsigned char> payload(1448 + 64);
    for (unsigned char& byte : payload)
        byte = static_cast<unsigned char>(random.bounded(256));
    const int ipHeader = ipv6 ? 40 : 20;
    unsigned char frame[14 + 40 + 32 + 1448] = {};
    put16(frame + 12, ipv6 ? 0x86DD : 0x0800);
    for (int i = 0; i < frames; ++i) {
        const int size = random.bounded(1449);
        unsigned char* ip = frame + 14;
        if (ipv6) {
            ip[0] = 0x60;
            put16(ip + 4, static_cast<std::uint16_t>(32 + size));
            ip[6] = 6;
            ip[7] = 64;
            const unsigned char src[16]
                    = { 0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                        0,    0,    0,    0,    0, 0, 0, static_cast<unsigned char>(1 + i % 16) };
            const unsigned char dst[16]
                    = { 0x20, 0x01, 0x0d, 0xb8, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20 };
            std::memcpy(ip + 8, src, 16);
            std::memcpy(ip + 24, dst, 16);
        } else {
            ip[0] = 0x45;
            put16(ip + 2, static_cast<std::uint16_t>(20 + 32 + size));
            ip[8] = 64;
            ip[9] = 6;
            const unsigned char src[4] = { 10, 0, 0, static_cast<unsigned char>(1 + i % 16) };
            const unsigned char dst[4] = { 192, 168, 1, 20 };
            std::memcpy(ip + 12, src, 4);
            std::memcpy(ip + 16, dst, 4);
        }
        unsigned char* tcp = ip + ipHeader;
        put16(tcp, static_cast<std::uint16_t>(40000 + i % 20000));
        put16(tcp + 2, 443);
        tcp[12] = 8 << 4; // 32 bytes: 20 and the timestamp option
        tcp[13] = 0x18;
        put16(tcp + 14, 65535);
        tcp[20] = 1;
        tcp[21] = 1;
        tcp[22] = 8;
        tcp[23] = 10;
        std::memcpy(tcp + 32, payload.data() + i % 64, static_cast<std::size_t>(size));
        pcap_pkthdr header {};
        header.ts.tv_sec = 1700000000 + i / 1000;
        header.ts.tv_usec = (i % 1000) * 1000;
        header.caplen = header.len = static_cast<bpf_u_int32>(14 + ipHeader + 32 + size);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame);
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

// The machine's load averages over 1, 5 and 15 minutes: the machine is
// shared, and every timing is read against them.
QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// Seconds the capture thread takes over the whole file, and the lines it
// emitted.
double runCapture(const QString& path, const FilterSettings& settings, qint64* lines)
{
    CUpdate capture(settings);
    std::atomic<qint64> count { 0 };
    QObject::connect(
            &capture, &CUpdate::send_update, &capture,
            [&count](const QString&) { count.fetch_add(1, std::memory_order_relaxed); },
            Qt::DirectConnection);
    capture.adapter_name = QStringLiteral("file://") + path;
    QElapsedTimer timer;
    timer.start();
    capture.start();
    capture.wait();
    *lines = count.load();
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_LOGGING_RULES", "tarnlook.*.debug=false");
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    const int runCount = qEnvironmentVariableIsSet("TARNLOOK_BENCH_RUNS")
            ? qMax(1, qEnvironmentVariableIntValue("TARNLOOK_BENCH_RUNS"))
            : 3;

    const bool oursOnly = qEnvironmentVariableIsSet("TARNLOOK_BENCH_OURS_ONLY"); // for profiling
    for (const bool ipv6 : { false, true }) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("frames.pcap"));
        if (!dir.isValid() || !writeCapture(path, frames, ipv6)) {
            std::fprintf(stderr, "bench_decoder: cannot write the capture file\n");
            return 1;
        }
        const QString loadBefore = loadAverage();

        // 19 entries that never match, then every frame's destination; for
        // IPv6 also spelled out in full, which takes the parsing path.
        const QString destination
                = ipv6 ? QStringLiteral("2001:db8:1::20") : QStringLiteral("192.168.1.20");
        FilterSettings off;
        FilterSettings listed;
        listed.include_ip_enabled = true;
        for (int i = 0; i < 19; ++i)
            listed.include_ips.append(ipv6 ? QStringLiteral("2001:db8:2::%1").arg(i)
                                           : QStringLiteral("172.16.0.%1").arg(i));
        listed.include_ips.append(destination);
        FilterSettings spelled = listed;
        if (ipv6) {
            for (int i = 0; i < 19; ++i)
                spelled.include_ips[i]
                        = QStringLiteral("2001:0DB8:0002:0000:0000:0000:0000:%1").arg(i);
            spelled.include_ips[19] = QStringLiteral("2001:0DB8:0001:0000:0000:0000:0000:0020");
        }

        bench::Table table({ QStringLiteral("reader"), QStringLiteral("median s"),
                             QStringLiteral("frames/s"), QStringLiteral("ours is faster by") });
        struct Case
        {
            QString name;
            FilterSettings settings;
        };
        QList<Case> cases = { { QStringLiteral("Tarnlook, all switches off"), off },
                              { QStringLiteral("Tarnlook, 20-entry include list"), listed } };
        if (ipv6)
            cases.append({ QStringLiteral("Tarnlook, 20-entry include list, spelled out in full"),
                           spelled });
        double ours = 0;
        for (const Case& c : cases) {
            std::vector<double> times;
            qint64 lines = 0;
            for (int run = 0; run < runCount; ++run) {
                times.push_back(runCapture(path, c.settings, &lines));
                if (lines != frames)
                    std::fprintf(stderr, "bench_decoder: %s: %lld lines for %d frames\n",
                                 qPrintable(c.name), lines, frames);
            }
            const double seconds = bench::median(times);
            if (ours == 0)
                ours = seconds;
            table.add({ c.name, bench::number(seconds, 2), bench::number(frames / seconds),
                        QStringLiteral("—") });
        }

        struct Tool
        {
            QString name;
            QString program;
            QStringList arguments;
        };
        const QString ip = ipv6 ? QStringLiteral("ipv6") : QStringLiteral("ip");
        const QList<Tool> tools = {
            { QStringLiteral("tcpdump -r FILE -nn -x"),
              QStringLiteral("tcpdump"),
              { QStringLiteral("-r"), path, QStringLiteral("-nn"), QStringLiteral("-x") } },
            { QStringLiteral("tshark -r FILE -T fields (6 fields)"),
              QStringLiteral("tshark"),
              { QStringLiteral("-r"), path, QStringLiteral("-T"), QStringLiteral("fields"),
                QStringLiteral("-e"), ip + QStringLiteral(".src"), QStringLiteral("-e"),
                QStringLiteral("tcp.srcport"), QStringLiteral("-e"), ip + QStringLiteral(".dst"),
                QStringLiteral("-e"), QStringLiteral("tcp.dstport"), QStringLiteral("-e"),
                QStringLiteral("tcp.len"), QStringLiteral("-e"), QStringLiteral("tcp.payload") } },
        };
        for (const Tool& tool : oursOnly ? QList<Tool>() : tools) {
            const QString program = QStandardPaths::findExecutable(tool.program);
            if (program.isEmpty()) {
                table.add({ tool.name, QStringLiteral("not installed"), QString(), QString() });
                continue;
            }
            std::vector<double> times;
            for (int run = 0; run < runCount; ++run)
                times.push_back(bench::timeCommand(program, tool.arguments));
            const double seconds = bench::median(times);
            table.add({ tool.name, bench::number(seconds, 2), bench::number(frames / seconds),
                        bench::number(seconds / ours, 1) + QStringLiteral("×") });
        }
        table.print(QStringLiteral("Decoder: %1 %2 TCP frames from a capture file, one core, "
                                   "median of %3")
                            .arg(frames)
                            .arg(ipv6 ? QStringLiteral("IPv6") : QStringLiteral("IPv4"))
                            .arg(runCount));
        std::printf("Load average (1, 5, 15 min): %s before, %s after.\n\n", qPrintable(loadBefore),
                    qPrintable(loadAverage()));
    }
    return 0;
}
