// SPDX-License-Identifier: GPL-2.0-or-later

#include "followreading.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include <malloc.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLocale>
#include <QProgressDialog>
#include <QTimer>

#include "capturestore.h"
#include "memoryrelease.h"
#include "packetrows.h"

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

// Every growth alive, on the interface thread.
std::vector<FollowGrowth*>& growths()
{
    static std::vector<FollowGrowth*> all;
    return all;
}

} // namespace

std::vector<std::int64_t> frames_of(const PacketRows& rows, const std::vector<int>& numbers,
                                    std::size_t from, std::size_t to)
{
    std::vector<std::int64_t> frames;
    frames.reserve(to - from);
    for (std::size_t i = from; i < to; ++i)
        frames.push_back(rows.frame(numbers[i]).value_or(-1));
    return frames;
}

std::optional<FollowedRows> rows_to_follow(const PacketRows& rows, const CaptureStore* store,
                                           int row, const QString& gone, QString* why)
{
    if (row < 0 || row >= rows.count()) {
        *why = QCoreApplication::translate("FollowStream", "请先选择一行。");
        return std::nullopt;
    }
    const std::optional<std::int64_t> frame = rows.frame(row);
    if (store == nullptr || !frame || !store->contains(*frame)) {
        *why = gone;
        return std::nullopt;
    }
    FollowedRows followed;
    followed.pair = rows.pairs().pair_of(row);
    followed.frame = *frame;
    followed.rows = rows.pairs().rows(followed.pair);
    followed.frames = frames_of(rows, followed.rows, 0, followed.rows.size());
    return followed;
}

bool follow_in_background(QWidget* parent, const QString& title, std::size_t frames,
                          std::size_t steps, TcpFollow::Progress& progress,
                          const std::function<void()>& work)
{
    std::atomic<bool> done { false };
    QEventLoop loop;
    std::unique_ptr<QProgressDialog> dialog;
    QTimer tick;
    const auto show_progress = [&] {
        dialog = std::make_unique<QProgressDialog>(parent);
        dialog->setObjectName(QStringLiteral("followProgress"));
        dialog->setWindowTitle(title);
        dialog->setLabelText(QCoreApplication::translate("FollowStream", "正在读取该连接的 %1 帧…")
                                     .arg(QLocale().toString(qulonglong(frames))));
        dialog->setCancelButtonText(QCoreApplication::translate("FollowStream", "取消"));
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setMinimumDuration(0);
        dialog->setRange(0, static_cast<int>(std::min<std::size_t>(steps, INT_MAX)));
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
        show_progress(); // before the work starts

    std::thread worker([&] {
        work();
        done = true;
        // The event queue owns the event: it quits the loop (thread-safe).
        QCoreApplication::postEvent(&loop, new QEvent(QEvent::Quit));
    });
    // The loop runs only while the work does: its end posts the quit.
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
    if (frames >= kGiveBackAfterFrames)
        memory_release::later([] { malloc_trim(0); });
    return !progress.cancel;
}

FollowGrowth::FollowGrowth(const PacketRows& rows, const CaptureStore& store, int pair,
                           std::size_t seen, std::function<bool()> capturing, Seen seen_frames)
    : m_rows(rows)
    , m_store(&store)
    , m_pair(pair)
    , m_generation(rows.pairs().generation())
    , m_seen(seen)
    , m_capturing(std::move(capturing))
    , m_seen_frames(std::move(seen_frames))
{
    growths().push_back(this);
}

FollowGrowth::~FollowGrowth()
{
    stop();
    growths().erase(std::find(growths().begin(), growths().end(), this));
}

std::function<bool(TcpFollow&)> FollowGrowth::callback(std::shared_ptr<FollowGrowth> growth)
{
    return [growth = std::move(growth)](TcpFollow& follow) { return (*growth)(follow); };
}

bool FollowGrowth::operator()(TcpFollow& follow)
{
    if (m_store == nullptr)
        return false;
    if (m_reading.valid()) {
        if (m_reading.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return true;
        TcpFollow::Frames frames = m_reading.get();
        if (m_seen_frames)
            m_seen_frames(frames);
        follow.add(std::move(frames));
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

void FollowGrowth::stop()
{
    m_cancel = true;
    if (m_reading.valid())
        m_reading.wait();
    m_reading = {};
    m_store = nullptr;
}

void set_follow_progress_delay(int ms)
{
    g_progress_delay = std::max(0, ms);
}

void end_stream_follows(const CaptureStore* store)
{
    for (FollowGrowth* growth : growths())
        if (growth->store() == store)
            growth->stop();
}
