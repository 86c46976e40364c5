// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

#include <QWidget>

#include "packetsearch.h"

class CaptureStore;
class PacketRows;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QTableWidget;
class QTimer;
class QToolBar;

// The find bar of the packet table, in its window's bottom tool bar area as
// in the hex window, hidden until asked for: a pattern looked for in the payloads
// (as text or hex bytes) or in the fields of the shown rows, forward or
// backward from the current row, wrapping round. The search runs in bounded
// steps on the event loop, with progress; Esc cancels it, or closes the bar
// when none runs. A match becomes the current row (found() tells the
// window, which shows its payload); a wrap, a miss or a bad pattern is said
// in the bar itself.
class PacketFindBar : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(PacketFindBar)

public:
    // Searches the rows of the table, skipping its hidden ones; the store
    // (may be null) holds their frames. None is owned. Puts itself in a tool
    // bar of the window, and gives the window the actions "查找..."
    // (Ctrl+F), "查找下一个" (F3) and "查找上一个" (Shift+F3), which show
    // the bar as needed.
    PacketFindBar(QTableWidget* table, const PacketRows& rows, const CaptureStore* store,
                  QMainWindow* window);

    // Shows the bar with the focus on the pattern, selected.
    void activate();
    bool is_shown() const;
    // Start a search from the current row; a running one is cancelled
    // first. Nothing but a message without a valid pattern.
    void find_next();
    void find_previous();
    void cancel();
    bool is_searching() const;
    // The same search, at once, case-sensitive, from from_row: the row
    // found, or -1 (no match, or a pattern that is not valid).
    int find_now(const QString& pattern, PacketFindKind kind, int from_row, bool forward);

    // What the "备注" column says of a row, which the fields kind looks in.
    void set_remarks(std::function<QString(int row)> remarks);

    // How long one turn of the event loop may search, in ms (30 unless set).
    void set_slice_ms(int ms) { m_slice_ms = ms; }
    QString message() const;

signals:
    // A match: the row, now current and scrolled to.
    void found(int row);
    // Once per search: found, not found, cancelled or refused.
    void finished();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void find(bool forward);
    void run_steps();
    void end(const QString& message);
    void close_bar();

    void add_find_actions(QMainWindow* window);

    QTableWidget* m_table;
    QToolBar* m_tool_bar;
    QLineEdit* m_edit;
    QComboBox* m_kind;
    QCheckBox* m_case;
    QLabel* m_message = nullptr;
    QProgressBar* m_progress = nullptr;
    QTimer* m_timer;
    PacketSearch m_search;
    int m_slice_ms = 30;
    bool m_forward = true;
};
