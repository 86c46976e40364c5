// SPDX-License-Identifier: GPL-2.0-or-later

#include "captureanalysis.h"

#include <vector>

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QScreen>
#include <QTableWidget>

#include "capturestore.h"
#include "conversationsmodel.h"
#include "conversationswindow.h"
#include "filtersettings.h"
#include "markscolumn.h"
#include "packetrows.h"
#include "shownrows.h"
#include "statisticsmenu.h"
#include "tcpanalysis.h"
#include "trafficgraphwindow.h"
#include "trafficrows.h"
#include "windowplacement.h"

CaptureAnalysis::CaptureAnalysis(QMainWindow& window, QTableWidget& table, PacketRows& rows,
                                 const CaptureStore* store, ShownRows& shown,
                                 std::function<void(int row)> follow)
    : QObject(&window)
    , m_window(window)
    , m_rows(rows)
    , m_store(store)
    , m_shown(shown)
    , m_follow(std::move(follow))
{
    m_analysis = std::make_unique<TcpAnalysis>([this](int row) {
        const std::optional<std::int64_t> frame = m_rows.frame(row);
        const std::optional<StoredFrame> stored
                = frame && m_store != nullptr ? m_store->read_frame(*frame) : std::nullopt;
        return stored ? stored_payload(*stored) : QByteArray();
    });
    m_marks = new MarksColumn(&table, *m_analysis);
    m_conversations = new ConversationsModel(*m_analysis, this);
    QAction* action = statistics_menu(window)->addAction(tr("TCP会话..."));
    action->setObjectName(QStringLiteral("actionConversations"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_C));
    connect(action, &QAction::triggered, this, &CaptureAnalysis::show_conversations);
    m_traffic = add_traffic_graph_action(window, &table, rows);
    // Every row's segment, as it arrives, goes to the analysis once.
    rows.set_row_observer(
            [this](int row, const CapturedSegment* segment) {
                m_analysis->add(row, segment);
                m_marks->row_added(row);
                m_shown.arrived(row);
                m_traffic->add(row, segment, m_analysis->marks(row));
            },
            [this] {
                m_analysis->clear();
                m_traffic->clear();
            });
}

CaptureAnalysis::~CaptureAnalysis()
{
    // Before the analysis they show.
    delete m_conversations_window;
    delete m_conversations;
}

TcpMarks CaptureAnalysis::marks(int row) const
{
    return m_analysis->marks(row);
}

QAbstractItemModel* CaptureAnalysis::conversations() const
{
    return m_conversations;
}

void CaptureAnalysis::show_conversations()
{
    if (m_conversations_window == nullptr) {
        auto* window = new ConversationsWindow(m_conversations, &m_window);
        m_conversations_window = window;
        window->setWindowFlag(Qt::Window);
        connect(window, &ConversationsWindow::follow, this, [this](int connection) {
            if (connection >= 0 && connection < m_analysis->connection_count())
                m_follow(m_analysis->conversation(connection).first_row);
        });
        connect(window, &ConversationsWindow::narrow, this,
                [this](const QVector<int>& connections) {
                    std::vector<bool> kept(
                            static_cast<std::size_t>(m_analysis->connection_count()));
                    for (const int connection : connections)
                        if (connection >= 0 && connection < int(kept.size()))
                            kept[static_cast<std::size_t>(connection)] = true;
                    const std::uint64_t generation = m_analysis->generation();
                    m_shown.narrow(FilterSettings(), [this, kept, generation](int row) {
                        const int connection = m_analysis->connection_of(row);
                        return m_analysis->generation() == generation && connection >= 0
                                && connection < int(kept.size())
                                && kept[static_cast<std::size_t>(connection)];
                    });
                });
        connect(window, &ConversationsWindow::show_all, this,
                [this] { m_shown.narrow(FilterSettings()); });
        // Whole on the screen, in its middle.
        if (const QScreen* screen = m_window.screen()) {
            const QRect free = screen->availableGeometry();
            window->resize(fitted_size(window->sizeHint(), window->minimumSizeHint(), free,
                                       QMargins(8, 40, 8, 8)));
            QRect frame = window->geometry();
            frame.moveCenter(free.center());
            window->move(frame.topLeft());
        }
    }
    m_conversations->refresh(); // the rows of the last moment too
    if (m_conversations_window->isVisible()) {
        m_conversations_window->raise();
        m_conversations_window->activateWindow();
    }
    m_conversations_window->show();
}
