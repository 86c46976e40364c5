// SPDX-License-Identifier: GPL-2.0-or-later

// Graphs of a million points.
//
//   bench_graph [segments]             the program's two graphs: a capture
//                                      file of one connection, `segments`
//                                      (1,000,000) of 100 B and an
//                                      acknowledgement after every second,
//                                      a millisecond apart, opened in the
//                                      window
//   bench_graph --libraries [points]   QCustomPlot against Qt Charts: one
//                                      line of `points` (1,000,000) points
//
// The program's graphs: the traffic graph ("流量图") and the connection's
// time sequence ("时间序列图", from its stream window) opened, up to their
// first draw, and panned by 5 % a frame, everything shown and 1 % of the
// time shown; the heap the time sequence's window takes.
//
// Each library draws the same line (a TCP sender's sequence numbers over
// time: a rising staircase with noise) in a 1200 x 700 widget, offscreen.
// Measured: handing the points over, the first draw, zooming into 1 % of
// the time and back out, panning by 5 % (a frame of a drag) zoomed out and
// zoomed in, and the memory the points and the widget take. The machine's
// load is printed next to every timing.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <malloc.h>
#include <pcap/pcap.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QVector>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <qcustomplot.h>

#include "benchreport.h"
#include "cupdate.h"
#include "graphplot.h"
#include "graphwindow.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "testframes.h"

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 700;
constexpr int kPanFrames = 20;

struct Points
{
    std::vector<double> x;
    std::vector<double> y;
};

// A sender's sequence numbers: 1448-byte segments, 10,000 a second in
// bursts, now and then one sent again.
Points make_points(int count)
{
    Points points;
    points.x.reserve(static_cast<std::size_t>(count));
    points.y.reserve(static_cast<std::size_t>(count));
    double seq = 0;
    for (int i = 0; i < count; ++i) {
        const double t = i * 1e-4 + (i % 64 == 0 ? 2e-4 : 0);
        const bool again = i % 997 == 0 && i > 0;
        points.x.push_back(t);
        points.y.push_back(again ? seq - 20 * 1448 : seq);
        seq += 1448;
    }
    return points;
}

// What a library has to do for each measure; `draw` paints the widget
// once, completely, as an expose would.
struct Plot
{
    std::function<void()> load; // hands the points over
    std::function<void()> draw;
    std::function<void(double, double)> set_x; // range shown
    QWidget* widget = nullptr;
};

struct Figures
{
    double load = 0;
    double first_draw = 0;
    double zoom_in = 0;
    double zoom_out = 0;
    double pan_out = 0; // median frame, everything shown
    double pan_in = 0; // median frame, 1 % shown
    qint64 memory = 0;
    QString load_average;
};

// Bytes of the heap in use: what was freed again does not count, as it
// would in the resident set.
qint64 heap_in_use()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<qint64>(info.uordblks + info.hblkhd);
}

double seconds_of(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

double pan_frame(Plot& plot, double from, double span)
{
    std::vector<double> frames;
    for (int i = 0; i < kPanFrames; ++i) {
        const double at = from + span * 0.05 * (i + 1);
        frames.push_back(seconds_of([&] {
            plot.set_x(at, at + span);
            plot.draw();
        }));
    }
    return bench::median(frames);
}

Figures measure(const std::function<std::unique_ptr<Plot>(const Points&)>& make,
                const Points& points)
{
    Figures figures;
    const qint64 before = heap_in_use();
    std::unique_ptr<Plot> plot = make(points);
    plot->widget->resize(kWidth, kHeight);
    plot->widget->show();
    QCoreApplication::processEvents();
    const double end = points.x.back();
    figures.load = seconds_of(plot->load);
    figures.first_draw = seconds_of([&] {
        plot->set_x(0, end);
        plot->draw();
    });
    figures.zoom_in = seconds_of([&] {
        plot->set_x(end * 0.495, end * 0.505);
        plot->draw();
    });
    figures.zoom_out = seconds_of([&] {
        plot->set_x(0, end);
        plot->draw();
    });
    figures.pan_out = pan_frame(*plot, 0, end);
    figures.pan_in = pan_frame(*plot, end * 0.4, end * 0.01);
    figures.memory = heap_in_use() - before;
    // The picture, to look at: TARNLOOK_BENCH_SHOTS names a folder.
    const QString shots = qEnvironmentVariable("TARNLOOK_BENCH_SHOTS");
    if (!shots.isEmpty()) {
        plot->set_x(0, end);
        plot->draw();
        plot->widget->grab().save(
                QStringLiteral("%1/%2.png").arg(shots, plot->widget->metaObject()->className()));
    }
    figures.load_average = bench::loadAverage();
    return figures;
}

std::unique_ptr<Plot> custom_plot(const Points& points)
{
    auto plot = std::make_unique<Plot>();
    auto* widget = new QCustomPlot; // owned by the caller's Plot, deleted there
    plot->widget = widget;
    QCPGraph* graph = widget->addGraph();
    plot->load = [widget, graph, &points] {
        const QVector<double> x(points.x.cbegin(), points.x.cend());
        const QVector<double> y(points.y.cbegin(), points.y.cend());
        graph->setData(x, y, true);
        widget->yAxis->setRange(0, points.y.back());
    };
    plot->draw = [widget] { widget->replot(QCustomPlot::rpImmediateRefresh); };
    plot->set_x = [widget](double from, double to) { widget->xAxis->setRange(from, to); };
    return plot;
}

std::unique_ptr<Plot> qt_charts(const Points& points)
{
    auto plot = std::make_unique<Plot>();
    auto* chart = new QtCharts::QChart; // the view takes it over
    auto* series = new QtCharts::QLineSeries(chart);
    chart->addSeries(series);
    chart->legend()->hide();
    auto* x_axis = new QtCharts::QValueAxis(chart);
    auto* y_axis = new QtCharts::QValueAxis(chart);
    chart->addAxis(x_axis, Qt::AlignBottom);
    chart->addAxis(y_axis, Qt::AlignLeft);
    series->attachAxis(x_axis);
    series->attachAxis(y_axis);
    auto* view = new QtCharts::QChartView(chart); // owned by the caller's Plot
    plot->widget = view;
    plot->load = [series, y_axis, &points] {
        QVector<QPointF> list;
        list.reserve(static_cast<int>(points.x.size()));
        for (std::size_t i = 0; i < points.x.size(); ++i)
            list.append(QPointF(points.x[i], points.y[i]));
        series->replace(list);
        y_axis->setRange(0, points.y.back());
    };
    plot->draw = [view] {
        view->viewport()->repaint();
        QCoreApplication::processEvents();
    };
    plot->set_x = [x_axis](double from, double to) { x_axis->setRange(from, to); };
    return plot;
}

QString ms(double seconds)
{
    return bench::number(seconds * 1000, 1) + QStringLiteral(" ms");
}

int libraries(int count)
{
    const Points points = make_points(count);
    const Figures custom = measure(custom_plot, points);
    const Figures charts = measure(qt_charts, points);
    bench::Table table({ QStringLiteral("measure"), QStringLiteral("QCustomPlot 2.1.0"),
                         QStringLiteral("Qt Charts 5.15.8") });
    const auto row = [&](const QString& name, double Figures::*field) {
        table.add({ name, ms(custom.*field), ms(charts.*field) });
    };
    row(QStringLiteral("hand %1 points over").arg(count), &Figures::load);
    row(QStringLiteral("first draw, all points shown"), &Figures::first_draw);
    row(QStringLiteral("zoom into 1 % of the time, draw"), &Figures::zoom_in);
    row(QStringLiteral("zoom out to all, draw"), &Figures::zoom_out);
    row(QStringLiteral("pan by 5 %, all shown (median of %1 frames)").arg(kPanFrames),
        &Figures::pan_out);
    row(QStringLiteral("pan by 5 %, 1 % shown (median of %1 frames)").arg(kPanFrames),
        &Figures::pan_in);
    table.add({ QStringLiteral("heap taken by the points and the widget"),
                QStringLiteral("%1 MiB").arg(custom.memory >> 20),
                QStringLiteral("%1 MiB").arg(charts.memory >> 20) });
    table.add({ QStringLiteral("load"), custom.load_average, charts.load_average });
    table.print(QStringLiteral("Plotting libraries, one line of %1 points (bench_graph "
                               "--libraries)")
                        .arg(count));
    return 0;
}

// One connection from 127.0.0.1:40000 to :8080: its SYN, then segments of
// 100 B in order, the other side acknowledging every second one, a
// millisecond apart.
bool write_connection(const QString& path, int segments)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* dumper = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (dumper == nullptr) {
        pcap_close(dead);
        return false;
    }
    testframes::Ipv4Packet data;
    data.src[0] = data.dst[0] = 127;
    data.src[3] = data.dst[3] = 1;
    data.src[1] = data.src[2] = data.dst[1] = data.dst[2] = 0;
    data.src_port = 40000;
    data.dst_port = 8080;
    data.seq = 1000;
    data.tcp_flags = 0x02;
    const QByteArray syn = testframes::ethernet(testframes::ipv4(data));
    data.tcp_flags = 0x18;
    data.payload = QByteArray(100, 'x');
    QByteArray frame = testframes::ethernet(testframes::ipv4(data));
    testframes::Ipv4Packet ack = data;
    std::swap(ack.src_port, ack.dst_port);
    ack.tcp_flags = 0x10;
    ack.payload.clear();
    QByteArray ack_frame = testframes::ethernet(testframes::ipv4(ack));
    constexpr int kSeqAt = 14 + 20 + 4; // of the data's seq, the ack's ack
    const auto put32 = [](QByteArray& bytes, int at, std::uint32_t value) {
        for (int k = 0; k < 4; ++k)
            bytes[at + k] = static_cast<char>(value >> (24 - 8 * k));
    };

    pcap_pkthdr header {};
    header.ts.tv_sec = 1700000000;
    const auto dump = [&](const QByteArray& bytes) {
        header.caplen = header.len = static_cast<bpf_u_int32>(bytes.size());
        header.ts.tv_usec += 1000;
        if (header.ts.tv_usec >= 1000000) {
            header.ts.tv_usec = 0;
            ++header.ts.tv_sec;
        }
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header,
                  reinterpret_cast<const u_char*>(bytes.constData()));
    };
    dump(syn);
    std::uint32_t seq = 1001;
    for (int i = 0; i < segments; ++i) {
        put32(frame, kSeqAt, seq);
        dump(frame);
        seq += 100;
        if (i % 2 == 1) {
            put32(ack_frame, kSeqAt + 4, seq);
            dump(ack_frame);
        }
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

struct Opened
{
    std::vector<double> seconds;
    std::vector<double> processor;
};

// Triggers the action and times it up to the first draw of the graph window
// it opens.
GraphWindow* open_graph(QAction* action, Opened* opened)
{
    QElapsedTimer timer;
    timer.start();
    const double cpu = bench::threadCpuSeconds();
    const QList<GraphWindow*> before = action->parent()->findChildren<GraphWindow*>();
    action->trigger();
    GraphWindow* window = nullptr;
    for (GraphWindow* found : action->parent()->findChildren<GraphWindow*>())
        if (!before.contains(found))
            window = found;
    if (window == nullptr || !QTest::qWaitForWindowExposed(window))
        return nullptr;
    window->plot()->replot(QCustomPlot::rpImmediateRefresh);
    opened->seconds.push_back(timer.nsecsElapsed() / 1e9);
    opened->processor.push_back(bench::threadCpuSeconds() - cpu);
    return window;
}

// Frames of a drag: the time axis moved by 5 % of what is shown, drawn.
// The median and the worst.
std::pair<double, double> pan_frames(GraphPlot* plot, double share_shown)
{
    plot->showAll();
    plot->replot(QCustomPlot::rpImmediateRefresh);
    const QCPRange all = plot->xAxis->range();
    const double span = all.size() * share_shown;
    std::vector<double> frames;
    for (int i = 0; i < kPanFrames; ++i) {
        const double from = all.lower + all.size() * 0.4 + span * 0.05 * i;
        frames.push_back(seconds_of([&] {
            plot->xAxis->setRange(from, from + span);
            plot->replot(QCustomPlot::rpImmediateRefresh);
        }));
    }
    return { bench::median(frames), *std::max_element(frames.cbegin(), frames.cend()) };
}

// Opens the graph of the action `runs` times, pans the first one; the rows
// of the table that tell of it.
void measure_graph(QAction* action, const QString& name, const QString& what, bench::Table* table,
                   qint64* memory = nullptr)
{
    Opened opened;
    std::pair<double, double> panned_out {};
    std::pair<double, double> panned_in {};
    for (int run = 0; run < bench::runs(); ++run) {
        const qint64 before = heap_in_use();
        GraphWindow* graph = open_graph(action, &opened);
        if (graph == nullptr) {
            std::fprintf(stderr, "%s did not open\n", qPrintable(name));
            std::exit(1);
        }
        if (run == 0) {
            if (memory != nullptr)
                *memory = heap_in_use() - before;
            panned_out = pan_frames(graph->plot(), 1);
            panned_in = pan_frames(graph->plot(), 0.01);
        }
        delete graph;
    }
    const QString load = bench::loadAverage();
    table->add({ QStringLiteral("open \"%1\" of %2, to the first draw").arg(name, what),
                 QStringLiteral("%1 s (processor time %2 s)")
                         .arg(bench::number(bench::median(opened.seconds), 3),
                              bench::number(bench::median(opened.processor), 3)),
                 load });
    table->add({ QStringLiteral("pan \"%1\" by 5 %, all shown: median / worst of %2 frames")
                         .arg(name)
                         .arg(kPanFrames),
                 QStringLiteral("%1 / %2").arg(ms(panned_out.first), ms(panned_out.second)),
                 load });
    table->add({ QStringLiteral("pan \"%1\" by 5 %, 1 % shown: median / worst").arg(name),
                 QStringLiteral("%1 / %2").arg(ms(panned_in.first), ms(panned_in.second)), load });
}

int graphs(int segments)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("connection.pcap"));
    if (!dir.isValid() || !write_connection(path, segments)) {
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
    const int rows = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"))->rowCount();
    bench::Table table(
            { QStringLiteral("measure"), QStringLiteral("figure"), QStringLiteral("load") });
    measure_graph(window.findChild<QAction*>(QStringLiteral("actionTrafficGraph")),
                  QStringLiteral("流量图"), QStringLiteral("%1 rows").arg(rows), &table);

    HexWindow* stream = window.follow_tcp_stream(0);
    if (stream == nullptr)
        return 1;
    qint64 memory = 0;
    measure_graph(stream->findChild<QAction*>(QStringLiteral("actionTimeSequence")),
                  QStringLiteral("时间序列图"),
                  QStringLiteral("a connection of %1 segments").arg(segments), &table, &memory);
    table.add({ QStringLiteral("heap of the \"时间序列图\" window"),
                QStringLiteral("%1 MiB, %2 B per segment")
                        .arg(memory >> 20)
                        .arg(double(memory) / segments, 0, 'f', 1),
                QStringLiteral("-") });
    table.print(QStringLiteral("The program's graphs (bench_graph; medians of %1 runs)")
                        .arg(bench::runs()));
    delete stream;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--libraries") == 0)
        return libraries(argc > 2 ? std::atoi(argv[2]) : 1000000);
    return graphs(argc > 1 ? std::atoi(argv[1]) : 1000000);
}
