// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QString>

#include "packetrecord.h"

struct pcap_pkthdr;

// One frame as it was captured: its pcap header fields and its bytes.
struct StoredFrame
{
    int link_type = 0;
    std::int64_t seconds = 0;
    std::int64_t microseconds = 0; // within the second: nanoseconds / 1000
    std::int64_t nanoseconds = 0; // within the second
    std::uint32_t wire_length = 0; // the frame's length on the network
    QByteArray bytes; // the captured bytes (wire_length or fewer)
};

// The TCP segment a stored frame holds, with its capture time; nothing when
// the frame is no TCP segment the rows decode.
std::optional<CapturedSegment> decode_stored_segment(const StoredFrame& frame);
// The captured payload bytes of that segment (empty when there is none).
QByteArray stored_payload(const StoredFrame& frame);

// Where a frame's bytes lie in the store: in which file of a read_frames()
// call's, and at what offset.
struct StoredFramePlace
{
    int file;
    std::int64_t offset;
    std::uint32_t captured; // the frame's captured length, all of it
};

// One of the store's files, opened for reading: the name is unique in the
// store's life.
struct StoreFile
{
    QByteArray name;
    int fd;
};

// The frames behind the packet table's rows, kept on disk rather than in RAM:
// pcap files in a private folder, in the format of libpcap's dump functions. The
// capture thread appends; the interface thread reads, clears and saves. Every
// call is safe from any thread.
//
// Each frame gets a sequence number that is never reused, not even after
// clear(), so a number handed out before a clear can only name a frame that is
// gone (read_frame() then returns nothing). Frames of another link type or
// timestamp precision than the last go to a file of their own.
//
// The folder, tarnlook-<pid>-XXXXXX, lies in a parent folder that belongs to
// the user alone: it must be a real folder (not a link), owned by the
// effective user, with mode 0700, or the store refuses it. The store holds a
// lock (flock) on a file in its folder for its whole life and removes the
// folder when it is destroyed. A folder left behind by a process that died is
// removed by remove_stale_folders(); the lock, not a process id, tells a live
// store's folder from a leftover, in any PID namespace.
class CaptureStore
{
public:
    // Makes the folder under `parent` (default_parent() when empty).
    // isValid() tells whether that worked, errorString() why not.
    explicit CaptureStore(const QString& parent = QString());
    ~CaptureStore();
    CaptureStore(const CaptureStore&) = delete;
    CaptureStore& operator=(const CaptureStore&) = delete;

    [[nodiscard]] bool isValid() const;
    // Why the store cannot take frames (no folder, a failed write); empty
    // while all is well.
    QString errorString() const;
    QString folder() const;

    // The resolution of a frame's timestamp: header.ts.tv_usec counts
    // microseconds or nanoseconds, as libpcap's handle of the source says.
    enum class Precision {
        Microseconds,
        Nanoseconds,
    };
    // Appends a frame; returns its sequence number, or nothing when it could
    // not be written (the reason is in errorString()).
    [[nodiscard]] std::optional<std::int64_t> append(int link_type,
                                                     const struct pcap_pkthdr& header,
                                                     const unsigned char* data,
                                                     Precision precision = Precision::Microseconds);
    // The frame with this number, or nothing when it was cleared or never
    // stored.
    std::optional<StoredFrame> read_frame(std::int64_t seq) const;
    // Calls visit with each of these frames in the given order, reading the
    // files front to back (far faster than read_frame for many frames).
    // Returns false when a frame is gone or visit returned false.
    bool read_frames(const std::vector<std::int64_t>& seqs,
                     const std::function<bool(const StoredFrame&)>& visit) const;
    // The same, with each frame's place. When files is given, it receives
    // the files to be read, in the order of StoredFramePlace::file, before
    // the first visit: each opened anew for the caller, who closes them
    // whatever the outcome; they stay readable after a clear() removed them. With head 0 or more,
    // StoredFrame::bytes holds at most that many first bytes of each frame (its headers, say), and
    // the files are mapped rather than read: the frames' other bytes are
    // never copied.
    bool read_frames(const std::vector<std::int64_t>& seqs,
                     const std::function<bool(const StoredFrame&, const StoredFramePlace&)>& visit,
                     std::vector<StoreFile>* files, int head = -1) const;
    // When the files of a clear are deleted: a moment later, so that the
    // caller's own work after the clear has the machine to itself, or at
    // once (the process is ending, and waits for them).
    enum class Removal {
        Soon,
        Now,
    };
    // Forgets every frame and deletes their files (on a thread of their
    // own: a large file takes a while to go); appends go on into a new file.
    // The error of a failed write goes too; that of a store without a folder
    // stays.
    void clear(Removal removal = Removal::Soon);
    // Whether the frame with this number is kept.
    bool contains(std::int64_t seq) const;
    // Frames stored since the last clear.
    std::int64_t frame_count() const;
    // Whether any of these frames came with nanosecond timestamps.
    bool has_nanoseconds(const std::vector<std::int64_t>& seqs) const;

    // Where the stores of this user go: $XDG_RUNTIME_DIR when it is set,
    // else a folder tarnlook-<uid> of the user's own in the system's
    // temporary folder (made when missing).
    static QString default_parent();
    // Removes the folders that stores no longer alive left under `parent`
    // (default_parent() when empty): only real folders named as a store's,
    // owned by this user, of mode 0700 and not locked. Nothing is followed:
    // a link is removed, never what it points to; nothing on another file
    // system is touched. Returns how many folders it removed.
    static int remove_stale_folders(const QString& parent = QString());

private:
    struct Segment;

    Segment* segment_for(int link_type, Precision precision);
    const Segment* segment_of(std::int64_t seq) const;
    // Wakes the reaper, if any, and waits for it.
    void finish_reaper();

    mutable std::mutex m_mutex;
    int m_parent_fd = -1; // the parent folder, open while the store lives
    int m_dir_fd = -1; // the store's folder; every file is made relative to it
    int m_lock_fd = -1; // holds the lock on the folder's lock file
    QByteArray m_name; // of the folder in the parent
    QString m_folder; // its path, for the caller
    std::vector<std::unique_ptr<Segment>> m_segments;
    // Changed under m_mutex; read without it by contains(). Every number from
    // the first kept up to the next has its frame.
    std::atomic<std::int64_t> m_next_seq { 0 };
    std::atomic<std::int64_t> m_first_seq { 0 }; // of the frames still kept
    int m_files = 0; // files made so far, for their names
    QString m_error;
    // Deletes the files of the last clear, a moment later.
    std::thread m_reaper;
    std::mutex m_reaper_mutex;
    std::condition_variable m_reaper_wake;
    bool m_reaper_now = false; // under m_reaper_mutex: delete at once
};
