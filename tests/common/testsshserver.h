// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

// An OpenSSH server of a test's own: its configuration, host key and
// authorised client key in a temporary folder, listening on a free port of
// 127.0.0.1 in the foreground, and a client configuration (TARNLOOK_SSH_CONFIG)
// that trusts that host key and uses that client key, and nothing of the
// user's ~/.ssh. Logs in as the user running the test. Stopped, with every
// session it started, when destroyed.
class TestSshServer
{
public:
    // Why no server can run here; empty when one can.
    static QString unavailable()
    {
        if (!QFile::exists(QStringLiteral("/usr/sbin/sshd")))
            return QStringLiteral("needs sshd (openssh-server)");
        if (QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty())
            return QStringLiteral("needs ssh (openssh-client)");
        if (QStandardPaths::findExecutable(QStringLiteral("ssh-keygen")).isEmpty())
            return QStringLiteral("needs ssh-keygen");
        if (geteuid() != 0)
            return QStringLiteral("sshd needs root to log a user in");
        return QString();
    }

    // authorized_options: the options of the client key's authorized_keys
    // line (environment="PATH=..." say); empty: none.
    explicit TestSshServer(const QString& authorized_options = QString())
    {
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!keygen(QStringLiteral("host_key")) || !keygen(QStringLiteral("client_key"))
            || !keygen(QStringLiteral("other_key")))
            return;
        QString line = read(QStringLiteral("client_key.pub"));
        if (!authorized_options.isEmpty())
            line = authorized_options + QLatin1Char(' ') + line;
        write(QStringLiteral("authorized_keys"), line);
        m_port = free_port();
        write(QStringLiteral("sshd_config"),
              QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2\n"
                             "AuthorizedKeysFile %3\nPidFile none\nStrictModes no\nUsePAM no\n"
                             "PermitRootLogin prohibit-password\nPasswordAuthentication no\n"
                             "KbdInteractiveAuthentication no\nPermitUserEnvironment yes\n"
                             "LogLevel ERROR\n")
                      .arg(m_port)
                      .arg(path(QStringLiteral("host_key")),
                           path(QStringLiteral("authorized_keys"))));
        trust_host_key(true);
        use_client_key(QStringLiteral("client_key"));
        QDir().mkpath(QStringLiteral("/run/sshd")); // its privilege separation folder
        m_sshd.setStandardErrorFile(path(QStringLiteral("sshd.log")));
        m_sshd.start(QStringLiteral("/usr/sbin/sshd"),
                     { QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"),
                       path(QStringLiteral("sshd_config")) });
        if (!m_sshd.waitForStarted())
            return;
        // Listening once a connection is accepted.
        for (int attempt = 0; attempt < 100 && m_sshd.state() == QProcess::Running; ++attempt) {
            if (accepts())
                return;
            QTest::qWait(50);
        }
    }

    ~TestSshServer()
    {
        kill_all();
        qunsetenv("TARNLOOK_SSH_CONFIG");
    }

    bool running() const { return m_sshd.state() == QProcess::Running && m_port > 0; }
    QString pid() const { return QString::number(m_sshd.processId()); }
    int port() const { return m_port; }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // The source name of a capture on this server's interface.
    QString source(const QString& interface, const QString& suffix = QString()) const
    {
        return QStringLiteral("ssh://%1@127.0.0.1:%2/%3%4")
                .arg(QString::fromLocal8Bit(getpwuid(geteuid())->pw_name))
                .arg(m_port)
                .arg(interface, suffix);
    }

    // Whether the client knows this server's host key; when not, ssh finds
    // none in its (empty) known_hosts.
    void trust_host_key(bool trusted)
    {
        const QStringList key = read(QStringLiteral("host_key.pub")).split(QLatin1Char(' '));
        write(QStringLiteral("known_hosts"),
              trusted ? QStringLiteral("[127.0.0.1]:%1 %2 %3\n")
                                .arg(m_port)
                                .arg(key.value(0), key.value(1))
                      : QString());
        write_client_config();
    }
    // Which key the client offers: "client_key" (authorised) or "other_key".
    void use_client_key(const QString& key)
    {
        m_client_key = key;
        write_client_config();
    }

    // The server and every process it started, at once (SIGKILL): as a
    // machine that goes away.
    void kill_all()
    {
        if (m_sshd.state() == QProcess::NotRunning)
            return;
        const QStringList family = descendants(QString::number(m_sshd.processId()));
        m_sshd.kill();
        for (const QString& pid : family)
            ::kill(pid.toInt(), SIGKILL);
        m_sshd.waitForFinished();
    }

    // The processes that the server started and that still run, by name
    // (sshd sessions, the shells and the programs they run).
    QStringList session_programs() const
    {
        QStringList names;
        for (const QString& pid : descendants(QString::number(m_sshd.processId()))) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
            if (comm.open(QIODevice::ReadOnly))
                names << QString::fromLocal8Bit(comm.readAll()).trimmed();
        }
        return names;
    }

private:
    static QStringList descendants(const QString& pid)
    {
        QStringList found;
        const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
        for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile file(tasks.filePath(task + QStringLiteral("/children")));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QString& child :
                 QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                found << child << descendants(child);
        }
        return found;
    }

    static int free_port()
    {
        const int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        close(probe);
        return port;
    }

    bool accepts() const
    {
        const int probe = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(m_port));
        const bool connected
                = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(probe);
        return connected;
    }

    bool keygen(const QString& name) const
    {
        return QProcess::execute(QStringLiteral("ssh-keygen"),
                                 { QStringLiteral("-q"), QStringLiteral("-t"),
                                   QStringLiteral("ed25519"), QStringLiteral("-N"), QString(),
                                   QStringLiteral("-C"), name, QStringLiteral("-f"), path(name) })
                == 0;
    }

    void write_client_config()
    {
        write(QStringLiteral("ssh_config"),
              QStringLiteral("Host *\n  UserKnownHostsFile %1\n  GlobalKnownHostsFile /dev/null\n"
                             "  IdentityFile %2\n  IdentitiesOnly yes\n  IdentityAgent none\n"
                             "  StrictHostKeyChecking yes\n")
                      .arg(path(QStringLiteral("known_hosts")), path(m_client_key)));
        qputenv("TARNLOOK_SSH_CONFIG", QFile::encodeName(path(QStringLiteral("ssh_config"))));
    }

    QString read(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).trimmed()
                                              : QString();
    }

    void write(const QString& name, const QString& text) const
    {
        QFile file(path(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text.toLocal8Bit() + '\n');
    }

    QTemporaryDir m_dir;
    int m_port = 0;
    QString m_client_key = QStringLiteral("client_key");
    QProcess m_sshd;
};
