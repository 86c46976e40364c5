// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <QByteArray>
#include <QString>

class CaptureStore;
class PacketRows;

// What a search of the packet table looks at.
enum class PacketFindKind {
    PayloadText, // the payload's bytes, the pattern as UTF-8 text
    PayloadHex, // the payload's bytes, the pattern as hex digits ("4F 4B")
    Fields, // the row's fields but the payload: time, addresses, ports, length, remarks
};

// Looks for the first row of the packet table, after or before a row and
// wrapping round the ends, whose payload or fields hold a pattern. Rows the
// caller skips (hidden ones) are never looked at.
//
// Payloads are read from the capture store, the bytes as captured: only the
// bytes the row's hex text shows (the payload's, never headers), so that a
// match is really in the payload and a text that the hex digits of two bytes
// happen to spell is none. A row without a stored frame is searched in the
// bytes of its hex text.
//
// The search runs in steps of a bounded number of rows, so that a caller on
// the interface thread can keep its window responsive, or to its end at
// once. Rows may only be appended meanwhile; clearing them needs a new
// start.
class PacketSearch
{
public:
    enum class Status {
        Idle, // not started
        Running,
        Found,
        NotFound,
        Cancelled,
    };

    // skip(row): whether the search passes the row by; null skips none.
    PacketSearch(const PacketRows& rows, const CaptureStore* store,
                 std::function<bool(int)> skip = nullptr);
    // What the "备注" column says of a row (empty for most), looked in as a
    // field too.
    void set_remarks(std::function<QString(int row)> remarks) { m_remarks = std::move(remarks); }

    // The bytes a pattern stands for; nothing, with the reason in message,
    // when a hex pattern is malformed or the pattern is empty. Spaces
    // between the pairs of hex digits are allowed.
    [[nodiscard]] static std::optional<QByteArray>
    pattern_bytes(const QString& text, PacketFindKind kind, QString* message = nullptr);

    // Starts a search for the pattern's bytes (from pattern_bytes) from
    // from_row: forward it looks at from_row + 1 to the last row, then from
    // the first row to from_row; backward at from_row - 1 down to the first,
    // then from the last down to from_row. A from_row outside the rows
    // looks at all of them, from the first or from the last. Text cases
    // are folded when ignore_case (ASCII letters bytewise, others as
    // Unicode for a payload text).
    void start(const QByteArray& pattern, PacketFindKind kind, bool ignore_case, int from_row,
               bool forward);
    // Looks at up to `rows` more rows; returns the status afterwards.
    Status step(int rows);
    // Runs to the end; the matching row, or -1.
    int run();
    void cancel();

    Status status() const { return m_status; }
    // The row found, or -1.
    int match() const { return m_match; }
    // Whether the row found lies past an end of the table, from from_row.
    bool wrapped() const { return m_wrapped; }
    // Rows looked at so far (skipped ones included) and in all.
    std::int64_t scanned() const { return m_scanned; }
    std::int64_t total() const { return m_total; }

private:
    struct Range
    {
        int from; // first row looked at
        int to; // one past the last, in the direction of the search
    };
    // Looks at rows [low, high) and returns the first matching one in the
    // search's direction, or -1.
    int scan(int low, int high);
    bool matches_fields(int row) const;
    bool matches_bytes(const char* data, std::size_t size) const;

    const PacketRows& m_rows;
    const CaptureStore* m_store;
    std::function<bool(int)> m_skip;
    std::function<QString(int)> m_remarks;
    QByteArray m_pattern; // folded when m_fold_ascii
    QString m_text_pattern; // for Unicode folding of a payload text
    PacketFindKind m_kind = PacketFindKind::PayloadText;
    bool m_fold_ascii = false;
    bool m_fold_unicode = false;
    bool m_forward = true;
    std::vector<Range> m_ranges;
    std::size_t m_range = 0;
    int m_next = 0; // the next row to look at in m_ranges[m_range]
    Status m_status = Status::Idle;
    int m_match = -1;
    bool m_wrapped = false;
    std::int64_t m_scanned = 0;
    std::int64_t m_total = 0;
    // Reused by every step.
    std::vector<std::int64_t> m_seqs;
    std::vector<int> m_seq_rows;
    mutable QByteArray m_folded;
};
