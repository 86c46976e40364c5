// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QObject>
#include <QString>
#include <QTimer>

class PacketRows;
class QTableWidget;
struct FilterSettings;

// Narrows the packet table to the rows that the include and exclude lists
// let through: the others are hidden, never removed, and settings that let
// every row through show them all again. The narrowing may also keep only
// some rows of its caller's choice (a connection's, the marked ones). The
// table stays narrowed: rows that arrive later (arrived()) are judged by
// the same lists and choice, until others are applied or the table is
// cleared. While rows are hidden
// the window's title says how many are shown of how many; the title it had
// otherwise comes back when all are shown, the current row in sight.
class ShownRows : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ShownRows)

public:
    // A child of the table; the window's title is kept.
    ShownRows(QTableWidget* table, const PacketRows& rows, QWidget* window);
    ~ShownRows() override;

    // Hides the rows the settings refuse, and those `keep` refuses (null:
    // none), and shows the others; returns how many are shown.
    int narrow(const FilterSettings& settings, std::function<bool(int row)> keep = nullptr);
    // Row `row` was appended (and the analysis took it): while the table is
    // narrowed it is hidden when the lists or the choice refuse it.
    void arrived(int row);
    int shown() const;
    int total() const;
    bool narrowed() const { return m_hidden > 0; }
    // Whether lists or a choice narrow the table (new rows included), rows
    // hidden or not.
    bool narrowing() const { return m_lists != nullptr || m_keep != nullptr; }

signals:
    // narrowing() changed.
    void narrowing_changed();

private:
    void show_counts();
    bool passes(int row);
    void stop_narrowing();

    QTableWidget* m_table;
    const PacketRows& m_rows;
    QWidget* m_window;
    int m_hidden = 0;
    // The lists in force and what they said of each address and port pair,
    // while narrowing.
    std::unique_ptr<FilterSettings> m_lists;
    std::function<bool(int)> m_keep; // the caller's choice, if any
    std::vector<signed char> m_verdicts; // by pair: -1 not yet known, 0 hidden, 1 shown
    int m_judged = 0; // the rows before this one were judged
    QString m_counts_title; // the title while narrowed
    QString m_own_title; // the window's title otherwise
    QTimer m_counts_timer; // shows the counts a moment after rows arrive
};

// Asks whether "保存..." writes every row or the shown ones only: true for
// the shown ones, false for all, nothing when the user cancels.
std::optional<bool> ask_to_save_shown_rows(QWidget* parent, int shown, int total);
