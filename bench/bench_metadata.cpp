// SPDX-License-Identifier: GPL-2.0-or-later

// The annotations of a followed stream: a range per chunk of the
// conversation (750,000 chunks of 1448 bytes, about 1 GiB), coloured by
// direction, with or without a comment each. What adding them costs, what a
// line's lookup costs among them, what an edit of the bytes under them
// costs (they move), the memory they take (a process per measurement) and
// the paint of a view page over such a document.
//
//   bench_metadata [CHUNKS]             TARNLOOK_BENCH_RUNS runs of each (3),
//                                       of 750000 chunks unless given
//   bench_metadata --memory N COMMENTS  one filling: prints rss-delta-bytes

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>

#include "benchreport.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qhexview.h"

namespace {

constexpr int kDefaultChunks = 750000;
constexpr qint64 kChunkBytes = 1448;
constexpr int kLookups = 1000000;
constexpr int kPageLines = 50;

int runs()
{
    const int n = qEnvironmentVariableIntValue("TARNLOOK_BENCH_RUNS");
    return n > 0 ? n : 3;
}

QString load()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 0)
                                          : QStringLiteral("?");
}

// A comment as a stream's chunk carries one: frame, time, direction, sequence.
QVector<QString> chunkComments(int count)
{
    QVector<QString> comments;
    comments.reserve(count);
    for (int i = 0; i < count; ++i)
        comments.append(QStringLiteral("帧 %1  10:%2  %3  seq %4")
                                .arg(i + 1)
                                .arg(i % 3600, 4, 10, QLatin1Char('0'))
                                .arg(i % 2 == 0 ? QStringLiteral("客户端 → 服务器")
                                                : QStringLiteral("服务器 → 客户端"))
                                .arg(quint64(i) * kChunkBytes + 1000));
    return comments;
}

// Chunks in the order given, coloured by direction.
void addChunks(QHexMetadata* metadata, const std::vector<int>& order,
               const QVector<QString>& comments)
{
    static const QColor directions[] = { QColor(0xFF, 0xE0, 0xE0), QColor(0xE0, 0xE0, 0xFF) };
    for (const int i : order)
        metadata->addRange(i * kChunkBytes, (i + 1) * kChunkBytes, QColor(), directions[i % 2],
                           comments.isEmpty() ? QString() : comments.at(i));
}

std::vector<int> inOrder(int count)
{
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i)
        order[i] = i;
    return order;
}

// Milliseconds to add the chunks to a new metadata object (and, when asked,
// to look one line up after, which brings an out-of-order list in order).
double addTime(const std::vector<int>& order, const QVector<QString>& comments, bool lookUp)
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    QElapsedTimer timer;
    timer.start();
    addChunks(&metadata, order, comments);
    if (lookUp)
        metadata.hasMetadata(12345);
    return timer.nsecsElapsed() / 1e6;
}

// Nanoseconds per lineItems among the chunks: of random lines, or of pages
// of kPageLines lines, each at a random place, as a view asks for them.
double lookupTime(int chunks, bool pages)
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    addChunks(&metadata, inOrder(chunks), {});
    const int step = pages ? kPageLines : 1;
    std::mt19937_64 random(23);
    std::uniform_int_distribution<quint64> line(0, chunks * kChunkBytes / 16 - step);
    std::vector<quint64> starts(kLookups / step);
    for (quint64& l : starts)
        l = line(random);
    int items = 0;
    QElapsedTimer timer;
    timer.start();
    for (const quint64 start : starts)
        for (quint64 l = start; l < start + step; ++l)
            items += metadata.lineItems(l).size();
    const double ns = double(timer.nsecsElapsed()) / (starts.size() * step);
    return items >= int(starts.size()) * step ? ns : -1; // every line has one item or two
}

// Milliseconds per edit of the bytes under the chunks: one byte inserted in
// the middle (the ranges after it move), or removed there and the removal
// undone (the cut range shrinks and comes back), as each key typed or
// deleted in a stream window moves them.
double editTime(int chunks, bool removal)
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    addChunks(&metadata, inOrder(chunks), {});
    metadata.hasMetadata(0);
    const qint64 middle = chunks / 2 * kChunkBytes + 7;
    constexpr int kEdits = 20;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kEdits; ++i) {
        if (removal) {
            const QHexMetadataCut cut = metadata.removeBytes(middle, 1);
            metadata.insertBytes(middle, 1);
            metadata.restoreCut(cut);
        } else {
            metadata.insertBytes(middle, 1);
        }
    }
    return timer.nsecsElapsed() / 1e6 / kEdits;
}

int memoryOnce(int count, bool comments)
{
    const qint64 base = bench::residentBytes();
    auto* metadata = new QHexMetadata; // kept to the end: its memory is the figure
    metadata->setLineWidth(16);
    {
        const QVector<QString> texts = comments ? chunkComments(count) : QVector<QString>();
        addChunks(metadata, inOrder(count), texts);
    }
    metadata->hasMetadata(0);
    std::printf("%lld\n", bench::residentBytes() - base);
    return 0;
}

struct PaintFigures
{
    double fill = 0; // ms to add the chunks to the document of a shown view
    double firstPaint = 0; // ms from the end of that to the page painted
    double repaintTop = 0;
    double repaintMiddle = 0;
    double repaintEnd = 0;
};

double repaintTime(QHexView* view, int value)
{
    view->verticalScrollBar()->setValue(value);
    view->viewport()->repaint();
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer timer;
        timer.start();
        view->viewport()->repaint();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return bench::median(times);
}

PaintFigures paintOnce(const QString& path, bool annotated, const QVector<QString>& comments)
{
    QHexView view;
    view.setDocument(QHexDocument::fromFile(path, &view));
    view.resize(1000, 800);
    view.show();
    bench::waitForPaint(view.viewport());
    PaintFigures figures;
    QElapsedTimer timer;
    timer.start();
    if (annotated)
        addChunks(view.document()->metadata(), inOrder(comments.size()), comments);
    figures.fill = timer.nsecsElapsed() / 1e6;
    timer.restart();
    view.viewport()->update();
    bench::waitForPaint(view.viewport());
    figures.firstPaint = timer.nsecsElapsed() / 1e6;
    const int last = view.verticalScrollBar()->maximum();
    figures.repaintTop = repaintTime(&view, 0);
    figures.repaintMiddle = repaintTime(&view, last / 2);
    figures.repaintEnd = repaintTime(&view, last);
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--memory"))
        return memoryOnce(args.at(2).toInt(), args.at(3) == QLatin1String("1"));

    const int chunks = args.size() > 1 ? args.at(1).toInt() : kDefaultChunks;
    if (chunks < 2)
        return 1;
    const QVector<QString> comments = chunkComments(chunks);
    std::vector<int> shuffled = inOrder(chunks);
    // Neighbours swapped: each second chunk comes before the one it follows.
    for (int i = 0; i + 1 < chunks; i += 2)
        std::swap(shuffled[i], shuffled[i + 1]);
    std::vector<int> random = inOrder(chunks);
    std::shuffle(random.begin(), random.end(), std::mt19937(23));

    bench::Table add({ QStringLiteral("what"), QStringLiteral("ranges"),
                       QStringLiteral("median ms"), QStringLiteral("ns per range"),
                       QStringLiteral("load before") });
    struct AddCase
    {
        QString name;
        const std::vector<int>* order;
        bool comments;
        bool lookUp;
    };
    const std::vector<int> first = inOrder(std::min(100000, chunks));
    const std::vector<int> all = inOrder(chunks);
    const AddCase cases[] = {
        { QStringLiteral("add in order, colour only"), &first, false, false },
        { QStringLiteral("add in order, colour only"), &all, false, false },
        { QStringLiteral("add in order, colour and comment"), &all, true, false },
        { QStringLiteral("add with neighbours swapped, then look a line up"), &shuffled, true,
          true },
        { QStringLiteral("add in random order, then look a line up"), &random, true, true },
    };
    for (const AddCase& c : cases) {
        const QString before = load();
        std::vector<double> times;
        for (int i = 0; i < runs(); ++i)
            times.push_back(
                    addTime(*c.order, c.comments ? comments : QVector<QString>(), c.lookUp));
        const double ms = bench::median(times);
        const auto count = double(c.order->size());
        add.add({ c.name, QString::number(count), bench::number(ms, 1),
                  bench::number(ms * 1e6 / count, 0), before });
    }
    for (const bool pages : { false, true }) {
        const QString before = load();
        std::vector<double> times;
        for (int i = 0; i < runs(); ++i)
            times.push_back(lookupTime(chunks, pages));
        add.add({ pages ? QStringLiteral("lineItems of pages of %1 lines at random places (ns "
                                         "per line, %2 lines)")
                                  .arg(kPageLines)
                                  .arg(kLookups)
                        : QStringLiteral("lineItems of a random line (ns per call, %1 calls)")
                                  .arg(kLookups),
                  QString::number(chunks), QStringLiteral("—"),
                  bench::number(bench::median(times), 0), before });
    }
    for (const bool removal : { false, true }) {
        const QString before = load();
        std::vector<double> times;
        for (int i = 0; i < runs(); ++i)
            times.push_back(editTime(chunks, removal));
        add.add({ removal ? QStringLiteral("a byte removed inside a range and put back (undo), "
                                           "ms per edit")
                          : QStringLiteral("a byte inserted in the middle, ms per edit"),
                  QString::number(chunks), bench::number(bench::median(times), 2),
                  QStringLiteral("—"), before });
    }
    add.print(QStringLiteral("Annotations: chunk ranges of %1 B at 16 bytes per line, median of %2")
                      .arg(kChunkBytes)
                      .arg(runs()));

    bench::Table memory({ QStringLiteral("ranges"), QStringLiteral("comment each"),
                          QStringLiteral("RSS delta MiB, median"),
                          QStringLiteral("bytes per range"), QStringLiteral("load before") });
    for (const bool withComments : { false, true }) {
        const QString before = load();
        std::vector<double> deltas;
        for (int i = 0; i < runs(); ++i) {
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        { QStringLiteral("--memory"), QString::number(chunks),
                          withComments ? QStringLiteral("1") : QStringLiteral("0") });
            if (!child.waitForFinished(-1) || child.exitCode() != 0)
                return 1;
            deltas.push_back(child.readAllStandardOutput().trimmed().toDouble());
        }
        const double delta = bench::median(deltas);
        memory.add({ QString::number(chunks),
                     withComments ? QStringLiteral("yes") : QStringLiteral("no"),
                     bench::number(delta / (1 << 20), 1), bench::number(delta / chunks, 1),
                     before });
    }
    memory.print(
            QStringLiteral("Annotations: memory of %1 chunk ranges (a process per run), median "
                           "of %2")
                    .arg(chunks)
                    .arg(runs()));

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString path = dir.filePath(QStringLiteral("stream.bin"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(chunks * kChunkBytes))
            return 1; // a hole: no block is written
    }
    bench::Table paint({ QStringLiteral("document"), QStringLiteral("fill ms"),
                         QStringLiteral("then first paint ms"),
                         QStringLiteral("repaint ms: top / middle / end"),
                         QStringLiteral("load before") });
    for (const bool annotated : { false, true }) {
        const QString before = load();
        std::vector<PaintFigures> all;
        for (int i = 0; i < runs(); ++i)
            all.push_back(paintOnce(path, annotated, comments));
        const auto median = [&](double PaintFigures::*field) {
            std::vector<double> values;
            for (const PaintFigures& f : all)
                values.push_back(f.*field);
            return bench::median(values);
        };
        const QString file = QStringLiteral("%1 MiB sparse file").arg(chunks * kChunkBytes >> 20);
        paint.add({ annotated ? QStringLiteral("%1, %2 chunk ranges with comments added while "
                                               "shown")
                                        .arg(file)
                                        .arg(chunks)
                              : QStringLiteral("%1, no annotation").arg(file),
                    annotated ? bench::number(median(&PaintFigures::fill), 1) : QStringLiteral("—"),
                    bench::number(median(&PaintFigures::firstPaint), 1),
                    QStringLiteral("%1 / %2 / %3")
                            .arg(bench::number(median(&PaintFigures::repaintTop), 2),
                                 bench::number(median(&PaintFigures::repaintMiddle), 2),
                                 bench::number(median(&PaintFigures::repaintEnd), 2)),
                    before });
    }
    paint.print(QStringLiteral("Annotations: a hex view page (1000 × 800) over the chunks, median "
                               "of %1 (repaints: median of 20 each)")
                        .arg(runs()));
    return 0;
}
