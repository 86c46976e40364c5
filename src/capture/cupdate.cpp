// SPDX-License-Identifier: GPL-2.0-or-later

#include "cupdate.h"

#include <algorithm>
#include <memory>
#include <utility>

#include <poll.h>

#include <QByteArray>
#include <QDebug>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMetaMethod>

#include "capturefilter.h"
#include "capturesource.h"
#include "capturestore.h"
#include "packetrecord.h"
#include "pcapfilter.h"
#include "pipestream.h"

namespace {

Q_LOGGING_CATEGORY(lcCapture, "tarnlook.capture")

// How long the loop sleeps between looks at the stop flag while no frame is
// ready. Short, so that stopping a quiet capture is prompt.
constexpr int kStopPollMs = 100;
// How often the loop looks at free memory and disk, and at a file's position.
constexpr int kCheckIntervalMs = 200;
constexpr unsigned kTurnsPerClockLook = 256;
// Lines of a capture file emitted and not yet taken, at most, and how often
// the capture looks again while the receiver catches up.
constexpr std::uint64_t kFileBacklog = 20000;
constexpr unsigned long kBacklogPollMs = 2;
// The backlog of rows on their way to the window: about a second of what the
// table takes in, and few enough bytes to leave the memory floor alone.
constexpr std::size_t kBacklogRows = 1 << 17;
constexpr std::size_t kBacklogBytes = std::size_t(96) << 20;
// Rows handed over at once, and how long a row waits in hand at most while
// frames keep coming that make no row.
constexpr std::size_t kBatchRows = 256;
constexpr qint64 kBatchAgeMs = 20;
// Frames up to this many captured bytes make their lines without a larger
// buffer.
constexpr std::uint32_t kLineRoomFrame = 65536;
// What a row costs once in the table, for the memory floor.
constexpr std::int64_t kTableRowBytes = 1024;

// Waits until the source has frames to read or the poll interval is over.
void wait_for_frames(int fd)
{
    if (fd < 0) {
        QThread::msleep(kStopPollMs);
        return;
    }
    pollfd pfd {};
    pfd.fd = fd;
    pfd.events = POLLIN;
    poll(&pfd, 1, kStopPollMs);
}

} // namespace

CUpdate::CUpdate(const FilterSettings& settings)
    : QThread(nullptr)
    , filter(settings)
    , m_backlog(std::make_unique<CaptureBacklog>(kBacklogRows, kBacklogBytes))
{ }

CUpdate::~CUpdate()
{
    stop_flag = true;
    wait();
    if (pcap_handle != nullptr) {
        pcap_close(pcap_handle);
        pcap_handle = nullptr;
    }
}

void CUpdate::run()
{
    qCDebug(lcCapture).noquote() << "thread-->" << adapter_name;

    const std::unique_ptr<CaptureSource> source = open_capture_source(
            adapter_name, filter.capture_filter_on ? filter.capture_filter : QString(), stop_flag);
    pcap_t* const handle = source->handle();
    if (handle == nullptr) {
        if (source->failure() == CaptureSource::Failure::Denied)
            emit open_denied(source->reason());
        else if (source->failure() == CaptureSource::Failure::Failed)
            emit open_failed(source->reason());
        return; // else stopped while the source was opening
    }
    // The same expression is applied to every source, also to those that
    // filtered where they captured.
    if (filter.capture_filter_on) {
        QString reason;
        if (!apply_capture_filter(handle, filter.capture_filter, source->netmask(), &reason)) {
            emit open_failed(reason);
            return;
        }
    }
    pcap_handle = handle;
    frames_read = 0;
    m_link_type = pcap_datalink(handle);
    m_nanoseconds = pcap_get_tstamp_precision(handle) == PCAP_TSTAMP_PRECISION_NANO;
    m_from_file = source->is_file();
    m_may_wait = source->can_wait();
    m_batching = isSignalConnected(QMetaMethod::fromSignal(&CUpdate::batch_ready));
    m_lines = isSignalConnected(QMetaMethod::fromSignal(&CUpdate::send_update));
    if (m_batching) {
        // A quiet stream hands on the rows in hand before it waits.
        set_pipe_wait_hook([this] { flush_batch(); });
    }

    if (!link_type_supported(m_link_type)) {
        emit capture_failed(UnsupportedLinkType, link_type_text(m_link_type));
    } else {
        const int fd = pcap_get_selectable_fd(handle);
        const QString store_folder = store != nullptr ? store->folder() : QString();
        QElapsedTimer since_check; // invalid: the first turn checks at once
        QElapsedTimer since_flush;
        since_flush.start();
        unsigned turns = 0;
        while (!stop_flag.load()) {
            // The clock is read every few hundred frames only.
            const bool clock_look = ++turns % kTurnsPerClockLook == 0;
            if (clock_look && !m_batch.rows.empty() && since_flush.elapsed() >= kBatchAgeMs) {
                flush_batch();
                since_flush.restart();
            }
            if (!since_check.isValid()
                || (clock_look && since_check.elapsed() >= kCheckIntervalMs)) {
                since_check.restart();
                if (m_from_file)
                    file_position = source->position();
                // The rows on their way to the table take their room there.
                const auto pending = static_cast<std::int64_t>(
                        (m_backlog->rows() + m_batch.rows.size()) * kTableRowBytes
                        + m_backlog->bytes() + m_batch.bytes);
                const ResourceFloors::Shortage shortage = floors.check(store_folder, pending);
                if (shortage != ResourceFloors::Shortage::None) {
                    emit capture_failed(shortage == ResourceFloors::Shortage::Memory ? LowMemory
                                                                                     : LowDisk,
                                        QString());
                    break;
                }
            }
            struct pcap_pkthdr* header = nullptr;
            const u_char* data = nullptr;
            const int result = pcap_next_ex(handle, &header, &data);
            if (result == 1) {
                if (stop_flag.load())
                    break;
                // This thread alone writes it: no locked add on the hot path.
                frames_read.store(frames_read.load(std::memory_order_relaxed) + 1,
                                  std::memory_order_relaxed);
                parse_packet(header, data);
            } else if (result == 0) {
                turns = kTurnsPerClockLook - 1; // look at the clock next turn
                flush_batch();
                since_flush.restart();
                wait_for_frames(fd);
            } else {
                // PCAP_ERROR_BREAK is the end of a capture file or stream.
                // A stop cuts a stream short: no fault.
                if (result == PCAP_ERROR && !stop_flag.load()) {
                    const QString reason = QString::fromLocal8Bit(pcap_geterr(handle));
                    qCWarning(lcCapture).noquote()
                            << "capture on" << adapter_name << "ended:" << reason;
                    emit capture_failed(ReadError, reason);
                }
                break;
            }
        }
        if (m_from_file)
            file_position = source->position();
    }
    flush_batch();
    set_pipe_wait_hook({});
    m_lines.reset();

    pcap_handle = nullptr;
    source->finish();
    dropped = source->dropped().value_or(0);
    if (!source->reason().isEmpty()) {
        qCWarning(lcCapture).noquote()
                << "capture on" << adapter_name << "ended:" << source->reason();
        // The source failed where it captured: its stream just ended.
        if (!stop_flag.load())
            emit capture_failed(ReadError, source->reason());
    }
}

void CUpdate::parse_packet(const struct pcap_pkthdr* header, const u_char* data)
{
    const int link_type = pcap_handle != nullptr ? m_link_type : DLT_EN10MB;
    if (!m_batching) {
        if (std::optional<QString> line = make_record_line(link_type, *header, data)) {
            m_header = header;
            m_data = data;
            m_link_type = link_type;
            update_table(std::move(*line));
            m_header = nullptr;
            m_data = nullptr;
        }
        return;
    }
    // A row whose frame is stored takes its payload from the store: the
    // line's hex text would only be thrown away.
    m_hex_left_out = store != nullptr && m_lines.has_value() && !*m_lines;
    const std::optional<std::size_t> size
            = write_record_line(line_room(header->caplen), link_type, *header, data,
                                &m_segment.header, !m_hex_left_out);
    if (!size)
        return;
    m_header = header;
    m_data = data;
    m_link_type = link_type;
    m_segment.seconds = header->ts.tv_sec;
    m_segment.nanoseconds = static_cast<std::uint32_t>(m_nanoseconds ? header->ts.tv_usec
                                                                     : header->ts.tv_usec * 1000);
    m_has_segment = true;
    queue_row(std::string_view(m_line.get(), *size), nullptr);
    m_header = nullptr;
    m_data = nullptr;
    m_has_segment = false;
}

void CUpdate::update_table(QString qstr)
{
    if (m_batching) {
        const QByteArray utf8 = qstr.toUtf8();
        queue_row(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), &qstr);
        return;
    }
    // A line that parse_packet made has its eight fields; with no switch on
    // there is nothing else to look at in it.
    if ((m_header == nullptr || any_list_switch()) && !filter_accepts(filter, qstr)) {
        // This thread alone writes it.
        lines_refused.store(lines_refused.load(std::memory_order_relaxed) + 1,
                            std::memory_order_relaxed);
        return;
    }
    const bool lines = single_lines();
    store_frame(lines);
    if (lines)
        emit send_update(qstr);
}

bool CUpdate::any_list_switch() const
{
    return filter.include_ip_enabled || filter.include_port_enabled || filter.exclude_ip_enabled
            || filter.exclude_port_enabled;
}

bool CUpdate::single_lines() const
{
    // The receivers of single lines, if any, take one number per line.
    return m_lines ? *m_lines : isSignalConnected(QMetaMethod::fromSignal(&CUpdate::send_update));
}

std::int64_t CUpdate::store_frame(bool lines)
{
    std::int64_t seq = -1;
    if (store == nullptr)
        return seq;
    if (m_header != nullptr) {
        if (const std::optional<std::int64_t> stored
            = store->append(m_link_type, *m_header, m_data,
                            m_nanoseconds ? CaptureStore::Precision::Nanoseconds
                                          : CaptureStore::Precision::Microseconds))
            seq = *stored;
        else if (!stop_flag.exchange(true))
            emit capture_failed(StoreError, store->errorString());
    }
    // A file waits for the receiver; the stop flag is looked at while
    // waiting. A live source never waits: the kernel would drop frames.
    while (lines && m_from_file && m_tickets.size() >= kFileBacklog && !stop_flag.load())
        QThread::msleep(kBacklogPollMs);
    if (lines)
        m_tickets.push(seq);
    return seq;
}

void CUpdate::queue_row(std::string_view line, const QString* qline)
{
    const auto as_qstring = [line, qline] {
        return qline != nullptr ? *qline
                                : QString::fromUtf8(line.data(), static_cast<int>(line.size()));
    };
    if ((m_header == nullptr || any_list_switch()) && !filter_accepts(filter, as_qstring())) {
        lines_refused.store(lines_refused.load(std::memory_order_relaxed) + 1,
                            std::memory_order_relaxed);
        return;
    }
    const std::size_t bytes = CaptureBacklog::line_bytes(line.size());
    if (!m_backlog->has_room(m_batch.rows.size() + 1, m_batch.bytes + bytes)) {
        flush_batch();
        // Room first, then the store: a dropped row leaves no frame.
        if (!m_backlog->has_room(1, bytes)) {
            if (!m_may_wait) {
                rows_dropped.fetch_add(1, std::memory_order_relaxed);
                return;
            }
            if (!m_backlog->wait_for_room(1, bytes, stop_flag))
                return; // stopped while waiting
        }
    }
    const bool lines = single_lines();
    const std::int64_t seq = store_frame(lines);
    if (lines)
        emit send_update(as_qstring());
    const std::size_t at = m_batch.text.size();
    if (seq < 0 && m_hex_left_out && m_header != nullptr) {
        // Not stored after all: the line keeps its payload.
        char* const out = line_room(m_header->caplen);
        if (const std::optional<std::size_t> size
            = write_record_line(out, m_link_type, *m_header, m_data))
            line = std::string_view(out, *size);
    }
    m_batch.text.append(line);
    CaptureRow& row = m_batch.rows.emplace_back(); // made in place: a row is some 100 bytes
    row.line_at = static_cast<std::uint32_t>(at);
    row.line_size = static_cast<std::uint32_t>(m_batch.text.size() - at);
    if (seq >= 0)
        row.frame = seq;
    if (m_has_segment)
        row.segment = m_segment;
    m_batch.bytes += bytes;
    if (m_batch.rows.size() >= kBatchRows)
        flush_batch();
}

char* CUpdate::line_room(std::uint32_t caplen)
{
    const std::size_t room = record_line_room(caplen);
    if (room > m_line_room) {
        m_line_room = std::max(room, record_line_room(kLineRoomFrame));
        m_line = std::make_unique<char[]>(m_line_room);
    }
    return m_line.get();
}

void CUpdate::flush_batch()
{
    if (m_batch.rows.empty())
        return;
    const std::size_t text_size = m_batch.text.size();
    if (m_backlog->push(std::move(m_batch)))
        emit batch_ready();
    m_batch = CaptureBatch {};
    m_batch.rows.reserve(kBatchRows);
    m_batch.text.reserve(text_size); // the next batch's lines are much the same
}

void CUpdate::set_backlog_limits(std::size_t rows, std::size_t bytes)
{
    m_backlog = std::make_unique<CaptureBacklog>(rows, bytes);
}

std::optional<CaptureBatch> CUpdate::take_batch()
{
    return m_backlog->take();
}

std::size_t CUpdate::discard_backlog()
{
    return m_backlog->discard();
}

std::optional<std::int64_t> CUpdate::take_stored_frame()
{
    std::int64_t seq = -1;
    if (!m_tickets.pop(&seq) || seq < 0)
        return std::nullopt;
    return seq;
}
