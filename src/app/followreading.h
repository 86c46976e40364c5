// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "tcpfollow.h"

class CaptureStore;
class PacketRows;
class QString;
class QWidget;

// The reading of a followed connection's frames, shared by the stream
// windows ("追踪TCP流", "追踪TLS流"): off the interface thread, with its
// progress shown and a way to cancel it, and the growth of a window while
// the capture runs.

// The frames of rows numbers[from, to) (store numbers), -1 where a row has
// none.
std::vector<std::int64_t> frames_of(const PacketRows& rows, const std::vector<int>& numbers,
                                    std::size_t from, std::size_t to);

// What a follow of a row reads: the row's frame, the rows of its address
// and port pair (a copy: the pair's rows grow while the follow runs) and
// their frames.
struct FollowedRows
{
    int pair = -1;
    std::int64_t frame = -1;
    std::vector<int> rows;
    std::vector<std::int64_t> frames;
};
// Those of `row`; nothing, with the reason in *why, when there is no such
// row or its frame is no longer stored (`gone` says so).
std::optional<FollowedRows> rows_to_follow(const PacketRows& rows, const CaptureStore* store,
                                           int row, const QString& gone, QString* why);

// Runs `work` on a thread of its own, waited for in an event loop: the
// windows go on painting and taking rows. After the follow's progress delay
// a dialog over `parent` titled `title` says that `frames` frames are read
// and shows progress.frames out of `steps`; it can cancel, which sets
// progress.cancel (as the program's end does). `work` looks at that flag
// and stops soon. False when it was cancelled.
bool follow_in_background(QWidget* parent, const QString& title, std::size_t frames,
                          std::size_t steps, TcpFollow::Progress& progress,
                          const std::function<void()>& work);

// The growth of one stream window: the new rows of its pair, their frames
// read on a thread of their own, put into the follow at the window's next
// look (on the interface thread, a few microseconds a segment). Stopped by
// end_stream_follows() when its store goes.
class FollowGrowth
{
public:
    // Given each batch of frames read, on the interface thread, before the
    // follow takes them.
    using Seen = std::function<void(const TcpFollow::Frames&)>;

    FollowGrowth(const PacketRows& rows, const CaptureStore& store, int pair, std::size_t seen,
                 std::function<bool()> capturing, Seen seen_frames = {});
    ~FollowGrowth();
    FollowGrowth(const FollowGrowth&) = delete;
    FollowGrowth& operator=(const FollowGrowth&) = delete;

    // The growth callback of a stream window, which keeps the growth: whether
    // more may come.
    static std::function<bool(TcpFollow&)> callback(std::shared_ptr<FollowGrowth> growth);
    bool operator()(TcpFollow& follow);
    // Stops reading the store for good, waiting for a read under way.
    void stop();
    const CaptureStore* store() const { return m_store; }

private:
    const PacketRows& m_rows;
    const CaptureStore* m_store; // null once stopped
    int m_pair;
    std::uint64_t m_generation;
    std::size_t m_seen; // rows of the pair taken
    std::function<bool()> m_capturing;
    Seen m_seen_frames;
    std::atomic<bool> m_cancel { false };
    std::future<TcpFollow::Frames> m_reading;
};

// After how long a follow shows its progress (ms; 400 unless set). With 0
// the dialog shows before the follow starts.
void set_follow_progress_delay(int ms);

// The store is going: the stream windows over it stop reading it, and no
// read of theirs is under way when this returns.
void end_stream_follows(const CaptureStore* store);
