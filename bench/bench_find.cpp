// SPDX-License-Identifier: GPL-2.0-or-later

// Finding and narrowing in a table of 1,000,000 rows opened from a capture
// file, shown in the window: a payload string found in the last row's
// payload (MainWindow::find_row, what the find bar runs), a text in the
// last row's fields, and the table narrowed to half its rows by the filter
// lists and shown whole again. For comparison, tshark's display filter
// `frame contains` and grep -c over the same file. The machine's load is
// printed next to every timing.
//
//   bench_find [rows]          default 1000000; TARNLOOK_BENCH_RUNS runs (3)

#include <cstdio>
#include <vector>

#include <pcap/pcap.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "benchreport.h"
#include "cupdate.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "mainwindow.h"
#include "testframes.h"

namespace {

constexpr int kPayload = 100;
const QByteArray kNeedle = "token=7f3a9c";
const QString kLastAddress = QStringLiteral("10.9.9.9");

// Rows of 100-byte payloads from 192.168.x.y:40000+ to 10.0.0.5:8080 (or
// 8443 every other row); the last row alone carries the needle and comes
// from kLastAddress.
bool write_file(const QString& path, int rows)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* dumper = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (dumper == nullptr) {
        pcap_close(dead);
        return false;
    }
    pcap_pkthdr header {};
    header.ts.tv_sec = 1700000000;
    for (int i = 0; i < rows; ++i) {
        testframes::Ipv4Packet packet;
        const bool last = i == rows - 1;
        QByteArray payload = "GET /item/" + QByteArray::number(i) + " HTTP/1.1\r\nHost: x\r\n";
        payload += last ? kNeedle : QByteArray("cookie=none");
        payload = payload.leftJustified(kPayload, '.', true);
        packet.payload = payload;
        packet.src[2] = static_cast<std::uint8_t>(i >> 8);
        packet.src[3] = static_cast<std::uint8_t>(i);
        packet.src_port = static_cast<std::uint16_t>(40000 + i % 20000);
        packet.dst_port = i % 2 == 0 ? 8080 : 8443;
        if (last) {
            packet.src[0] = 10;
            packet.src[1] = packet.src[2] = packet.src[3] = 9;
        }
        const QByteArray frame = testframes::ethernet(testframes::ipv4(packet));
        header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
        header.ts.tv_usec = i % 1000000;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header,
                  reinterpret_cast<const u_char*>(frame.constData()));
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

template <typename F> std::vector<double> time_runs(F&& work)
{
    std::vector<double> times;
    for (int run = 0; run < bench::runs(); ++run) {
        QElapsedTimer timer;
        timer.start();
        if (!work())
            return {};
        times.push_back(timer.nsecsElapsed() / 1e9);
    }
    return times;
}

QString seconds(const std::vector<double>& times)
{
    if (times.empty())
        return QStringLiteral("failed");
    QStringList all;
    for (const double t : times)
        all.append(bench::number(t, 3));
    return bench::number(bench::median(times), 3) + QStringLiteral(" s (runs: ")
            + all.join(QStringLiteral(", ")) + QLatin1Char(')');
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("find.pcap"));
    if (!dir.isValid() || !write_file(path, rows)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    MainWindow window;
    window.show();
    if (!window.open_capture_file(path)
        || !QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 3600 * 1000)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    if (table->rowCount() != rows) {
        std::fprintf(stderr, "%d rows of %d\n", table->rowCount(), rows);
        return 1;
    }
    QCoreApplication::processEvents();
    bench::Table out({ QStringLiteral("measure"), QStringLiteral("figure"),
                       QStringLiteral("target"), QStringLiteral("load") });

    const QString needle = QString::fromLatin1(kNeedle);
    QString load = bench::loadAverage();
    const std::vector<double> payload = time_runs([&] {
        return window.find_row(needle, MainWindow::FindKind::PayloadText, -1, true) == rows - 1;
    });
    out.add({ QStringLiteral("find a payload string in %1 rows of %2 B, match in the last row")
                      .arg(rows)
                      .arg(kPayload),
              seconds(payload), QStringLiteral("< 1 s"), load });

    load = bench::loadAverage();
    const double tshark
            = bench::timeCommand(QStringLiteral("tshark"),
                                 { QStringLiteral("-r"), path, QStringLiteral("-Y"),
                                   QStringLiteral("frame contains \"%1\"").arg(needle) },
                                 900);
    out.add({ QStringLiteral("tshark -r FILE -Y 'frame contains \"%1\"'").arg(needle),
              tshark < 0 ? QStringLiteral("failed or over 900 s") : bench::number(tshark, 2) + " s",
              QStringLiteral("comparison"), load });
    load = bench::loadAverage();
    const double grep
            = bench::timeCommand(QStringLiteral("grep"), { QStringLiteral("-c"), needle, path });
    out.add({ QStringLiteral("grep -c %1 FILE").arg(needle),
              grep < 0 ? QStringLiteral("failed") : bench::number(grep, 3) + " s",
              QStringLiteral("comparison"), load });

    load = bench::loadAverage();
    const std::vector<double> fields = time_runs([&] {
        return window.find_row(kLastAddress, MainWindow::FindKind::Fields, -1, true) == rows - 1;
    });
    out.add({ QStringLiteral("find \"%1\" in the fields of %2 rows, match in the last row")
                      .arg(kLastAddress)
                      .arg(rows),
              seconds(fields), QStringLiteral("< 0.3 s"), load });

    // Narrowing: port 8080 alone, half the rows hidden; then the lists off.
    auto* apply = g_filter_form->findChild<QPushButton*>(QStringLiteral("applyToShownRows"));
    const auto hidden = [table] {
        int count = 0;
        for (int row = 0; row < table->rowCount(); ++row)
            count += table->isRowHidden(row) ? 1 : 0;
        return count;
    };
    std::vector<double> narrow_times;
    std::vector<double> widen_times;
    QString narrow_load;
    QString widen_load;
    for (int run = 0; run < bench::runs(); ++run) {
        g_filter_settings = FilterSettings();
        g_filter_settings.include_port_enabled = true;
        g_filter_settings.include_ports = QStringList { QStringLiteral("8080") };
        narrow_load = bench::loadAverage();
        QElapsedTimer timer;
        timer.start();
        apply->click();
        // Until the window has painted the narrowed table.
        table->viewport()->repaint();
        narrow_times.push_back(timer.nsecsElapsed() / 1e9);
        if (hidden() != rows / 2) {
            std::fprintf(stderr, "%d rows hidden of %d\n", hidden(), rows);
            return 1;
        }
        g_filter_settings = FilterSettings();
        widen_load = bench::loadAverage();
        timer.restart();
        apply->click();
        table->viewport()->repaint();
        widen_times.push_back(timer.nsecsElapsed() / 1e9);
        if (hidden() != 0) {
            std::fprintf(stderr, "%d rows still hidden\n", hidden());
            return 1;
        }
    }
    out.add({ QStringLiteral("narrow %1 rows to half of them (include port 8080), to the paint")
                      .arg(rows),
              seconds(narrow_times), QStringLiteral("< 1 s"), narrow_load });
    out.add({ QStringLiteral("show all %1 rows again (lists off), to the paint").arg(rows),
              seconds(widen_times), QStringLiteral("< 1 s"), widen_load });

    out.print(QStringLiteral("Finding and narrowing rows (medians of %1 runs)").arg(bench::runs()));
    return 0;
}
