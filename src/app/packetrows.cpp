// SPDX-License-Identifier: GPL-2.0-or-later

#include "packetrows.h"

#include <cstring>
#include <utility>

#include <malloc.h>

#include <pcap/pcap.h>

#include <QHash>
#include <QSignalBlocker>
#include <QTableWidget>

#include "capturestore.h"
#include "hexcelldelegate.h"
#include "memoryrelease.h"
#include "packetrecord.h"
#include "paintthrottle.h"
#include "recordfielditem.h"
#include "rownumberheader.h"

namespace {

constexpr int kRecordFields = 8;
constexpr int kHexColumn = 7;
constexpr std::size_t kChunkBytes = std::size_t(1) << 20;

// Where field `index` of a "|"-separated text starts and how long it is;
// nothing when the text has fewer fields.
std::optional<std::pair<int, int>> field_span(const char* text, int size, int index)
{
    int from = 0;
    for (int i = 0; i < index; ++i) {
        const void* bar = std::memchr(text + from, '|', static_cast<std::size_t>(size - from));
        if (bar == nullptr)
            return std::nullopt;
        from = static_cast<int>(static_cast<const char*>(bar) - text) + 1;
    }
    const void* bar = std::memchr(text + from, '|', static_cast<std::size_t>(size - from));
    const int to = bar == nullptr ? size : static_cast<int>(static_cast<const char*>(bar) - text);
    return std::make_pair(from, to - from);
}

// How many of the line's first eight fields it has, and where the eighth
// starts (the line's length when it has fewer).
std::pair<int, int> count_fields(std::string_view line)
{
    int fields = 1;
    std::size_t from = 0;
    while (fields < kRecordFields) {
        const std::size_t bar = line.find('|', from);
        if (bar == std::string_view::npos)
            return { fields, static_cast<int>(line.size()) };
        ++fields;
        from = bar + 1;
    }
    return { fields, static_cast<int>(from) };
}

std::pair<int, int> count_fields(const QString& line)
{
    int fields = 1;
    int from = 0;
    while (fields < kRecordFields) {
        const int bar = line.indexOf(QLatin1Char('|'), from);
        if (bar < 0)
            return { fields, line.size() };
        ++fields;
        from = bar + 1;
    }
    return { fields, from };
}

// Which rows belong to which table, for the cells to find theirs. Interface
// thread only.
QHash<const QTableWidget*, const PacketRows*>& registry()
{
    static QHash<const QTableWidget*, const PacketRows*> rows;
    return rows;
}

} // namespace

PacketRows::PacketRows(QTableWidget* table, const CaptureStore* store)
    : QObject(table)
    , m_table(table)
    , m_store(store)
    , m_throttle(new PaintThrottle(table)) // a child of the table
{
    auto* header = new RowNumberHeader(table);
    header->setDefaultSectionSize(table->verticalHeader()->defaultSectionSize());
    table->setVerticalHeader(header);
    header->setRowCount(0);
    table->setItemDelegateForColumn(kHexColumn, new HexCellDelegate(this));
    registry().insert(table, this);
}

PacketRows::~PacketRows()
{
    registry().remove(m_table);
    release_texts(HeapPages::Keep);
}

const PacketRows* PacketRows::of(const QTableWidget* table)
{
    return registry().value(table);
}

const char* PacketRows::keep(std::string_view text)
{
    const std::size_t size = text.size() + 1; // and its zero
    if (m_chunks.empty() || m_chunk_used + size > m_chunk_size) {
        m_chunk_size = std::max(kChunkBytes, size);
        m_chunks.emplace_back(new char[m_chunk_size]);
        m_chunk_used = 0;
    }
    char* at = m_chunks.back().get() + m_chunk_used;
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\0';
    m_chunk_used += size;
    return at;
}

void PacketRows::set_row_observer(std::function<void(int, const CapturedSegment*)> appended,
                                  std::function<void()> cleared)
{
    m_appended = std::move(appended);
    m_cleared = std::move(cleared);
}

void PacketRows::append(const QString& line, std::optional<std::int64_t> frame,
                        const CapturedSegment* segment)
{
    const QByteArray text = line.toUtf8();
    append(std::string_view(text.constData(), static_cast<std::size_t>(text.size())), frame,
           segment);
}

void PacketRows::append(std::string_view line, std::optional<std::int64_t> frame,
                        const CapturedSegment* segment)
{
    const auto [fields, hex_at] = count_fields(line);
    // With a stored frame the hex text comes from the frame's bytes; the row
    // keeps the short fields only. A line that arrives after a clear may
    // name a frame that went with it: it keeps its text.
    const bool stored = frame.has_value() && fields == kRecordFields && m_store != nullptr
            && m_store->contains(*frame);
    const std::string_view text = stored ? line.substr(0, static_cast<std::size_t>(hex_at)) : line;
    m_rows.push_back({ keep(text), stored ? *frame : -1 });
    index_pair(text);

    const int row = static_cast<int>(m_rows.size()) - 1;
    m_table->setRowCount(row + 1);
    // The new row is not painted before this returns, so the per-cell change
    // notices, eight per row, would only cost time: the view reads the cells
    // when it paints the row it was told of.
    {
        const QSignalBlocker quiet(m_table->model());
        for (int column = 0; column < fields; ++column)
            m_table->setItem(row, column, new RecordFieldItem);
    }
    static_cast<RowNumberHeader*>(m_table->verticalHeader())->setRowCount(row + 1);
    // While lines pour in, the table is repainted a few times a second rather
    // than once per row.
    m_throttle->changed();
    if (m_appended)
        m_appended(row, segment);
}

void PacketRows::index_pair(std::string_view text)
{
    // Fields 2 to 5: source address and port, destination address and port.
    std::string_view fields[4];
    for (int i = 0; i < 4; ++i) {
        if (const auto span = field_span(text.data(), static_cast<int>(text.size()), i + 2))
            fields[i] = text.substr(static_cast<std::size_t>(span->first),
                                    static_cast<std::size_t>(span->second));
    }
    m_pairs.add(fields[0], fields[1], fields[2], fields[3]);
}

void PacketRows::clear(HeapPages pages)
{
    m_pairs.clear();
    // The cells' blocks go back to the system with the last cell. The rows'
    // texts, and the heap pages that the cells' own parts used, go back on
    // the release thread: the table is empty as soon as the cells are gone.
    m_table->setRowCount(0);
    static_cast<RowNumberHeader*>(m_table->verticalHeader())->setRowCount(0);
    release_texts(pages);
    if (m_cleared)
        m_cleared();
}

void PacketRows::release_texts(HeapPages pages)
{
    if (!m_rows.empty() || !m_chunks.empty()) {
        struct Texts
        {
            std::vector<Row> rows;
            std::vector<std::unique_ptr<char[]>> chunks;
        };
        auto texts = std::make_shared<Texts>(Texts { std::move(m_rows), std::move(m_chunks) });
        memory_release::later([texts] {
            std::vector<Row>().swap(texts->rows);
            std::vector<std::unique_ptr<char[]>>().swap(texts->chunks);
        });
    }
    if (pages == HeapPages::GiveBack)
        memory_release::later([] { malloc_trim(0); });
    m_rows.clear(); // moved from: empty, and without a buffer
    m_chunks.clear();
    m_chunk_used = 0;
    m_chunk_size = 0;
    m_cached_row = -1;
    m_cached_hex.clear();
}

QString PacketRows::field(int row, int column) const
{
    if (row < 0 || row >= count() || column < 0 || column >= kRecordFields)
        return QString();
    const Row& entry = m_rows[static_cast<std::size_t>(row)];
    if (column == kHexColumn && entry.frame >= 0)
        return stored_hex(row);
    const auto span = field_span(entry.text, static_cast<int>(std::strlen(entry.text)), column);
    if (!span)
        return QString();
    return QString::fromUtf8(entry.text + span->first, span->second);
}

std::optional<std::int64_t> PacketRows::frame(int row) const
{
    if (row < 0 || row >= count() || m_rows[static_cast<std::size_t>(row)].frame < 0)
        return std::nullopt;
    return m_rows[static_cast<std::size_t>(row)].frame;
}

std::string_view PacketRows::kept_text(int row) const
{
    if (row < 0 || row >= count())
        return {};
    return m_rows[static_cast<std::size_t>(row)].text;
}

QString PacketRows::stored_hex(int row) const
{
    if (row == m_cached_row)
        return m_cached_hex;
    QString hex;
    const std::int64_t seq = m_rows[static_cast<std::size_t>(row)].frame;
    if (const std::optional<StoredFrame> stored
        = m_store != nullptr ? m_store->read_frame(seq) : std::nullopt) {
        pcap_pkthdr header {};
        header.ts.tv_sec = stored->seconds;
        header.ts.tv_usec = stored->microseconds;
        header.caplen = static_cast<bpf_u_int32>(stored->bytes.size());
        header.len = stored->wire_length;
        const std::optional<QString> line = make_record_line(
                stored->link_type, header,
                reinterpret_cast<const unsigned char*>(stored->bytes.constData()));
        if (line) {
            const auto [fields, hex_at] = count_fields(*line);
            if (fields == kRecordFields)
                hex = line->mid(hex_at);
        }
    }
    m_cached_row = row;
    m_cached_hex = hex;
    return hex;
}
