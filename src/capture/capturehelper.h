// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <sys/types.h>

#include <pcap/pcap.h>

#include <QString>
#include <QStringList>

// Runs tarnlook-capture, the privileged capture program, for one live
// capture of a process that may not capture itself, and opens its output as
// a pcap stream. Used by one thread; the stop flag may be set from any.
//
// The program ends with this object, when its input closes (also when this
// process dies) and when this process's thread that started it ends.
class CaptureHelper
{
public:
    enum class Failure {
        None,
        // The program could not be run, or it says it may not capture: the
        // user lacks the privilege (the tarnlook group).
        Denied,
        // Any other failure: no such adapter, a bad filter, the adapter
        // failed.
        Failed,
    };

    // Reading the stream ends, as at its end, within about a tenth of a
    // second of stop_flag being set; it must outlive this object.
    explicit CaptureHelper(const std::atomic<bool>& stop_flag);
    // Ends the program if it still runs (finish()).
    ~CaptureHelper();
    CaptureHelper(const CaptureHelper&) = delete;
    CaptureHelper& operator=(const CaptureHelper&) = delete;

    // Starts the program on the adapter, with a libpcap capture filter
    // unless capture_filter is empty, and opens its stream once the adapter
    // is open. Returns the handle, to be closed by the caller with
    // pcap_close; or null, with failure() and reason() set (failure() None
    // when the stop flag ended the wait). Call once.
    [[nodiscard]] pcap_t* open(const QString& adapter, const QString& capture_filter);

    // Asks the program to end (closes its input, SIGTERM), and reaps it;
    // it is killed if it has not ended within two seconds. Afterwards,
    // failure() and reason() tell how it ended. Safe to call again.
    void finish();

    Failure failure() const { return m_failure; }
    // Why the program failed, in its own words (libpcap's reason), or ours
    // when it could not be run; empty when it did not fail.
    QString reason() const { return m_reason; }
    // The frames the kernel dropped during the capture, as the program
    // counted them when it stopped; nothing before finish() or when it did
    // not say.
    std::optional<std::uint64_t> dropped() const { return m_dropped; }
    // The program's process, 0 when none runs.
    pid_t pid() const { return m_pid; }

    // The programs to try, in order: the one set by set_program(), else
    // each tarnlook-capture that exists beside this executable, in
    // lib/tarnlook/ of its installation, in the configured installation and
    // in /usr/lib/tarnlook/. open() goes on to the next while one is denied,
    // so that a build run by a member of the tarnlook group still finds
    // the installed, capable one.
    static QStringList programs();
    // For tests and special installations; an empty path restores the
    // search above.
    static void set_program(const QString& path);

private:
    pcap_t* open_with(const QString& path, const QString& adapter, const QString& capture_filter);
    void fail(Failure failure, const QString& reason);

    const std::atomic<bool>& m_stop_flag;
    pid_t m_pid = 0;
    int m_input = -1; // the program's standard input
    int m_output = -1; // its standard output, until the stream takes it over
    int m_errors = -1; // its standard error
    Failure m_failure = Failure::None;
    QString m_reason;
    std::optional<std::uint64_t> m_dropped;
};
