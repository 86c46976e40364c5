// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QByteArray>
#include <QWidget>

#include "hexsearch.h"

class QCheckBox;
class QHexView;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;

// The find bar of a hex window: a pattern typed as text (UTF-8) or as hex
// bytes, searched forward or backward from the caret. The search runs in
// bounded steps on the event loop, with progress; Esc cancels it, or closes
// the bar when none runs. A match is selected and scrolled into view; a
// wrap, a miss or a bad pattern is said in the bar itself.
class HexFindBar : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(HexFindBar)

public:
    // The view is not owned; its document is searched.
    explicit HexFindBar(QHexView* view, QWidget* parent = nullptr);

    // Puts the focus on the pattern, selected, ready for typing.
    void activate();
    // Start a search; a running one is cancelled first. Nothing but a
    // message without a valid pattern.
    void findNext();
    void findPrevious();
    void cancel();
    bool isSearching() const;

    // How long one turn of the event loop may search, in ms (30 unless set);
    // 0 makes every turn look at one window only.
    void setSliceMs(int ms) { m_slicems = ms; }

    QLineEdit* patternEdit() const { return m_edit; }
    QCheckBox* hexToggle() const { return m_hex; }
    QString message() const;
    // The pattern's bytes; empty with messageOut set when the pattern is
    // not valid hex (odd digit count, or characters other than hex digits
    // and spaces).
    QByteArray pattern(QString* messageOut = nullptr) const;

signals:
    // Once per search: found, not found, cancelled or refused.
    void finished();
    // Esc with no search running, or the close button: whoever holds the
    // bar hides it.
    void closeRequested();

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    void find(HexSearch::Direction direction);
    void runSteps();
    void end(const QString& message);
    void setMessage(const QString& text);

    QHexView* m_view;
    QLineEdit* m_edit;
    QCheckBox* m_hex;
    QLabel* m_message = nullptr;
    QProgressBar* m_progress = nullptr;
    QTimer* m_timer;
    HexSearch m_search;
    int m_patternLength = 0;
    bool m_forward = true;
    int m_slicems = 30;
};
