// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// Makes HTTPS traffic for the TLS tests on the lo of a network namespace of
// the test's own: OpenSSL's s_server and s_client, curl, and Python's ssl
// (tlstraffic.py beside this file), each writing its key log. Port 443,
// 127.0.0.1 and ::1 only.

#include <cerrno>
#include <cstring>

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "loopnamespace.h"

namespace tlstraffic {

constexpr int kPort = 443;

// The tools the traffic needs, or why not.
inline QString missing_tools()
{
    QStringList missing;
    for (const char* tool : { "openssl", "curl", "python3", "tshark" })
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    return missing.isEmpty() ? QString()
                             : QStringLiteral("needs ") + missing.join(QStringLiteral(", "))
                    + QStringLiteral(" (scripts/install-deps test installs them)");
}

// Moves the process (threads and children started from here on) into a
// network namespace of its own, with lo up at an MTU of 1500.
inline bool enter_namespace(QString* why)
{
    *why = loopnamespace::enter({ 1500 });
    return why->isEmpty();
}

// Runs a program to its end; false, with what it wrote, when it fails.
inline bool run(const QString& program, const QStringList& arguments, QString* error,
                const QString& folder = QString(), const QByteArray& input = QByteArray())
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(300000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '))
                + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll().right(2000));
        return false;
    }
    return true;
}

// An RSA certificate and key for localhost: cert.pem, key.pem.
inline bool make_certificate(const QString& folder, QString* error)
{
    return run(QStringLiteral("openssl"),
               { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                 QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                 QStringLiteral("key.pem"), QStringLiteral("-out"), QStringLiteral("cert.pem"),
                 QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                 QStringLiteral("/CN=localhost") },
               error, folder);
}

// Drops about `percent` % of the segments on port 443 but SYNs on the
// input hook, after a capture on lo saw them: TCP then sends them again.
inline bool drop_on_input(int percent, QString* error)
{
    const QByteArray rule = "    tcp sport 443 tcp flags & syn == 0 numgen random mod 100 < "
            + QByteArray::number(percent) + " drop\n    tcp dport 443 tcp flags & syn == 0 "
            + "numgen random mod 100 < " + QByteArray::number(percent) + " drop\n";
    return run(QStringLiteral("nft"), { QStringLiteral("-f"), QStringLiteral("-") }, error,
               QString(),
               "table inet tlsloss {\n  chain input {\n    type filter hook input priority 0;\n"
                       + rule + "  }\n}\n");
}

inline bool stop_dropping()
{
    QString ignored;
    return run(QStringLiteral("nft"),
               { QStringLiteral("delete"), QStringLiteral("table"), QStringLiteral("inet"),
                 QStringLiteral("tlsloss") },
               &ignored);
}

// One client of an s_server run: s_client with these options (it sends
// `request` and reads until the server closes) or, with curl set, curl
// with them.
struct Client
{
    QStringList options;
    QByteArray request = "GET /1k.bin HTTP/1.0\r\n\r\n";
    bool curl = false;
};

// Waits until the process has written `text` on the channel.
inline bool wait_for_output(QProcess& process, QProcess::ProcessChannel channel,
                            const QByteArray& text, QByteArray* seen)
{
    QElapsedTimer timer;
    timer.start();
    process.setReadChannel(channel);
    while (!seen->contains(text) && timer.elapsed() < 30000) {
        if (process.bytesAvailable() == 0 && !process.waitForReadyRead(100)
            && process.state() != QProcess::Running)
            break;
        *seen += process.read(process.bytesAvailable());
    }
    return seen->contains(text);
}

// Files s_server -WWW serves from the folder: /<name>.
inline bool make_bodies(const QString& folder)
{
    const std::pair<const char*, int> bodies[] = {
        { "0.bin", 0 }, { "1k.bin", 1000 }, { "100k.bin", 100 * 1024 }, { "1m.bin", 1024 * 1024 }
    };
    for (const auto& [name, size] : bodies) {
        QFile file(QDir(folder).filePath(QString::fromLatin1(name)));
        QByteArray bytes(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((unsigned(i) * 7919u + unsigned(size)) >> 3);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
            return false;
    }
    return true;
}

// Starts `openssl s_server -WWW` on the address's port 443 ("127.0.0.1" or
// "[::1]") with the options, serving the
// folder and logging its keys to server-keys.log, and runs the clients
// against it one after the other (theirs to client-keys.log).
inline bool serve_openssl(const QString& folder, const QString& address,
                          const QStringList& server_options, const QList<Client>& clients,
                          QString* error)
{
    QProcess server;
    server.setWorkingDirectory(folder);
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(QStringLiteral("openssl"),
                 QStringList { QStringLiteral("s_server"), QStringLiteral("-WWW"),
                               QStringLiteral("-accept"), address + QStringLiteral(":443"),
                               QStringLiteral("-cert"), QStringLiteral("cert.pem"),
                               QStringLiteral("-key"), QStringLiteral("key.pem"),
                               QStringLiteral("-keylogfile"), QStringLiteral("server-keys.log"),
                               QStringLiteral("-naccept"), QString::number(clients.size()) }
                         + server_options);
    QByteArray said;
    while (!said.contains("ACCEPT") && server.waitForReadyRead(30000))
        said += server.readAll();
    if (!said.contains("ACCEPT")) {
        *error = QStringLiteral("s_server did not start: ") + QString::fromLocal8Bit(said);
        server.kill();
        server.waitForFinished();
        return false;
    }
    bool ok = true;
    for (const Client& client : clients) {
        QProcess process;
        process.setWorkingDirectory(folder);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SSLKEYLOGFILE"),
                           QDir(folder).filePath(QStringLiteral("client-keys.log")));
        process.setProcessEnvironment(environment);
        if (client.curl) {
            process.start(QStringLiteral("curl"),
                          QStringList { QStringLiteral("-k"), QStringLiteral("-s"),
                                        QStringLiteral("-o"), QStringLiteral("/dev/null") }
                                  + client.options);
            process.closeWriteChannel();
        } else {
            process.start(QStringLiteral("openssl"),
                          QStringList { QStringLiteral("s_client"), QStringLiteral("-keylogfile"),
                                        QStringLiteral("client-keys.log") }
                                  + client.options);
            QByteArray out;
            if (!wait_for_output(process, QProcess::StandardOutput, "Verify return code", &out))
                ok = false;
            process.write(client.request);
        }
        if (!process.waitForFinished(60000) || process.exitCode() != 0) {
            *error = QStringLiteral("client %1 failed: %2")
                             .arg(client.options.join(QLatin1Char(' ')),
                                  QString::fromLocal8Bit(
                                          process.readAllStandardError().right(500)));
            ok = false;
            process.kill();
            process.waitForFinished();
        }
    }
    if (!server.waitForFinished(30000)) {
        server.kill();
        server.waitForFinished();
    }
    return ok;
}

// One TLS 1.3 connection of s_client and a plain s_server on 127.0.0.1:443
// whose keys are updated both ways ("K" asks the other side to update
// too), with lines sent both ways before and after.
inline bool update_keys(const QString& folder, QString* error)
{
    QProcess server;
    server.setWorkingDirectory(folder);
    server.start(QStringLiteral("openssl"),
                 { QStringLiteral("s_server"), QStringLiteral("-accept"),
                   QStringLiteral("127.0.0.1:443"), QStringLiteral("-cert"),
                   QStringLiteral("cert.pem"), QStringLiteral("-key"), QStringLiteral("key.pem"),
                   QStringLiteral("-keylogfile"), QStringLiteral("server-keys.log"),
                   QStringLiteral("-naccept"), QStringLiteral("1"), QStringLiteral("-tls1_3") });
    QByteArray server_out;
    QByteArray client_out;
    QByteArray client_err;
    QProcess client;
    client.setWorkingDirectory(folder);
    const auto fail = [&](const QString& step) {
        *error = QStringLiteral("key update: ") + step + QStringLiteral(": ")
                + QString::fromLocal8Bit(server_out + client_out + client_err);
        client.kill();
        server.kill();
        client.waitForFinished();
        server.waitForFinished();
        return false;
    };
    if (!wait_for_output(server, QProcess::StandardOutput, "ACCEPT", &server_out))
        return fail(QStringLiteral("no server"));
    client.start(QStringLiteral("openssl"),
                 { QStringLiteral("s_client"), QStringLiteral("-connect"),
                   QStringLiteral("127.0.0.1:443"), QStringLiteral("-keylogfile"),
                   QStringLiteral("client-keys.log") });
    if (!wait_for_output(client, QProcess::StandardOutput, "Verify return code", &client_out))
        return fail(QStringLiteral("no handshake"));
    client.write("before the update\n");
    client.waitForBytesWritten(30000);
    if (!wait_for_output(server, QProcess::StandardOutput, "before the update", &server_out))
        return fail(QStringLiteral("no first line"));
    server.write("the server's first line\n");
    server.waitForBytesWritten(30000);
    if (!wait_for_output(client, QProcess::StandardOutput, "first line", &client_out))
        return fail(QStringLiteral("no answer"));
    client.write("K\n");
    client.waitForBytesWritten(30000);
    if (!wait_for_output(client, QProcess::StandardError, "KEYUPDATE", &client_err))
        return fail(QStringLiteral("no update"));
    client.write("after the update\n");
    client.waitForBytesWritten(30000);
    if (!wait_for_output(server, QProcess::StandardOutput, "after the update", &server_out))
        return fail(QStringLiteral("no line after"));
    server.write("the server's line after it\n");
    server.waitForBytesWritten(30000);
    if (!wait_for_output(client, QProcess::StandardOutput, "line after it", &client_out))
        return fail(QStringLiteral("no answer after"));
    client.closeWriteChannel();
    if (!client.waitForFinished(30000) || !server.waitForFinished(30000))
        return fail(QStringLiteral("no end"));
    return true;
}

} // namespace tlstraffic
