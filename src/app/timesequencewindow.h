// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include <QSharedPointer>
#include <QTimer>

#include <qcustomplot.h>

#include "graphwindow.h"

class CaptureStore;
class PacketRows;
class QComboBox;
class QMainWindow;
class QTableWidget;
class TcpTimeSequence;

// "时间序列图" of a followed connection, as tcptrace draws it: one
// direction's segments as bars from their first to their last sequence
// number at the time they were captured (those sent before, or filling a
// hole, in another colour; a mark where sequence numbers before a segment
// were never seen), and the other side's acknowledgements and the end of
// the window it offers as steps. The choice above the graph (or D) switches
// the direction. A click on a bar or a step chooses its row.
class TimeSequenceWindow : public GraphWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(TimeSequenceWindow)

public:
    // Takes the sequence over. grow, when given, is called a few times a
    // second to add the frames captured since; it returns false once no
    // more can come.
    TimeSequenceWindow(std::unique_ptr<TcpTimeSequence> sequence,
                       std::function<bool(TcpTimeSequence&)> grow, QTableWidget* table,
                       QWidget* parent);
    ~TimeSequenceWindow() override;

    // 0: the connection's first sender's segments, 1: the other side's.
    int direction() const { return m_direction; }
    void setDirection(int direction);
    // Takes what the capture added since, as the timer does.
    void takeNew();

    QCPGraph* segmentsGraph() const { return m_segments; }
    QCPGraph* retransmissionsGraph() const { return m_retransmissions; }
    QCPGraph* gapsGraph() const { return m_gaps; }
    QCPGraph* acksGraph() const { return m_acks; }
    QCPGraph* windowGraph() const { return m_window; }

private:
    // Points drawn in groups (a bar's three, a step's one), in time order,
    // with the row of each group.
    struct Track
    {
        QSharedPointer<QCPGraphDataContainer> data;
        std::vector<int> rows;
        int points = 1; // per group
    };
    struct Direction
    {
        Track segments;
        Track retransmissions;
        Track gaps;
        Track acks;
        Track window;
    };
    void take();
    void recolour();
    void tickBars();
    void choose(QCPAbstractPlottable* plottable, int index);

    std::unique_ptr<TcpTimeSequence> m_sequence;
    std::function<bool(TcpTimeSequence&)> m_grow;
    QTimer m_timer;
    QComboBox* m_choice;
    std::array<Direction, 2> m_directions;
    int m_direction = 0;
    bool m_ticked = false; // the bars shown have ticks
    bool m_ticks_known = false; // m_ticked is in the colours of the bars
    QCPGraph* m_segments;
    QCPGraph* m_retransmissions;
    QCPGraph* m_gaps;
    QCPGraph* m_acks;
    QCPGraph* m_window;
};

// "时间序列图" (Ctrl+Alt+S) in a stream window's "统计" menu: the time
// sequence of the connection of the table's row `row`, read from its
// frames' headers in the store, growing while `capturing` says a capture
// runs. The graph is a window of the stream window's.
void add_time_sequence_action(QMainWindow& window, const PacketRows& rows,
                              const CaptureStore* store, int row,
                              const std::function<bool()>& capturing);
