// SPDX-License-Identifier: GPL-2.0-or-later

#include "sshcapturesource.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include "pipestream.h"

extern char** environ;

const QString SshCaptureSource::kScheme = QStringLiteral("ssh://");

namespace {

// As a local capture's.
constexpr int kSnapLength = 65536;
// ssh gives up on a host that does not answer within this many seconds, and
// on a connection whose server has not answered kAliveCount checks, one
// every kAliveInterval seconds.
constexpr int kConnectTimeout = 10;
constexpr int kAliveInterval = 5;
constexpr int kAliveCount = 3;
// How long finish() waits for ssh to end by itself, and then after SIGTERM.
constexpr int kEndGraceMs = 3000;
constexpr int kKillGraceMs = 1000;
constexpr int kMaxErrorBytes = 8192;
constexpr int kMaxInterfaceBytes = 15; // IFNAMSIZ - 1
const QString kSudoSuffix = QStringLiteral("?sudo");
const QString kConfigVariable = QStringLiteral("TARNLOOK_SSH_CONFIG");

void close_fd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Appends what is readable on fd now, up to the limit; false at its end.
bool drain(int fd, QByteArray* kept)
{
    char buffer[4096];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0 && kept != nullptr && kept->size() < kMaxErrorBytes)
        kept->append(buffer, int(got));
    return got > 0 || (got < 0 && (errno == EINTR || errno == EAGAIN));
}

} // namespace

SshCaptureSource::SshCaptureSource(const QString& name, const std::atomic<bool>& stop_flag)
    : m_name(name)
    , m_stop_flag(stop_flag)
{ }

SshCaptureSource::~SshCaptureSource()
{
    end_process();
}

bool SshCaptureSource::valid_user(const QString& user)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,63}$"));
    return pattern.match(user).hasMatch();
}

bool SshCaptureSource::valid_host(const QString& host)
{
    // A DNS name or IPv4 address, or an IPv6 address (with a zone) as ssh
    // takes it, without brackets.
    static const QRegularExpression name(
            QStringLiteral("^[A-Za-z0-9_]([A-Za-z0-9_.-]{0,252}[A-Za-z0-9_])?$"));
    static const QRegularExpression ipv6(
            QStringLiteral("^[0-9A-Fa-f:.]*:[0-9A-Fa-f:.]*(%[A-Za-z0-9_.-]+)?$"));
    return name.match(host).hasMatch() || ipv6.match(host).hasMatch();
}

bool SshCaptureSource::valid_interface(const QString& interface)
{
    // As the capture program takes names: what the kernel could name an
    // interface, never an option.
    if (interface.isEmpty() || interface.size() > kMaxInterfaceBytes)
        return false;
    for (const QChar c : interface)
        if (c <= QLatin1Char(' ') || c > QLatin1Char('~') || c == QLatin1Char('/')
            || c == QLatin1Char(':'))
            return false;
    return interface != QLatin1String(".") && interface != QLatin1String("..")
            && !interface.startsWith(QLatin1Char('-'));
}

std::optional<SshCaptureSource::Target> SshCaptureSource::parse(const QString& name, QString* why)
{
    const auto refuse = [why](const QString& reason) -> std::optional<Target> {
        if (why != nullptr)
            *why = reason;
        return std::nullopt;
    };
    if (!name.startsWith(kScheme))
        return refuse(tr("远程数据源要以 ssh:// 开头"));
    Target target;
    QString rest = name.mid(kScheme.size());
    if (rest.endsWith(kSudoSuffix)) {
        target.sudo = true;
        rest.chop(kSudoSuffix.size());
    }
    const int slash = rest.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return refuse(tr("缺少网卡: ssh://[用户@]主机[:端口]/网卡"));
    target.interface = rest.mid(slash + 1);
    QString authority = rest.left(slash);
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        target.user = authority.left(at);
        authority = authority.mid(at + 1);
        if (!valid_user(target.user))
            return refuse(tr("用户名无效: %1").arg(target.user));
    }
    QString port;
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = authority.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refuse(tr("主机名无效: %1").arg(authority));
        target.host = authority.mid(1, close - 1);
        const QString after = authority.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return refuse(tr("主机名无效: %1").arg(authority));
        port = after.mid(1);
        if (!target.host.contains(QLatin1Char(':')))
            return refuse(tr("主机名无效: %1").arg(authority));
    } else {
        const int colon = authority.indexOf(QLatin1Char(':'));
        target.host = colon < 0 ? authority : authority.left(colon);
        if (colon >= 0)
            port = authority.mid(colon + 1);
        if (target.host.contains(QLatin1Char(':')))
            return refuse(tr("主机名无效: %1").arg(authority));
    }
    if (!valid_host(target.host))
        return refuse(tr("主机名无效: %1").arg(target.host));
    if (!port.isNull()) {
        bool ok = false;
        target.port = port.toInt(&ok);
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
        if (!ok || !digits.match(port).hasMatch() || target.port < 1 || target.port > 65535)
            return refuse(tr("端口无效: %1").arg(port));
    }
    if (!valid_interface(target.interface))
        return refuse(tr("网卡名无效: %1").arg(target.interface));
    return target;
}

QString SshCaptureSource::source_name(const Target& target)
{
    QString name = kScheme;
    if (!target.user.isEmpty())
        name += target.user + QLatin1Char('@');
    name += target.host.contains(QLatin1Char(':'))
            ? QLatin1Char('[') + target.host + QLatin1Char(']')
            : target.host;
    if (target.port > 0)
        name += QLatin1Char(':') + QString::number(target.port);
    name += QLatin1Char('/') + target.interface;
    if (target.sudo)
        name += kSudoSuffix;
    return name;
}

QString SshCaptureSource::shell_quote(const QString& text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QStringList SshCaptureSource::ssh_arguments(const Target& target, const QString& remote_command)
{
    QStringList arguments;
    const QString config = qEnvironmentVariable(kConfigVariable.toLatin1().constData());
    if (!config.isEmpty())
        arguments << QStringLiteral("-F") << config;
    // Never a prompt (no one would see it); host keys are checked as the
    // user's configuration says, never less.
    arguments << QStringLiteral("-o") << QStringLiteral("BatchMode=yes") << QStringLiteral("-o")
              << QStringLiteral("ConnectTimeout=%1").arg(kConnectTimeout) << QStringLiteral("-o")
              << QStringLiteral("ServerAliveInterval=%1").arg(kAliveInterval)
              << QStringLiteral("-o") << QStringLiteral("ServerAliveCountMax=%1").arg(kAliveCount)
              << QStringLiteral("-T");
    if (target.port > 0)
        arguments << QStringLiteral("-p") << QString::number(target.port);
    if (!target.user.isEmpty())
        arguments << QStringLiteral("-l") << target.user;
    // Whatever the host looks like, ssh takes it as the host.
    arguments << QStringLiteral("--") << target.host << remote_command;
    return arguments;
}

QString SshCaptureSource::remote_command(const Target& target, const QString& capture_filter)
{
    // The remote login shell may be any; /bin/sh runs the script. A filter
    // is one line to tcpdump.
    QString filter = capture_filter;
    filter.replace(QRegularExpression(QStringLiteral("[\\r\\n\\t\\x00]")), QStringLiteral(" "));
    const QString sudo = target.sudo ? QStringLiteral("sudo -n ") : QString();
    // $SSH_CONNECTION: client address and port, server address and port.
    // tcpdump runs in the background so that the end of the connection's
    // input (a stop here, or this side gone) can end it; the script ends
    // with tcpdump, with its status.
    const QString script = QStringLiteral("f=") + shell_quote(filter.trimmed())
            + QStringLiteral("\n"
                             "set -- $SSH_CONNECTION\n"
                             "if [ $# -ge 4 ]; then\n"
                             "  s=\"not (host $1 and port $2 and host $3 and port $4)\"\n"
                             "  if [ -n \"$f\" ]; then f=\"($f) and $s\"; else f=$s; fi\n"
                             "fi\n"
                             "exec 3<&0\n")
            + sudo + QStringLiteral("tcpdump -U -n -w - -s %1 -i ").arg(kSnapLength)
            + shell_quote(target.interface)
            + QStringLiteral(" -- \"$f\" 3<&- &\n"
                             "p=$!\n"
                             "{ read x <&3; kill $p; } >/dev/null 2>&1 &\n"
                             "w=$!\n"
                             "exec 3<&-\n"
                             "wait $p\n"
                             "r=$?\n"
                             "kill $w 2>/dev/null\n"
                             "exit $r\n");
    return QStringLiteral("/bin/sh -c ") + shell_quote(script);
}

QString SshCaptureSource::list_command(const Target& target)
{
    const QString sudo = target.sudo ? QStringLiteral("sudo -n ") : QString();
    return QStringLiteral("/bin/sh -c ") + shell_quote(sudo + QStringLiteral("tcpdump -D"));
}

QStringList SshCaptureSource::parse_interface_list(const QByteArray& output)
{
    // "1.eth0 [Up, Running]", "2.any (Pseudo-device ...) [Up, Running]"
    static const QRegularExpression line(QStringLiteral("^\\d+\\.(\\S+)"),
                                         QRegularExpression::MultilineOption);
    QStringList names;
    QRegularExpressionMatchIterator it = line.globalMatch(QString::fromLocal8Bit(output));
    while (it.hasNext()) {
        const QString name = it.next().captured(1);
        if (valid_interface(name))
            names << name;
    }
    return names;
}

SshCaptureSource::Problem SshCaptureSource::classify(const QString& errors, int exit_status,
                                                     bool started)
{
    const auto has = [&errors](const char* text) {
        return errors.contains(QLatin1String(text), Qt::CaseInsensitive);
    };
    if (has("REMOTE HOST IDENTIFICATION HAS CHANGED"))
        return Problem::ChangedHostKey;
    if (has("Host key verification failed") || has("host key is known"))
        return Problem::UnknownHostKey;
    if (has("tcpdump: not found") || has("tcpdump: command not found")
        || has("tcpdump: No such file or directory"))
        return Problem::NoTcpdump;
    if (has("No such device") || has("doesn't exist") || has("does not exist"))
        return Problem::NoSuchInterface;
    if (has("You don't have permission to capture") || has("Operation not permitted")
        || has("sudo: a password is required") || has("sudo: a terminal is required")
        || has("not in the sudoers") || has("not allowed to execute"))
        return Problem::PermissionDenied;
    if (has("Permission denied (") || has("Too many authentication failures")
        || has("Authentication failed"))
        return Problem::AuthenticationRefused;
    if (!started
        && (has("Could not resolve hostname") || has("Connection refused")
            || has("Connection timed out") || has("No route to host")
            || has("Network is unreachable") || has("Operation timed out")))
        return Problem::Unreachable;
    if (started && exit_status != 0)
        return Problem::ConnectionDropped;
    if (exit_status != 0)
        return Problem::Other;
    return Problem::None;
}

QString SshCaptureSource::problem_text(Problem problem, const QString& errors)
{
    QString text;
    switch (problem) {
    case Problem::None:
        return QString();
    case Problem::UnknownHostKey:
        text = tr("远程主机的密钥未知(不在known_hosts中)。请先在终端里用 ssh "
                  "连接该主机一次, 核对并接受它的密钥, 然后再试。");
        break;
    case Problem::ChangedHostKey:
        text = tr("远程主机的密钥与known_hosts中记录的不同, 可能有人冒充该主机。"
                  "请向管理员核对, 确认无误后在终端里用 ssh-keygen -R 删除旧密钥并重新连接。");
        break;
    case Problem::AuthenticationRefused:
        text = tr("远程主机拒绝了登录。请检查用户名和密钥(或ssh-agent), "
                  "并确认在终端里用 ssh 不输入密码就能登录。");
        break;
    case Problem::Unreachable:
        text = tr("无法连接远程主机: 主机名、端口或网络有误, 或连接超时。");
        break;
    case Problem::NoTcpdump:
        text = tr("远程主机上没有tcpdump。请在那里安装它(如 sudo apt install tcpdump)。");
        break;
    case Problem::PermissionDenied:
        text = tr("远程主机上没有抓包的权限。请选择\"用sudo\"(那里需要不用密码的 sudo tcpdump), "
                  "或把远程用户加入可以运行tcpdump抓包的组(见README), 然后再试。");
        break;
    case Problem::NoSuchInterface:
        text = tr("远程主机上没有这个网卡。请列出远程网卡, 从中选择一个。");
        break;
    case Problem::ConnectionDropped:
        text = tr("与远程主机的连接在抓包中断开了。已捕获的行仍然保留。");
        break;
    case Problem::Other:
        text = tr("远程抓包失败。");
        break;
    }
    const QString said = errors.trimmed();
    return said.isEmpty() ? text : text + QLatin1Char('\n') + said;
}

bool SshCaptureSource::open(const QString& capture_filter)
{
    const auto refuse = [this](Problem problem, const QString& reason) {
        m_problem = problem;
        fail(Failure::Failed, reason);
        return false;
    };
    QString why;
    const std::optional<Target> target = parse(m_name, &why);
    if (!target)
        return refuse(Problem::Other, why);

    // All that the child needs, made before spawning it.
    QList<QByteArray> arguments { QByteArrayLiteral("ssh") };
    for (const QString& argument : ssh_arguments(*target, remote_command(*target, capture_filter)))
        arguments << argument.toUtf8();
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipes[3][2];
    int made = 0;
    for (; made < 3; ++made)
        if (pipe2(pipes[made], O_CLOEXEC) != 0)
            break;
    if (made < 3) {
        const QString reason = QStringLiteral("pipe: ") + QString::fromLocal8Bit(strerror(errno));
        for (int i = 0; i < made; ++i) {
            close(pipes[i][0]);
            close(pipes[i][1]);
        }
        return refuse(Problem::Other, reason);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[0][0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipes[1][1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipes[2][1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A session of its own: no terminal that ssh could ask on, and the
    // terminal's signals do not reach it. Signals as a new program has them.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : { SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD })
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "ssh", &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipes[0][0]);
    close(pipes[1][1]);
    close(pipes[2][1]);
    m_input = pipes[0][1];
    m_output = pipes[1][0];
    m_errors = pipes[2][0];
    if (spawned != 0) {
        end_process();
        return refuse(Problem::Other,
                      QStringLiteral("ssh: ") + QString::fromLocal8Bit(strerror(spawned)));
    }
    m_pid = pid;
    fcntl(m_errors, F_SETFL, fcntl(m_errors, F_GETFL) | O_NONBLOCK);

    FILE* stream = open_pipe_stream(m_output, m_stop_flag);
    if (stream == nullptr) {
        const QString reason
                = QStringLiteral("fopencookie: ") + QString::fromLocal8Bit(strerror(errno));
        end_process();
        return refuse(Problem::Other, reason);
    }
    // The file header comes once tcpdump has opened the interface; when
    // anything fails, the stream ends at once and the reason is on stderr.
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    m_handle = pcap_fopen_offline(stream, errbuf);
    if (m_handle != nullptr) {
        m_started = true;
        return true;
    }
    std::fclose(stream);
    m_output = -1;
    const bool stopped = m_stop_flag.load();
    finish();
    if (stopped) {
        fail(Failure::None, QString());
        m_problem = Problem::None;
        return false;
    }
    if (m_failure == Failure::None)
        return refuse(Problem::Other, problem_text(Problem::Other, QString::fromLocal8Bit(errbuf)));
    return false;
}

void SshCaptureSource::end_process()
{
    close_fd(m_input);
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
        m_pid = 0;
    }
    close_fd(m_errors);
    if (m_handle == nullptr)
        close_fd(m_output);
}

void SshCaptureSource::finish()
{
    if (m_pid <= 0)
        return;
    // The end of its input ends tcpdump there, which then says what it
    // counted; the rest of the stream is read and dropped meanwhile, so that
    // nothing waits on a full pipe.
    close_fd(m_input);
    fcntl(m_output, F_SETFL, fcntl(m_output, F_GETFL) | O_NONBLOCK);
    int status = 0;
    bool ended = false; // and reaped
    bool exited = false; // by itself, with status
    bool output_open = m_output >= 0;
    bool errors_open = m_errors >= 0;
    bool terminated = false;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (!ended) {
            const pid_t reaped = waitpid(m_pid, &status, WNOHANG);
            ended = reaped == m_pid || (reaped < 0 && errno != EINTR);
            exited = reaped == m_pid && WIFEXITED(status);
        }
        if (ended && !errors_open)
            break;
        if (!ended && !terminated && waited.elapsed() > kEndGraceMs) {
            kill(m_pid, SIGTERM);
            terminated = true;
        } else if (!ended && waited.elapsed() > kEndGraceMs + kKillGraceMs) {
            kill(m_pid, SIGKILL);
            while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) { }
            break;
        }
        pollfd fds[2] {};
        fds[0].fd = output_open ? m_output : -1;
        fds[0].events = POLLIN;
        fds[1].fd = errors_open ? m_errors : -1;
        fds[1].events = POLLIN;
        if (poll(fds, 2, 20) > 0) {
            if (fds[0].revents != 0 && !drain(m_output, nullptr))
                output_open = false;
            if (fds[1].revents != 0 && !drain(m_errors, &m_error_text))
                errors_open = false;
        }
        // Once ssh has ended, what is left of its errors is read without
        // waiting for whatever else may hold the pipe.
        if (ended && fds[1].revents == 0)
            break;
    }
    m_pid = 0;
    close_fd(m_errors);
    if (m_handle == nullptr)
        close_fd(m_output);

    const QString errors = QString::fromLocal8Bit(m_error_text);
    // tcpdump's count, the one it prints when it ends.
    static const QRegularExpression counts(QStringLiteral("^(\\d+) packets? dropped by kernel$"),
                                           QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = counts.match(errors);
    if (match.hasMatch())
        m_dropped = match.captured(1).toULongLong();
    const int exit_status = exited ? WEXITSTATUS(status) : -1;
    // A stop ends the capture as asked: whatever ssh says then is no fault.
    if (m_stop_flag.load() || terminated)
        return;
    m_problem = classify(errors, exit_status, m_started);
    if (m_problem != Problem::None) {
        // Only what says why: tcpdump's chatter is left out.
        QStringList said;
        for (const QString& line : errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (!line.startsWith(QLatin1String("tcpdump: listening on"))
                && !line.contains(QLatin1String("packets captured"))
                && !line.contains(QLatin1String("packets received by filter"))
                && !line.contains(QLatin1String("dropped by kernel")))
                said << line.trimmed();
        fail(Failure::Failed, problem_text(m_problem, said.join(QLatin1Char('\n'))));
    }
}
