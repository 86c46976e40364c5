// SPDX-License-Identifier: GPL-2.0-or-later

#include <algorithm>
#include <csignal>

#include <pcap/pcap.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtTest>

#include "testframes.h"

using namespace testframes;

// The capture program, tarnlook-capture, run as the window runs it: frames
// in pcap format on its standard output, reasons on its standard error.

namespace {

const QString kProgram = QStringLiteral(TARNLOOK_CAPTURE_PROGRAM);
constexpr int kPcapFileHeader = 24;

struct Frame
{
    QByteArray bytes;
    bpf_u_int32 length = 0;
    bool operator==(const Frame& other) const
    {
        return bytes == other.bytes && length == other.length;
    }
};

// The frames of a pcap stream (from a file or a live handle) that carry
// TCP between 127.0.0.1 and the given port, either way, in order.
QVector<Frame> frames_of_port(pcap_t* handle, std::uint16_t port)
{
    QVector<Frame> frames;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = 0;
    while ((result = pcap_next_ex(handle, &header, &data)) >= 0) {
        if (result == 0)
            break; // a live handle with nothing more for now
        const QByteArray bytes(reinterpret_cast<const char*>(data), int(header->caplen));
        // Ethernet II on lo: IPv4 at 14, TCP ports at 34 and 36.
        if (bytes.size() < 38 || bytes.at(23) != 6)
            continue;
        const auto port_at = [&](int at) {
            return std::uint16_t((std::uint8_t(bytes.at(at)) << 8)
                                 | std::uint8_t(bytes.at(at + 1)));
        };
        if (port_at(34) == port || port_at(36) == port)
            frames.append({ bytes, header->len });
    }
    return frames;
}

QVector<Frame> frames_of_file(const QString& path, std::uint16_t port)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.toLocal8Bit().constData(), errbuf);
    if (file == nullptr) {
        qWarning("%s: %s", qPrintable(path), errbuf);
        return {};
    }
    const QVector<Frame> frames = frames_of_port(file, port);
    pcap_close(file);
    return frames;
}

bool is_root()
{
    return geteuid() == 0;
}

} // namespace

class TstCaptureProgram : public QObject
{
    Q_OBJECT

private slots:
    void refusesCommandLine_data();
    void refusesCommandLine();
    void streamMatchesDirectCapture_data();
    void streamMatchesDirectCapture();
    void deniedWithLibpcapReason();
    void rawCapabilityIsEnough_data();
    void rawCapabilityIsEnough();
    void endsWhenReaderKilled();
};

void TstCaptureProgram::refusesCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    const QString lo = QStringLiteral("lo");
    QTest::newRow("none") << QStringList {} << 2;
    QTest::newRow("bare-name") << QStringList { lo } << 2;
    QTest::newRow("no-value") << QStringList { QStringLiteral("-i") } << 2;
    QTest::newRow("twice") << QStringList { QStringLiteral("-i"), lo, QStringLiteral("-i"), lo }
                           << 2;
    QTest::newRow("unknown-option")
            << QStringList { QStringLiteral("-i"), lo, QStringLiteral("-w"), QStringLiteral("x") }
            << 2;
    QTest::newRow("filter-without-value")
            << QStringList { QStringLiteral("-i"), lo, QStringLiteral("-f") } << 2;
    QTest::newRow("filter-only") << QStringList { QStringLiteral("-f"), QStringLiteral("tcp") }
                                 << 2;
    QTest::newRow("bad-filter") << QStringList { QStringLiteral("-i"), lo, QStringLiteral("-f"),
                                                 QStringLiteral("tcp port") }
                                << 2;
    QTest::newRow("filter-control-char")
            << QStringList { QStringLiteral("-i"), lo, QStringLiteral("-f"),
                             QStringLiteral("tcp\n") }
            << 2;
    QTest::newRow("filter-too-long")
            << QStringList { QStringLiteral("-i"), lo, QStringLiteral("-f"),
                             QStringLiteral("tcp or ").repeated(1000) + QStringLiteral("tcp") }
            << 2;
    for (const char* name :
         { "dbus-session", "dbus-system", "bluetooth0", "usbmon0", "nflog", "nfqueue" })
        QTest::newRow(name) << QStringList { QStringLiteral("-i"), QLatin1String(name) } << 2;
    QTest::newRow("path") << QStringList { QStringLiteral("-i"), QStringLiteral("/dev/null") } << 2;
    QTest::newRow("url") << QStringList { QStringLiteral("-i"), QStringLiteral("rpcap://lo") } << 2;
    QTest::newRow("empty-name") << QStringList { QStringLiteral("-i"), QString() } << 2;
    QTest::newRow("name-too-long")
            << QStringList { QStringLiteral("-i"), QStringLiteral("abcdefghijklmnop") } << 2;
    QTest::newRow("option-as-name")
            << QStringList { QStringLiteral("-i"), QStringLiteral("-f") } << 2;
    QTest::newRow("no-such-interface")
            << QStringList { QStringLiteral("-i"), QStringLiteral("tarnlook-none") } << 1;
}

void TstCaptureProgram::refusesCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);

    QProcess program;
    program.start(kProgram, arguments);
    QVERIFY2(program.waitForFinished(10000), "refused at once");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), status);
    QCOMPARE(program.readAllStandardOutput(), QByteArray()); // no capture began
    const QByteArray reason = program.readAllStandardError();
    QVERIFY2(reason.startsWith("tarnlook-capture: ") && reason.size() > 20, reason.constData());
}

void TstCaptureProgram::streamMatchesDirectCapture_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<bool>("bySignal");
    QTest::newRow("input-closed") << QStringList {} << false;
    QTest::newRow("sigterm-with-filter")
            << QStringList { QStringLiteral("-f"), QStringLiteral("tcp and host 127.0.0.1") }
            << true;
}

void TstCaptureProgram::streamMatchesDirectCapture()
{
    QFETCH(QStringList, extra);
    QFETCH(bool, bySignal);
    QString reason;
    if (!can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* direct = pcap_open_live("lo", 65536, 1, 1000, errbuf);
    QVERIFY2(direct != nullptr, errbuf);
    const auto closeDirect = qScopeGuard([direct] { pcap_close(direct); });
    QVERIFY(pcap_setnonblock(direct, 1, errbuf) == 0);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("helper.pcap"));
    QProcess program;
    program.setStandardOutputFile(path);
    program.start(kProgram, QStringList { QStringLiteral("-i"), QStringLiteral("lo") } + extra);
    const auto endProgram = qScopeGuard([&program] {
        program.kill();
        program.waitForFinished();
    });
    // The file header comes once the interface is open.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() >= kPcapFileHeader, 10000);

    const QByteArray payload("tarnlook helper \x00\x01\x02", 19);
    const QByteArray reply("helper reply");
    const std::uint16_t port = exchange_on_loopback(payload, reply);
    QVERIFY(port != 0);

    // Frames appear once the kernel hands over their block (up to the 1 s
    // read timeout); both sides then hold the whole exchange, the reply too.
    QVector<Frame> expected;
    const auto sameFrames = [&] {
        expected += frames_of_port(direct, port);
        const bool replied = std::any_of(expected.cbegin(), expected.cend(),
                                         [&](const Frame& f) { return f.bytes.endsWith(reply); });
        return replied && frames_of_file(path, port) == expected;
    };
    QTRY_VERIFY_WITH_TIMEOUT(sameFrames(), 10000);

    if (bySignal)
        program.terminate();
    else
        program.closeWriteChannel();
    QVERIFY2(program.waitForFinished(5000), "the program ends when asked");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    // A stop leaves the kernel's counts, and nothing else.
    const QString said = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(QRegularExpression(QStringLiteral("^tarnlook-capture: received \\d+ dropped \\d+\n$"))
                     .match(said)
                     .hasMatch(),
             qPrintable(said));

    // Nothing lost at the end either: the stream is whole and holds at least
    // what the direct capture held.
    const QVector<Frame> streamed = frames_of_file(path, port);
    QVERIFY(streamed.size() >= expected.size());
    QVERIFY(streamed.mid(0, expected.size()) == expected);
}

void TstCaptureProgram::deniedWithLibpcapReason()
{
    if (!is_root())
        QSKIP("runs the program as nobody, which needs root");

    // The built program carries no capabilities: as nobody, libpcap may not
    // open the socket.
    QProcess program;
    program.start(QStringLiteral("runuser"),
                  { QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), kProgram,
                    QStringLiteral("-i"), QStringLiteral("lo") });
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 77);
    QCOMPARE(program.readAllStandardOutput(), QByteArray());
    const QString reason = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(reason.contains(QStringLiteral("Operation not permitted")), qPrintable(reason));
}

void TstCaptureProgram::rawCapabilityIsEnough_data()
{
    QTest::addColumn<QString>("adapter");
    QTest::newRow("lo") << QStringLiteral("lo");
    QTest::newRow("any") << QStringLiteral("any");
}

void TstCaptureProgram::rawCapabilityIsEnough()
{
    QFETCH(QString, adapter);
    if (!is_root())
        QSKIP("gives a copy of the program a capability and runs it as nobody, which needs root");

    // A copy as the package installs it, with cap_net_raw and nothing else,
    // run by an ordinary user.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadOther | QFile::ExeOther));
    const QString copy = dir.filePath(QStringLiteral("tarnlook-capture"));
    QVERIFY(QFile::copy(kProgram, copy));
    QProcess setcap;
    setcap.start(QStringLiteral("setcap"), { QStringLiteral("cap_net_raw=ep"), copy });
    if (!setcap.waitForFinished(10000) || setcap.exitCode() != 0)
        QSKIP("setcap failed: no setcap (libcap2-bin), or no file capabilities here");

    const QString path = dir.filePath(QStringLiteral("capture.pcap"));
    QProcess program;
    program.setStandardOutputFile(path);
    program.start(QStringLiteral("runuser"),
                  { QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"), copy,
                    QStringLiteral("-i"), adapter });
    const auto endProgram = qScopeGuard([&program] {
        program.closeWriteChannel();
        if (!program.waitForFinished(5000))
            program.kill();
        program.waitForFinished();
    });
    // The file header comes once the interface is open, in promiscuous mode
    // (which the program always asks for and libpcap refuses to leave out).
    QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo(path).size() >= kPcapFileHeader
                                      || program.state() == QProcess::NotRunning,
                              "the program starts or ends", 10000);
    QVERIFY2(QFileInfo(path).size() >= kPcapFileHeader, program.readAllStandardError().constData());
    if (adapter == QLatin1String("lo")) {
        // The kernel's count of promiscuous users shows in the flags.
        QFile flags(QStringLiteral("/sys/class/net/lo/flags"));
        QVERIFY(flags.open(QIODevice::ReadOnly));
        QVERIFY(flags.readAll().trimmed().toUInt(nullptr, 16) & 0x100); // IFF_PROMISC
    }

    const QByteArray payload("captured with cap_net_raw alone");
    QVERIFY(exchange_on_loopback(payload, "reply") != 0);
    const auto captured = [&path, &payload] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains(payload);
    };
    QTRY_VERIFY_WITH_TIMEOUT(captured(), 10000);
    program.closeWriteChannel();
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
}

void TstCaptureProgram::endsWhenReaderKilled()
{
    QString reason;
    if (!can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));

    // The reader is a child of its own that starts the program with pipes
    // for both ends, as the window does; the program then becomes this
    // process's to reap.
    QVERIFY(prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0);
    const auto noSubreaper = qScopeGuard([] { prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0); });
    const QByteArray program = kProgram.toLocal8Bit();
    int report[2];
    QVERIFY(pipe(report) == 0);
    const pid_t reader = fork();
    QVERIFY(reader >= 0);
    if (reader == 0) {
        int input[2];
        int output[2];
        if (pipe(input) != 0 || pipe(output) != 0)
            _exit(1);
        const pid_t capture = fork();
        if (capture == 0) {
            close(input[1]);
            close(output[0]);
            dup2(input[0], STDIN_FILENO);
            dup2(output[1], STDOUT_FILENO);
            execl(program.constData(), program.constData(), "-i", "lo", nullptr);
            _exit(127);
        }
        close(input[0]);
        close(output[1]);
        char header[kPcapFileHeader];
        const bool started = read(output[0], header, sizeof header) == kPcapFileHeader;
        const pid_t reported = started ? capture : 0;
        if (write(report[1], &reported, sizeof reported) != sizeof reported)
            _exit(1);
        pause(); // until killed
        _exit(0);
    }
    close(report[1]);
    pid_t capture = 0;
    const bool reported = read(report[0], &capture, sizeof capture) == sizeof capture;
    close(report[0]);
    kill(reader, SIGKILL);
    QCOMPARE(waitpid(reader, nullptr, 0), reader);
    QVERIFY2(reported && capture > 0, "the program started capturing");

    // Reaped here, or by Qt's child handler of the process tests above.
    const QString proc = QStringLiteral("/proc/%1").arg(capture);
    QTRY_VERIFY2_WITH_TIMEOUT(waitpid(capture, nullptr, WNOHANG) == capture
                                      || !QFileInfo::exists(proc),
                              "the program ends with its reader", 5000);
}

QTEST_GUILESS_MAIN(TstCaptureProgram)
#include "tst_captureprogram.moc"
