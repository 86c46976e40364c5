// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturehelper.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include "pipestream.h"

namespace {

const QString kProgramName = QStringLiteral("tarnlook-capture");
// Exit status by which the program says it may not capture (EX_NOPERM).
constexpr int kNoPermission = 77;
constexpr int kEndGraceMs = 2000;
constexpr qint64 kMaxReasonBytes = 4096;

QString& program_override()
{
    static QString path;
    return path;
}

// Everything the program wrote to its standard error, up to a limit.
QString read_reason(int fd)
{
    QByteArray text;
    char buffer[512];
    ssize_t got = 0;
    while (text.size() < kMaxReasonBytes
           && ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)))
        if (got > 0)
            text.append(buffer, int(got));
    return QString::fromLocal8Bit(text).trimmed();
}

void close_fd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

CaptureHelper::CaptureHelper(const std::atomic<bool>& stop_flag)
    : m_stop_flag(stop_flag)
{ }

CaptureHelper::~CaptureHelper()
{
    finish();
}

QStringList CaptureHelper::programs()
{
    if (!program_override().isEmpty())
        return { program_override() };
    QStringList candidates;
    if (QCoreApplication::instance() != nullptr) {
        const QDir here(QCoreApplication::applicationDirPath());
        candidates << here.filePath(kProgramName)
                   << here.filePath(QStringLiteral("../lib/tarnlook/") + kProgramName);
    }
    candidates << QStringLiteral(TARNLOOK_HELPER_DIR "/") + kProgramName
               << QStringLiteral("/usr/lib/tarnlook/") + kProgramName;
    QStringList found;
    for (const QString& candidate : std::as_const(candidates)) {
        const QString path = QDir::cleanPath(candidate);
        if (QFileInfo(path).isFile() && !found.contains(path))
            found << path;
    }
    return found;
}

void CaptureHelper::set_program(const QString& path)
{
    program_override() = path;
}

void CaptureHelper::fail(Failure failure, const QString& reason)
{
    m_failure = failure;
    m_reason = reason;
}

pcap_t* CaptureHelper::open(const QString& adapter, const QString& capture_filter)
{
    const QStringList candidates = programs();
    if (candidates.isEmpty()) {
        fail(Failure::Denied, kProgramName + QStringLiteral(" not found"));
        return nullptr;
    }
    for (const QString& path : candidates) {
        fail(Failure::None, QString());
        if (pcap_t* handle = open_with(path, adapter, capture_filter))
            return handle;
        if (m_failure != Failure::Denied)
            break;
    }
    return nullptr;
}

pcap_t* CaptureHelper::open_with(const QString& path, const QString& adapter,
                                 const QString& capture_filter)
{

    // All that the child needs, made before fork: after it, in a process
    // with threads, only async-signal-safe calls are allowed.
    const QByteArray program_bytes = QFile::encodeName(path);
    QList<QByteArray> arguments { program_bytes, QByteArrayLiteral("-i"), adapter.toUtf8() };
    if (!capture_filter.isEmpty())
        arguments << QByteArrayLiteral("-f") << capture_filter.toUtf8();
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    char* const no_environment[] = { nullptr };

    // input, output, errors, and a pipe on which exec reports its errno.
    int pipes[4][2];
    int made = 0;
    for (; made < 4; ++made)
        if (pipe2(pipes[made], O_CLOEXEC) != 0)
            break;
    if (made < 4) {
        fail(Failure::Failed, QStringLiteral("pipe: ") + QString::fromLocal8Bit(strerror(errno)));
        for (int i = 0; i < made; ++i) {
            close(pipes[i][0]);
            close(pipes[i][1]);
        }
        return nullptr;
    }
    int(&input)[2] = pipes[0];
    int(&output)[2] = pipes[1];
    int(&errors)[2] = pipes[2];
    int(&exec_status)[2] = pipes[3];

    const pid_t pid = fork();
    if (pid == 0) {
        // dup2 clears close-on-exec on the three standard descriptors.
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        dup2(errors[1], STDERR_FILENO);
        // Also set by the program itself, which exec with capabilities
        // clears; here for a program without them.
        prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(argv[0], argv.data(), no_environment);
        const int error = errno;
        if (write(exec_status[1], &error, sizeof error) < 0)
            _exit(127);
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    close(errors[1]);
    close(exec_status[1]);
    m_input = input[1];
    m_output = output[0];
    m_errors = errors[0];
    if (pid < 0) {
        fail(Failure::Failed, QStringLiteral("fork: ") + QString::fromLocal8Bit(strerror(errno)));
        close(exec_status[0]);
        finish();
        return nullptr;
    }
    m_pid = pid;

    int exec_error = 0;
    ssize_t got = 0;
    while ((got = read(exec_status[0], &exec_error, sizeof exec_error)) < 0 && errno == EINTR) { }
    close(exec_status[0]);
    if (got == sizeof exec_error) {
        finish();
        const bool denied = exec_error == EACCES || exec_error == EPERM || exec_error == ENOENT;
        fail(denied ? Failure::Denied : Failure::Failed,
             path + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(exec_error)));
        return nullptr;
    }

    // The stream's reads honour the stop flag; the stream owns the
    // descriptor from here on.
    FILE* stream = open_pipe_stream(m_output, m_stop_flag);
    if (stream == nullptr) {
        fail(Failure::Failed,
             QStringLiteral("fopencookie: ") + QString::fromLocal8Bit(strerror(errno)));
        finish();
        return nullptr;
    }
    m_output = -1;

    // The file header arrives once the program has opened the adapter; when
    // it cannot, the stream ends at once and its reason is on stderr.
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_fopen_offline(stream, errbuf);
    if (handle != nullptr)
        return handle;
    std::fclose(stream);
    const bool stopped = m_stop_flag.load();
    finish();
    if (stopped) {
        fail(Failure::None, QString());
    } else if (m_failure == Failure::None) {
        // The program ran on, but what it wrote was no capture.
        fail(Failure::Failed, QString::fromLocal8Bit(errbuf));
    }
    return nullptr;
}

void CaptureHelper::finish()
{
    close_fd(m_input);
    close_fd(m_output);
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        pid_t reaped = 0;
        for (int waited = 0; waited < kEndGraceMs; waited += 10) {
            reaped = waitpid(m_pid, &status, WNOHANG);
            if (reaped != 0)
                break;
            QThread::msleep(10);
        }
        if (reaped == 0) {
            kill(m_pid, SIGKILL);
            while ((reaped = waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) { }
        }
        m_pid = 0;
        if (reaped > 0 && m_failure == Failure::None) {
            const bool exited = WIFEXITED(status);
            const int code = exited ? WEXITSTATUS(status) : 0;
            // SIGTERM from here counts as a stop; any other end as failure.
            const bool stopped = exited ? code == 0 : WTERMSIG(status) == SIGTERM;
            if (stopped && m_errors >= 0) {
                // The kernel's counts, the one line a stopped program leaves.
                static const QRegularExpression counts(
                        QStringLiteral("^tarnlook-capture: received \\d+ dropped (\\d+)$"),
                        QRegularExpression::MultilineOption);
                const QRegularExpressionMatch match = counts.match(read_reason(m_errors));
                bool ok = false;
                const std::uint64_t lost = match.captured(1).toULongLong(&ok);
                if (match.hasMatch() && ok)
                    m_dropped = lost;
            }
            if (!stopped) {
                QString reason = m_errors >= 0 ? read_reason(m_errors) : QString();
                const QString prefix = kProgramName + QStringLiteral(": ");
                if (reason.startsWith(prefix))
                    reason = reason.mid(prefix.size());
                if (reason.isEmpty())
                    reason = exited
                            ? kProgramName + QStringLiteral(" failed with status %1").arg(code)
                            : kProgramName
                                    + QStringLiteral(" ended by signal %1").arg(WTERMSIG(status));
                fail(exited && code == kNoPermission ? Failure::Denied : Failure::Failed, reason);
            }
        }
    }
    close_fd(m_errors);
}
