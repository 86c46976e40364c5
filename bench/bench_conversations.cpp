// SPDX-License-Identifier: GPL-2.0-or-later

// The conversations and marks of 1,000,000 rows opened from a capture file
// in the window: what the analysis costs per row (its share of the
// resident memory, fed alone with the same segments, and the row's whole
// cost in the window with it), and the time "TCP会话..." takes to open its
// window to the first paint, and to sort it by a column. The rows belong to
// 1,000, 100,000 or 1,000,000 connections (a handshake, then data one way
// and its acknowledgements: no row marked), or to the 60,000 address and
// port pairs of bench_store's file, whose segments all begin at sequence
// number 0 (all but a pair's first marked as retransmissions). Each case
// runs in a process of its own, so that its memory is its own; the
// machine's load is printed next to every timing.
//
//   bench_conversations [rows]            default 1000000, every case
//   bench_conversations --case KIND CONNECTIONS ROWS   one case, one line
//     KIND "window": open the file in the window, then the conversations
//     KIND "analysis": the analysis alone, fed the file's segments
//     KIND "refresh": the window open over half the rows, the model
//       refreshed after each 50,000 more

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <pcap/pcap.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>

#include "benchreport.h"
#include "conversationsmodel.h"
#include "conversationswindow.h"
#include "cupdate.h"
#include "mainwindow.h"
#include "packetrecord.h"
#include "tcpanalysis.h"
#include "testframes.h"

namespace {

constexpr int kPayload = 100;

// Row i of `connections` (0: bench_store's file, every row of the pair
// 192.168.0.1:1024+i%60000 and 10.0.0.5:51000 at sequence number 0).
QByteArray frame_of(int i, int connections)
{
    testframes::Ipv4Packet p;
    if (connections == 0) {
        p.src_port = static_cast<std::uint16_t>(1024 + i % 60000);
        p.payload = QByteArray(kPayload, static_cast<char>('a' + i % 26));
        return testframes::ethernet(testframes::ipv4(p));
    }
    const int connection = i % connections;
    const int step = i / connections;
    const std::uint8_t client[4]
            = { 10, static_cast<std::uint8_t>(connection >> 16),
                static_cast<std::uint8_t>(connection >> 8), static_cast<std::uint8_t>(connection) };
    const std::uint8_t server[4] = { 10, 255, 0, 5 };
    const bool from_client = step != 1 && (step < 3 || (step - 3) % 2 == 0);
    std::memcpy(p.src, from_client ? client : server, 4);
    std::memcpy(p.dst, from_client ? server : client, 4);
    p.src_port = from_client ? 40000 : 443;
    p.dst_port = from_client ? 443 : 40000;
    const int sent = step < 3 ? 0 : (step - 3) / 2 + (from_client ? 0 : 1); // data segments
    switch (step) {
    case 0:
        p.tcp_flags = 0x02;
        p.seq = 1000;
        break;
    case 1:
        p.tcp_flags = 0x12;
        p.seq = 5000;
        p.ack = 1001;
        break;
    default:
        p.tcp_flags = from_client && step > 2 ? 0x18 : 0x10;
        p.seq = from_client ? 1001 + std::uint32_t(kPayload * sent) : 5001;
        p.ack = from_client ? 5001 : 1001 + std::uint32_t(kPayload * sent);
        if (from_client && step > 2)
            p.payload = QByteArray(kPayload, 'x');
    }
    return testframes::ethernet(testframes::ipv4(p));
}

bool write_file(const QString& path, int connections, int rows)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* dumper = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (dumper == nullptr) {
        pcap_close(dead);
        return false;
    }
    for (int i = 0; i < rows; ++i) {
        const QByteArray frame = frame_of(i, connections);
        pcap_pkthdr header = testframes::header_for(frame, 1700000000 + i / 1000000);
        header.ts.tv_usec = i % 1000000;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header,
                  reinterpret_cast<const u_char*>(frame.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

// "bytes-per-row connections marked-rows"
int analysis_case(const QString& path)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (file == nullptr)
        return 1;
    const qint64 before = bench::residentBytes();
    TcpAnalysis analysis;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(file, &header, &data) == 1) {
        const std::optional<TcpSegmentHeader> tcp = decode_tcp_segment(DLT_EN10MB, *header, data);
        const CapturedSegment segment { tcp.value_or(TcpSegmentHeader()), header->ts.tv_sec,
                                        std::uint32_t(header->ts.tv_usec) * 1000 };
        analysis.add(analysis.row_count(), tcp ? &segment : nullptr);
    }
    pcap_close(file);
    const qint64 after = bench::residentBytes();
    std::printf("%.1f %d %zu\n", double(after - before) / analysis.row_count(),
                analysis.connection_count(), analysis.marked_rows().size());
    return 0;
}

// "bytes-per-row open-ms... sort-s load"
int window_case(const QString& path, int rows)
{
    auto* window = new MainWindow; // left to the process's end
    window->end_with_process();
    window->show();
    QApplication::processEvents();
    const qint64 before = bench::residentBytes();
    window->open_capture_file(path);
    while (g_capture_thread != nullptr)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QApplication::processEvents();
    const qint64 after = bench::residentBytes();
    const auto* table = window->findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    if (table->rowCount() != rows)
        return 1;

    auto* action = window->findChild<QAction*>(QStringLiteral("actionConversations"));
    std::vector<double> opens;
    std::vector<double> cpus;
    for (int run = 0; run < bench::runs(); ++run) {
        delete window->findChild<ConversationsWindow*>();
        QElapsedTimer timer;
        timer.start();
        const double cpu = bench::threadCpuSeconds();
        action->trigger();
        auto* conversations = window->findChild<ConversationsWindow*>();
        bench::waitForPaint(conversations->view()->viewport());
        opens.push_back(timer.nsecsElapsed() / 1e6);
        cpus.push_back((bench::threadCpuSeconds() - cpu) * 1e3);
    }
    const QString load = bench::loadAverage();
    QTableView* view = window->findChild<ConversationsWindow*>()->view();
    QElapsedTimer timer;
    timer.start();
    view->sortByColumn(5, Qt::DescendingOrder); // bytes A to B
    bench::waitForPaint(view->viewport());
    const double sort = timer.nsecsElapsed() / 1e9;
    std::printf("%.1f %.1f %.1f %.1f %.1f %.1f %.2f %s\n", double(after - before) / rows,
                bench::median(opens), *std::min_element(opens.begin(), opens.end()),
                *std::max_element(opens.begin(), opens.end()), bench::median(cpus),
                double(view->model()->rowCount()), sort, qPrintable(load));
    return 0;
}

// The window open and sorted by bytes A to B while rows arrive: a refresh
// of the model after `batch` more rows of the file's connections (what
// 250 ms of a capture brings at 4 x batch rows/s). "refresh-ms... load"
int refresh_case(const QString& path, int batch)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (file == nullptr)
        return 1;
    std::vector<CapturedSegment> segments;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(file, &header, &data) == 1)
        if (const std::optional<TcpSegmentHeader> tcp
            = decode_tcp_segment(DLT_EN10MB, *header, data))
            segments.push_back(
                    { *tcp, header->ts.tv_sec, std::uint32_t(header->ts.tv_usec) * 1000 });
    pcap_close(file);
    TcpAnalysis analysis;
    ConversationsModel model(analysis);
    ConversationsWindow window(&model);
    const std::size_t first = segments.size() / 2;
    for (std::size_t i = 0; i < first; ++i)
        analysis.add(int(i), &segments[i]);
    model.refresh();
    window.show();
    window.view()->sortByColumn(ConversationsModel::BytesAB, Qt::DescendingOrder);
    window.view()->selectRow(3);
    bench::waitForPaint(window.view()->viewport());
    std::vector<double> times;
    for (std::size_t at = first; at + std::size_t(batch) <= segments.size() && times.size() < 10;
         at += std::size_t(batch)) {
        for (std::size_t i = at; i < at + std::size_t(batch); ++i)
            analysis.add(int(i), &segments[i]);
        QElapsedTimer timer;
        timer.start();
        model.refresh();
        window.view()->viewport()->repaint();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("%.1f %.1f %d %s\n", bench::median(times),
                *std::max_element(times.begin(), times.end()), model.rowCount(),
                qPrintable(bench::loadAverage()));
    return 0;
}

QStringList run_case(const QString& kind, int connections, int rows)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(),
                  { QStringLiteral("--case"), kind, QString::number(connections),
                    QString::number(rows) });
    process.waitForFinished(-1);
    return QString::fromLatin1(process.readAllStandardOutput())
            .trimmed()
            .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 5 && arguments.at(1) == QLatin1String("--case")) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.pcap"));
        const int rows = arguments.at(4).toInt();
        if (!write_file(path, arguments.at(3).toInt(), rows))
            return 1;
        if (arguments.at(2) == QLatin1String("refresh"))
            return refresh_case(path, 50000);
        return arguments.at(2) == QLatin1String("analysis") ? analysis_case(path)
                                                            : window_case(path, rows);
    }
    const int rows = arguments.size() > 1 ? arguments.at(1).toInt() : 1000000;

    bench::Table table({ "rows", "connections", "marked rows", "analysis B/row",
                         "whole row in the window B/row", "open the window, ms: median (min–max)",
                         "open, processor ms", "sort by bytes A→B, s", "load" });
    for (const int connections : { 1000, 100000, 1000000, 0 }) {
        const QStringList analysis = run_case(QStringLiteral("analysis"), connections, rows);
        const QStringList window = run_case(QStringLiteral("window"), connections, rows);
        if (analysis.size() != 3 || window.size() != 10) {
            std::fprintf(stderr, "case %d failed\n", connections);
            return 1;
        }
        table.add({ QString::number(rows),
                    connections == 0 ? QStringLiteral("60000 pairs, as bench_store's file")
                                     : analysis.at(1),
                    analysis.at(2), analysis.at(0), window.at(0),
                    QStringLiteral("%1 (%2–%3)").arg(window.at(1), window.at(2), window.at(3)),
                    window.at(4), window.at(6), window.mid(7).join(QLatin1Char(' ')) });
    }
    table.print(
            QStringLiteral("Conversations and marks of %1 rows (bench_conversations)").arg(rows));

    bench::Table live({ "connections", "rows before", "refresh after 50,000 more rows, ms: median",
                        "worst of 10", "load" });
    for (const int connections : { 1000, 100000 }) {
        const QStringList refresh = run_case(QStringLiteral("refresh"), connections, rows);
        if (refresh.size() != 6)
            return 1;
        live.add({ refresh.at(2), QString::number(rows / 2), refresh.at(0), refresh.at(1),
                   refresh.mid(3).join(QLatin1Char(' ')) });
    }
    live.print(QStringLiteral("The open window, sorted by bytes A→B, while rows arrive "
                              "(bench_conversations)"));
    return 0;
}
