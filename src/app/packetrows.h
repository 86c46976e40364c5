// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <QObject>
#include <QString>

#include "tcppairindex.h"

class CaptureStore;
struct CapturedSegment;
class PaintThrottle;
class QTableWidget;

// What the packet table's rows hold, kept compact: per row the record line's
// short fields as UTF-8 text and the number of its frame in the capture
// store, whose bytes give the payload's hex text when a cell asks for it. A
// row's memory then does not grow with its payload. A line that comes
// without a stored frame is kept whole.
//
// Appends the rows to the table: eight RecordFieldItem cells each, the ninth
// ("备注") left for the user. Rows are only appended and cleared all at once.
class PacketRows : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(PacketRows)

public:
    // A child of the table; store may be null (no row then has a frame).
    PacketRows(QTableWidget* table, const CaptureStore* store);
    ~PacketRows() override;

    // Appends one record line as a row; segment is the row's segment as the
    // capture decoded it, null for a row without one. The segment is handed
    // to the observer only, not kept.
    void append(const QString& line, std::optional<std::int64_t> frame,
                const CapturedSegment* segment = nullptr);
    // The same with the line in UTF-8, as a capture's batch holds it.
    void append(std::string_view line, std::optional<std::int64_t> frame,
                const CapturedSegment* segment = nullptr);
    // Who looks at every row as it comes (the analysis of the rows):
    // appended is called after each row is appended, with its number and
    // segment (null for none), cleared after every clear. Either may be
    // empty; a later call replaces both.
    void set_row_observer(std::function<void(int row, const CapturedSegment* segment)> appended,
                          std::function<void()> cleared);
    // What becomes of the heap pages that the rows' cells leave free.
    enum class HeapPages {
        GiveBack, // to the system, as soon as they are free
        Keep, // for the process to reuse, or to end with
    };
    // Removes every row and releases the rows' memory, on the release thread
    // in part.
    void clear(HeapPages pages = HeapPages::GiveBack);

    int count() const { return static_cast<int>(m_rows.size()); }
    // Field `column` (0 to 7) of the row's line; empty when the line has
    // fewer fields or the row does not exist.
    QString field(int row, int column) const;
    // The row's frame in the store, if it has one.
    std::optional<std::int64_t> frame(int row) const;
    // What the row keeps of its line, UTF-8: fields 0 to 6, each with the
    // bar after it, for a row with a stored frame; the whole line for one
    // without. Valid until the rows are cleared; empty for no such row.
    std::string_view kept_text(int row) const;

    // The rows grouped by address and port pair.
    const TcpPairIndex& pairs() const { return m_pairs; }

    // The rows of this table, if it has any.
    static const PacketRows* of(const QTableWidget* table);

private:
    struct Row
    {
        const char* text; // UTF-8 and a terminating zero, in m_chunks
        std::int64_t frame; // -1: none; the text is the whole line
    };

    const char* keep(std::string_view text);
    void index_pair(std::string_view text);
    // Hands the rows' texts to the release thread; none are left.
    void release_texts(HeapPages pages);
    QString stored_hex(int row) const;

    QTableWidget* m_table;
    const CaptureStore* m_store;
    PaintThrottle* m_throttle;
    std::vector<Row> m_rows;
    TcpPairIndex m_pairs;
    std::vector<std::unique_ptr<char[]>> m_chunks;
    std::size_t m_chunk_used = 0;
    std::size_t m_chunk_size = 0;
    int m_header_digits = 0;
    std::function<void(int, const CapturedSegment*)> m_appended;
    std::function<void()> m_cleared;
    // The payload hex text of the row asked for last: a repaint asks for the
    // same cell several times.
    mutable int m_cached_row = -1;
    mutable QString m_cached_hex;
};
