// SPDX-License-Identifier: GPL-2.0-or-later

#include "cupdate.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include <poll.h>
#include <stdio_ext.h>

#include <QByteArray>
#include <QDebug>
#include <QElapsedTimer>
#include <QLoggingCategory>

#include "capturefile.h"
#include "capturefilter.h"
#include "capturehelper.h"
#include "capturestore.h"
#include "packetrecord.h"
#include "pcapfilter.h"

namespace {

Q_LOGGING_CATEGORY(lcCapture, "tarnlook.capture")

constexpr int kSnapLength = 65536;
constexpr int kReadTimeoutMs = 1000;
constexpr int kBufferBytes = 32 << 20;
// How long the loop sleeps between looks at the stop flag while no frame is
// ready. Short, so that stopping a quiet capture is prompt.
constexpr int kStopPollMs = 100;
const QString kFileScheme = QStringLiteral("file://");
// A capture file's read buffer: far fewer reads than stdio's default of a
// block, and small enough to be still in the cache when libpcap copies from
// it.
constexpr std::size_t kFileReadBuffer = 1 << 16;
// How often the loop looks at free memory and disk, and at a file's position.
constexpr int kCheckIntervalMs = 200;
constexpr unsigned kTurnsPerClockLook = 256;
// Lines of a capture file emitted and not yet taken, at most, and how often
// the capture looks again while the receiver catches up.
constexpr std::uint64_t kFileBacklog = 20000;
constexpr unsigned long kBacklogPollMs = 2;

// Opens a capture file to be read through `buffer` (made here), with no
// stdio lock on each read: only the capture thread reads it. Its timestamps
// come in the file's own precision: nanoseconds when it has them, or when
// that cannot be told beforehand (a pipe), else microseconds.
pcap_t* open_file(const QByteArray& path, char* errbuf, std::unique_ptr<char[]>* buffer)
{
    if (path == "-") // standard input, as libpcap reads it
        return pcap_open_offline_with_tstamp_precision(path.constData(), PCAP_TSTAMP_PRECISION_NANO,
                                                       errbuf);
    FILE* file = std::fopen(path.constData(), "rbe");
    if (file == nullptr) {
        // As libpcap words it.
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", path.constData(), std::strerror(errno));
        return nullptr;
    }
    const bool nanoseconds = capture_file_has_nanoseconds(fileno(file)).value_or(true);
    __fsetlocking(file, FSETLOCKING_BYCALLER);
    *buffer = std::make_unique<char[]>(kFileReadBuffer);
    setvbuf(file, buffer->get(), _IOFBF, kFileReadBuffer);
    pcap_t* handle = pcap_fopen_offline_with_tstamp_precision(
            file, nanoseconds ? PCAP_TSTAMP_PRECISION_NANO : PCAP_TSTAMP_PRECISION_MICRO, errbuf);
    if (handle == nullptr)
        std::fclose(file);
    return handle;
}

// Opens a live adapter with the settings of every capture (snapshot length,
// promiscuous mode, read timeout), or a capture file. On failure returns null
// with the reason in errbuf, and sets denied when this process may not
// capture.
pcap_t* open_source(const QString& source, char* errbuf, bool* denied,
                    std::unique_ptr<char[]>* file_buffer)
{
    if (source.startsWith(kFileScheme))
        return open_file(source.mid(kFileScheme.size()).toLocal8Bit(), errbuf, file_buffer);

    const QByteArray device = source.toUtf8();
    pcap_t* handle = pcap_create(device.constData(), errbuf);
    if (handle == nullptr)
        return nullptr;
    pcap_set_snaplen(handle, kSnapLength);
    pcap_set_promisc(handle, 1);
    pcap_set_timeout(handle, kReadTimeoutMs);
    // Room for bursts: the kernel's ring holds what arrives while the thread
    // is busy; libpcap's default of 2 MiB fills in a few milliseconds of a
    // busy link.
    pcap_set_buffer_size(handle, kBufferBytes);
    const int status = pcap_activate(handle);
    if (status < 0) {
        // For these codes libpcap leaves its own text; for the others it may not.
        const char* reason
                = (status == PCAP_ERROR || status == PCAP_ERROR_NO_SUCH_DEVICE
                   || status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED)
                ? pcap_geterr(handle)
                : "";
        if (reason == nullptr || *reason == '\0')
            reason = pcap_statustostr(status);
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", reason);
        *denied = status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED;
        pcap_close(handle);
        return nullptr;
    }
    // Non-blocking reads let the loop look at the stop flag while the adapter
    // is quiet; poll() below does the waiting.
    if (pcap_setnonblock(handle, 1, errbuf) == PCAP_ERROR) {
        pcap_close(handle);
        return nullptr;
    }
    return handle;
}

// The netmask of the adapter's IPv4 network, which a filter needs for "ip
// broadcast"; unknown for capture files and adapters without one.
bpf_u_int32 netmask_of(const QString& source)
{
    if (source.startsWith(kFileScheme))
        return PCAP_NETMASK_UNKNOWN;
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    bpf_u_int32 network = 0;
    bpf_u_int32 netmask = 0;
    if (pcap_lookupnet(source.toUtf8().constData(), &network, &netmask, errbuf) != 0)
        return PCAP_NETMASK_UNKNOWN;
    return netmask;
}

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

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    bool denied = false;
    pcap_t* handle = open_source(adapter_name, errbuf, &denied, &m_read_buffer);
    // Without the privilege, the capture program captures and hands the
    // frames over as a stream.
    std::unique_ptr<CaptureHelper> helper;
    if (handle == nullptr && denied) {
        helper = std::make_unique<CaptureHelper>(stop_flag);
        // The program filters in the kernel; the same expression is applied
        // to the stream below, as to every source.
        handle = helper->open(adapter_name,
                              filter.capture_filter_on ? filter.capture_filter : QString());
    }
    if (handle == nullptr) {
        if (!helper)
            emit open_failed(QString::fromLocal8Bit(errbuf));
        else if (helper->failure() == CaptureHelper::Failure::Denied)
            emit open_denied(helper->reason());
        else if (helper->failure() == CaptureHelper::Failure::Failed)
            emit open_failed(helper->reason());
        return; // stopped while the program was opening the adapter
    }
    if (filter.capture_filter_on) {
        QString reason;
        if (!apply_capture_filter(handle, filter.capture_filter, netmask_of(adapter_name),
                                  &reason)) {
            pcap_close(handle);
            emit open_failed(reason);
            return;
        }
    }
    pcap_handle = handle;
    frames_read = 0;
    m_link_type = pcap_datalink(handle);
    m_nanoseconds = pcap_get_tstamp_precision(handle) == PCAP_TSTAMP_PRECISION_NANO;
    // A capture file's, else null: the capture program's stream is live.
    FILE* file = helper ? nullptr : pcap_file(handle);
    m_from_file = file != nullptr;

    if (!link_type_supported(m_link_type)) {
        emit capture_failed(UnsupportedLinkType, link_type_text(m_link_type));
    } else {
        const int fd = pcap_get_selectable_fd(handle);
        const QString store_folder = store != nullptr ? store->folder() : QString();
        QElapsedTimer since_check; // invalid: the first turn checks at once
        unsigned turns = 0;
        while (!stop_flag.load()) {
            // The clock is read every few hundred frames only.
            if (!since_check.isValid()
                || (++turns % kTurnsPerClockLook == 0
                    && since_check.elapsed() >= kCheckIntervalMs)) {
                since_check.restart();
                if (file != nullptr)
                    file_position = ftello(file);
                const ResourceFloors::Shortage shortage = floors.check(store_folder);
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
                wait_for_frames(fd);
            } else {
                // PCAP_ERROR_BREAK is the end of a capture file or stream.
                // A stop cuts the capture program's stream short: no fault.
                if (result == PCAP_ERROR && !stop_flag.load()) {
                    const QString reason = QString::fromLocal8Bit(pcap_geterr(handle));
                    qCWarning(lcCapture).noquote()
                            << "capture on" << adapter_name << "ended:" << reason;
                    emit capture_failed(ReadError, reason);
                }
                break;
            }
        }
        if (file != nullptr)
            file_position = ftello(file);
    }

    // What the kernel handed over and what it had to drop, for whoever
    // watches a busy adapter.
    pcap_stat stats {};
    if (file == nullptr && pcap_stats(handle, &stats) == 0) {
        dropped = stats.ps_drop;
        qCDebug(lcCapture).noquote() << "capture on" << adapter_name << "ended: received"
                                     << stats.ps_recv << "dropped" << stats.ps_drop;
    }

    pcap_handle = nullptr;
    if (helper) {
        // Ended first, so that it does not write into a closed stream.
        helper->finish();
        if (const std::optional<std::uint64_t> lost = helper->dropped())
            dropped = *lost;
        if (!helper->reason().isEmpty()) {
            qCWarning(lcCapture).noquote()
                    << "capture on" << adapter_name << "ended:" << helper->reason();
            // The program's adapter failed: its stream just ended.
            if (!stop_flag.load())
                emit capture_failed(ReadError, helper->reason());
        }
    }
    pcap_close(handle);
}

void CUpdate::parse_packet(const struct pcap_pkthdr* header, const u_char* data)
{
    const int link_type = pcap_handle != nullptr ? m_link_type : DLT_EN10MB;
    if (std::optional<QString> line = make_record_line(link_type, *header, data)) {
        m_header = header;
        m_data = data;
        m_link_type = link_type;
        update_table(std::move(*line));
        m_header = nullptr;
        m_data = nullptr;
    }
}

void CUpdate::update_table(QString qstr)
{
    // A line that parse_packet made has its eight fields; with no switch on
    // there is nothing else to look at in it.
    const bool any_switch = filter.include_ip_enabled || filter.include_port_enabled
            || filter.exclude_ip_enabled || filter.exclude_port_enabled;
    if ((m_header == nullptr || any_switch) && !filter_accepts(filter, qstr))
        return;
    if (store != nullptr) {
        std::int64_t seq = -1;
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
        while (m_from_file && m_tickets.size() >= kFileBacklog && !stop_flag.load())
            QThread::msleep(kBacklogPollMs);
        m_tickets.push(seq);
    }
    emit send_update(std::move(qstr));
}

std::optional<std::int64_t> CUpdate::take_stored_frame()
{
    std::int64_t seq = -1;
    if (!m_tickets.pop(&seq) || seq < 0)
        return std::nullopt;
    return seq;
}
