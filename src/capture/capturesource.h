// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include <pcap/pcap.h>

#include <QString>

// Where a capture's frames come from: a live adapter, a capture file, the
// capture program's stream or a remote host's. The capture loop opens one,
// reads frames from its handle until the end or a stop, then finishes it;
// the same loop serves every kind. Used by one thread.
class CaptureSource
{
public:
    enum class Failure {
        None,
        // This process may not capture there (the capture program may).
        Denied,
        // Any other failure: no such adapter or file, a bad filter, a
        // remote host that cannot be reached.
        Failed,
    };

    virtual ~CaptureSource();
    CaptureSource(const CaptureSource&) = delete;
    CaptureSource& operator=(const CaptureSource&) = delete;

    // Opens the source. capture_filter, unless empty, is a libpcap
    // expression that a source capturing elsewhere applies there; the loop
    // applies it to handle() as well. False: failure() and reason() say why
    // (failure() None when the stop flag ended the wait). Call once.
    [[nodiscard]] virtual bool open(const QString& capture_filter) = 0;
    // Ends the source after its last frame was read, before the handle is
    // closed; afterwards reason() tells why a source that ended by itself
    // ended, and dropped() what was lost. Safe to call again.
    virtual void finish() { }

    // The open source's handle, owned by this object; null before open()
    // and after a failed one.
    pcap_t* handle() const { return m_handle; }
    // The IPv4 netmask a capture filter needs for "ip broadcast".
    virtual bpf_u_int32 netmask() const { return PCAP_NETMASK_UNKNOWN; }
    // True for a capture file: it is read no faster than its lines are
    // taken, and its end is no failure.
    virtual bool is_file() const { return false; }
    // True for a source that may wait for its reader: a file, or a stream
    // (the capture program's, a remote host's) that then pushes back on its
    // writer. False for a live adapter, whose kernel ring would overflow.
    virtual bool can_wait() const { return true; }
    // How far into a capture file reading has come, in bytes; -1 for a live
    // source.
    virtual std::int64_t position() const { return -1; }

    Failure failure() const { return m_failure; }
    // Why it failed or ended, in the words of libpcap or of the program
    // that captured; empty when it did not.
    QString reason() const { return m_reason; }
    // Frames dropped where they were captured, once finished; nothing when
    // the source does not tell.
    std::optional<std::uint64_t> dropped() const { return m_dropped; }

protected:
    CaptureSource() = default;
    void fail(Failure failure, const QString& reason);

    pcap_t* m_handle = nullptr;
    Failure m_failure = Failure::None;
    QString m_reason;
    std::optional<std::uint64_t> m_dropped;
};

// The source that `name` names: "file://" and a path, "ssh://" and a remote
// interface (SshCaptureSource), else a local adapter. Opens it with
// capture_filter; an adapter this process may not open is opened by the
// capture program instead. The result is never null; when its handle is,
// opening failed (see failure()). stop_flag ends waits and reads of a stream
// within about a tenth of a second; it must outlive the source.
std::unique_ptr<CaptureSource> open_capture_source(const QString& name,
                                                   const QString& capture_filter,
                                                   const std::atomic<bool>& stop_flag);
