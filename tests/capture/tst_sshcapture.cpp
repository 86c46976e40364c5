// SPDX-License-Identifier: GPL-2.0-or-later

#include <memory>

#include <QtTest>

#include "captureobserver.h"
#include "cupdate.h"
#include "sshcapturesource.h"
#include "testframes.h"
#include "testsshserver.h"
#include "textexcerpt.h"

using namespace testframes;
using Problem = SshCaptureSource::Problem;

Q_DECLARE_METATYPE(SshCaptureSource::Problem)

// Capturing on another host through the system's ssh, against an OpenSSH
// server of the test's own on 127.0.0.1 whose "remote" lo is this machine's.

namespace {

// The processes this one has started and not yet reaped, zombies included,
// but for the server.
QStringList child_processes(const TestSshServer& server)
{
    QStringList pids;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        if (file.open(QIODevice::ReadOnly))
            pids += QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    pids.removeAll(server.pid());
    return pids;
}

// A capture through ssh with what it reports.
struct RemoteCapture
{
    std::unique_ptr<CUpdate> capture;
    std::unique_ptr<CaptureObserver> observer;
    QStringList ended; // capture_failed's details

    RemoteCapture(const QString& source, const QString& capture_filter = QString())
    {
        FilterSettings settings;
        settings.capture_filter_on = !capture_filter.isEmpty();
        settings.capture_filter = capture_filter;
        capture = std::make_unique<CUpdate>(settings);
        observer = std::make_unique<CaptureObserver>(*capture);
        QObject::connect(capture.get(), &CUpdate::capture_failed, &observer->context,
                         [this](int, const QString& detail) { ended.append(detail); });
        capture->adapter_name = source;
        capture->start();
    }

    // Sends payloads on 127.0.0.1 until a line of one arrives; the
    // listening ports used.
    QStringList until_a_line(const QByteArray& payload)
    {
        QStringList ports;
        for (int attempt = 0; attempt < 30 && !observer->finished; ++attempt) {
            ports << QString::number(exchange_on_loopback(payload, "reply"));
            if (QTest::qWaitFor([this] { return !observer->lines.isEmpty(); }, 1000))
                break;
        }
        return ports;
    }
};

// Whether nothing in text would act on a terminal or a layout: no control
// character but line breaks, no format character.
bool inert(const QString& text)
{
    for (const QChar c : text)
        if ((c.category() == QChar::Other_Control && c != QLatin1Char('\n'))
            || c.category() == QChar::Other_Format)
            return false;
    return true;
}

bool has_tcpdump()
{
    return !QStandardPaths::findExecutable(QStringLiteral("tcpdump")).isEmpty();
}

} // namespace

class TstSshCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parse_data();
    void parse();
    void quotesForTheShell_data();
    void quotesForTheShell();
    void anyLoginShellRunsTheScript_data();
    void anyLoginShellRunsTheScript();
    void listsInterfaces();
    void classifiesWhatCannotHappenHere_data();
    void classifiesWhatCannotHappenHere();
    void excerptOfWhatWasSaid_data();
    void excerptOfWhatWasSaid();
    void sameRowsAsDirect();
    void remoteThatSaysTooMuch_data();
    void remoteThatSaysTooMuch();
    void hostileFilterStaysAFilter_data();
    void hostileFilterStaysAFilter();
    void hostileInterfaceIsJustAName_data();
    void hostileInterfaceIsJustAName();
    void toldWhatWentWrong_data();
    void toldWhatWentWrong();
    void serverGoneMidCapture();
    void stopEndsBothSides();

private:
    QString m_skip; // why no server runs here
};

void TstSshCapture::initTestCase()
{
    m_skip = TestSshServer::unavailable();
    if (m_skip.isEmpty() && !has_tcpdump())
        m_skip = QStringLiteral("needs tcpdump, which the server runs");
    QString reason;
    if (m_skip.isEmpty() && !can_capture_on_loopback(&reason))
        m_skip = reason;
}

void TstSshCapture::parse_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<bool>("sudo");
    const QString none;
    QTest::newRow("host-interface")
            << "ssh://server/eth0" << true << none << "server" << 0 << "eth0" << false;
    QTest::newRow("everything") << "ssh://admin@server.example.org:2222/eth0.10?sudo" << true
                                << "admin"
                                << "server.example.org" << 2222 << "eth0.10" << true;
    QTest::newRow("ipv6") << "ssh://[::1]:22/any" << true << none << "::1" << 22 << "any" << false;
    QTest::newRow("no-interface") << "ssh://server" << false << none << none << 0 << none << false;
    QTest::newRow("empty-interface")
            << "ssh://server/" << false << none << none << 0 << none << false;
    QTest::newRow("port-zero") << "ssh://server:0/lo" << false << none << none << 0 << none
                               << false;
    QTest::newRow("port-too-big") << "ssh://server:65536/lo" << false << none << none << 0 << none
                                  << false;
    QTest::newRow("port-sign") << "ssh://server:+22/lo" << false << none << none << 0 << none
                               << false;
    QTest::newRow("ipv6-unbracketed")
            << "ssh://::1/lo" << false << none << none << 0 << none << false;
    QTest::newRow("interface-too-long")
            << "ssh://server/abcdefghijklmnop" << false << none << none << 0 << none << false;
    // What ssh would read as an option, or a remote shell as a command.
    QTest::newRow("host-option") << "ssh://-oProxyCommand=touch${IFS}x/lo" << false << none << none
                                 << 0 << none << false;
    QTest::newRow("user-option") << "ssh://-oProxyCommand=x@server/lo" << false << none << none << 0
                                 << none << false;
    QTest::newRow("interface-option")
            << "ssh://server/-w" << false << none << none << 0 << none << false;
    QTest::newRow("interface-semicolon")
            << "ssh://server/lo;touch" << true << none << "server" << 0 << "lo;touch" << false;
    QTest::newRow("interface-subshell")
            << "ssh://server/$(id)" << true << none << "server" << 0 << "$(id)" << false;
    QTest::newRow("interface-newline")
            << "ssh://server/lo\nid" << false << none << none << 0 << none << false;
    QTest::newRow("user-quote") << "ssh://a'b@server/lo" << false << none << none << 0 << none
                                << false;
    QTest::newRow("host-space") << "ssh://ser ver/lo" << false << none << none << 0 << none
                                << false;
    QTest::newRow("host-semicolon")
            << "ssh://server;id/lo" << false << none << none << 0 << none << false;
}

void TstSshCapture::parse()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QString why;
    const std::optional<SshCaptureSource::Target> target = SshCaptureSource::parse(name, &why);
    QCOMPARE(target.has_value(), valid);
    if (!valid) {
        QVERIFY(!why.isEmpty());
        return;
    }
    QTEST(target->user, "user");
    QTEST(target->host, "host");
    QTEST(target->port, "port");
    QTEST(target->interface, "interface");
    QTEST(target->sudo, "sudo");
    QCOMPARE(SshCaptureSource::source_name(*target), name);
}

// Whatever a value holds, the shell reads it back as it was, and runs
// nothing of it.
void TstSshCapture::quotesForTheShell_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("empty") << QString();
    QTest::newRow("semicolon") << "x; touch MARKER";
    QTest::newRow("subshell") << "$(touch MARKER)";
    QTest::newRow("backquotes") << "`touch MARKER`";
    QTest::newRow("single-quotes") << "'; touch MARKER; '";
    QTest::newRow("double-quotes") << "\"; touch MARKER; \"";
    QTest::newRow("newline") << "x\ntouch MARKER\n";
    QTest::newRow("backslash-quote") << "\\'$(touch MARKER)\\'";
    QTest::newRow("variables") << "$HOME ${PATH} $1 $@";
}

void TstSshCapture::quotesForTheShell()
{
    QFETCH(QString, value);
    QTemporaryDir dir;
    const QString marker = dir.filePath(QStringLiteral("MARKER"));
    const QString planted = QString(value).replace(QStringLiteral("MARKER"), marker);
    QProcess shell;
    shell.start(QStringLiteral("/bin/sh"),
                { QStringLiteral("-c"),
                  QStringLiteral("printf %s ") + SshCaptureSource::shell_quote(planted) });
    QVERIFY(shell.waitForFinished());
    QCOMPARE(QString::fromUtf8(shell.readAllStandardOutput()), planted);
    QVERIFY(!QFile::exists(marker));
}

// The remote command as sshd has a login shell run it (shell -c command),
// with a tcpdump that only writes down its arguments: the interface and the
// filter reach it as they were, whatever the shell, $SSH_CONNECTION
// included.
void TstSshCapture::anyLoginShellRunsTheScript_data()
{
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("connection"); // $SSH_CONNECTION
    QTest::addColumn<QString>("expected"); // the filter tcpdump gets
    for (const char* shell : { "dash", "bash", "fish", "tcsh" }) {
        const auto row = [shell](const char* name) {
            return &(QTest::newRow(qPrintable(QStringLiteral("%1-%2").arg(shell, name)))
                     << QString::fromLatin1(shell));
        };
        *row("plain") << "lo"
                      << "tcp port 80"
                      << "127.0.0.1 41000 127.0.0.2 22"
                      << "(tcp port 80) and not (host 127.0.0.1 and port 41000 and host "
                         "127.0.0.2 and port 22)";
        *row("link-local") << "eth0"
                           << ""
                           << "fe80::1%eth0 41000 fe80::2%eth0 22"
                           << "not (host fe80::1 and port 41000 and host fe80::2 and port 22)";
        // A file named "a" lies where the script runs.
        *row("no-globbing") << "lo"
                            << ""
                            << "? 41000 [a] 22"
                            << "not (host ? and port 41000 and host [a] and port 22)";
        *row("quotes") << "'$x\"`!"
                       << "tcp and ' \" $HOME `id` !! \\ ' \\"
                       << ""
                       << "tcp and ' \" $HOME `id` !! \\ ' \\";
        *row("line-breaks") << "lo"
                            << "tcp\nport 80\r"
                            << ""
                            << "tcp port 80";
    }
}

void TstSshCapture::anyLoginShellRunsTheScript()
{
    QFETCH(QString, shell);
    QFETCH(QString, interface);
    QFETCH(QString, filter);
    QFETCH(QString, connection);
    QFETCH(QString, expected);
    const QString program = QStandardPaths::findExecutable(shell);
    if (program.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 (scripts/install-deps test)").arg(shell)));
    QTemporaryDir dir;
    QFile fake(dir.filePath(QStringLiteral("tcpdump")));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n");
    fake.close();
    QVERIFY(fake.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    QFile(dir.filePath(QStringLiteral("a"))).open(QIODevice::WriteOnly);

    SshCaptureSource::Target target;
    target.host = QStringLiteral("server");
    target.interface = interface;
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), dir.path() + QStringLiteral(":/usr/bin:/bin"));
    environment.insert(QStringLiteral("HOME"), dir.path());
    if (!connection.isEmpty())
        environment.insert(QStringLiteral("SSH_CONNECTION"), connection);
    QProcess login;
    login.setProcessEnvironment(environment);
    login.setWorkingDirectory(dir.path());
    login.start(program,
                { QStringLiteral("-c"), SshCaptureSource::remote_command(target, filter) });
    // Its input stays open, as a connection's does: its end would stop the
    // capture.
    QVERIFY(login.waitForFinished(10000));
    QFile args(fake.fileName() + QStringLiteral(".args"));
    QVERIFY2(args.open(QIODevice::ReadOnly), login.readAllStandardError().constData());
    const QStringList got = QString::fromUtf8(args.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(got.value(got.indexOf(QStringLiteral("-i")) + 1), interface);
    QCOMPARE(got.value(got.size() - 2), expected); // the last, then the final line break
    QCOMPARE(login.exitCode(), 0);
}

void TstSshCapture::listsInterfaces()
{
    QCOMPARE(SshCaptureSource::parse_interface_list(
                     "1.eth0 [Up, Running, Connected]\n"
                     "2.any (Pseudo-device that captures on all interfaces) [Up, Running]\n"
                     "3.lo [Up, Running, Loopback]\n"
                     "4.bluetooth0 (Bluetooth adapter number 0) [Wireless, Not associated]\n"),
             QStringList({ "eth0", "any", "lo", "bluetooth0" }));
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    // From the server, as the dialog asks for them.
    TestSshServer server;
    QVERIFY(server.running());
    const std::optional<SshCaptureSource::Target> target
            = SshCaptureSource::parse(server.source(QStringLiteral("lo")));
    QVERIFY(target);
    QProcess ssh;
    ssh.start(QStringLiteral("ssh"),
              SshCaptureSource::ssh_arguments(*target, SshCaptureSource::list_command(*target)));
    QVERIFY(ssh.waitForFinished(20000));
    QVERIFY2(SshCaptureSource::parse_interface_list(ssh.readAllStandardOutput())
                     .contains(QStringLiteral("lo")),
             ssh.readAllStandardError().constData());
}

// What ssh, sudo and tcpdump say where this test cannot make them say it
// (as root, with the host key the test made).
void TstSshCapture::classifiesWhatCannotHappenHere_data()
{
    QTest::addColumn<QString>("errors");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("started");
    QTest::addColumn<Problem>("problem");
    QTest::newRow("no-capture-permission")
            << "tcpdump: eth0: You don't have permission to perform this capture on that device\n"
               "(socket: Operation not permitted)"
            << 1 << false << Problem::PermissionDenied;
    QTest::newRow("sudo-wants-password")
            << "sudo: a password is required" << 1 << false << Problem::PermissionDenied;
    QTest::newRow("changed-host-key")
            << "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
               "@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @\n"
               "Host key verification failed."
            << 255 << false << Problem::ChangedHostKey;
    QTest::newRow("no-such-host")
            << "ssh: Could not resolve hostname nowhere.invalid: Name or service not known" << 255
            << false << Problem::Unreachable;
    QTest::newRow("server-stopped-answering") << "Timeout, server 192.0.2.1 not responding." << 255
                                              << true << Problem::ConnectionDropped;
    QTest::newRow("stopped") << "3 packets captured\n3 packets received by filter\n"
                                "0 packets dropped by kernel"
                             << 0 << true << Problem::None;
}

void TstSshCapture::classifiesWhatCannotHappenHere()
{
    QFETCH(QString, errors);
    QFETCH(int, status);
    QFETCH(bool, started);
    QTEST(SshCaptureSource::classify(errors, status, started), "problem");
}

void TstSshCapture::excerptOfWhatWasSaid_data()
{
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("shown");
    const QString r(QChar(0xFFFD));
    QTest::newRow("escape-sequences") << "\x1b[31mred\x1b[0m \x1b]0;title\x07"
                                      << r + "[31mred" + r + "[0m " + r + "]0;title" + r;
    QTest::newRow("line-ends-and-blank-lines") << "a\r\n\r\n  b  \r\n\n"
                                               << "a\nb";
    QTest::newRow("carriage-return") << "50%\r100%"
                                     << "50%" + r + "100%";
    QTest::newRow("tab-and-c1-control") << "a\tb\u009bc"
                                        << "a b" + r + "c";
    QTest::newRow("bidi-override") << "abc\u202Edcba\u2066"
                                   << "abc" + r + "dcba" + r;
    QTest::newRow("line-separator") << "a\u2028b"
                                    << "a" + r + "b";
    QTest::newRow("emoji-and-chinese") << "ok \U0001F600 远程"
                                       << "ok \U0001F600 远程";
    QStringList lines;
    for (int i = 1; i <= 30; ++i)
        lines << QStringLiteral("line %1").arg(i);
    QTest::newRow("many-lines") << lines.join(QLatin1Char('\n'))
                                << "…\n" + lines.mid(20).join(QLatin1Char('\n'));
    QTest::newRow("long-line") << QString(300, QLatin1Char('x'))
                               << QString(160, QLatin1Char('x')) + "…";
}

void TstSshCapture::excerptOfWhatWasSaid()
{
    QFETCH(QString, said);
    QTEST(text_excerpt(said), "shown");
}

// The rows of traffic on 127.0.0.1 and ::1, captured through ssh, are those
// of a direct capture of the same traffic.
void TstSshCapture::sameRowsAsDirect()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    TestSshServer server;
    QVERIFY(server.running());
    RemoteCapture remote(server.source(QStringLiteral("lo")));
    RemoteCapture direct(QStringLiteral("lo"));
    // Once both capture, the first payload arrives through both.
    const QStringList first = remote.until_a_line("GET /ready HTTP/1.1\r\n\r\n");
    QVERIFY2(!remote.observer->lines.isEmpty(),
             qPrintable((remote.observer->failures + remote.ended).join(QLatin1Char('\n'))));

    QStringList ports;
    for (int i = 0; i < 20; ++i) {
        const QByteArray request = "GET /" + QByteArray::number(i) + " HTTP/1.1\r\nHost: x\r\n\r\n";
        const QByteArray reply
                = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n" + QByteArray::number(i % 10);
        ports << QString::number(i % 2 == 0 ? exchange_on_loopback(request, reply)
                                            : exchange_on_ipv6_loopback(request, reply));
    }
    QVERIFY(!ports.contains(QStringLiteral("0")));
    const auto rows_of = [&ports](const QStringList& lines) {
        QStringList rows;
        for (const QString& line : lines) {
            const QStringList fields = line.split(QLatin1Char('|'));
            if (ports.contains(fields.value(3)) || ports.contains(fields.value(5)))
                rows << line;
        }
        rows.sort();
        return rows;
    };
    // Each exchange: handshake, request, reply, closing segments.
    QTRY_VERIFY_WITH_TIMEOUT(rows_of(direct.observer->lines).size() >= ports.size() * 5, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rows_of(remote.observer->lines), rows_of(direct.observer->lines),
                              10000);
    // Of the ssh connection itself, nothing.
    const QString ssh_port = QString::number(server.port());
    for (const QString& line : std::as_const(remote.observer->lines)) {
        const QStringList fields = line.split(QLatin1Char('|'));
        QVERIFY2(fields.value(3) != ssh_port && fields.value(5) != ssh_port, qPrintable(line));
    }
    remote.capture->stop_flag = true;
    direct.capture->stop_flag = true;
    QVERIFY(remote.capture->wait(10000));
    QVERIFY(direct.capture->wait(10000));
    QCOMPARE(remote.ended, QStringList());
}

// A remote tcpdump (a script of the test's, as the server's PATH finds it)
// that writes much to its standard error between two frames, or ends with
// escape sequences there: the second frame arrives all the same, and the
// person and the log are told in plain, short text.
void TstSshCapture::remoteThatSaysTooMuch_data()
{
    QTest::addColumn<QByteArray>("script"); // FIRST, SECOND: the frames' files
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("fails");
    QTest::newRow("much-between-frames")
            << QByteArray("cat FIRST\nyes 'tcpdump: so much to say' | head -c 7000000 >&2\n"
                          "cat SECOND\nexec sleep 60\n")
            << 2 << false;
    QTest::newRow("escape-sequences")
            << QByteArray("cat FIRST\ni=0\nwhile [ $i -lt 400 ]; do\n"
                          "  printf '\\033[2J\\033]0;owned\\007 \\342\\200\\256evil\\r\\n' >&2\n"
                          "  i=$((i+1))\ndone\nexit 1\n")
            << 1 << true;
}

void TstSshCapture::remoteThatSaysTooMuch()
{
    QFETCH(QByteArray, script);
    QFETCH(int, lines);
    QFETCH(bool, fails);
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    QTemporaryDir dir;
    Ipv4Packet packet;
    packet.payload = "first";
    const QByteArray first = ethernet(ipv4(packet));
    packet.payload = "second";
    QVERIFY(write_capture(dir.filePath(QStringLiteral("both.pcap")), DLT_EN10MB,
                          { first, ethernet(ipv4(packet)) }));
    QFile both(dir.filePath(QStringLiteral("both.pcap")));
    QVERIFY(both.open(QIODevice::ReadOnly));
    const QByteArray bytes = both.readAll();
    const int split = 24 + 16 + first.size(); // the file's header, the first record
    const auto write = [&dir](const char* name, const QByteArray& content) {
        QFile file(dir.filePath(QLatin1String(name)));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
                && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    QVERIFY(write("first", bytes.left(split)) && write("second", bytes.mid(split)));
    script.replace("FIRST", QFile::encodeName(dir.filePath(QStringLiteral("first"))));
    script.replace("SECOND", QFile::encodeName(dir.filePath(QStringLiteral("second"))));
    QVERIFY(write("tcpdump", "#!/bin/sh\n" + script));
    TestSshServer server(QStringLiteral("environment=\"PATH=%1:/usr/bin:/bin\"").arg(dir.path()));
    QVERIFY(server.running());

    if (fails) // what the log says is plain too
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^capture on ssh://[^\\x00-\\x09"
                                                               "\\x0b-\\x1f\\x7f-\\x9f]*$")));
    RemoteCapture remote(server.source(QStringLiteral("lo")));
    QTRY_COMPARE_WITH_TIMEOUT(remote.observer->lines.size(), lines, 30000);
    if (!fails) {
        QVERIFY(remote.ended.isEmpty());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(remote.ended.size(), 1, 30000);
    const QString told = remote.ended.first();
    QVERIFY2(told.startsWith(SshCaptureSource::problem_text(Problem::ConnectionDropped, QString())),
             qPrintable(told));
    QVERIFY2(inert(told), qPrintable(told));
    QVERIFY2(told.count(QLatin1Char('\n')) <= 11, qPrintable(told)); // one line and ten said
    QVERIFY2(told.contains(QLatin1String("owned")), qPrintable(told));
}

// A filter is one argument to tcpdump there, whatever it holds: it filters
// or tcpdump refuses it, and the remote shell runs none of it.
void TstSshCapture::hostileFilterStaysAFilter_data()
{
    QTest::addColumn<QString>("filter");
    QTest::newRow("semicolon") << "tcp; touch MARKER";
    QTest::newRow("subshell") << "tcp and $(touch MARKER)";
    QTest::newRow("backquotes") << "`touch MARKER`";
    QTest::newRow("single-quote") << "tcp' ; touch MARKER ; '";
    QTest::newRow("newline") << "tcp\ntouch MARKER";
}

void TstSshCapture::hostileFilterStaysAFilter()
{
    QFETCH(QString, filter);
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    TestSshServer server;
    QVERIFY(server.running());
    const QString marker = server.path(QStringLiteral("MARKER"));
    // Straight to the source: the window's own check of the filter would
    // refuse these before.
    std::atomic<bool> stop { false };
    SshCaptureSource source(server.source(QStringLiteral("lo")), stop);
    const bool opened = source.open(QString(filter).replace(QStringLiteral("MARKER"), marker));
    source.finish();
    QVERIFY2(!opened, "tcpdump takes none of these");
    QVERIFY2(source.reason().contains(QLatin1String("syntax error")), qPrintable(source.reason()));
    QVERIFY(!QFile::exists(marker));
}

// An interface name that the capture program would take may hold what a
// shell would run; quoted, it is only a name that tcpdump does not know.
void TstSshCapture::hostileInterfaceIsJustAName_data()
{
    // At most 15 characters, no slash: the marker is in the remote home.
    QTest::addColumn<QString>("interface");
    QTest::newRow("subshell") << "$(touch${IFS}M)";
    QTest::newRow("backquotes") << "`touch${IFS}M`";
    QTest::newRow("semicolon") << ";touch${IFS}M";
    QTest::newRow("quote") << "';touch${IFS}M'";
}

void TstSshCapture::hostileInterfaceIsJustAName()
{
    QFETCH(QString, interface);
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    const QString marker = QDir(QString::fromLocal8Bit(getpwuid(geteuid())->pw_dir))
                                   .filePath(QStringLiteral("M"));
    if (QFile::exists(marker))
        QSKIP("a file named M in the home folder hides what this test looks for");
    TestSshServer server;
    QVERIFY(server.running());
    RemoteCapture remote(server.source(interface));
    QTRY_VERIFY_WITH_TIMEOUT(remote.observer->finished, 30000);
    QCOMPARE(remote.observer->failures.size(), 1);
    QVERIFY2(remote.observer->failures.first().startsWith(
                     SshCaptureSource::problem_text(Problem::NoSuchInterface, QString())),
             qPrintable(remote.observer->failures.first()));
    QVERIFY(!QFile::exists(marker));
}

// Each failure for real, with what the person is told.
void TstSshCapture::toldWhatWentWrong_data()
{
    QTest::addColumn<QString>("authorizedOptions");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<Problem>("problem");
    const QString none;
    const QString key = QStringLiteral("client_key");
    QTest::newRow("unknown-host-key")
            << none << false << key << "lo" << true << Problem::UnknownHostKey;
    QTest::newRow("key-not-authorised") << none << true << "other_key"
                                        << "lo" << true << Problem::AuthenticationRefused;
    QTest::newRow("no-tcpdump") << "environment=\"PATH=/nonexistent\"" << true << key << "lo"
                                << true << Problem::NoTcpdump;
    QTest::newRow("no-such-interface")
            << none << true << key << "nosuch0" << true << Problem::NoSuchInterface;
    QTest::newRow("nothing-listening")
            << none << true << key << "lo" << false << Problem::Unreachable;
}

void TstSshCapture::toldWhatWentWrong()
{
    QFETCH(QString, authorizedOptions);
    QFETCH(bool, trusted);
    QFETCH(QString, key);
    QFETCH(QString, interface);
    QFETCH(bool, serverUp);
    QFETCH(Problem, problem);
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    TestSshServer server(authorizedOptions);
    QVERIFY(server.running());
    server.trust_host_key(trusted);
    server.use_client_key(key);
    if (!serverUp)
        server.kill_all();

    RemoteCapture remote(server.source(interface));
    QTRY_VERIFY_WITH_TIMEOUT(remote.observer->finished, 30000);
    QCOMPARE(remote.observer->failures.size(), 1);
    const QString told = remote.observer->failures.first();
    QVERIFY2(told.startsWith(SshCaptureSource::problem_text(problem, QString())), qPrintable(told));
    // With what ssh or tcpdump said.
    QVERIFY2(told.contains(QLatin1Char('\n')), qPrintable(told));
    QVERIFY(remote.observer->lines.isEmpty());
    QCOMPARE(child_processes(server), QStringList());
}

void TstSshCapture::serverGoneMidCapture()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    TestSshServer server;
    QVERIFY(server.running());
    RemoteCapture remote(server.source(QStringLiteral("lo")));
    remote.until_a_line("before the server goes");
    QVERIFY(!remote.observer->lines.isEmpty());
    const QStringList rows = remote.observer->lines;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^capture on ssh://")));
    server.kill_all();
    QTRY_VERIFY_WITH_TIMEOUT(remote.observer->finished, 30000);
    QCOMPARE(remote.ended.size(), 1);
    QVERIFY2(remote.ended.first().startsWith(
                     SshCaptureSource::problem_text(Problem::ConnectionDropped, QString())),
             qPrintable(remote.ended.first()));
    QVERIFY(remote.observer->lines.size() >= rows.size());
    QCOMPARE(child_processes(server), QStringList());
}

// A stop ends ssh here and tcpdump there, at once, also on a quiet
// interface.
void TstSshCapture::stopEndsBothSides()
{
    if (!m_skip.isEmpty())
        QSKIP(qPrintable(m_skip));
    TestSshServer server;
    QVERIFY(server.running());
    RemoteCapture remote(server.source(QStringLiteral("lo")));
    remote.until_a_line("capturing");
    QVERIFY(!remote.observer->lines.isEmpty());
    QVERIFY(server.session_programs().contains(QStringLiteral("tcpdump")));
    remote.capture->stop_flag = true;
    QVERIFY(remote.capture->wait(10000));
    QCOMPARE(child_processes(server), QStringList());
    QTRY_COMPARE_WITH_TIMEOUT(server.session_programs(), QStringList(), 5000);
    QCOMPARE(remote.ended, QStringList());
    QVERIFY(remote.observer->failures.isEmpty());

    // tcpdump ends as asked, not killed: it says what the kernel dropped.
    std::atomic<bool> stop { false };
    SshCaptureSource source(server.source(QStringLiteral("lo")), stop);
    QVERIFY2(source.open(QString()), qPrintable(source.reason()));
    stop = true;
    source.finish();
    QVERIFY(source.dropped().has_value());
    QCOMPARE(source.reason(), QString());
    QCOMPARE(child_processes(server), QStringList());
}

QTEST_GUILESS_MAIN(TstSshCapture)
#include "tst_sshcapture.moc"
