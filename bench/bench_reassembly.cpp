// SPDX-License-Identifier: GPL-2.0-or-later

// The TCP reassembly alone on a 1 GiB transfer: 750,000 segments of 1448
// bytes and the receiver's acknowledgements (one per two segments, as
// Linux sends them), in order, and with 3% of the segments lost before
// the capture and sent again a few segments later: the bytes after each
// hole wait until its copy arrives. Then a connection made to hold the
// reassembly up: 30,000 one-byte segments at every other position after a
// byte that never comes, and frames without payload that state 65,495
// bytes over all of them, 1,000,000 segments in all.
//
//   bench_reassembly [segments] [hostile segments]   default 750000 and
//   1000000; TARNLOOK_BENCH_RUNS runs (3)

#include <cstdint>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include "benchreport.h"
#include "tcpreassembly.h"

namespace {

constexpr std::uint32_t kMss = 1448;
constexpr std::uint32_t kIsn = 0xfff00000; // wraps after 1 MiB

TcpSegmentIn data(std::int64_t frame, std::uint32_t index)
{
    TcpSegmentIn in;
    in.frame = frame;
    in.seconds = frame / 100000;
    in.direction = 0;
    in.seq = kIsn + 1 + index * kMss;
    in.has_ack = true;
    in.payload_offset = 66;
    in.captured = in.stated = kMss;
    return in;
}

TcpSegmentIn ack(std::int64_t frame, std::uint32_t acked_segments)
{
    TcpSegmentIn in;
    in.frame = frame;
    in.seconds = frame / 100000;
    in.direction = 1;
    in.seq = 1;
    in.ack = kIsn + 1 + acked_segments * kMss;
    in.has_ack = true;
    in.payload_offset = 66;
    return in;
}

// The segments as captured; `loss` of them (0 to 1) lost on the way and
// sent again 3 to 10 segments later.
std::vector<TcpSegmentIn> transfer(std::uint32_t segments, double loss)
{
    QRandomGenerator random(23);
    std::vector<TcpSegmentIn> out;
    out.reserve(segments * 2);
    std::int64_t frame = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> resend; // when, which
    std::uint32_t received = 0; // contiguous at the receiver
    std::vector<bool> arrived(segments, false);
    for (std::uint32_t i = 0; i < segments || !resend.empty(); ++i) {
        if (i < segments) {
            if (random.generateDouble() < loss) {
                resend.emplace_back(i + 3 + random.bounded(8), i);
            } else {
                out.push_back(data(++frame, i));
                arrived[i] = true;
            }
        }
        for (auto it = resend.begin(); it != resend.end();) {
            if (it->first <= i) {
                out.push_back(data(++frame, it->second));
                arrived[it->second] = true;
                it = resend.erase(it);
            } else {
                ++it;
            }
        }
        while (received < segments && arrived[received])
            ++received;
        if (i % 2 == 1)
            out.push_back(ack(++frame, received));
    }
    return out;
}

// The hostile connection of the header comment, `segments` in all.
std::vector<TcpSegmentIn> hostile(std::uint32_t segments)
{
    constexpr std::uint32_t kWaiting = 30000;
    std::vector<TcpSegmentIn> out;
    out.reserve(segments);
    TcpSegmentIn in;
    in.syn = true;
    in.seq = kIsn;
    out.push_back(in);
    in.syn = false;
    in.has_ack = true;
    in.payload_offset = 54;
    for (std::uint32_t i = 0; i < kWaiting && out.size() < segments; ++i) {
        in.frame = static_cast<std::int64_t>(out.size());
        in.seq = kIsn + 2 + 2 * i;
        in.captured = in.stated = 1;
        out.push_back(in);
    }
    in.seq = kIsn + 2;
    in.captured = 0;
    in.stated = 65535 - 40;
    while (out.size() < segments) {
        in.frame = static_cast<std::int64_t>(out.size());
        out.push_back(in);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::uint32_t segments
            = argc > 1 ? static_cast<std::uint32_t>(QByteArray(argv[1]).toUInt()) : 750000;
    const int runs = qEnvironmentVariableIsSet("TARNLOOK_BENCH_RUNS")
            ? qEnvironmentVariableIntValue("TARNLOOK_BENCH_RUNS")
            : 3;

    bench::Table table({ QStringLiteral("capture"), QStringLiteral("segments added"),
                         QStringLiteral("events reserved"), QStringLiteral("ms (median)"),
                         QStringLiteral("events"), QStringLiteral("retransmissions"),
                         QStringLiteral("gaps"), QStringLiteral("event bytes per data segment") });
    const struct
    {
        const char* name;
        double loss;
    } cases[] = { { "in order", 0 }, { "3% lost and sent again", 0.03 } };
    for (const auto& c : cases) {
        const std::vector<TcpSegmentIn> captured = transfer(segments, c.loss);
        // What a caller that knows the stream's rows can reserve: one event
        // per segment with data.
        std::size_t with_data = 0;
        for (const TcpSegmentIn& segment : captured)
            with_data += segment.stated > 0 ? 1 : 0;
        for (const bool reserve : { false, true }) {
            std::vector<double> ms;
            TcpReassembly last;
            for (int run = 0; run < runs; ++run) {
                TcpReassembly reassembly;
                QElapsedTimer timer;
                timer.start();
                if (reserve)
                    reassembly.reserve(with_data);
                for (const TcpSegmentIn& segment : captured)
                    reassembly.add(segment);
                reassembly.finish();
                ms.push_back(timer.nsecsElapsed() / 1e6);
                if (reassembly.bytes()[0] != std::uint64_t(segments) * kMss) {
                    std::fprintf(stderr, "bench_reassembly: wrong byte count\n");
                    return 1;
                }
                last = std::move(reassembly);
            }
            const double per_segment
                    = double(last.events().capacity() * sizeof(TcpStreamEvent)) / segments;
            table.add({ QString::fromLatin1(c.name), QString::number(captured.size()),
                        reserve ? QString::number(with_data) : QStringLiteral("no"),
                        bench::number(bench::median(ms), 1), QString::number(last.events().size()),
                        QString::number(last.retransmissions()), QString::number(last.gaps()),
                        bench::number(per_segment, 0) });
        }
    }
    table.print(QStringLiteral("TCP reassembly of a 1 GiB transfer (%1 segments of %2 B and "
                               "their acknowledgements; an event is %3 B)")
                        .arg(segments)
                        .arg(kMss)
                        .arg(sizeof(TcpStreamEvent)));

    const std::uint32_t hostile_segments
            = argc > 2 ? static_cast<std::uint32_t>(QByteArray(argv[2]).toUInt()) : 1000000;
    const std::vector<TcpSegmentIn> held_up = hostile(hostile_segments);
    std::vector<double> ms;
    std::vector<double> cpu_ms;
    std::int64_t gaps = 0;
    for (int run = 0; run < runs; ++run) {
        TcpReassembly reassembly;
        QElapsedTimer timer;
        timer.start();
        const double cpu = bench::threadCpuSeconds();
        for (const TcpSegmentIn& segment : held_up)
            reassembly.add(segment);
        reassembly.finish();
        ms.push_back(timer.nsecsElapsed() / 1e6);
        cpu_ms.push_back((bench::threadCpuSeconds() - cpu) * 1e3);
        gaps = reassembly.gaps();
    }
    bench::Table held({ QStringLiteral("segments"), QStringLiteral("ms (median)"),
                        QStringLiteral("processor ms (median)"), QStringLiteral("gaps"),
                        QStringLiteral("load") });
    held.add({ QString::number(held_up.size()), bench::number(bench::median(ms), 1),
               bench::number(bench::median(cpu_ms), 1), QString::number(gaps),
               bench::loadAverage() });
    held.print(QStringLiteral("TCP reassembly of a connection made to hold it up (30,000 one-byte "
                              "segments waiting, each later segment stating 65,495 bytes over "
                              "them)"));
    return 0;
}
