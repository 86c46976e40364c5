// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "capturestore.h"
#include "packetrecord.h"
#include "tcpreassembly.h"

// One followed TCP connection: the segments of its rows read from the
// capture store, put together by TcpReassembly, and kept as a list of
// pieces of the store's files, so that a view can refer to the bytes
// instead of copying them. Only the frames' headers are read. The files are
// held open: they stay readable after the store was cleared.
//
// Memory: 16 bytes per piece (a segment's new bytes, or a gap), and a chunk
// record each time the conversation turns to the other side.
//
// A follow is used from one thread at a time. open() may run on any thread
// and report its progress to another; of add(), the reading of the frames
// (read_frames()) may run on another thread than the one that uses the
// follow.
class TcpFollow
{
public:
    // How far open() has come, for another thread to watch, and its way to
    // stop it.
    struct Progress
    {
        std::atomic<std::size_t> frames { 0 }; // of those given, looked at so far
        std::atomic<bool> cancel { false }; // set: open() stops soon, and fails
    };
    class Frames;

    // The conversation in the order it happened: `length` bytes of
    // files()[file] at `offset`, the next bytes of `direction`; or, for a
    // gap, `length` bytes of that direction that were never captured.
    struct Piece
    {
        std::int64_t offset;
        std::uint32_t length;
        std::uint32_t file : 30;
        std::uint32_t direction : 1;
        std::uint32_t gap : 1;
    };
    // Where the conversation turns to a side (or begins): at pieces()[piece],
    // made known by the segment of `row` captured at that time, whose bytes
    // begin at sequence number `seq`.
    struct Chunk
    {
        std::size_t piece;
        int row;
        std::uint32_t seq;
        std::int64_t seconds;
        std::int64_t nanoseconds;
    };

    // Follows the connection that the frame `followed` belongs to, among
    // the frames of its address and port pair (store numbers in capture
    // order, with their rows). Null, with the reason in error, when that
    // frame is no longer stored or holds no TCP segment.
    // With progress, the frames looked at are counted there, and a cancel
    // makes it fail (with a reason in error too).
    static std::unique_ptr<TcpFollow> open(const CaptureStore& store,
                                           const std::vector<std::int64_t>& frames,
                                           const std::vector<int>& rows, std::int64_t followed,
                                           QString* error, Progress* progress = nullptr);
    ~TcpFollow();
    TcpFollow(const TcpFollow&) = delete;
    TcpFollow& operator=(const TcpFollow&) = delete;

    // Frames of the pair captured since (store numbers and rows): those of
    // the followed connection are added, until the pair is reused by a new
    // connection. Frames no longer stored are left out.
    void add(const CaptureStore& store, const std::vector<std::int64_t>& frames,
             const std::vector<int>& rows);
    // The same in two halves: read_frames() reads and decodes the frames'
    // headers, on any thread (the store is all it uses; a set `cancel` stops
    // it, with what was read so far), and add() of its result puts them in.
    static Frames read_frames(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                              const std::vector<int>& rows,
                              const std::atomic<bool>* cancel = nullptr);
    void add(Frames frames);
    // Nothing more comes: bytes still waiting for a hole are handed out.
    void finish();
    // Whether a later connection took the pair over: nothing more is added.
    bool ended() const { return m_ended; }

    // The counts: bytes each way, segments, retransmissions, gaps.
    const TcpReassembly& reassembly() const { return m_reassembly; }
    // Only grow: what a view has shown stays as it was.
    const std::vector<Piece>& pieces() const { return m_pieces; }
    const std::vector<Chunk>& chunks() const { return m_chunks; }
    const std::vector<StoreFile>& files() const { return m_files; }
    // The sender of each direction, as "address:port" ("[address]:port" for
    // IPv6).
    QString endpoint(int direction) const { return m_endpoints[direction]; }
    // How many of the pair's frames were looked at (followed or not).
    std::size_t frames_seen() const { return m_frames_seen; }

private:
    TcpFollow() = default;
    // Reads the frames and adds those of the connection of the followed
    // frame.
    bool read(const CaptureStore& store, const std::vector<std::int64_t>& frames,
              const std::vector<int>& rows, std::int64_t followed, QString* error,
              Progress* progress);
    enum class Taken { Yes, Ended, TooManyFiles };
    // Adds a frame's segment, of files()[file] at `offset`, if it belongs to
    // the connection; `reached` tells whether the followed frame was, and
    // becomes true with it.
    Taken take(const TcpSegmentHeader& segment, std::size_t file, std::int64_t offset,
               std::int64_t seconds, std::int64_t nanoseconds, int row, bool followed,
               bool& reached);
    int file_index(const StoreFile& file);
    // Keeps the events the reassembly made for the segment of `row`.
    void take_events(int row);

    std::vector<Piece> m_pieces;
    std::vector<Chunk> m_chunks;
    int m_last_direction = -1; // of the last piece
    int m_last_row = -1; // of the last segment added
    std::vector<StoreFile> m_files;
    TcpReassembly m_reassembly;
    std::array<QString, 2> m_endpoints;
    struct Endpoint
    {
        std::array<unsigned char, 16> address {};
        std::uint16_t port = 0;
        bool operator==(const Endpoint& other) const
        {
            return address == other.address && port == other.port;
        }
    };
    // The first sender and the other side, which tell the directions.
    Endpoint m_first;
    Endpoint m_second;
    bool m_known = false; // whether m_first and m_second are
    int m_version = 4; // of IP
    // The first sequence number seen each way: a SYN with another one
    // begins a new connection on the pair.
    std::array<std::optional<std::uint32_t>, 2> m_first_seq;
    bool m_ended = false;
    std::size_t m_frames_seen = 0;
};

// Frames read for TcpFollow::add(): their decoded headers and the store's
// files they lie in, held open until added (or closed with this). About
// 100 bytes per frame.
class TcpFollow::Frames
{
public:
    Frames() = default;
    ~Frames();
    Frames(Frames&& other) noexcept;
    Frames& operator=(Frames&& other) noexcept;
    Frames(const Frames&) = delete;
    Frames& operator=(const Frames&) = delete;

    // The frames asked for (read, gone or not TCP).
    std::size_t count() const { return m_count; }
    // Calls visit(file, offset, row, seconds, nanoseconds) for each frame
    // read that holds a TCP segment, in the order read: the store's file it
    // lies in and its offset there, its row and its capture time.
    using Visit = std::function<void(const StoreFile& file, std::int64_t offset, int row,
                                     std::int64_t seconds, std::int64_t nanoseconds)>;
    void visit(const Visit& visit) const;

private:
    friend class TcpFollow;
    struct Frame
    {
        TcpSegmentHeader segment;
        std::int64_t offset; // in m_files[file]
        std::int64_t seconds;
        std::int64_t nanoseconds;
        int file;
        int row;
    };
    void close_files();

    std::vector<Frame> m_frames;
    std::vector<StoreFile> m_files;
    std::size_t m_count = 0;
};
