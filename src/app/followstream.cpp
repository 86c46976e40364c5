// SPDX-License-Identifier: GPL-2.0-or-later

#include "followstream.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include <malloc.h>

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTableWidget>
#include <QTimer>

#include "capturestore.h"
#include "memoryrelease.h"
#include "packetrows.h"
#include "streamwindow.h"
#include "tcpfollow.h"
#include "timesequencewindow.h"

namespace {

// How long a follow runs before its progress shows: a short one opens as
// before, without a dialog flashing by. Until then the interface goes on
// painting and taking rows, and keeps what a person does for later.
int g_progress_delay = 400; // ms
// How often the progress dialog looks at the count.
constexpr int kProgressInterval = 100; // ms
// Frames a stream window reads at most at a time: its next look takes the
// rest.
constexpr std::size_t kMaxGrowthFrames = 65536;
// A follow of this many frames or more leaves megabytes of the reading's
// lists in its thread's heap, where the interface's allocations cannot
// reuse them: the heaps' free pages are then given back.
constexpr std::size_t kGiveBackAfterFrames = 65536;

// The frames of these rows, -1 where a row has none.
std::vector<std::int64_t> frames_of(const PacketRows& rows, const std::vector<int>& numbers,
                                    std::size_t from, std::size_t to)
{
    std::vector<std::int64_t> frames;
    frames.reserve(to - from);
    for (std::size_t i = from; i < to; ++i)
        frames.push_back(rows.frame(numbers[i]).value_or(-1));
    return frames;
}

// The growth of one stream window: the new rows of its pair, their frames
// read on a thread of their own, put into the follow at the window's next
// look (on the interface thread, a few microseconds a segment).
class Growth
{
public:
    Growth(const PacketRows& rows, const CaptureStore& store, int pair, std::size_t seen,
           std::function<bool()> capturing)
        : m_rows(rows)
        , m_store(&store)
        , m_pair(pair)
        , m_generation(rows.pairs().generation())
        , m_seen(seen)
        , m_capturing(std::move(capturing))
    {
        all().push_back(this);
    }
    ~Growth()
    {
        stop();
        all().erase(std::find(all().begin(), all().end(), this));
    }
    Growth(const Growth&) = delete;
    Growth& operator=(const Growth&) = delete;

    // The growth callback of the stream window: whether more may come.
    bool operator()(TcpFollow& follow)
    {
        if (m_store == nullptr)
            return false;
        if (m_reading.valid()) {
            if (m_reading.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
                return true;
            follow.add(m_reading.get());
        }
        // The pair's number holds until the next clear.
        const TcpPairIndex& index = m_rows.pairs();
        if (index.generation() != m_generation)
            return false;
        const std::vector<int>& now = index.rows(m_pair);
        if (now.size() > m_seen && !follow.ended()) {
            const std::size_t end = std::min(now.size(), m_seen + kMaxGrowthFrames);
            std::vector<std::int64_t> frames = frames_of(m_rows, now, m_seen, end);
            std::vector<int> added(now.cbegin() + static_cast<std::ptrdiff_t>(m_seen),
                                   now.cbegin() + static_cast<std::ptrdiff_t>(end));
            m_seen = end;
            m_reading = std::async(std::launch::async,
                                   [store = m_store, frames = std::move(frames),
                                    added = std::move(added), cancel = &m_cancel] {
                                       return TcpFollow::read_frames(*store, frames, added, cancel);
                                   });
            return true;
        }
        return !follow.ended() && m_capturing();
    }

    // Stops reading the store for good, waiting for a read under way.
    void stop()
    {
        m_cancel = true;
        if (m_reading.valid())
            m_reading.wait();
        m_reading = {};
        m_store = nullptr;
    }

    // Every growth alive, on the interface thread.
    static std::vector<Growth*>& all()
    {
        static std::vector<Growth*> growths;
        return growths;
    }
    const CaptureStore* store() const { return m_store; }

private:
    const PacketRows& m_rows;
    const CaptureStore* m_store; // null once stopped
    int m_pair;
    std::uint64_t m_generation;
    std::size_t m_seen; // rows of the pair taken
    std::function<bool()> m_capturing;
    std::atomic<bool> m_cancel { false };
    std::future<TcpFollow::Frames> m_reading;
};

// TcpFollow::open on a thread of its own, waited for in an event loop: the
// windows go on painting and taking rows. After g_progress_delay a dialog
// over `parent` shows the frames read and can cancel; cancelled (by it or
// by the program's end) is null with *cancelled set.
std::unique_ptr<TcpFollow> follow_in_background(QWidget* parent, const CaptureStore& store,
                                                const std::vector<std::int64_t>& frames,
                                                const std::vector<int>& rows, std::int64_t followed,
                                                QString* error, bool* cancelled)
{
    TcpFollow::Progress progress;
    std::unique_ptr<TcpFollow> follow;
    std::atomic<bool> done { false };
    QEventLoop loop;
    std::unique_ptr<QProgressDialog> dialog;
    QTimer tick;
    const auto show_progress = [&] {
        dialog = std::make_unique<QProgressDialog>(parent);
        dialog->setObjectName(QStringLiteral("followProgress"));
        dialog->setWindowTitle(QCoreApplication::translate("FollowStream", "追踪TCP流"));
        dialog->setLabelText(QCoreApplication::translate("FollowStream", "正在读取该连接的 %1 帧…")
                                     .arg(QLocale().toString(qulonglong(frames.size()))));
        dialog->setCancelButtonText(QCoreApplication::translate("FollowStream", "取消"));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumDuration(0);
        dialog->setRange(0, static_cast<int>(std::min<std::size_t>(frames.size(), INT_MAX)));
        const auto update = [&] {
            dialog->setValue(static_cast<int>(std::min<std::size_t>(progress.frames, INT_MAX)));
        };
        update();
        // However it is answered (its button, Escape, its close box), the
        // follow stops.
        QObject::connect(dialog.get(), &QProgressDialog::canceled, &loop,
                         [&] { progress.cancel = true; });
        QObject::connect(dialog.get(), &QDialog::rejected, &loop, [&] { progress.cancel = true; });
        QObject::connect(&tick, &QTimer::timeout, dialog.get(), update);
        tick.start(kProgressInterval);
        dialog->show();
    };
    if (g_progress_delay == 0)
        show_progress(); // before the follow starts

    std::thread worker([&] {
        follow = TcpFollow::open(store, frames, rows, followed, error, &progress);
        done = true;
        // The event queue owns the event: it quits the loop (thread-safe).
        QCoreApplication::postEvent(&loop, new QEvent(QEvent::Quit));
    });
    // The loop runs only while the follow does: its end posts the quit.
    bool ending = false; // the program's end left the loop
    if (!done && dialog == nullptr) {
        QTimer delay;
        delay.setSingleShot(true);
        bool waited = false;
        QObject::connect(&delay, &QTimer::timeout, &loop, [&] {
            waited = true;
            loop.quit();
        });
        delay.start(g_progress_delay);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        ending = !done && !waited;
        if (!done && !ending)
            show_progress();
    }
    if (!done && !ending) {
        loop.exec();
        ending = !done;
    }
    if (ending)
        progress.cancel = true;
    worker.join();
    tick.stop();
    dialog.reset();
    *cancelled = progress.cancel;
    if (*cancelled)
        follow.reset();
    return follow;
}

} // namespace

HexWindow* open_stream_window(QWidget* parent, const PacketRows& rows, const CaptureStore* store,
                              int row, const std::function<bool()>& capturing)
{
    const auto refuse = [parent](const QString& why) -> HexWindow* {
        QMessageBox::information(parent, QCoreApplication::translate("FollowStream", "追踪TCP流"),
                                 why);
        return nullptr;
    };
    if (row < 0 || row >= rows.count())
        return refuse(QCoreApplication::translate("FollowStream", "请先选择一行。"));
    const std::optional<std::int64_t> frame = rows.frame(row);
    if (store == nullptr || !frame || !store->contains(*frame))
        return refuse(QCoreApplication::translate("FollowStream",
                                                  "该行的帧已不在存储中, 无法追踪其TCP流。"));
    const TcpPairIndex& pairs = rows.pairs();
    const int pair = pairs.pair_of(row);
    // A copy: the pair's rows grow while the follow runs.
    const std::vector<int> numbers = pairs.rows(pair);
    QString error;
    bool cancelled = false;
    std::unique_ptr<TcpFollow> follow
            = follow_in_background(parent, *store, frames_of(rows, numbers, 0, numbers.size()),
                                   numbers, *frame, &error, &cancelled);
    if (numbers.size() >= kGiveBackAfterFrames)
        memory_release::later([] { malloc_trim(0); });
    if (cancelled)
        return nullptr;
    if (follow == nullptr)
        return refuse(error);

    // New rows of the pair, for as long as they may come.
    std::function<bool(TcpFollow&)> grow;
    if (!follow->ended()) {
        grow = [growth = std::make_shared<Growth>(rows, *store, pair, numbers.size(), capturing)](
                       TcpFollow& follow) { return (*growth)(follow); };
    }
    auto* window = new StreamWindow(std::move(follow), std::move(grow), parent);
    window->setWindowFlag(Qt::Window);
    add_time_sequence_action(*window, rows, store, row, capturing);
    window->show();
    return window;
}

void set_follow_progress_delay(int ms)
{
    g_progress_delay = std::max(0, ms);
}

void end_stream_follows(const CaptureStore* store)
{
    for (Growth* growth : Growth::all())
        if (growth->store() == store)
            growth->stop();
}

void add_follow_action(QTableWidget* table, QWidget* window, const std::function<void(int)>& follow)
{
    auto* action = new QAction(QCoreApplication::translate("FollowStream", "追踪TCP流"), window);
    action->setObjectName(QStringLiteral("actionFollowStream"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_T));
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    QObject::connect(action, &QAction::triggered, window,
                     [table, follow] { follow(table->currentRow()); });

    table->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(table, &QWidget::customContextMenuRequested, window,
                     [table, action](const QPoint& at) {
                         const int row = table->rowAt(at.y());
                         if (row < 0)
                             return;
                         const int column = table->columnAt(at.x());
                         table->setCurrentCell(row, column < 0 ? 0 : column);
                         QMenu menu(table);
                         menu.addAction(action);
                         // Other actions on the row (the TLS follow).
                         menu.addActions(table->actions());
                         menu.exec(table->viewport()->mapToGlobal(at));
                     });
}
