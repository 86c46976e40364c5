// SPDX-License-Identifier: GPL-2.0-or-later

// A followed TCP stream of 1 GiB as a hex document that refers to the capture
// files instead of copying them: 750,000 runs of 1448 bytes, each after an
// 82-byte gap (a pcap record header and the frame's headers), spread over
// four generated files in $TMPDIR (in the page cache: they were just
// written). Measured: building the run list, opening a hex window over it up
// to its first paint and the resident memory that adds (each opening in a
// process of its own, so that its memory is its own), a repaint at the start
// and at the end, and reading it all through find and save.
//
//   bench_piecebuffer             TARNLOOK_BENCH_RUNS runs of each (3)
//   bench_piecebuffer --open DIR  one opening, one line: build-ms paint-ms
//                                 runs rss-before rss-after-build rss-after-paint

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>

#include "benchreport.h"
#include "hexsearch.h"
#include "hexwindow.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "qpiecebuffer.h"

namespace {

constexpr int kRuns = 750000;
constexpr int kPayload = 1448;
constexpr int kGap = 16 + 66;
constexpr int kFiles = 4;
constexpr int kRunsPerFile = kRuns / kFiles;

QString filePath(const QString& dir, int file)
{
    return dir + QStringLiteral("/store-%1.pcap").arg(file);
}

// The stream's byte at `offset`: a pattern with no period of a run's length.
char streamByte(qint64 offset)
{
    return static_cast<char>((offset * 7 + offset / 1000) & 0xff);
}

bool makeFiles(const QString& dir)
{
    const QByteArray gap(kGap, '\xee');
    qint64 offset = 0;
    for (int file = 0; file < kFiles; ++file) {
        QFile out(filePath(dir, file));
        if (!out.open(QIODevice::WriteOnly))
            return false;
        QByteArray chunk;
        QByteArray payload(kPayload, '\0');
        for (int run = 0; run < kRunsPerFile; ++run) {
            for (char& byte : payload)
                byte = streamByte(offset++);
            chunk.append(gap).append(payload);
            if (chunk.size() > (8 << 20) || run + 1 == kRunsPerFile) {
                if (out.write(chunk) != chunk.size())
                    return false;
                chunk.clear();
            }
        }
    }
    return true;
}

// A buffer over the files: every run, with the descriptors handed over.
std::unique_ptr<QPieceBuffer> buildBuffer(const QString& dir)
{
    auto buffer = std::make_unique<QPieceBuffer>();
    buffer->reserveRuns(kRuns);
    for (int file = 0; file < kFiles; ++file) {
        const int source = buffer->addSource(
                ::open(QFile::encodeName(filePath(dir, file)).constData(), O_RDONLY | O_CLOEXEC));
        if (source < 0)
            return nullptr;
        for (int run = 0; run < kRunsPerFile; ++run)
            buffer->appendRun(source, qint64(run) * (kGap + kPayload) + kGap, kPayload);
    }
    return buffer;
}

bool streamBytesAt(QPieceBuffer& buffer, qint64 offset, int length)
{
    const QByteArray bytes = buffer.read(offset, length);
    if (bytes.size() != length)
        return false;
    for (int i = 0; i < length; ++i)
        if (bytes.at(i) != streamByte(offset + i))
            return false;
    return true;
}

// Builds the run list and opens a window over it; prints the figures.
int openOnce(const QString& dir)
{
    const qint64 before = bench::residentBytes();
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QPieceBuffer> buffer = buildBuffer(dir);
    if (!buffer)
        return 1;
    const double buildMs = timer.nsecsElapsed() / 1e6;
    const qint64 built = bench::residentBytes();
    const qint64 runCount = buffer->runCount();
    auto* window = new HexWindow; // deleted below
    window->setDocument(new QHexDocument(buffer.release())); // each takes the other over
    window->show();
    bench::waitForPaint(window->view()->viewport());
    const double paintMs = timer.nsecsElapsed() / 1e6;
    std::printf("%.2f %.1f %lld %lld %lld %lld\n", buildMs, paintMs, runCount, before, built,
                bench::residentBytes());
    delete window;
    return 0;
}

// Median ms of repaints of a shown view, scrolled to `fraction` of the range.
double repaintMs(QHexView& view, double fraction)
{
    QScrollBar* bar = view.verticalScrollBar();
    bar->setValue(static_cast<int>(bar->maximum() * fraction));
    std::vector<double> times;
    for (int i = 0; i < 21; ++i) {
        QElapsedTimer timer;
        timer.start();
        view.viewport()->repaint();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return bench::median(times);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--open"))
        return openOnce(args.at(2));

    QTemporaryDir dir; // the files go with it
    if (!dir.isValid() || !makeFiles(dir.path()))
        return 1;
    const qint64 streamBytes = qint64(kRuns) * kPayload;
    const QString loadBefore = bench::loadAverage();

    // Opening, a process each.
    std::vector<double> build, paint, perRun, view;
    qint64 runCount = 0;
    for (int i = 0; i < bench::runs(); ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    { QStringLiteral("--open"), dir.path() });
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return 1;
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 6)
            return 1;
        build.push_back(figures.at(0).toDouble());
        paint.push_back(figures.at(1).toDouble());
        runCount = figures.at(2).toLongLong();
        perRun.push_back((figures.at(4).toDouble() - figures.at(3).toDouble()) / runCount);
        view.push_back((figures.at(5).toDouble() - figures.at(4).toDouble()) / (1 << 20));
    }

    // The run list alone, in this process: build time.
    std::vector<double> buildHere;
    for (int i = 0; i < bench::runs(); ++i) {
        QElapsedTimer timer;
        timer.start();
        const std::unique_ptr<QPieceBuffer> buffer = buildBuffer(dir.path());
        buildHere.push_back(timer.nsecsElapsed() / 1e6);
        if (!buffer || !streamBytesAt(*buffer, 0, 4096)
            || !streamBytesAt(*buffer, streamBytes - 5000, 5000)
            || !streamBytesAt(*buffer, streamBytes / 2 - 700, 3000))
            return 1;
    }

    // A shown window: repaints, find and save.
    auto* window = new HexWindow; // deleted below
    window->setDocument(new QHexDocument(buildBuffer(dir.path()).release()));
    window->resize(1000, 800);
    window->show();
    QCoreApplication::processEvents();
    const double paintStart = repaintMs(*window->view(), 0);
    const double paintMiddle = repaintMs(*window->view(), 0.5);
    const double paintEnd = repaintMs(*window->view(), 1);
    QHexDocument* document = window->view()->document();
    std::vector<double> find, save;
    for (int i = 0; i < bench::runs(); ++i) {
        HexSearch search(document);
        QElapsedTimer timer;
        timer.start();
        search.start("tarnlook-needle", 0, HexSearch::Direction::Forward);
        if (search.run() != HexSearch::Status::NotFound)
            return 1;
        find.push_back(timer.nsecsElapsed() / 1e9);
        QFile sink(QStringLiteral("/dev/null"));
        if (!sink.open(QIODevice::WriteOnly))
            return 1;
        timer.restart();
        document->saveTo(&sink);
        save.push_back(timer.nsecsElapsed() / 1e9);
    }
    delete window;
    const double gb = streamBytes / 1e9;

    bench::Table table(
            { QStringLiteral("measure"), QStringLiteral("median"), QStringLiteral("target") });
    table.add({ QStringLiteral("build the run list (750,000 appendRun, in the window's process)"),
                bench::number(bench::median(build), 1) + QStringLiteral(" ms"),
                QStringLiteral("well under 100 ms") });
    table.add({ QStringLiteral("build the run list (again, in a warm process)"),
                bench::number(bench::median(buildHere), 1) + QStringLiteral(" ms"),
                QStringLiteral("") });
    table.add({ QStringLiteral("open: run list, document, hex window, first paint"),
                bench::number(bench::median(paint), 1) + QStringLiteral(" ms"),
                QStringLiteral("< 500 ms") });
    table.add({ QStringLiteral("run list kept (runs after joining)"), QString::number(runCount),
                QString() });
    table.add({ QStringLiteral("RSS added by building the run list, per run"),
                bench::number(bench::median(perRun), 1) + QStringLiteral(" B"),
                QStringLiteral("<= 32 B") });
    table.add({ QStringLiteral("RSS added by the hex window and its first paint"),
                bench::number(bench::median(view), 1) + QStringLiteral(" MiB"), QString() });
    table.add({ QStringLiteral("repaint of a 1000×800 view at the start / middle / end"),
                bench::number(paintStart, 2) + QStringLiteral(" / ") + bench::number(paintMiddle, 2)
                        + QStringLiteral(" / ") + bench::number(paintEnd, 2)
                        + QStringLiteral(" ms"),
                QString() });
    table.add({ QStringLiteral("find a missing pattern in all of it (HexSearch::run)"),
                bench::number(bench::median(find), 2) + QStringLiteral(" s, ")
                        + bench::number(gb / bench::median(find), 2) + QStringLiteral(" GB/s"),
                QString() });
    table.add({ QStringLiteral("save all of it to /dev/null (QHexDocument::saveTo)"),
                bench::number(bench::median(save), 2) + QStringLiteral(" s, ")
                        + bench::number(gb / bench::median(save), 2) + QStringLiteral(" GB/s"),
                QString() });
    table.print(QStringLiteral("Hex buffer of pieces of files: a 1 GiB stream, %1 runs of %2 B "
                               "in %3 files; median of %4; load before: %5")
                        .arg(kRuns)
                        .arg(kPayload)
                        .arg(kFiles)
                        .arg(bench::runs())
                        .arg(loadBefore));
    return 0;
}
