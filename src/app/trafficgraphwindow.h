// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <QPointer>
#include <QTimer>

#include "graphwindow.h"
#include "tcpmarks.h"

class PacketRows;
class QCPGraph;
class QMainWindow;
class QTableWidget;
class TrafficRows;

// "流量图": the packets and payload bytes per second of the whole capture
// (packets on the left axis, bytes on the right), and a line for the
// packets of each mark that rows have, each second drawn flat over its
// width. It grows as rows come, a few times a second. A click chooses the
// first row of the second clicked.
class TrafficGraphWindow : public GraphWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(TrafficGraphWindow)

public:
    TrafficGraphWindow(TrafficRows* rows, QTableWidget* table, QWidget* parent);
    ~TrafficGraphWindow() override;

    // Draws what the rows hold now; the timer does it as they come.
    void refresh();

    QCPGraph* packetsGraph() const { return m_packets; }
    QCPGraph* bytesGraph() const { return m_bytes; }
    // The line of a mark kind (bit number), null while no row has it.
    QCPGraph* markGraph(int kind) const { return m_marks[static_cast<std::size_t>(kind)]; }

private:
    void recolour();
    void choose(double key);

    QPointer<TrafficRows> m_rows;
    QTimer m_timer;
    std::uint64_t m_revision = 0;
    bool m_drawn = false;
    QCPGraph* m_packets;
    QCPGraph* m_bytes;
    std::array<QCPGraph*, kTcpMarkKinds> m_marks {};
};

// "流量图" (Ctrl+Alt+G) in the window's "统计" menu: opens the graph of the
// table's rows, or raises it when it is open. Returns the counts (a child of
// the table), for the caller to hand them the rows as they arrive.
TrafficRows* add_traffic_graph_action(QMainWindow& window, QTableWidget* table,
                                      const PacketRows& rows);
