// SPDX-License-Identifier: GPL-2.0-or-later

// Following a TLS stream from a row: curl fetches a file of N MiB (1024 by
// default) from openssl s_server over TLS 1.3 (AES-128-GCM) on the lo of a
// network namespace of its own, captured; the capture is opened in the
// window and the stream followed decrypted. Times the first paint, the
// reading of every record, and a find that reads all the plaintext (a
// pattern that is not there), against tshark's TLS follow of the same file;
// and the loading of a key log of 1,000,000 lines. The load is printed next
// to every timing. Needs root (the namespace, the capture).
//
//   bench_tls [MiB]

#include <cstdio>
#include <cstring>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "benchreport.h"
#include "cupdate.h"
#include "hexwindow.h"
#include "looprecorder.h"
#include "mainwindow.h"
#include "qhexbuffer.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "tlskeylog.h"
#include "tlsstream.h"
#include "tlsstreamwindow.h"
#include "tlstraffic.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int mib = argc > 1 ? std::atoi(argv[1]) : 1024;
    QTemporaryDir dir;
    QString why;
    if (!dir.isValid() || !tlstraffic::enter_namespace(&why)
        || !tlstraffic::make_certificate(dir.path(), &why)) {
        std::fprintf(stderr, "bench_tls: %s\n", qPrintable(why));
        return 1;
    }
    {
        QFile body(dir.filePath(QStringLiteral("big.bin")));
        if (!body.open(QIODevice::WriteOnly) || !body.resize(qint64(mib) << 20))
            return 1;
    }
    const QString capture = dir.filePath(QStringLiteral("tls.pcap"));
    {
        LoopbackRecorder recorder(capture, tlstraffic::kPort, 262144, 1 << 30);
        tlstraffic::Client client;
        client.curl = true;
        client.options
                = QStringList { QStringLiteral("--tlsv1.3"), QStringLiteral("--tls13-ciphers"),
                                QStringLiteral("TLS_AES_128_GCM_SHA256"),
                                QStringLiteral("https://127.0.0.1/big.bin") };
        if (!recorder.error().isEmpty()
            || !tlstraffic::serve_openssl(dir.path(), QStringLiteral("127.0.0.1"), {}, { client },
                                          &why)) {
            std::fprintf(stderr, "bench_tls: %s%s\n", qPrintable(recorder.error()),
                         qPrintable(why));
            return 1;
        }
        if (recorder.stop() != 0)
            std::fprintf(stderr, "bench_tls: the capture dropped frames\n");
    }
    const QString keys = dir.filePath(QStringLiteral("client-keys.log"));

    MainWindow window;
    window.show();
    if (!window.load_tls_keylog(keys) || !window.open_capture_file(capture)
        || !QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 3600 * 1000))
        return 1;
    QElapsedTimer timer;
    timer.start();
    const double cpu = bench::threadCpuSeconds();
    const qint64 before = bench::residentBytes();
    auto* tls = qobject_cast<TlsStreamWindow*>(window.follow_tls_stream(0));
    if (tls == nullptr)
        return 1;
    (void)QTest::qWaitForWindowExposed(tls);
    tls->view()->viewport()->repaint();
    const double paint = timer.nsecsElapsed() / 1e9;
    const double paint_cpu = bench::threadCpuSeconds() - cpu;
    timer.restart();
    tls->readAll();
    const double read = timer.nsecsElapsed() / 1e9;
    const qint64 memory = bench::residentBytes() - before;
    const qint64 length = tls->view()->document()->length();
    timer.restart();
    const double find_cpu0 = bench::threadCpuSeconds();
    const qint64 found = tls->view()->document()->buffer()->indexOf("not in the body", 0);
    const double find = timer.nsecsElapsed() / 1e9;
    const double find_cpu = bench::threadCpuSeconds() - find_cpu0;
    const std::size_t records = tls->tls().records().size();
    if (found >= 0 || length < (qint64(mib) << 20)) {
        std::fprintf(stderr, "bench_tls: %lld bytes of plaintext, found at %lld\n",
                     static_cast<long long>(length), static_cast<long long>(found));
    }
    const double tshark
            = bench::timeCommand(QStringLiteral("tshark"),
                                 { QStringLiteral("-r"), capture, QStringLiteral("-o"),
                                   QStringLiteral("tls.keylog_file:") + keys, QStringLiteral("-q"),
                                   QStringLiteral("-z"), QStringLiteral("follow,tls,raw,0") },
                                 900);

    // A key log of a million lines: a quarter of a million TLS 1.3
    // connections.
    const QString big_log = dir.filePath(QStringLiteral("million.log"));
    {
        QFile file(big_log);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const char* labels[]
                = { "CLIENT_HANDSHAKE_TRAFFIC_SECRET", "SERVER_HANDSHAKE_TRAFFIC_SECRET",
                    "CLIENT_TRAFFIC_SECRET_0", "SERVER_TRAFFIC_SECRET_0" };
        QByteArray text;
        for (int i = 0; i < 1000000; ++i) {
            QByteArray random(32, '\0');
            std::memcpy(random.data(), &i, sizeof i);
            random[31] = static_cast<char>(i * 131);
            text += QByteArray(labels[i % 4]) + ' ' + random.toHex() + ' '
                    + QByteArray(32, static_cast<char>(i)).toHex() + '\n';
            if (text.size() > (1 << 20)) {
                file.write(text);
                text.clear();
            }
        }
        file.write(text);
    }
    std::vector<double> loads;
    std::vector<double> load_cpu;
    for (int run = 0; run < bench::runs(); ++run) {
        TlsKeyLog log;
        QElapsedTimer clock;
        clock.start();
        const double start = bench::threadCpuSeconds();
        if (!log.open(big_log))
            return 1;
        loads.push_back(clock.nsecsElapsed() / 1e9);
        load_cpu.push_back(bench::threadCpuSeconds() - start);
    }

    bench::Table table(
            { QStringLiteral("measure"), QStringLiteral("figure"), QStringLiteral("load") });
    table.add({ QStringLiteral("follow a %1 MiB TLS 1.3 stream (%2 records) from a row, to the "
                               "first paint")
                        .arg(mib)
                        .arg(records),
                QStringLiteral("%1 s (processor %2 s)")
                        .arg(bench::number(paint, 3), bench::number(paint_cpu, 3)),
                bench::loadAverage() });
    table.add({ QStringLiteral("then every record read (opened, tag checked)"),
                QStringLiteral("%1 s, %2 MB/s")
                        .arg(bench::number(read, 3), bench::number(length / read / 1e6)),
                bench::loadAverage() });
    table.add({ QStringLiteral("then a find that reads all the plaintext"),
                QStringLiteral("%1 s (processor %2 s), %3 MB/s")
                        .arg(bench::number(find, 3), bench::number(find_cpu, 3),
                             bench::number(length / find / 1e6)),
                bench::loadAverage() });
    table.add({ QStringLiteral("memory of the window after reading all"),
                QStringLiteral("%1 MiB").arg(memory >> 20), QStringLiteral("-") });
    table.add({ QStringLiteral("tshark -z follow,tls,raw of the same file"),
                tshark < 0 ? QStringLiteral("not done within 900 s")
                           : bench::number(tshark, 2) + QStringLiteral(" s"),
                bench::loadAverage() });
    table.add({ QStringLiteral("load a key log of 1,000,000 lines"),
                QStringLiteral("%1 s (median; processor %2 s)")
                        .arg(bench::number(bench::median(loads), 3),
                             bench::number(bench::median(load_cpu), 3)),
                bench::loadAverage() });
    table.print(QStringLiteral("Following a TLS stream"));
    return 0;
}
