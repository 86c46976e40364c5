// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <atomic>
#include <optional>
#include <sys/types.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include "capturesource.h"
#include "pipestream.h"

// A capture on another host: the system's ssh runs tcpdump there, which
// writes the frames to its standard output as a pcap stream, read here as
// the capture program's is. Authentication is the user's own SSH setup
// (keys, agent, ~/.ssh/config): ssh runs in batch mode, so that it never
// asks for anything, and host keys are checked as ssh always checks them.
//
// The source's name is ssh://[user@]host[:port]/interface, with "?sudo" at
// the end when tcpdump runs through `sudo -n` there. A host may be an IPv6
// address in brackets.
//
// The environment variable TARNLOOK_SSH_CONFIG, when set, names the ssh
// configuration file to use instead of the user's (ssh -F): for tests and
// special setups.
class SshCaptureSource : public CaptureSource
{
    Q_DECLARE_TR_FUNCTIONS(SshCaptureSource)

public:
    // "ssh://"
    static const QString kScheme;

    struct Target
    {
        QString user; // empty: ssh's choice
        QString host;
        int port = 0; // 0: ssh's choice
        QString interface;
        bool sudo = false;
    };

    // Why a remote capture failed, as far as ssh's and tcpdump's words
    // tell.
    enum class Problem {
        None,
        UnknownHostKey, // not in known_hosts: accept it once in a terminal
        ChangedHostKey, // differs from known_hosts
        AuthenticationRefused,
        Unreachable, // no such host, refused, timed out
        NoTcpdump,
        PermissionDenied, // tcpdump may not capture there, or sudo refused
        NoSuchInterface,
        ConnectionDropped, // after frames had started to come
        Other,
    };

    // stop_flag ends waits and reads within about a tenth of a second; it
    // must outlive this object.
    SshCaptureSource(const QString& name, const std::atomic<bool>& stop_flag);
    // Ends the remote capture and ssh (finish()).
    ~SshCaptureSource() override;

    bool open(const QString& capture_filter) override;
    // Closes the connection, which ends tcpdump there; waits a few seconds
    // for ssh to end, then kills it.
    void finish() override;

    // ssh's process, 0 when none runs.
    pid_t pid() const { return m_pid; }
    Problem problem() const { return m_problem; }

    // The target of a source name; nothing, with why (for a person) in
    // *why, when it is none or names what ssh or tcpdump must not be given.
    static std::optional<Target> parse(const QString& name, QString* why = nullptr);
    // The source name of a valid target.
    static QString source_name(const Target& target);
    // Whether ssh and tcpdump may be given these, one by one.
    static bool valid_user(const QString& user);
    static bool valid_host(const QString& host);
    static bool valid_interface(const QString& interface);

    // The arguments of ssh (without the program) that run remote_command on
    // the target.
    static QStringList ssh_arguments(const Target& target, const QString& remote_command);
    // What the remote login shell runs: tcpdump on the interface with the
    // snapshot length of a local capture, its frames to standard output as
    // they come, filtered by capture_filter (unless empty) and without the
    // frames of the SSH connection itself, until the connection's input
    // ends. Any login shell (sh, bash, fish, csh) reads it alike: it hands
    // /bin/sh a script, in which every value is quoted.
    static QString remote_command(const Target& target, const QString& capture_filter);
    // What the remote login shell runs to list the interfaces tcpdump can
    // capture on (tcpdump -D), in the same way.
    static QString list_command(const Target& target);
    // The interface names in tcpdump -D's output, in its order, each once,
    // at most a thousand.
    static QStringList parse_interface_list(const QByteArray& output);
    // text as one word of a POSIX shell, single-quoted.
    static QString shell_quote(const QString& text);

    // The problem that ssh's and tcpdump's standard error and ssh's exit
    // status (-1: killed) tell; started: frames had begun to arrive.
    static Problem classify(const QString& errors, int exit_status, bool started);
    // What a person is told of a problem, with what to do, followed by an
    // excerpt of what ssh or tcpdump said (text_excerpt).
    static QString problem_text(Problem problem, const QString& errors);

private:
    static constexpr std::size_t kErrorTailBytes = 16384;

    void end_process();

    const QString m_name;
    const std::atomic<bool>& m_stop_flag;
    pid_t m_pid = 0;
    int m_input = -1; // ssh's standard input: closing it ends the capture
    int m_output = -1; // its standard output, read by the stream
    int m_errors = -1; // its standard error (non-blocking)
    PipeTail m_error_tail { kErrorTailBytes }; // the last of what it said
    bool m_started = false;
    Problem m_problem = Problem::None;
};
