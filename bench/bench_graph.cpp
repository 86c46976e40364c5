// SPDX-License-Identifier: GPL-2.0-or-later

// Graphs of a million points.
//
//   bench_graph --libraries [points]   QCustomPlot against Qt Charts: one
//                                      line of `points` (1,000,000) points
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

#include <QApplication>
#include <QElapsedTimer>
#include <QVector>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include <qcustomplot.h>

#include "benchreport.h"

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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--libraries") == 0)
        return libraries(argc > 2 ? std::atoi(argv[2]) : 1000000);
    std::fprintf(stderr, "usage: bench_graph --libraries [points]\n");
    return 2;
}
