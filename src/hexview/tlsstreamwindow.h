// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "followwindow.h"

class QTimer;
class TcpFollow;
class TlsStream;
class TlsStreamBuffer;

// A followed TLS connection in the hex editor: the decrypted application
// data of both directions in the order the conversation happened, or of one
// direction, as a document of records opened when they are read
// (TlsStreamBuffer). Each direction has its colour; each chunk (the records
// one side sends before the other speaks) starts with a comment naming the
// row of its first record's last segment, its time, the direction and the
// record's sequence number. Records that could not be opened (tag failed,
// not all captured, no key, lost) are never shown as bytes: the next byte
// shown is marked, as a gap of the TCP stream window is, and says how many
// and why. A bar above the bytes chooses what is shown and counts the
// records and plaintext bytes each way and the records that failed.
//
// The records are read a slice at a time after the window is shown, so that
// a long stream paints at once and grows to its end; while the capture runs
// the window takes the connection's new bytes a few times a second,
// keeping the caret, the selection and the scroll position.
class TlsStreamWindow : public FollowWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(TlsStreamWindow)

public:
    // Where a record's last byte came from: the row of its segment and the
    // segment's capture time.
    struct Origin
    {
        int row = -1;
        std::int64_t seconds = 0;
        std::int64_t nanoseconds = 0;
    };
    using Describe = std::function<Origin(std::uint64_t piece)>;

    // Takes the follow and its TLS reading over. grow, when given, is
    // called a few times a second to add the frames captured since; it
    // returns false once no more can come. describe names the origin of a
    // follow's piece.
    TlsStreamWindow(std::unique_ptr<TcpFollow> follow, std::unique_ptr<TlsStream> tls,
                    std::function<bool(TcpFollow&)> grow, Describe describe,
                    QWidget* parent = nullptr);
    ~TlsStreamWindow() override;

    const TlsStream& tls() const { return *m_tls; }
    QString summary() const override;
    // Whether records are still being read.
    bool reading() const;
    // Reads the records not read yet at once (for callers and tests).
    void readAll();
    void takeNewBytes() override;

private:
    void rebuild() override;
    // Reads a slice of records and shows what they hold.
    void readSlice();
    void appendRecords();

    std::unique_ptr<TlsStream> m_tls;
    Describe m_describe;
    QTimer* m_slices; // reading
    TlsStreamBuffer* m_buffer = nullptr;
    std::size_t m_records_shown = 0; // looked at, shown or not
    int m_last_direction = -1; // of the last record shown
    // Records not shown as bytes since the last byte shown, by reason.
    std::uint64_t m_pending_failed = 0;
    std::uint64_t m_pending_missing = 0;
    std::uint64_t m_pending_no_key = 0;
};
