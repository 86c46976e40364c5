#include "cupdate.h"

#include <cstdio>
#include <memory>

#include <poll.h>

#include <QByteArray>
#include <QDebug>
#include <QLoggingCategory>

#include "capturefilter.h"
#include "capturehelper.h"
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

// Opens a live adapter with the settings of every capture (snapshot length,
// promiscuous mode, read timeout), or a capture file. On failure returns null
// with the reason in errbuf, and sets denied when this process may not
// capture.
pcap_t* open_source(const QString& source, char* errbuf, bool* denied)
{
    if (source.startsWith(kFileScheme)) {
        const QByteArray path = source.mid(kFileScheme.size()).toLocal8Bit();
        return pcap_open_offline(path.constData(), errbuf);
    }

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
    pcap_t* handle = open_source(adapter_name, errbuf, &denied);
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

    const int fd = pcap_get_selectable_fd(handle);
    while (!stop_flag.load()) {
        struct pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int result = pcap_next_ex(handle, &header, &data);
        if (result == 1) {
            if (stop_flag.load())
                break;
            parse_packet(header, data);
        } else if (result == 0) {
            wait_for_frames(fd);
        } else {
            // PCAP_ERROR_BREAK is the end of a capture file or stream.
            // A stop cuts the capture program's stream short: no fault.
            if (result == PCAP_ERROR && !stop_flag.load())
                qCWarning(lcCapture).noquote()
                        << "capture on" << adapter_name
                        << "ended:" << QString::fromLocal8Bit(pcap_geterr(handle));
            break;
        }
    }

    // What the kernel handed over and what it had to drop, for whoever
    // watches a busy adapter.
    pcap_stat stats {};
    if (pcap_stats(handle, &stats) == 0)
        qCDebug(lcCapture).noquote() << "capture on" << adapter_name << "ended: received"
                                     << stats.ps_recv << "dropped" << stats.ps_drop;

    pcap_handle = nullptr;
    if (helper) {
        // Ended first, so that it does not write into a closed stream.
        helper->finish();
        if (!helper->reason().isEmpty())
            qCWarning(lcCapture).noquote()
                    << "capture on" << adapter_name << "ended:" << helper->reason();
    }
    pcap_close(handle);
}

void CUpdate::parse_packet(const struct pcap_pkthdr* header, const u_char* data)
{
    const int link_type = pcap_handle != nullptr ? pcap_datalink(pcap_handle) : DLT_EN10MB;
    if (std::optional<QString> line = make_record_line(link_type, *header, data))
        update_table(*line);
}

void CUpdate::update_table(QString qstr)
{
    if (filter_accepts(filter, qstr))
        emit send_update(qstr);
}
