// SPDX-License-Identifier: GPL-2.0-or-later

#include <atomic>
#include <cstring>
#include <memory>

#include <pcap/pcap.h>
#include <unistd.h>

#include <QtTest>

#include "capturehelper.h"
#include "captureobserver.h"
#include "cupdate.h"
#include "testframes.h"

using namespace testframes;

// Capturing through tarnlook-capture, as a process without the privilege
// does. The capture tests proper run as nobody: run as root, asNobody gives
// a copy of the program the capabilities, as the package does, and runs
// this test program again as nobody with "-program <copy>".

namespace {

const QString kBuiltProgram = QStringLiteral(TARNLOOK_CAPTURE_PROGRAM);
// The capable copy that asNobody hands over; empty otherwise.
QString g_capable_program;

// The processes this one has started and not yet reaped, zombies included.
QStringList child_processes()
{
    QStringList pids;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(tasks.filePath(task + QStringLiteral("/children")));
        if (file.open(QIODevice::ReadOnly))
            pids += QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return pids;
}

struct ProgramScope
{
    explicit ProgramScope(const QString& path) { CaptureHelper::set_program(path); }
    ~ProgramScope() { CaptureHelper::set_program(QString()); }
};

} // namespace

class TstCaptureHelper : public QObject
{
    Q_OBJECT

private slots:
    void programFailure_data();
    void programFailure();
    void asNobody();
    // Run by asNobody, as nobody.
    void captureThroughProgram();
    void deniedWithoutPrivilege_data();
    void deniedWithoutPrivilege();
    void countsAfterStop_data();
    void countsAfterStop();
};

void TstCaptureHelper::programFailure_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("failure");
    QTest::addColumn<QString>("reason");
    const int failed = int(CaptureHelper::Failure::Failed);
    const int denied = int(CaptureHelper::Failure::Denied);
    QTest::newRow("no-such-adapter")
            << kBuiltProgram << QStringLiteral("tarnlook-none") << QString() << failed
            << QStringLiteral("tarnlook-none: no such network interface");
    // The filter reaches the program, which compiles it once the adapter is open.
    QTest::newRow("bad-filter") << kBuiltProgram << QStringLiteral("lo")
                                << QStringLiteral("tcp port") << failed
                                << QStringLiteral("filter: can't parse filter expression");
    QTest::newRow("missing-program")
            << QStringLiteral("/nonexistent/tarnlook-capture") << QStringLiteral("lo") << QString()
            << denied << QStringLiteral("No such file or directory");
    QTest::newRow("not-executable")
            << QStringLiteral(TARNLOOK_NOT_A_PROGRAM) << QStringLiteral("lo") << QString() << denied
            << QStringLiteral("Permission denied");
}

void TstCaptureHelper::programFailure()
{
    QFETCH(QString, program);
    QFETCH(QString, adapter);
    QFETCH(QString, filter);
    QFETCH(int, failure);
    QFETCH(QString, reason);
    QString direct;
    if (!filter.isEmpty() && !can_capture_on_loopback(&direct))
        QSKIP("the program opens the adapter before it reads the filter; this needs root");

    const ProgramScope scope(program);
    std::atomic<bool> stop { false };
    CaptureHelper helper(stop);
    QCOMPARE(helper.open(adapter, filter), nullptr);
    QCOMPARE(int(helper.failure()), failure);
    QVERIFY2(helper.reason().contains(reason), qPrintable(helper.reason()));
    QCOMPARE(helper.pid(), 0);
    QCOMPARE(child_processes(), QStringList()); // reaped
}

void TstCaptureHelper::asNobody()
{
    if (geteuid() != 0)
        QSKIP("gives a copy of tarnlook-capture capabilities, which needs root");

    // As the package installs it: root, the group of its users, 0750, and
    // the one capability.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QFile::setPermissions(dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                          | QFile::ReadOther | QFile::ExeOther));
    const QString copy = dir.filePath(QStringLiteral("tarnlook-capture"));
    QVERIFY(QFile::copy(kBuiltProgram, copy));
    const auto run = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(program, arguments);
        return process.waitForFinished(10000) && process.exitCode() == 0;
    };
    QVERIFY(run(QStringLiteral("chgrp"), { QStringLiteral("nogroup"), copy }));
    QVERIFY(run(QStringLiteral("chmod"), { QStringLiteral("0750"), copy }));
    if (!run(QStringLiteral("setcap"), { QStringLiteral("cap_net_raw=ep"), copy }))
        QSKIP("setcap failed: no setcap (libcap2-bin), or no file capabilities here");

    QProcess nobody;
    nobody.setProcessChannelMode(QProcess::MergedChannels);
    nobody.start(QStringLiteral("runuser"),
                 { QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                   QCoreApplication::applicationFilePath(), QStringLiteral("-program"), copy,
                   QStringLiteral("captureThroughProgram"),
                   QStringLiteral("deniedWithoutPrivilege"),
                   QStringLiteral("countsAfterStop:capture-program") });
    QVERIFY(nobody.waitForFinished(60000));
    const QString log = QString::fromLocal8Bit(nobody.readAll());
    QVERIFY2(nobody.exitCode() == 0, qPrintable(log));
    // Run, not skipped.
    QVERIFY2(log.contains(QStringLiteral("PASS   : TstCaptureHelper::captureThroughProgram()")),
             qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("PASS   : TstCaptureHelper::deniedWithoutPrivilege(")),
             qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("PASS   : TstCaptureHelper::countsAfterStop(")),
             qPrintable(log));
}

void TstCaptureHelper::captureThroughProgram()
{
    QString reason;
    if (can_capture_on_loopback(&reason))
        QSKIP("this process captures by itself; asNobody runs this as nobody");
    if (g_capable_program.isEmpty())
        QSKIP("needs a tarnlook-capture with capabilities; asNobody, run as root, hands one over");

    const ProgramScope scope(g_capable_program);
    auto capture = std::make_unique<CUpdate>(FilterSettings {});
    CaptureObserver observer(*capture);
    capture->adapter_name = QStringLiteral("lo");
    capture->start();

    const QByteArray request("through the program \x01", 21);
    const QString requestHex = QString::fromLatin1(request.toHex().toUpper());
    QStringList ports;
    const auto sent = [&] {
        for (const QString& line : std::as_const(observer.lines))
            if (line.section(QLatin1Char('|'), 7, 7) == requestHex)
                return line.split(QLatin1Char('|'));
        return QStringList();
    };
    for (int attempt = 0; attempt < 30 && sent().isEmpty() && !observer.finished; ++attempt) {
        ports.append(QString::number(exchange_on_loopback(request, "reply")));
        if (QTest::qWaitFor([&] { return !sent().isEmpty(); }, 1500))
            break;
    }
    QVERIFY2(observer.failures.isEmpty() && observer.denials.isEmpty(),
             qPrintable((observer.failures + observer.denials).join(QLatin1Char('\n'))));
    const QStringList line = sent();
    QCOMPARE(line.size(), 8);
    QCOMPARE(line.at(2), QStringLiteral("127.0.0.1"));
    QVERIFY(ports.contains(line.at(5)));
    QCOMPARE(line.at(6), QString::number(request.size()));
    QVERIFY(!child_processes().isEmpty()); // the program

    // Stop ends the program with the capture, and reaps it.
    capture->stop_flag = true;
    QVERIFY2(capture->wait(5000), "the capture ends soon after the stop flag");
    QCOMPARE(child_processes(), QStringList());
    QTRY_VERIFY(observer.finished);
}

void TstCaptureHelper::deniedWithoutPrivilege_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("reason");
    QTest::newRow("program-without-capabilities")
            << kBuiltProgram << QStringLiteral("socket: Operation not permitted");
    QTest::newRow("no-program") << QStringLiteral("/nonexistent/tarnlook-capture")
                                << QStringLiteral("No such file or directory");
}

void TstCaptureHelper::deniedWithoutPrivilege()
{
    QFETCH(QString, program);
    QFETCH(QString, reason);
    QString direct;
    if (can_capture_on_loopback(&direct))
        QSKIP("this process captures by itself; asNobody runs this as nobody");

    const ProgramScope scope(program);
    CUpdate capture(FilterSettings {});
    CaptureObserver observer(capture);
    capture.adapter_name = QStringLiteral("lo");
    capture.start();
    QTRY_VERIFY_WITH_TIMEOUT(observer.finished, 10000);
    QCOMPARE(observer.failures, QStringList());
    QCOMPARE(observer.denials.size(), 1);
    QVERIFY2(observer.denials.first().contains(reason), qPrintable(observer.denials.first()));
    QVERIFY(observer.lines.isEmpty());
    QCOMPARE(child_processes(), QStringList());
}

// After a stop the program says how many frames the kernel dropped, for the
// window's title; a stand-in program shows what is read from its last words.
void TstCaptureHelper::countsAfterStop_data()
{
    // The stand-in's standard error when it stops; empty: the real program.
    QTest::addColumn<QByteArray>("lastWords");
    QTest::addColumn<bool>("told");
    QTest::addColumn<qint64>("dropped"); // -1: any count
    QTest::newRow("counts") << QByteArray("tarnlook-capture: received 10 dropped 3") << true
                            << qint64(3);
    QTest::newRow("no-counts") << QByteArray("tarnlook-capture: stopped") << false << qint64(-1);
    QTest::newRow("capture-program") << QByteArray() << true << qint64(-1);
}

void TstCaptureHelper::countsAfterStop()
{
    QFETCH(QByteArray, lastWords);
    QFETCH(bool, told);
    QFETCH(qint64, dropped);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString program = g_capable_program;
    if (!lastWords.isEmpty()) {
        // Deaf to SIGTERM, a pcap file header (little-endian, Ethernet),
        // then silence until its input closes.
        program = dir.filePath(QStringLiteral("stand-in"));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "trap '' TERM\n"
                     "printf '\\324\\303\\262\\241\\002\\000\\004\\000\\000\\000\\000\\000"
                     "\\000\\000\\000\\000\\000\\000\\004\\000\\001\\000\\000\\000'\n"
                     "cat >/dev/null\n"
                     "echo '"
                     + lastWords + "' >&2\n");
        script.close();
        QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    } else if (program.isEmpty()) {
        QSKIP("needs a tarnlook-capture with capabilities; asNobody, run as root, hands one over");
    }

    const ProgramScope scope(program);
    std::atomic<bool> stop { false };
    CaptureHelper helper(stop);
    pcap_t* stream = helper.open(QStringLiteral("lo"), QString());
    QVERIFY2(stream != nullptr, qPrintable(helper.reason()));
    pcap_close(stream);
    QVERIFY(!helper.dropped().has_value());
    helper.finish();
    QCOMPARE(int(helper.failure()), int(CaptureHelper::Failure::None));
    QCOMPARE(helper.dropped().has_value(), told);
    if (told && dropped >= 0)
        QCOMPARE(qint64(*helper.dropped()), dropped);
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // "-program PATH": the capable copy of the program, from asNobody.
    QStringList arguments = app.arguments();
    const int at = arguments.indexOf(QStringLiteral("-program"));
    if (at > 0 && at + 1 < arguments.size()) {
        g_capable_program = arguments.at(at + 1);
        arguments.erase(arguments.begin() + at, arguments.begin() + at + 2);
    }
    TstCaptureHelper test;
    return QTest::qExec(&test, arguments);
}

#include "tst_capturehelper.moc"
