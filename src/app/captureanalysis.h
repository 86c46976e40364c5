// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>
#include <memory>

#include <QObject>
#include <QPointer>

#include "tcpmarks.h"

class CaptureStore;
struct CapturedSegment;
class ConversationsModel;
class ConversationsWindow;
class MarksColumn;
class PacketRows;
class QAbstractItemModel;
class QMainWindow;
class QTableWidget;
class ShownRows;
class TcpAnalysis;
class TrafficRows;

// What the packet table's rows tell as they arrive, each segment looked at
// once: the connections and their TCP marks, the marks column, the
// conversations and their window ("统计" -> "TCP会话..."), and the counts
// of the traffic graph ("统计" -> "流量图"). Emptied with the rows.
class CaptureAnalysis : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(CaptureAnalysis)

public:
    // A child of the window. The store (null: none) gives the payloads that
    // tell keep-alives apart; follow opens a row's stream.
    CaptureAnalysis(QMainWindow& window, QTableWidget& table, PacketRows& rows,
                    const CaptureStore* store, ShownRows& shown,
                    std::function<void(int row)> follow);
    ~CaptureAnalysis() override;

    TcpMarks marks(int row) const;
    QAbstractItemModel* conversations() const;
    // Opens the conversations window, or raises it.
    void show_conversations();

private:
    QMainWindow& m_window;
    const PacketRows& m_rows;
    const CaptureStore* m_store;
    ShownRows& m_shown;
    std::function<void(int)> m_follow;
    std::unique_ptr<TcpAnalysis> m_analysis;
    MarksColumn* m_marks = nullptr; // a child of the table
    TrafficRows* m_traffic = nullptr; // a child of the table
    ConversationsModel* m_conversations = nullptr; // a child of this
    QPointer<ConversationsWindow> m_conversations_window; // a child of the window, once shown
};
