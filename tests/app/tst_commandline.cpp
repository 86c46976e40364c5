// SPDX-License-Identifier: GPL-2.0-or-later

#include <csignal>

#include <unistd.h>

#include <QProcess>
#include <QtTest>

#include "cjktext.h"
#include "commandline.h"
#include "testframes.h"

namespace {

// This process's environment with LANG alone choosing the language.
QProcessEnvironment environment_in(const QString& lang)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : { "LC_ALL", "LC_MESSAGES", "LANGUAGE" })
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("LANG"), lang);
    return environment;
}

} // namespace

class TstCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void program_data();
    void program();
    void helpInOneLanguage_data();
    void helpInOneLanguage();
    void warnsWhenPrivileged_data();
    void warnsWhenPrivileged();
    void signalEndsCleanly_data();
    void signalEndsCleanly();
};

void TstCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<bool>("start");

    const QString self = QFINDTESTDATA("tst_commandline.cpp"); // a file that exists
    QTest::newRow("nothing") << QStringList() << true << 0 << QString() << false;
    QTest::newRow("file") << QStringList { self } << true << 0 << QString() << false;
    QTest::newRow("adapter-and-start")
            << QStringList { "-i", "lo", "-k" } << true << 0 << "lo" << true;
    QTest::newRow("long-adapter") << QStringList { "--interface=eth0" } << true << 0 << "eth0"
                                  << false;
    QTest::newRow("remote-adapter")
            << QStringList { "-i", "ssh://admin@server.example.org/eth0", "-k" } << true << 0
            << "ssh://admin@server.example.org/eth0" << true;
    QTest::newRow("remote-host-as-option") << QStringList { "-i", "ssh://-oProxyCommand=x/eth0" }
                                           << false << 2 << QString() << false;
    QTest::newRow("help") << QStringList { "--help" } << false << 0 << QString() << false;
    QTest::newRow("version") << QStringList { "--version" } << false << 0 << QString() << false;
    QTest::newRow("bad-option") << QStringList { "--bogus" } << false << 2 << QString() << false;
    QTest::newRow("missing-file") << QStringList { "/nonexistent/x.pcap" } << false << 2
                                  << QString() << false;
    QTest::newRow("folder") << QStringList { QDir::tempPath() } << false << 2 << QString() << false;
    QTest::newRow("two-files") << QStringList { self, self } << false << 2 << QString() << false;
    QTest::newRow("start-without-adapter")
            << QStringList { "-k" } << false << 2 << QString() << false;
    QTest::newRow("adapter-without-value")
            << QStringList { "-i" } << false << 2 << QString() << false;
    QTest::newRow("hex") << QStringList { "--hex", self } << true << 0 << QString() << false;
    QTest::newRow("hex-joined") << QStringList { "--hex=" + self } << true << 0 << QString()
                                << false;
    QTest::newRow("hex-without-value")
            << QStringList { "--hex" } << false << 2 << QString() << false;
    QTest::newRow("hex-missing-file")
            << QStringList { "--hex", "/nonexistent/x.bin" } << false << 2 << QString() << false;
    QTest::newRow("hex-with-capture")
            << QStringList { "--hex", self, "-i", "lo" } << false << 2 << QString() << false;
}

void TstCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, runs);
    QFETCH(int, exitCode);
    QFETCH(QString, adapter);
    QFETCH(bool, start);

    CommandLine commandLine;
    const auto outcome = commandLine.parse(QStringList { QStringLiteral("tarnlook") } + arguments);
    QCOMPARE(outcome == CommandLine::Outcome::Run, runs);
    QCOMPARE(commandLine.exitCode(), exitCode);
    if (runs) {
        QCOMPARE(commandLine.adapter, adapter);
        QCOMPARE(commandLine.start_capture, start);
        QCOMPARE(commandLine.hex_file.isEmpty(),
                 !arguments.join(QLatin1Char(' ')).contains("--hex"));
    } else {
        QVERIFY(!commandLine.output().isEmpty()); // help, version or why not
    }
}

void TstCommandLine::program_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // a part of stdout or stderr
    QTest::newRow("version") << QStringList { "--version" } << 0 << "tarnlook 0.1";
    QTest::newRow("help") << QStringList { "--help" } << 0 << "--interface";
    QTest::newRow("bad-option") << QStringList { "-z" } << 2 << "Unknown option 'z'";
    QTest::newRow("missing-file") << QStringList { "/nonexistent/x.pcap" } << 2
                                  << "/nonexistent/x.pcap";
    QTest::newRow("unknown-adapter")
            << QStringList { "-i", "no-such-adapter0" } << 2 << "no-such-adapter0";
}

void TstCommandLine::program()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    QProcess process;
    // In English, Qt's own messages included.
    process.setProcessEnvironment(environment_in(QStringLiteral("en_US.UTF-8")));
    process.start(QStringLiteral(TARNLOOK_BINARY), arguments);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QString said = QString::fromLocal8Bit(process.readAllStandardOutput()
                                                + process.readAllStandardError());
    QVERIFY2(said.contains(output), qPrintable(said));
}

void TstCommandLine::helpInOneLanguage_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<QString>("said"); // the description of -i
    QTest::addColumn<bool>("chinese"); // else no Chinese at all
    QTest::newRow("english") << "en_US.UTF-8"
                             << "Choose the adapter to capture on" << false;
    QTest::newRow("german") << "de_DE.UTF-8"
                            << "Choose the adapter to capture on" << false;
    QTest::newRow("chinese") << "zh_CN.UTF-8"
                             << "选择要捕获的网卡" << true;
}

void TstCommandLine::helpInOneLanguage()
{
    QFETCH(QString, lang);
    QFETCH(QString, said);
    QFETCH(bool, chinese);

    QProcess process;
    process.setProcessEnvironment(environment_in(lang));
    process.start(QStringLiteral(TARNLOOK_BINARY), { QStringLiteral("--help") });
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(help.contains(said), qUtf8Printable(help));
    // Qt's own lines (--help, --version) included.
    if (chinese)
        QVERIFY2(!help.contains(QLatin1String("Displays")), qUtf8Printable(help));
    else
        QVERIFY2(!cjktext::has_cjk(help), qUtf8Printable(help));
}

void TstCommandLine::warnsWhenPrivileged_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("capabilities"); // given to a copy of the program
    QTest::addColumn<bool>("warns");
    QTest::newRow("root") << "root" << QString() << true;
    QTest::newRow("ordinary-user") << "nobody" << QString() << false;
    QTest::newRow("user-with-capability") << "nobody"
                                          << "cap_net_raw=ep" << true;
    QTest::newRow("user-with-permitted-capability") << "nobody"
                                                    << "cap_net_raw=p" << true;
}

void TstCommandLine::warnsWhenPrivileged()
{
    QFETCH(QString, user);
    QFETCH(QString, capabilities);
    QFETCH(bool, warns);
    if (geteuid() != 0)
        QSKIP("runs the program as root and as nobody, which needs root");

    // Ends after the window is built: the adapter does not exist.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadOther | QFile::ExeOther));
    QString program = QStringLiteral(TARNLOOK_BINARY);
    if (!capabilities.isEmpty()) {
#ifdef TARNLOOK_SANITIZED
        // Not dumpable, such a process cannot read its /proc/self/environ,
        // where the sanitizers look for their options: the leak check then
        // reports Qt's leaks, which the options suppress, and fails it.
        QSKIP("a sanitized program given capabilities runs without its sanitizer options");
#endif
        const QString copy = dir.filePath(QStringLiteral("tarnlook"));
        QVERIFY(QFile::copy(program, copy));
        QProcess setcap;
        setcap.start(QStringLiteral("setcap"), { capabilities, copy });
        if (!setcap.waitForFinished(10000) || setcap.exitCode() != 0)
            QSKIP("setcap failed: no setcap (libcap2-bin), or no file capabilities here");
        program = copy;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Settings of its own: runuser gives root its own HOME back, but keeps
    // XDG_CONFIG_HOME.
    environment.insert(QStringLiteral("HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR")); // root's
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("runuser"),
                  { QStringLiteral("-u"), user, QStringLiteral("--"), program, QStringLiteral("-i"),
                    QStringLiteral("no-such-adapter0") });
    QVERIFY(process.waitForFinished(30000));
    const QString said = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitCode(), 2);
    // Once, and about the group; the window starts all the same.
    QCOMPARE(said.count(QStringLiteral("usermod -aG tarnlook")), warns ? 1 : 0);
    QVERIFY2(said.contains(QStringLiteral("no-such-adapter0")), qPrintable(said));
}

void TstCommandLine::signalEndsCleanly_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("live"); // else rows from a capture file
    QTest::newRow("SIGTERM, capturing") << int(SIGTERM) << true;
    QTest::newRow("SIGINT, capturing") << int(SIGINT) << true;
    QTest::newRow("SIGTERM, rows from a file") << int(SIGTERM) << false;
}

void TstCommandLine::signalEndsCleanly()
{
    QFETCH(int, signal);
    QFETCH(bool, live);
    QString reason;
    if (live && !testframes::can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));

    // A private runtime folder, where the store goes, shows what the program
    // leaves behind.
    QTemporaryDir temp;
    QVERIFY(temp.isValid());
    QTemporaryDir input;
    QVERIFY(input.isValid());
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), temp.path());
    // Settings of its own: lists ticked in the user's would refuse the rows.
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), input.filePath(QStringLiteral("config")));
    process.setProcessEnvironment(environment);
    if (live) {
        process.start(QStringLiteral(TARNLOOK_BINARY), { "-i", "lo", "-k" });
        QVERIFY(process.waitForStarted());
        // Capturing: the store's folder is there and a frame reaches it.
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(temp.path()).isEmpty(), 10000);
        testframes::exchange_on_loopback("tarnlook signal");
    } else {
        // Rows enough that the store's file grows past its write buffer.
        testframes::Ipv4Packet packet;
        packet.payload = QByteArray(1000, 'r');
        const QVector<QByteArray> frames(2000, testframes::ethernet(testframes::ipv4(packet)));
        const QString file = input.filePath(QStringLiteral("rows.pcap"));
        QVERIFY(testframes::write_capture(file, DLT_EN10MB, frames));
        process.start(QStringLiteral(TARNLOOK_BINARY), { file });
        QVERIFY(process.waitForStarted());
        const auto stored = [&temp] {
            QDirIterator files(temp.path(), { QStringLiteral("*.pcap") }, QDir::Files,
                               QDirIterator::Subdirectories);
            return files.hasNext() && QFileInfo(files.next()).size() > (1 << 20);
        };
        QTRY_VERIFY_WITH_TIMEOUT(stored(), 10000);
    }

    ::kill(static_cast<pid_t>(process.processId()), signal);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY2(QDir(temp.path()).isEmpty(),
             qPrintable(QDir(temp.path())
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                                .join(' ')));
}

QTEST_MAIN(TstCommandLine)
#include "tst_commandline.moc"
