// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "followwindow.h"

class QPieceBuffer;
class TcpFollow;

// A followed TCP connection in the hex editor: the bytes of both directions
// in the order the conversation happened, or of one direction, as a
// document that refers to the bytes in the capture store rather than
// copying them. Each direction has its colour; each chunk (the bytes one
// side sends before the other speaks) starts with a comment naming its row,
// time, direction and sequence number, and each gap (bytes never captured)
// with one saying how many bytes are missing. A bar above the bytes chooses
// what is shown and counts the bytes each way, the segments, the
// retransmissions and the gaps.
//
// Edits stay in memory as in any hex window; the store is never written.
// While the capture runs the window takes the connection's new bytes a few
// times a second, keeping the caret, the selection and the scroll position.
class StreamWindow : public FollowWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(StreamWindow)

public:
    // Takes the follow over. grow, when given, is called a few times a
    // second to add the frames captured since; it returns false once no
    // more can come (the window then hands out what waits for a hole).
    explicit StreamWindow(std::unique_ptr<TcpFollow> follow,
                          std::function<bool(TcpFollow&)> grow = {}, QWidget* parent = nullptr);
    ~StreamWindow() override;

    QString summary() const override;
    void takeNewBytes() override;

private:
    void rebuild() override;
    // Adds the follow's pieces from m_pieces_shown on to the shown document.
    void appendPieces();

    // The document shown, and what of the conversation is in it.
    QPieceBuffer* m_buffer = nullptr;
    std::vector<int> m_sources; // the buffer's source of each of the follow's files
    std::size_t m_pieces_shown = 0; // looked at, shown or not
    std::size_t m_chunks_shown = 0;
    qint64 m_chunk_pending = -1; // a chunk whose comment waits for its first byte
    qint64 m_missing_pending = 0; // bytes of a gap not yet marked on a byte
};
