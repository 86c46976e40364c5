// SPDX-License-Identifier: GPL-2.0-or-later

#include "trafficgraphwindow.h"

#include <cmath>

#include <QAction>
#include <QMainWindow>
#include <QMenu>

#include "graphplot.h"
#include "ioseries.h"
#include "statisticsmenu.h"
#include "trafficrows.h"

namespace {

constexpr int kRefreshInterval = 250; // ms, at most this often while rows come

// What the mark bits are called, in their order.
const std::array<const char*, kTcpMarkKinds> kMarkNames {
    QT_TRANSLATE_NOOP("TrafficGraphWindow", "重传"),
    QT_TRANSLATE_NOOP("TrafficGraphWindow", "乱序"),
    QT_TRANSLATE_NOOP("TrafficGraphWindow", "前一段未捕获"),
    QT_TRANSLATE_NOOP("TrafficGraphWindow", "重复ACK"),
    QT_TRANSLATE_NOOP("TrafficGraphWindow", "零窗口"),
    QT_TRANSLATE_NOOP("TrafficGraphWindow", "窗口已满"),
    QT_TRANSLATE_NOOP("TrafficGraphWindow", "保活"),
    QT_TRANSLATE_NOOP("TrafficGraphWindow", "重置"),
};

} // namespace

TrafficGraphWindow::TrafficGraphWindow(TrafficRows* rows, QTableWidget* table, QWidget* parent)
    : GraphWindow(table, parent)
    , m_rows(rows)
    , m_packets(plot()->addGraph(plot()->xAxis, plot()->yAxis))
    , m_bytes(plot()->addGraph(plot()->xAxis, plot()->yAxis2))
{
    setObjectName(QStringLiteral("trafficGraphWindow"));
    setWindowTitle(tr("流量图 - Tarnlook"));
    GraphPlot* graph = plot();
    graph->xAxis->setLabel(tr("时间 (秒, 从第一行起)"));
    graph->yAxis->setLabel(tr("包/秒"));
    graph->yAxis2->setLabel(tr("字节/秒"));
    graph->yAxis2->setVisible(true);
    graph->setValueAxes({ graph->yAxis, graph->yAxis2 });
    graph->legend->setVisible(true);
    graph->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    m_packets->setName(tr("包"));
    m_bytes->setName(tr("字节"));
    for (QCPGraph* line : { m_packets, m_bytes })
        line->setLineStyle(QCPGraph::lsStepLeft);
    connect(graph, &GraphPlot::themeApplied, this, &TrafficGraphWindow::recolour);
    connect(graph, &GraphPlot::pointClicked, this,
            [this](QCPAbstractPlottable*, int, double key) { choose(key); });
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TrafficGraphWindow::refresh);
    if (rows != nullptr)
        connect(rows, &TrafficRows::changed, this, [this] {
            if (!m_timer.isActive())
                m_timer.start(kRefreshInterval);
        });
    recolour();
    refresh();
}

TrafficGraphWindow::~TrafficGraphWindow() = default;

void TrafficGraphWindow::recolour()
{
    m_packets->setPen(QPen(plot()->seriesColour(0), 1.5));
    m_bytes->setPen(QPen(plot()->seriesColour(2), 1.5));
    for (int kind = 0; kind < kTcpMarkKinds; ++kind)
        if (QCPGraph* line = m_marks[static_cast<std::size_t>(kind)])
            line->setPen(QPen(plot()->seriesColour(kind == 0 ? 1 : kind + 2), 1.5));
}

void TrafficGraphWindow::refresh()
{
    if (m_rows == nullptr)
        return;
    const IoSeries& series = m_rows->series();
    if (m_drawn && series.revision() == m_revision)
        return;
    m_drawn = true;
    m_revision = series.revision();
    for (int kind = 0; kind < kTcpMarkKinds; ++kind) {
        QCPGraph*& line = m_marks[static_cast<std::size_t>(kind)];
        if (line == nullptr && (series.marks_seen() & (1U << kind)) != 0) {
            line = plot()->addGraph(plot()->xAxis, plot()->yAxis);
            line->setLineStyle(QCPGraph::lsStepLeft);
            line->setName(tr(kMarkNames[static_cast<std::size_t>(kind)]));
        }
    }
    recolour();

    // Each second from its start, and 0 from the end of a second that the
    // next does not follow: the lines step down over seconds without rows.
    QVector<QCPGraphData> packets;
    QVector<QCPGraphData> bytes;
    std::array<QVector<QCPGraphData>, kTcpMarkKinds> marked;
    const std::size_t points = series.seconds().size() * 2;
    packets.reserve(static_cast<int>(points));
    bytes.reserve(static_cast<int>(points));
    for (auto it = series.seconds().cbegin(); it != series.seconds().cend(); ++it) {
        const auto key = static_cast<double>(it->first);
        const IoSeries::Second& second = it->second;
        packets.append({ key, double(second.packets) });
        bytes.append({ key, double(second.bytes) });
        for (int kind = 0; kind < kTcpMarkKinds; ++kind)
            if (m_marks[static_cast<std::size_t>(kind)] != nullptr)
                marked[static_cast<std::size_t>(kind)].append(
                        { key, double(second.marked[static_cast<std::size_t>(kind)]) });
        const auto next = std::next(it);
        if (next == series.seconds().cend() || next->first != it->first + 1) {
            packets.append({ key + 1, 0 });
            bytes.append({ key + 1, 0 });
            for (int kind = 0; kind < kTcpMarkKinds; ++kind)
                if (m_marks[static_cast<std::size_t>(kind)] != nullptr)
                    marked[static_cast<std::size_t>(kind)].append({ key + 1, 0 });
        }
    }
    m_packets->data()->set(packets, true);
    m_bytes->data()->set(bytes, true);
    for (int kind = 0; kind < kTcpMarkKinds; ++kind)
        if (QCPGraph* line = m_marks[static_cast<std::size_t>(kind)])
            line->data()->set(marked[static_cast<std::size_t>(kind)], true);
    plot()->dataChanged();
}

void TrafficGraphWindow::choose(double key)
{
    if (m_rows == nullptr)
        return;
    // The second clicked, or the last one with rows before it.
    const std::map<std::int64_t, IoSeries::Second>& seconds = m_rows->series().seconds();
    auto it = seconds.upper_bound(static_cast<std::int64_t>(std::floor(key)));
    if (it == seconds.cbegin())
        return;
    showRow(std::prev(it)->second.first_row);
}

TrafficRows* add_traffic_graph_action(QMainWindow& window, QTableWidget* table,
                                      const PacketRows& rows)
{
    auto* counts = new TrafficRows(table, rows); // a child of the table
    QMenu* menu = statistics_menu(window);
    auto* action
            = new QAction(QCoreApplication::translate("TrafficGraphWindow", "流量图"), &window);
    action->setObjectName(QStringLiteral("actionTrafficGraph"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_G));
    menu->addAction(action);
    QObject::connect(action, &QAction::triggered, &window,
                     [&window, table, counts, open = QPointer<TrafficGraphWindow>()]() mutable {
                         // A window closed a moment ago may wait for its
                         // deletion: another one then.
                         if (open != nullptr && open->isVisible()) {
                             open->raise();
                             open->activateWindow();
                             return;
                         }
                         open = new TrafficGraphWindow(counts, table, &window);
                         open->show();
                         open->activateWindow();
                     });
    return counts;
}
