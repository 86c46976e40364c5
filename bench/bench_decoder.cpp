// The decoder under load: a capture file of TCP frames read through the same
// road as a capture (CUpdate on a file:// source: decode, filter, build the
// record line, emit), side by side with tcpdump and tshark on the same file.
//
//   bench_decoder [frames]      default 1000000; TARNLOOK_BENCH_RUNS runs (3);
//                               TARNLOOK_BENCH_OURS_ONLY=1 skips tcpdump and tshark

#include <atomic>
#include <cstdint>
#include <cstring>

#include <pcap/pcap.h>

#include <QCoreApplication>
#include <QElapsedTimer>
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

// Ethernet, IPv4 and TCP with the timestamp option (as Linux sends), a
// payload of 0 to 1448 bytes; sources vary over 16 hosts and many ports.
bool writeCapture(const QString& path, int frames)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.toLocal8Bit().constData());
    if (dumper == nullptr)
        return false;
    QRandomGenerator random(42);
    std::vector<unsigned char> payload(1448 + 64);
    for (unsigned char& byte : payload)
        byte = static_cast<unsigned char>(random.bounded(256));
    unsigned char frame[14 + 20 + 32 + 1448] = {};
    put16(frame + 12, 0x0800);
    for (int i = 0; i < frames; ++i) {
        const int size = random.bounded(1449);
        unsigned char* ip = frame + 14;
        ip[0] = 0x45;
        put16(ip + 2, static_cast<std::uint16_t>(20 + 32 + size));
        ip[8] = 64;
        ip[9] = 6;
        const unsigned char src[4] = { 10, 0, 0, static_cast<unsigned char>(1 + i % 16) };
        const unsigned char dst[4] = { 192, 168, 1, 20 };
        std::memcpy(ip + 12, src, 4);
        std::memcpy(ip + 16, dst, 4);
        unsigned char* tcp = ip + 20;
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
        header.caplen = header.len = static_cast<bpf_u_int32>(14 + 20 + 32 + size);
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame);
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
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

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frames.pcap"));
    if (!dir.isValid() || !writeCapture(path, frames)) {
        std::fprintf(stderr, "bench_decoder: cannot write the capture file\n");
        return 1;
    }

    FilterSettings off;
    FilterSettings listed;
    listed.include_ip_enabled = true;
    for (int i = 0; i < 19; ++i)
        listed.include_ips.append(QStringLiteral("172.16.0.%1").arg(i));
    listed.include_ips.append(QStringLiteral("192.168.1.20")); // every frame's destination

    bench::Table table({ QStringLiteral("reader"), QStringLiteral("median s"),
                         QStringLiteral("frames/s"), QStringLiteral("ours is faster by") });
    std::vector<double> plain;
    std::vector<double> filtered;
    qint64 lines = 0;
    for (int run = 0; run < runCount; ++run) {
        plain.push_back(runCapture(path, off, &lines));
        if (lines != frames)
            std::fprintf(stderr, "bench_decoder: %lld lines for %d frames\n", lines, frames);
        filtered.push_back(runCapture(path, listed, &lines));
    }
    const double ours = bench::median(plain);
    table.add({ QStringLiteral("Tarnlook, all switches off"), bench::number(ours, 2),
                bench::number(frames / ours), QStringLiteral("—") });
    const double oursListed = bench::median(filtered);
    table.add({ QStringLiteral("Tarnlook, 20-entry include list"), bench::number(oursListed, 2),
                bench::number(frames / oursListed), QStringLiteral("—") });

    struct Tool
    {
        QString name;
        QString program;
        QStringList arguments;
    };
    const QList<Tool> tools = {
        { QStringLiteral("tcpdump -r FILE -nn -x"),
          QStringLiteral("tcpdump"),
          { QStringLiteral("-r"), path, QStringLiteral("-nn"), QStringLiteral("-x") } },
        { QStringLiteral("tshark -r FILE -T fields (6 fields)"),
          QStringLiteral("tshark"),
          { QStringLiteral("-r"), path, QStringLiteral("-T"), QStringLiteral("fields"),
            QStringLiteral("-e"), QStringLiteral("ip.src"), QStringLiteral("-e"),
            QStringLiteral("tcp.srcport"), QStringLiteral("-e"), QStringLiteral("ip.dst"),
            QStringLiteral("-e"), QStringLiteral("tcp.dstport"), QStringLiteral("-e"),
            QStringLiteral("tcp.len"), QStringLiteral("-e"), QStringLiteral("tcp.payload") } },
    };
    const bool oursOnly = qEnvironmentVariableIsSet("TARNLOOK_BENCH_OURS_ONLY"); // for profiling
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
    table.print(QStringLiteral("Decoder: %1 TCP frames from a capture file, one core, median of %2")
                        .arg(frames)
                        .arg(runCount));
    return 0;
}
