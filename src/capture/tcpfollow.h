// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "capturestore.h"
#include "tcpreassembly.h"

// One followed TCP connection: the segments of its rows read from the
// capture store, put together by TcpReassembly, and where the bytes of each
// piece lie in the store's files, so that a view can refer to them instead
// of copying them. The files are held open: they stay readable after the
// store was cleared.
class TcpFollow
{
public:
    // Where a piece's bytes are: `length` bytes at `offset` of files()[file].
    struct Run
    {
        int file;
        std::int64_t offset;
        std::uint32_t length;
    };

    // Follows the connection that the frame `followed` belongs to, among
    // the frames of its address and port pair (store numbers in capture
    // order, with their rows). Null, with the reason in error, when that
    // frame is no longer stored or holds no TCP segment.
    static std::unique_ptr<TcpFollow> open(const CaptureStore& store,
                                           const std::vector<std::int64_t>& frames,
                                           const std::vector<int>& rows, std::int64_t followed,
                                           QString* error);
    ~TcpFollow();
    TcpFollow(const TcpFollow&) = delete;
    TcpFollow& operator=(const TcpFollow&) = delete;

    // Frames of the pair captured since (store numbers and rows): those of
    // the followed connection are added, until the pair is reused by a new
    // connection. Frames no longer stored are left out.
    void add(const CaptureStore& store, const std::vector<std::int64_t>& frames,
             const std::vector<int>& rows);
    // Nothing more comes: bytes still waiting for a hole are handed out.
    void finish();
    // Whether a later connection took the pair over: nothing more is added.
    bool ended() const { return m_ended; }

    const TcpReassembly& reassembly() const { return m_reassembly; }
    // Where the bytes of a Bytes event lie.
    Run run_of(const TcpStreamEvent& event) const;
    const std::vector<StoreFile>& files() const { return m_files; }
    // The sender of each direction, as "address:port" ("[address]:port" for
    // IPv6).
    QString endpoint(int direction) const { return m_endpoints[direction]; }
    // The row of a frame of the connection, or -1.
    int row_of(std::int64_t frame) const;
    // How many of the pair's frames were looked at (followed or not).
    std::size_t frames_seen() const { return m_frames_seen; }

private:
    TcpFollow() = default;
    // Reads the frames, keeps those of the connection whose first segment
    // is at index `first_of_connection` (or of the followed frame when
    // `followed` is given) and adds them.
    bool read(const CaptureStore& store, const std::vector<std::int64_t>& frames,
              const std::vector<int>& rows, std::optional<std::int64_t> followed, QString* error);
    int file_index(const StoreFile& file);

    struct Place
    {
        std::int64_t frame;
        std::int64_t offset; // of the frame's bytes
        int file;
        int row;
    };
    std::vector<Place> m_places; // of the connection's frames, ascending
    std::vector<StoreFile> m_files;
    TcpReassembly m_reassembly;
    std::array<QString, 2> m_endpoints;
    struct Endpoint
    {
        std::array<unsigned char, 16> address {};
        std::uint16_t port = 0;
    };
    // The first sender and the other side, which tell the directions.
    Endpoint m_first;
    Endpoint m_second;
    int m_version = 4; // of IP
    // The first sequence number seen each way: a SYN with another one
    // begins a new connection on the pair.
    std::array<std::optional<std::uint32_t>, 2> m_first_seq;
    bool m_ended = false;
    std::size_t m_frames_seen = 0;
};
