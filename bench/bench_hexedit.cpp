// SPDX-License-Identifier: GPL-2.0-or-later

// The hex editor on large files: finding a pattern near the end of a 4 GiB
// sparse file (and, as the harder case, of a 1 GiB file of real blocks),
// beside `LC_ALL=C grep -c -F` on the same file in the same run; and opening
// a 10 GiB sparse file in a hex window: milliseconds to the first paint and
// the resident memory then. Each opening runs in a process of its own, so
// that its memory is its own.
//
//   bench_hexedit                 TARNLOOK_BENCH_RUNS runs of each (3)
//   bench_hexedit --open FILE     one opening, one line: ms rss-bytes base-bytes

#include <cstdio>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "benchreport.h"
#include "hexfindbar.h"
#include "hexsearch.h"
#include "hexwindow.h"
#include "qhexdocument.h"
#include "qhexview.h"

namespace {

const QByteArray kNeedle("tarnlook-needle-7f3a");
constexpr qint64 kGiB = qint64(1) << 30;

// A file of `size` bytes with the needle 1000 bytes before its end: a hole
// before it when sparse, else written out as lines of 99 'x' (grep reads
// lines: one line of a GiB would be its worst case, not a fair one).
bool makeFile(const QString& path, qint64 size, bool sparse)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (sparse) {
        if (!file.resize(size))
            return false;
    } else {
        QByteArray block(1 << 20, 'x');
        for (int i = 99; i < block.size(); i += 100)
            block[i] = '\n';
        for (qint64 written = 0; written < size; written += block.size())
            if (file.write(block) != block.size())
                return false;
    }
    return file.seek(size - 1000) && file.write(kNeedle) == kNeedle.size();
}

// The first paint of a window over the file; prints ms, RSS after it and RSS
// before the window was made.
int openOnce(const QString& path)
{
    const qint64 base = bench::residentBytes();
    QElapsedTimer timer;
    timer.start();
    auto* window = new HexWindow; // deleted below
    if (!window->openFile(path))
        return 1;
    window->show();
    bench::waitForPaint(window->view()->viewport());
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("%.1f %lld %lld\n", ms, bench::residentBytes(), base);
    delete window;
    return 0;
}

struct Rate
{
    double seconds = -1;
    double gbPerSecond() const { return seconds > 0 ? double(size) / 1e9 / seconds : 0; }
    qint64 size = 0;
};

Rate findWithSearch(const QString& path, qint64 size)
{
    std::vector<double> times;
    for (int i = 0; i < bench::runs(); ++i) {
        std::unique_ptr<QHexDocument> document(QHexDocument::fromFile(path));
        HexSearch search(document.get());
        QElapsedTimer timer;
        timer.start();
        search.start(kNeedle, 0, HexSearch::Direction::Forward);
        if (search.run() != HexSearch::Status::Found || search.matchOffset() != size - 1000)
            return {};
        times.push_back(timer.nsecsElapsed() / 1e9);
    }
    return Rate { bench::median(times), size };
}

// Through the window's find bar, as a user runs it: slices of the event loop.
Rate findWithWindow(const QString& path, qint64 size)
{
    std::vector<double> times;
    for (int i = 0; i < bench::runs(); ++i) {
        HexWindow window;
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        if (!window.openFile(path))
            return {};
        window.show();
        HexFindBar* bar = window.findBar();
        bar->patternEdit()->setText(QString::fromLatin1(kNeedle));
        QSignalSpy finished(bar, &HexFindBar::finished);
        QElapsedTimer timer;
        timer.start();
        bar->findNext();
        while (finished.isEmpty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        times.push_back(timer.nsecsElapsed() / 1e9);
        if (window.view()->document()->selectedBytes() != kNeedle)
            return {};
    }
    return Rate { bench::median(times), size };
}

Rate findWithGrep(const QString& path, qint64 size)
{
    std::vector<double> times;
    for (int i = 0; i < bench::runs(); ++i) {
        QProcess probe;
        const double seconds = bench::timeCommand(
                QStringLiteral("env"),
                { QStringLiteral("LC_ALL=C"), QStringLiteral("grep"), QStringLiteral("-c"),
                  QStringLiteral("-F"), QString::fromLatin1(kNeedle), path });
        if (seconds < 0)
            return {};
        times.push_back(seconds);
    }
    return Rate { bench::median(times), size };
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--open"))
        return openOnce(args.at(2));

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;

    bench::Table find({ QStringLiteral("file"), QStringLiteral("reader"),
                        QStringLiteral("median ms"), QStringLiteral("GB/s"),
                        QStringLiteral("× grep"), QStringLiteral("load before") });
    struct Case
    {
        const char* name;
        qint64 size;
        bool sparse;
    };
    for (const Case& c : { Case { "4 GiB sparse", 4 * kGiB, true },
                           Case { "1 GiB of blocks, in the page cache", kGiB, false } }) {
        const QString path = dir.filePath(QStringLiteral("find.bin"));
        if (!makeFile(path, c.size, c.sparse))
            return 1;
        const QString before = bench::loadAverage();
        findWithGrep(path, c.size); // the page cache warm for every reader
        const Rate grep = findWithGrep(path, c.size);
        const Rate search = findWithSearch(path, c.size);
        const Rate window = findWithWindow(path, c.size);
        const auto row = [&](const QString& reader, const Rate& rate) {
            find.add({ QString::fromLatin1(c.name), reader, bench::number(rate.seconds * 1000, 3),
                       bench::number(rate.gbPerSecond(), 1),
                       grep.seconds > 0 && rate.seconds > 0
                               ? bench::number(grep.seconds / rate.seconds, 2)
                               : QStringLiteral("—"),
                       before });
        };
        row(QStringLiteral("HexSearch::run"), search);
        row(QStringLiteral("hex window find bar (Enter)"), window);
        row(QStringLiteral("LC_ALL=C grep -c -F"), grep);
        QFile::remove(path);
    }
    find.print(QStringLiteral("Hex editor: find a pattern 1000 bytes before the end, median of %1; "
                              "load = /proc/loadavg (1, 5, 15 min) before each file")
                       .arg(bench::runs()));

    const QString big = dir.filePath(QStringLiteral("open.bin"));
    if (!makeFile(big, 10 * kGiB, true))
        return 1;
    std::vector<double> ms;
    std::vector<double> rss;
    std::vector<double> base;
    const QString before = bench::loadAverage();
    for (int i = 0; i < bench::runs(); ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--open"), big });
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return 1;
        const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
        if (figures.size() != 3)
            return 1;
        ms.push_back(figures.at(0).toDouble());
        rss.push_back(figures.at(1).toDouble() / (1 << 20));
        base.push_back(figures.at(2).toDouble() / (1 << 20));
    }
    bench::Table open({ QStringLiteral("file"), QStringLiteral("ms to first paint"),
                        QStringLiteral("RSS MiB after it"),
                        QStringLiteral("RSS MiB before the window"),
                        QStringLiteral("load before") });
    open.add({ QStringLiteral("10 GiB sparse"), bench::number(bench::median(ms), 1),
               bench::number(bench::median(rss), 1), bench::number(bench::median(base), 1),
               before });
    open.print(QStringLiteral("Hex editor: open a file in a hex window (a process per run), median "
                              "of %1")
                       .arg(bench::runs()));
    return 0;
}
