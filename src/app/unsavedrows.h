// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>

#include <QCoreApplication>

class QWidget;

// Whether the packet table holds rows that closing the window would lose:
// rows captured live and neither saved nor cleared since. Rows read from a
// capture file are in that file already and never count.
class UnsavedRows
{
    Q_DECLARE_TR_FUNCTIONS(UnsavedRows)

public:
    // Rows from a live capture were appended, one unless said.
    void captured(std::uint64_t rows = 1) { m_captured += rows; }
    // What a save that begins now will cover: the rows appended so far.
    std::uint64_t mark() const { return m_captured; }
    // A save that began at `mark` succeeded: the rows up to it are kept.
    void saved(std::uint64_t mark);
    // Every row was removed.
    void cleared() { m_kept = m_captured; }

    // The live rows that no save has kept; 0: closing need not ask.
    std::uint64_t count() const { return m_captured - m_kept; }

private:
    std::uint64_t m_captured = 0; // live rows appended, ever
    std::uint64_t m_kept = 0; // how many of the first of them are saved or gone
};

// What the user chose when asked about unsaved rows.
enum class UnsavedRowsChoice { Save, Discard, Cancel };
// What would lose them: closing the window, or opening a file in its place.
enum class UnsavedRowsLoss { Closing, Opening };

// Asks, over `parent`, whether to save `rows` unsaved rows before the window
// closes (or a file replaces them): "保存...", "不保存" or "取消" (also
// Escape, and a box that goes without an answer). `never_again` tells
// whether the user ticked "不再询问".
UnsavedRowsChoice ask_about_unsaved_rows(QWidget* parent, std::uint64_t rows, bool* never_again,
                                         UnsavedRowsLoss loss = UnsavedRowsLoss::Closing);
