// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QColor>

#include "hexwindow.h"

class QComboBox;
class QHexBuffer;
class QLabel;
class QTimer;
class TcpFollow;

// What the windows of a followed connection share (StreamWindow: its TCP
// bytes; TlsStreamWindow: its decrypted records): a bar above the bytes
// that chooses the conversation or one direction and shows the counts, the
// directions' colours and the marks of gaps, laid again in a new theme's
// colours, and the growth while the capture runs, a few times a second.
class FollowWindow : public HexWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(FollowWindow)

public:
    enum class Shown { Conversation, FirstSender, SecondSender };

    ~FollowWindow() override;

    const TcpFollow& follow() const { return *m_follow; }
    Shown shown() const { return m_shown; }
    // Shows the conversation or one direction; with unsaved edits asks
    // first, and keeps what is shown when the user cancels. False then.
    bool setShown(Shown shown);
    // The counts in the bar.
    virtual QString summary() const = 0;
    // Takes what the capture added since, as the growth timer does.
    virtual void takeNewBytes() = 0;

protected:
    // The colours of marks besides the two directions' (0 and 1).
    static constexpr int kGapColour = 2;
    static constexpr int kNoColour = -1;

    // Takes the follow over. grow, when given, is called a few times a
    // second (takeNewBytes(), then takeFrames()) to add the frames captured
    // since; it returns false once no more can come. Without it the follow
    // is finished at once. A bar titled `title` whose widgets are named after
    // `name` ("<name>ToolBar", "<name>Choice", "<name>Summary") chooses
    // between the conversation and the direction each endpoint sends.
    FollowWindow(std::unique_ptr<TcpFollow> follow, std::function<bool(TcpFollow&)> grow,
                 const QString& title, const QString& name, QWidget* parent);

    // Adds the frames captured since; once grow says no more can come, the
    // growth stops and the follow hands out what waits for a hole.
    void takeFrames();
    // Whether more frames may come.
    bool growing() const { return static_cast<bool>(m_grow); }

    // Builds the document of what is shown anew.
    virtual void rebuild() = 0;
    // Shows the buffer as a new document, without marks yet.
    void startDocument(QHexBuffer* buffer);
    // Whether the bytes of a direction are shown.
    bool wanted(int direction) const;
    // Annotates [begin, end) in a colour (0 and 1 the directions', or
    // kGapColour, kNoColour) with a comment, and keeps the colour for a new
    // theme.
    void addMark(qint64 begin, qint64 end, int colour, const QString& comment);
    void updateSummary();
    // "HH:mm:ss.nnnnnnnnn" of a capture time.
    static QString timeText(std::int64_t seconds, std::int64_t nanoseconds);

    void changeEvent(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    // Whether the view's colours are a dark theme's.
    bool isDark() const;
    QColor colourOf(int colour) const;
    void followTheme();

    std::unique_ptr<TcpFollow> m_follow;
    std::function<bool(TcpFollow&)> m_grow;
    QComboBox* m_choice;
    QLabel* m_summary;
    QTimer* m_growth;
    Shown m_shown = Shown::Conversation;
    bool m_started = false; // a document is shown
    bool m_dark = false; // the colours were chosen for a dark theme
    std::vector<std::int8_t> m_mark_colours; // of the document's marks, in order
};
