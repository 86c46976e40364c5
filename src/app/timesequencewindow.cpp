// SPDX-License-Identifier: GPL-2.0-or-later

#include "timesequencewindow.h"

#include <algorithm>
#include <limits>

#include <QAction>
#include <QBoxLayout>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStyle>
#include <QTableWidget>
#include <QToolBar>

#include "capturestore.h"
#include "graphplot.h"
#include "packetrows.h"
#include "statisticsmenu.h"
#include "tcptimesequence.h"

namespace {

constexpr int kGrowInterval = 250; // ms
constexpr int kTickedBars = 2000; // at most this many shown get ticks

using Points = QVector<QCPGraphData>;

// Appends groups of points (in the order taken, each group `points` long,
// of one key) to the track, keeping the track in time order with each
// group whole and its row beside it. Groups come in time order but for the
// odd one, whose arrival sorts the track again.
template <typename Track>
void append(Track& track, const Points& points, const std::vector<int>& rows)
{
    if (rows.empty())
        return;
    const int per = track.points;
    bool in_order
            = track.data->isEmpty() || (track.data->constEnd() - 1)->key <= points.first().key;
    for (int i = per; in_order && i < points.size(); i += per)
        in_order = points[i - per].key <= points[i].key;
    if (in_order) {
        track.data->add(points, true);
        track.rows.insert(track.rows.end(), rows.cbegin(), rows.cend());
        return;
    }
    // Whole groups sorted by key, those taken first first on a tie.
    struct Group
    {
        double key;
        int row;
        int at; // of its first point, in `all`
    };
    Points all;
    all.reserve(track.data->size() + points.size());
    for (auto it = track.data->constBegin(); it != track.data->constEnd(); ++it)
        all.append(*it);
    all.append(points);
    std::vector<int> all_rows = track.rows;
    all_rows.insert(all_rows.end(), rows.cbegin(), rows.cend());
    std::vector<Group> groups;
    groups.reserve(all_rows.size());
    for (std::size_t g = 0; g < all_rows.size(); ++g)
        groups.push_back({ all[int(g) * per].key, all_rows[g], int(g) * per });
    std::stable_sort(groups.begin(), groups.end(),
                     [](const Group& a, const Group& b) { return a.key < b.key; });
    Points sorted;
    sorted.reserve(all.size());
    track.rows.clear();
    for (const Group& group : groups) {
        for (int i = 0; i < per; ++i)
            sorted.append(all[group.at + i]);
        track.rows.push_back(group.row);
    }
    track.data->set(sorted, true);
}

} // namespace

TimeSequenceWindow::TimeSequenceWindow(std::unique_ptr<TcpTimeSequence> sequence,
                                       std::function<bool(TcpTimeSequence&)> grow,
                                       QTableWidget* table, QWidget* parent)
    : GraphWindow(table, parent)
    , m_sequence(std::move(sequence))
    , m_grow(std::move(grow))
    , m_choice(new QComboBox(this))
    , m_segments(plot()->addGraph())
    , m_retransmissions(plot()->addGraph())
    , m_gaps(plot()->addGraph())
    , m_acks(plot()->addGraph())
    , m_window(plot()->addGraph())
{
    setObjectName(QStringLiteral("timeSequenceWindow"));
    const QString first = m_sequence->endpoint(0);
    const QString second = m_sequence->endpoint(1);
    setWindowTitle(tr("时间序列图 %1 ⇄ %2 - Tarnlook").arg(first, second));
    for (Direction& direction : m_directions) {
        for (Track* track : { &direction.segments, &direction.retransmissions, &direction.gaps,
                              &direction.acks, &direction.window })
            track->data = QSharedPointer<QCPGraphDataContainer>::create();
        direction.segments.points = 3;
        direction.retransmissions.points = 3;
    }

    m_choice->setObjectName(QStringLiteral("directionChoice"));
    m_choice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_choice->addItem(QStringLiteral("%1 → %2").arg(first, second));
    m_choice->addItem(QStringLiteral("%1 → %2").arg(second, first));
    auto* bar = new QToolBar(tr("方向"), this);
    bar->setObjectName(QStringLiteral("directionToolBar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->addWidget(new QLabel(tr("发送方向:"), bar));
    bar->addWidget(m_choice);
    addToolBar(Qt::TopToolBarArea, bar);
    connect(m_choice, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { setDirection(index); });
    viewMenu()->addSeparator();
    QAction* other = viewMenu()->addAction(tr("另一方向"), this,
                                           [this] { setDirection(1 - m_direction); });
    other->setObjectName(QStringLiteral("actionOtherDirection"));
    other->setShortcut(QKeySequence(Qt::Key_D));

    GraphPlot* graph = plot();
    graph->xAxis->setLabel(tr("时间 (秒, 从连接的第一个分段起)"));
    graph->yAxis->setLabel(tr("相对序列号"));
    graph->legend->setVisible(true);
    graph->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignLeft);
    m_segments->setName(tr("分段"));
    m_retransmissions->setName(tr("重传或乱序"));
    m_gaps->setName(tr("此前未捕获"));
    m_acks->setName(tr("确认号"));
    m_window->setName(tr("接收窗口"));
    m_gaps->setLineStyle(QCPGraph::lsNone);
    m_acks->setLineStyle(QCPGraph::lsStepLeft);
    m_window->setLineStyle(QCPGraph::lsStepLeft);
    connect(graph, &GraphPlot::themeApplied, this, &TimeSequenceWindow::recolour);
    connect(graph->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            &TimeSequenceWindow::tickBars);
    connect(graph, &GraphPlot::pointClicked, this,
            [this](QCPAbstractPlottable* plottable, int index, double) {
                choose(plottable, index);
            });
    recolour();

    take();
    // The side that sent more, first.
    setDirection(m_sequence->payload_bytes(1) > m_sequence->payload_bytes(0) ? 1 : 0);
    if (m_grow) {
        connect(&m_timer, &QTimer::timeout, this, &TimeSequenceWindow::takeNew);
        m_timer.start(kGrowInterval);
    }
}

TimeSequenceWindow::~TimeSequenceWindow() = default;

void TimeSequenceWindow::recolour()
{
    const GraphPlot* graph = plot();
    m_segments->setPen(QPen(graph->seriesColour(0), 1));
    m_retransmissions->setPen(QPen(graph->seriesColour(1), 1.5));
    m_gaps->setPen(QPen(graph->seriesColour(3), 1.5));
    m_gaps->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCrossCircle, 9));
    m_acks->setPen(QPen(graph->seriesColour(2), 1));
    m_window->setPen(QPen(graph->seriesColour(8), 1));
    m_ticks_known = false; // in the new colours
    tickBars();
    // Room for the longer direction beside the arrow: some style sheets
    // draw the arrow over the text's end.
    m_choice->setMinimumWidth(0);
    m_choice->setMinimumWidth(m_choice->sizeHint().width()
                              + m_choice->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
}

void TimeSequenceWindow::tickBars()
{
    // Bars with a tick at each end, as tcptrace draws them, where they
    // stand apart: with many bars shown the ticks would only cover them,
    // and cost a mark per bar to draw.
    const QCPRange shown = plot()->xAxis->range();
    const QCPGraphDataContainer& bars = *m_segments->data();
    const bool ticked = bars.findEnd(shown.upper) - bars.findBegin(shown.lower) < kTickedBars * 3;
    if (ticked == m_ticked && m_ticks_known)
        return;
    m_ticked = ticked;
    m_ticks_known = true;
    QPainterPath tick;
    tick.moveTo(-3, 0);
    tick.lineTo(3, 0);
    for (QCPGraph* graph : { m_segments, m_retransmissions })
        graph->setScatterStyle(ticked ? QCPScatterStyle(tick, graph->pen()) : QCPScatterStyle());
}

void TimeSequenceWindow::setDirection(int direction)
{
    m_direction = direction == 1 ? 1 : 0;
    m_choice->setCurrentIndex(m_direction);
    Direction& shown = m_directions[static_cast<std::size_t>(m_direction)];
    m_segments->setData(shown.segments.data);
    m_retransmissions->setData(shown.retransmissions.data);
    m_gaps->setData(shown.gaps.data);
    m_acks->setData(shown.acks.data);
    m_window->setData(shown.window.data);
    plot()->showAll();
}

void TimeSequenceWindow::takeNew()
{
    if (m_grow && !m_grow(*m_sequence)) {
        m_grow = nullptr;
        m_timer.stop();
    }
    take();
    plot()->dataChanged();
}

void TimeSequenceWindow::take()
{
    constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();
    for (int d = 0; d < 2; ++d) {
        Direction& direction = m_directions[static_cast<std::size_t>(d)];
        Points bars;
        Points again;
        Points gaps;
        std::vector<int> bar_rows;
        std::vector<int> again_rows;
        std::vector<int> gap_rows;
        const std::vector<TcpTimeSequence::Segment>& segments = m_sequence->segments(d);
        bars.reserve(static_cast<int>(segments.size()) * 3);
        bar_rows.reserve(segments.size());
        for (const TcpTimeSequence::Segment& segment : segments) {
            // A bar from the first sequence number to one past the last,
            // apart from the next.
            Points& to = segment.retransmission ? again : bars;
            to.append({ segment.time, double(segment.seq) });
            to.append({ segment.time, double(segment.seq + segment.length) });
            to.append({ segment.time, kBreak });
            (segment.retransmission ? again_rows : bar_rows).push_back(segment.row);
            if (segment.gap_before) {
                gaps.append({ segment.time, double(segment.seq) });
                gap_rows.push_back(segment.row);
            }
        }
        append(direction.segments, bars, bar_rows);
        append(direction.retransmissions, again, again_rows);
        append(direction.gaps, gaps, gap_rows);

        Points acks;
        Points window;
        std::vector<int> ack_rows;
        const std::vector<TcpTimeSequence::Ack>& taken = m_sequence->acks(d);
        acks.reserve(static_cast<int>(taken.size()));
        window.reserve(static_cast<int>(taken.size()));
        ack_rows.reserve(taken.size());
        for (const TcpTimeSequence::Ack& ack : taken) {
            acks.append({ ack.time, double(ack.ack) });
            window.append({ ack.time, double(ack.window_end) });
            ack_rows.push_back(ack.row);
        }
        append(direction.acks, acks, ack_rows);
        append(direction.window, window, ack_rows);
    }
    m_sequence->clear_taken();
}

void TimeSequenceWindow::choose(QCPAbstractPlottable* plottable, int index)
{
    Direction& shown = m_directions[static_cast<std::size_t>(m_direction)];
    const Track* track = nullptr;
    if (plottable == m_segments)
        track = &shown.segments;
    else if (plottable == m_retransmissions)
        track = &shown.retransmissions;
    else if (plottable == m_gaps)
        track = &shown.gaps;
    else if (plottable == m_acks)
        track = &shown.acks;
    else if (plottable == m_window)
        track = &shown.window;
    if (track == nullptr || index < 0)
        return;
    const auto group = static_cast<std::size_t>(index / track->points);
    if (group < track->rows.size())
        showRow(track->rows[group]);
}

namespace {

// The frames of these rows, -1 where a row has none.
std::vector<std::int64_t> frames_of(const PacketRows& rows, const std::vector<int>& numbers,
                                    std::size_t from)
{
    std::vector<std::int64_t> frames;
    frames.reserve(numbers.size() - from);
    for (std::size_t i = from; i < numbers.size(); ++i)
        frames.push_back(rows.frame(numbers[i]).value_or(-1));
    return frames;
}

TimeSequenceWindow* open_time_sequence(QMainWindow& window, const PacketRows& rows,
                                       const CaptureStore* store, int row,
                                       const std::function<bool()>& capturing)
{
    const auto refuse = [&window](const QString& why) -> TimeSequenceWindow* {
        QMessageBox::information(
                &window, QCoreApplication::translate("TimeSequenceWindow", "时间序列图"), why);
        return nullptr;
    };
    const std::optional<std::int64_t> frame = rows.frame(row);
    if (store == nullptr || !frame || !store->contains(*frame))
        return refuse(QCoreApplication::translate("TimeSequenceWindow",
                                                  "该连接的帧已不在存储中, 无法画出时间序列图。"));
    const TcpPairIndex& pairs = rows.pairs();
    const int pair = pairs.pair_of(row);
    const std::vector<int>& numbers = pairs.rows(pair);
    QString error;
    std::unique_ptr<TcpTimeSequence> sequence
            = TcpTimeSequence::open(*store, frames_of(rows, numbers, 0), numbers, *frame, &error);
    if (sequence == nullptr)
        return refuse(error);
    // New rows of the pair, for as long as they may come: the pair's number
    // holds until the next clear.
    std::function<bool(TcpTimeSequence&)> grow;
    if (!sequence->ended()) {
        grow = [&rows, store, pair, generation = pairs.generation(), seen = numbers.size(),
                capturing](TcpTimeSequence& sequence) mutable {
            const TcpPairIndex& index = rows.pairs();
            if (index.generation() != generation)
                return false;
            const std::vector<int>& now = index.rows(pair);
            const bool more = now.size() > seen;
            if (more) {
                const std::vector<int> added(now.cbegin() + static_cast<std::ptrdiff_t>(seen),
                                             now.cend());
                sequence.add(*store, frames_of(rows, now, seen), added);
                seen = now.size();
            }
            return !sequence.ended() && (more || capturing());
        };
    }
    auto* table = qobject_cast<QTableWidget*>(rows.parent()); // the rows are the table's child
    auto* graph = new TimeSequenceWindow(std::move(sequence), std::move(grow), table, &window);
    graph->setRowsKept([&rows, generation = pairs.generation()] {
        return rows.pairs().generation() == generation;
    });
    return graph;
}

} // namespace

void add_time_sequence_action(QMainWindow& window, const PacketRows& rows,
                              const CaptureStore* store, int row,
                              const std::function<bool()>& capturing)
{
    QMenu* menu = statistics_menu(window);
    auto* action
            = new QAction(QCoreApplication::translate("TimeSequenceWindow", "时间序列图"), &window);
    action->setObjectName(QStringLiteral("actionTimeSequence"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
    menu->addAction(action);
    QObject::connect(action, &QAction::triggered, &window,
                     [&window, &rows, store, row, capturing,
                      open = QPointer<TimeSequenceWindow>()]() mutable {
                         // A window closed a moment ago may wait for its
                         // deletion: another one then.
                         if (open != nullptr && open->isVisible()) {
                             open->raise();
                             open->activateWindow();
                             return;
                         }
                         open = open_time_sequence(window, rows, store, row, capturing);
                         if (open != nullptr) {
                             open->show();
                             open->activateWindow();
                         }
                     });
}
