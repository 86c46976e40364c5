// SPDX-License-Identifier: GPL-2.0-or-later

#include "packetsearch.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include <pcap/pcap.h>

#include <QCoreApplication>

#include "capturestore.h"
#include "packetrecord.h"
#include "packetrows.h"

namespace {

constexpr int kFieldsBeforeHex = 7; // the payload's hex text follows the seventh bar

char fold(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_hex_digit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

// Where the text's fields end: just after its seventh bar (where the hex
// text of a whole line begins), or its end.
std::size_t fields_end(std::string_view text)
{
    std::size_t at = 0;
    for (int bar = 0; bar < kFieldsBeforeHex; ++bar) {
        const std::size_t found = text.find('|', at);
        if (found == std::string_view::npos)
            return text.size();
        at = found + 1;
    }
    return at;
}

// The payload bytes of a stored frame, as its row's hex text shows them;
// empty when the frame is no TCP segment the rows decode.
std::string_view payload_of(const StoredFrame& frame)
{
    pcap_pkthdr header {};
    header.ts.tv_sec = frame.seconds;
    header.ts.tv_usec = frame.microseconds;
    header.caplen = static_cast<bpf_u_int32>(frame.bytes.size());
    header.len = frame.wire_length;
    const auto* data = reinterpret_cast<const unsigned char*>(frame.bytes.constData());
    const std::optional<TcpSegmentHeader> segment
            = decode_tcp_segment(frame.link_type, header, data);
    if (!segment || segment->payload_offset > header.caplen)
        return {};
    const std::size_t room = header.caplen - segment->payload_offset;
    return { frame.bytes.constData() + segment->payload_offset,
             std::min<std::size_t>(segment->captured, room) };
}

} // namespace

PacketSearch::PacketSearch(const PacketRows& rows, const CaptureStore* store,
                           std::function<bool(int)> skip)
    : m_rows(rows)
    , m_store(store)
    , m_skip(std::move(skip))
{ }

std::optional<QByteArray> PacketSearch::pattern_bytes(const QString& text, PacketFindKind kind,
                                                      QString* message)
{
    const auto refuse = [message](const QString& why) -> std::optional<QByteArray> {
        if (message != nullptr)
            *message = why;
        return std::nullopt;
    };
    if (text.isEmpty())
        return refuse(QCoreApplication::translate("PacketSearch", "请输入要查找的内容"));
    if (kind != PacketFindKind::PayloadHex)
        return text.toUtf8();
    QByteArray digits;
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        if (!is_hex_digit(c))
            return refuse(QCoreApplication::translate("PacketSearch",
                                                      "十六进制格式错误: \"%1\" 不是十六进制数字")
                                  .arg(c));
        digits.append(static_cast<char>(c.unicode()));
    }
    if (digits.isEmpty())
        return refuse(QCoreApplication::translate("PacketSearch", "请输入要查找的内容"));
    if (digits.size() % 2 != 0)
        return refuse(QCoreApplication::translate("PacketSearch",
                                                  "十六进制格式错误: 数字须成对, 每个字节两位"));
    return QByteArray::fromHex(digits);
}

void PacketSearch::start(const QByteArray& pattern, PacketFindKind kind, bool ignore_case,
                         int from_row, bool forward)
{
    m_kind = kind;
    m_forward = forward;
    const bool text = kind != PacketFindKind::PayloadHex;
    const bool ascii = std::all_of(pattern.cbegin(), pattern.cend(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    m_fold_ascii = text && ignore_case && (ascii || kind == PacketFindKind::Fields);
    m_fold_unicode = text && ignore_case && !m_fold_ascii;
    m_pattern = pattern;
    if (m_fold_ascii)
        std::transform(m_pattern.begin(), m_pattern.end(), m_pattern.begin(), fold);
    m_text_pattern = m_fold_unicode ? QString::fromUtf8(pattern) : QString();

    const int rows = m_rows.count();
    m_ranges.clear();
    if (from_row < 0 || from_row >= rows) {
        m_ranges.push_back(forward ? Range { 0, rows } : Range { rows - 1, -1 });
    } else if (forward) {
        m_ranges.push_back({ from_row + 1, rows });
        m_ranges.push_back({ 0, from_row + 1 });
    } else {
        m_ranges.push_back({ from_row - 1, -1 });
        m_ranges.push_back({ rows - 1, from_row - 1 });
    }
    m_range = 0;
    m_next = m_ranges.front().from;
    m_match = -1;
    m_wrapped = false;
    m_scanned = 0;
    m_total = rows;
    m_status = Status::Running;
    // A field never holds a bar; nor is an empty pattern looked for.
    if (pattern.isEmpty() || (kind == PacketFindKind::Fields && pattern.contains('|')))
        m_status = Status::NotFound;
}

PacketSearch::Status PacketSearch::step(int rows)
{
    rows = std::max(1, rows);
    while (m_status == Status::Running && rows > 0) {
        if (m_range >= m_ranges.size()) {
            m_status = Status::NotFound;
            break;
        }
        const Range& range = m_ranges[m_range];
        int low = 0;
        int high = 0;
        if (m_forward) {
            low = m_next;
            high = std::min(range.to, m_next + rows);
            m_next = high;
        } else {
            high = m_next + 1;
            low = std::max(range.to + 1, high - rows);
            m_next = low - 1;
        }
        if (high > low) {
            rows -= high - low;
            m_scanned += high - low;
            const int found = scan(low, high);
            if (found >= 0) {
                m_match = found;
                m_wrapped = m_range > 0;
                m_status = Status::Found;
                break;
            }
        }
        if (m_next == range.to) {
            ++m_range;
            if (m_range < m_ranges.size())
                m_next = m_ranges[m_range].from;
        }
    }
    return m_status;
}

int PacketSearch::run()
{
    while (step(1 << 16) == Status::Running) { }
    return m_match;
}

void PacketSearch::cancel()
{
    if (m_status == Status::Running)
        m_status = Status::Cancelled;
}

bool PacketSearch::matches_bytes(const char* data, std::size_t size) const
{
    if (m_fold_unicode)
        return QString::fromUtf8(data, static_cast<int>(size))
                .contains(m_text_pattern, Qt::CaseInsensitive);
    if (m_fold_ascii) {
        m_folded.resize(static_cast<int>(size));
        std::transform(data, data + size, m_folded.begin(), fold);
        data = m_folded.constData();
    }
    return ::memmem(data, size, m_pattern.constData(), static_cast<std::size_t>(m_pattern.size()))
            != nullptr;
}

bool PacketSearch::matches_fields(int row) const
{
    const std::string_view text = m_rows.kept_text(row);
    if (matches_bytes(text.data(), fields_end(text)))
        return true;
    const QString remarks = m_remarks ? m_remarks(row) : QString();
    if (remarks.isEmpty())
        return false;
    const QByteArray bytes = remarks.toUtf8();
    return matches_bytes(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

int PacketSearch::scan(int low, int high)
{
    const auto skipped = [this](int row) { return m_skip && m_skip(row); };
    // Rows in the search's direction; first match wins.
    if (m_kind == PacketFindKind::Fields) {
        if (m_forward) {
            for (int row = low; row < high; ++row)
                if (!skipped(row) && matches_fields(row))
                    return row;
        } else {
            for (int row = high - 1; row >= low; --row)
                if (!skipped(row) && matches_fields(row))
                    return row;
        }
        return -1;
    }

    // Payloads: the stored frames of the range read front to back in one go;
    // rows without a frame searched in their hex text.
    int best = -1;
    const auto better = [this, &best](int row) {
        if (best < 0 || (m_forward ? row < best : row > best))
            best = row;
    };
    m_seqs.clear();
    m_seq_rows.clear();
    for (int row = low; row < high; ++row) {
        if (skipped(row))
            continue;
        if (const std::optional<std::int64_t> frame = m_rows.frame(row)) {
            m_seqs.push_back(*frame);
            m_seq_rows.push_back(row);
            continue;
        }
        const std::string_view text = m_rows.kept_text(row);
        const std::string hex(text.substr(fields_end(text)));
        std::string bytes(hex.size() / 2 + 2, '\0');
        hex_to_bytes(hex, reinterpret_cast<unsigned char*>(bytes.data()));
        if (matches_bytes(bytes.data(), hex.size() / 2))
            better(row);
    }
    if (m_seqs.empty() || m_store == nullptr)
        return best;

    std::size_t at = 0;
    int stored_match = -1;
    const bool read = m_store->read_frames(m_seqs, [&](const StoredFrame& frame) {
        const int row = m_seq_rows[at++];
        const std::string_view payload = payload_of(frame);
        if (!matches_bytes(payload.data(), payload.size()))
            return true;
        stored_match = row; // backward: the last one in the range wins
        return !m_forward;
    });
    if (!read && stored_match < 0) {
        // The store could not read them all at once: one by one, as the
        // payload views read them.
        for (std::size_t i = at; i < m_seqs.size(); ++i) {
            const std::optional<StoredFrame> frame = m_store->read_frame(m_seqs[i]);
            if (!frame)
                continue;
            const std::string_view payload = payload_of(*frame);
            if (matches_bytes(payload.data(), payload.size())) {
                stored_match = m_seq_rows[i];
                if (m_forward)
                    break;
            }
        }
    }
    if (stored_match >= 0)
        better(stored_match);
    return best;
}
