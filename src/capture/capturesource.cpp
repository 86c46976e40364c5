// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturesource.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <stdio_ext.h>

#include <QByteArray>
#include <QLoggingCategory>

#include "capturefile.h"
#include "capturehelper.h"
#include "sshcapturesource.h"

namespace {

Q_LOGGING_CATEGORY(lcSource, "tarnlook.capture")

// Whole frames: the most libpcap takes, as tcpdump captures (a segment on lo
// of MTU 65536 makes a frame of 65549 bytes).
constexpr int kSnapLength = 262144;
// How long the kernel holds captured frames back to hand them over in
// blocks: short, so that a row follows its segment within a blink on a
// quiet adapter too, and long enough to keep the blocks full on a busy one.
constexpr int kReadTimeoutMs = 20;
constexpr int kBufferBytes = 32 << 20;
const QString kFileScheme = QStringLiteral("file://");
// A capture file's read buffer: far fewer reads than stdio's default of a
// block, and small enough to be still in the cache when libpcap copies from
// it.
constexpr std::size_t kFileReadBuffer = 1 << 16;

// The netmask of the adapter's IPv4 network; unknown for adapters without
// one.
bpf_u_int32 adapter_netmask(const QByteArray& device)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    bpf_u_int32 network = 0;
    bpf_u_int32 netmask = 0;
    if (pcap_lookupnet(device.constData(), &network, &netmask, errbuf) != 0)
        return PCAP_NETMASK_UNKNOWN;
    return netmask;
}

// A live adapter, opened by this process with the settings of every capture
// (snapshot length, promiscuous mode, read timeout).
class AdapterSource : public CaptureSource
{
public:
    explicit AdapterSource(const QString& name)
        : m_device(name.toUtf8())
    { }

    bool open(const QString&) override
    {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* handle = pcap_create(m_device.constData(), errbuf);
        if (handle == nullptr) {
            fail(Failure::Failed, QString::fromLocal8Bit(errbuf));
            return false;
        }
        pcap_set_snaplen(handle, kSnapLength);
        pcap_set_promisc(handle, 1);
        pcap_set_timeout(handle, kReadTimeoutMs);
        // Room for bursts: the kernel's ring holds what arrives while the
        // thread is busy; libpcap's default of 2 MiB fills in a few
        // milliseconds of a busy link.
        pcap_set_buffer_size(handle, kBufferBytes);
        const int status = pcap_activate(handle);
        if (status < 0) {
            // For these codes libpcap leaves its own text; for the others it
            // may not.
            const char* reason = (status == PCAP_ERROR || status == PCAP_ERROR_NO_SUCH_DEVICE
                                  || status == PCAP_ERROR_PERM_DENIED
                                  || status == PCAP_ERROR_PROMISC_PERM_DENIED)
                    ? pcap_geterr(handle)
                    : "";
            if (reason == nullptr || *reason == '\0')
                reason = pcap_statustostr(status);
            const bool denied
                    = status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED;
            fail(denied ? Failure::Denied : Failure::Failed, QString::fromLocal8Bit(reason));
            pcap_close(handle);
            return false;
        }
        // Non-blocking reads let the loop look at the stop flag while the
        // adapter is quiet; it waits with poll() instead.
        if (pcap_setnonblock(handle, 1, errbuf) == PCAP_ERROR) {
            fail(Failure::Failed, QString::fromLocal8Bit(errbuf));
            pcap_close(handle);
            return false;
        }
        m_handle = handle;
        return true;
    }

    void finish() override
    {
        // What the kernel handed over and what it had to drop, for whoever
        // watches a busy adapter.
        pcap_stat stats {};
        if (m_handle != nullptr && !m_dropped && pcap_stats(m_handle, &stats) == 0) {
            m_dropped = stats.ps_drop;
            qCDebug(lcSource).noquote() << "capture on" << m_device << "ended: received"
                                        << stats.ps_recv << "dropped" << stats.ps_drop;
        }
    }

    bpf_u_int32 netmask() const override { return adapter_netmask(m_device); }
    bool can_wait() const override { return false; }

private:
    const QByteArray m_device;
};

// A capture file, read through a large buffer of its own with no stdio lock
// on each read: only the capture thread reads it. Its timestamps come in the
// file's own precision: nanoseconds when it has them, or when that cannot be
// told beforehand (a pipe), else microseconds.
class FileSource : public CaptureSource
{
public:
    explicit FileSource(const QString& path)
        : m_path(path.toLocal8Bit())
    { }

    ~FileSource() override
    {
        // Before the buffer it reads with goes.
        if (m_handle != nullptr)
            pcap_close(m_handle);
        m_handle = nullptr;
    }

    bool open(const QString&) override
    {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        if (m_path == "-") { // standard input, as libpcap reads it
            m_handle = pcap_open_offline_with_tstamp_precision(m_path.constData(),
                                                               PCAP_TSTAMP_PRECISION_NANO, errbuf);
        } else if (FILE* file = std::fopen(m_path.constData(), "rbe")) {
            const bool nanoseconds = capture_file_has_nanoseconds(fileno(file)).value_or(true);
            __fsetlocking(file, FSETLOCKING_BYCALLER);
            m_buffer = std::make_unique<char[]>(kFileReadBuffer);
            setvbuf(file, m_buffer.get(), _IOFBF, kFileReadBuffer);
            m_handle = pcap_fopen_offline_with_tstamp_precision(
                    file, nanoseconds ? PCAP_TSTAMP_PRECISION_NANO : PCAP_TSTAMP_PRECISION_MICRO,
                    errbuf);
            if (m_handle == nullptr)
                std::fclose(file);
        } else {
            // As libpcap words it.
            std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s: %s", m_path.constData(),
                          std::strerror(errno));
        }
        if (m_handle == nullptr)
            fail(Failure::Failed, QString::fromLocal8Bit(errbuf));
        return m_handle != nullptr;
    }

    bool is_file() const override { return true; }

    std::int64_t position() const override
    {
        FILE* file = m_handle != nullptr ? pcap_file(m_handle) : nullptr;
        return file != nullptr ? ftello(file) : -1;
    }

private:
    const QByteArray m_path;
    // The read buffer; it outlives the handle that reads with it.
    std::unique_ptr<char[]> m_buffer;
};

// A live adapter that the capture program opens for a process that may not
// capture; its frames arrive as a stream.
class HelperSource : public CaptureSource
{
public:
    HelperSource(const QString& adapter, const std::atomic<bool>& stop_flag)
        : m_adapter(adapter)
        , m_helper(stop_flag)
    { }

    ~HelperSource() override
    {
        // Ended first, so that it does not write into a closed stream.
        m_helper.finish();
    }

    bool open(const QString& capture_filter) override
    {
        // The program filters in the kernel.
        m_handle = m_helper.open(m_adapter, capture_filter);
        if (m_handle == nullptr)
            take_result();
        return m_handle != nullptr;
    }

    void finish() override
    {
        m_helper.finish();
        take_result();
        if (const std::optional<std::uint64_t> lost = m_helper.dropped())
            m_dropped = lost;
    }

    bpf_u_int32 netmask() const override { return adapter_netmask(m_adapter.toUtf8()); }

private:
    void take_result()
    {
        switch (m_helper.failure()) {
        case CaptureHelper::Failure::None:
            fail(Failure::None, m_helper.reason());
            break;
        case CaptureHelper::Failure::Denied:
            fail(Failure::Denied, m_helper.reason());
            break;
        case CaptureHelper::Failure::Failed:
            fail(Failure::Failed, m_helper.reason());
            break;
        }
    }

    const QString m_adapter;
    CaptureHelper m_helper;
};

} // namespace

CaptureSource::~CaptureSource()
{
    if (m_handle != nullptr)
        pcap_close(m_handle);
}

void CaptureSource::fail(Failure failure, const QString& reason)
{
    m_failure = failure;
    m_reason = reason;
}

std::unique_ptr<CaptureSource> open_capture_source(const QString& name,
                                                   const QString& capture_filter,
                                                   const std::atomic<bool>& stop_flag)
{
    std::unique_ptr<CaptureSource> other;
    if (name.startsWith(kFileScheme))
        other = std::make_unique<FileSource>(name.mid(kFileScheme.size()));
    else if (name.startsWith(SshCaptureSource::kScheme))
        other = std::make_unique<SshCaptureSource>(name, stop_flag);
    if (other) {
        static_cast<void>(other->open(capture_filter)); // a failure stays in the source
        return other;
    }
    std::unique_ptr<CaptureSource> source = std::make_unique<AdapterSource>(name);
    if (source->open(capture_filter) || source->failure() != CaptureSource::Failure::Denied)
        return source;
    // Without the privilege, the capture program captures and hands the
    // frames over as a stream.
    source = std::make_unique<HelperSource>(name, stop_flag);
    static_cast<void>(source->open(capture_filter));
    return source;
}
