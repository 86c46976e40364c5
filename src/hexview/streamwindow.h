// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QColor>

#include "hexwindow.h"

class QComboBox;
class QLabel;
class QPieceBuffer;
class QTimer;
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
class StreamWindow : public HexWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(StreamWindow)

public:
    enum class Shown { Conversation, FirstSender, SecondSender };

    // Takes the follow over. grow, when given, is called a few times a
    // second to add the frames captured since; it returns false once no
    // more can come (the window then hands out what waits for a hole).
    explicit StreamWindow(std::unique_ptr<TcpFollow> follow,
                          std::function<bool(TcpFollow&)> grow = {}, QWidget* parent = nullptr);
    ~StreamWindow() override;

    Shown shown() const;
    // Shows the conversation or one direction; with unsaved edits asks
    // first, and keeps what is shown when the user cancels. False then.
    bool setShown(Shown shown);
    const TcpFollow& follow() const { return *m_follow; }
    // The counts in the bar.
    QString summary() const;
    // Takes what the capture added since, as the timer does.
    void takeNewBytes();

protected:
    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void rebuild();
    // Adds the follow's pieces from m_pieces_shown on to the shown document.
    void appendPieces();
    // Whether the bytes of a direction are shown.
    bool wanted(int direction) const;
    void updateSummary();
    // Whether the view's colours are a dark theme's.
    bool isDark() const;
    // Annotates [begin, end) in a colour (0 and 1 the directions'; see the
    // source for the others) with a comment, and keeps it for a new theme.
    void addMark(qint64 begin, qint64 end, int colour, const QString& comment);
    QColor colourOf(int colour) const;
    void followTheme();

    struct Mark
    {
        qint64 begin;
        qint64 end;
        int colour;
        QString comment;
    };

    std::unique_ptr<TcpFollow> m_follow;
    std::function<bool(TcpFollow&)> m_grow;
    QComboBox* m_choice;
    QLabel* m_summary;
    QTimer* m_timer;
    Shown m_shown = Shown::Conversation;
    // The document shown, and what of the conversation is in it.
    QPieceBuffer* m_buffer = nullptr;
    std::vector<int> m_sources; // the buffer's source of each of the follow's files
    std::size_t m_pieces_shown = 0; // looked at, shown or not
    std::size_t m_chunks_shown = 0;
    qint64 m_chunk_pending = -1; // a chunk whose comment waits for its first byte
    bool m_dark = false; // the colours were chosen for a dark theme
    std::vector<Mark> m_marks; // the annotations made, in order
    qint64 m_missing_pending = 0; // bytes of a gap not yet marked on a byte
};
