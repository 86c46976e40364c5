// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>
#include <optional>

#include <QObject>
#include <QString>
#include <QTimer>

class PacketRows;
class QTableWidget;
struct FilterSettings;

// Narrows the packet table to the rows that the include and exclude lists
// let through: the others are hidden, never removed, and settings that let
// every row through show them all again. Rows that arrive later are shown,
// as the capture's own copy of the lists already passed them, unless the
// narrowing also keeps only some rows of its own choice (a connection's,
// the marked ones), which it applies to them too. While rows
// are hidden the window's title says how many are shown of how many; the
// title it had otherwise comes back when all are shown.
class ShownRows : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ShownRows)

public:
    // A child of the table; the window's title is kept.
    ShownRows(QTableWidget* table, const PacketRows& rows, QWidget* window);

    // Hides the rows the settings refuse, and those `keep` refuses (null:
    // none, such as rows of other connections or unmarked ones), and shows
    // the others; returns how many are shown. While `keep` is in force it
    // hides the rows it refuses as they arrive, too.
    int narrow(const FilterSettings& settings, std::function<bool(int row)> keep = nullptr);
    // A row arrived and the analysis took it: hidden when `keep` refuses it.
    void arrived(int row);
    int shown() const;
    int total() const;
    bool narrowed() const { return m_hidden > 0; }

private:
    void show_counts();

    QTableWidget* m_table;
    const PacketRows& m_rows;
    QWidget* m_window;
    int m_hidden = 0;
    std::function<bool(int)> m_keep;
    QString m_counts_title; // the title while narrowed
    QString m_own_title; // the window's title otherwise
    QTimer m_counts_timer; // shows the counts a moment after rows arrive
};

// Asks whether "保存..." writes every row or the shown ones only: true for
// the shown ones, false for all, nothing when the user cancels.
std::optional<bool> ask_to_save_shown_rows(QWidget* parent, int shown, int total);
