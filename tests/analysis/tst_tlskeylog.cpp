// SPDX-License-Identifier: GPL-2.0-or-later

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "tlskeylog.h"

// Reading key logs as the TLS libraries write them: which lines give which
// secret, which are skipped and which are counted as malformed, and a file
// that grows (or is replaced) while it is watched.

namespace {

std::array<std::uint8_t, 32> random_of(char fill)
{
    std::array<std::uint8_t, 32> random {};
    random.fill(static_cast<std::uint8_t>(fill));
    return random;
}

// "<label> <random of `fill` bytes> <secret of `digits` hex digits>"
QByteArray line(const char* label, char fill, int digits, char digit = 'a')
{
    return QByteArray(label) + ' ' + QByteArray(32, fill).toHex() + ' ' + QByteArray(digits, digit);
}

QByteArray secret_hex(const TlsSecret& secret)
{
    return QByteArray(reinterpret_cast<const char*>(secret.bytes.data()), secret.length).toHex();
}

} // namespace

class TstTlsKeyLog : public QObject
{
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void splitAnywhere();
    void followsAGrowingFile();
    void refusesWhatCannotBeRead();
};

void TstTlsKeyLog::lines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("label"); // TlsSecrets::Label found for random 0x11, -1: none
    QTest::addColumn<QByteArray>("secret"); // its hex
    QTest::addColumn<int>("malformed");

    const QByteArray a96(96, 'a');
    const QByteArray a64(64, 'a');
    QTest::newRow("client-random") << line("CLIENT_RANDOM", 0x11, 96) << 0 << a96 << 0;
    QTest::newRow("handshake-client")
            << line("CLIENT_HANDSHAKE_TRAFFIC_SECRET", 0x11, 64) << 1 << a64 << 0;
    QTest::newRow("handshake-server")
            << line("SERVER_HANDSHAKE_TRAFFIC_SECRET", 0x11, 96) << 2 << a96 << 0;
    QTest::newRow("traffic-client") << line("CLIENT_TRAFFIC_SECRET_0", 0x11, 64) << 3 << a64 << 0;
    QTest::newRow("traffic-server") << line("SERVER_TRAFFIC_SECRET_0", 0x11, 64) << 4 << a64 << 0;
    QTest::newRow("upper-case-crlf")
            << line("CLIENT_RANDOM", 0x11, 96, 'F') + "\r" << 0 << QByteArray(96, 'f') << 0;
    QTest::newRow("tabs-and-spaces")
            << "\t" + line("CLIENT_RANDOM", 0x11, 96).replace(' ', "  \t") + "  " << 0 << a96 << 0;
    QTest::newRow("later-wins") << line("CLIENT_RANDOM", 0x11, 96) + "\n"
                    + line("CLIENT_RANDOM", 0x11, 96, 'b')
                                << 0 << QByteArray(96, 'b') << 0;
    QTest::newRow("comment") << "# " + line("CLIENT_RANDOM", 0x11, 96) << -1 << QByteArray() << 0;
    QTest::newRow("blank") << QByteArray(" \t\r") << -1 << QByteArray() << 0;
    QTest::newRow("unused-label") << line("EXPORTER_SECRET", 0x11, 64) + "\n"
                    + line("CLIENT_EARLY_TRAFFIC_SECRET", 0x11, 64) + "\n"
                    + line("CLIENT_TRAFFIC_SECRET_N", 0x11, 64)
                                  << -1 << QByteArray() << 0;
    QTest::newRow("other-random") << line("CLIENT_RANDOM", 0x22, 96) << -1 << QByteArray() << 0;
    QTest::newRow("master-too-short") << line("CLIENT_RANDOM", 0x11, 64) << -1 << QByteArray() << 1;
    QTest::newRow("secret-odd-length")
            << line("CLIENT_TRAFFIC_SECRET_0", 0x11, 63) << -1 << QByteArray() << 1;
    QTest::newRow("not-hex") << line("CLIENT_RANDOM", 0x11, 96, 'g') << -1 << QByteArray() << 1;
    QTest::newRow("random-short") << QByteArray("CLIENT_RANDOM abcd ") + a96 << -1 << QByteArray()
                                  << 1;
    QTest::newRow("field-missing") << QByteArray("CLIENT_RANDOM ") + QByteArray(32, 0x11).toHex()
                                   << -1 << QByteArray() << 1;
    QTest::newRow("field-too-many")
            << line("CLIENT_RANDOM", 0x11, 96) + " x" << -1 << QByteArray() << 1;
    QTest::newRow("no-label") << QByteArray("hello world") << -1 << QByteArray() << 1;
    QTest::newRow("lower-case-label") << line("client_random", 0x11, 96) << -1 << QByteArray() << 1;
    QTest::newRow("over-long") << QByteArray(5000, 'A') + "\n" + line("CLIENT_RANDOM", 0x11, 96)
                               << 0 << a96 << 1;
    QTest::newRow("binary") << QByteArray("\x00\xff\x01 CLIENT_RANDOM", 17) << -1 << QByteArray()
                            << 1;
}

void TstTlsKeyLog::lines()
{
    QFETCH(QByteArray, text);
    QFETCH(int, label);
    QFETCH(QByteArray, secret);
    QFETCH(int, malformed);

    TlsKeyLog log;
    log.add(text.constData(), std::size_t(text.size()));
    log.finish();
    const TlsSecrets found = log.find(random_of(0x11));
    for (int l = 0; l < TlsSecrets::kLabels; ++l) {
        const TlsSecret& got = found.secrets[std::size_t(l)];
        QCOMPARE(secret_hex(got), l == label ? secret : QByteArray());
    }
    QCOMPARE(log.contains(random_of(0x11)), label >= 0);
    QCOMPARE(int(log.malformed_lines()), malformed);
}

// Lines cut anywhere by the reads (a file read while it is written) give
// what the whole text gives.
void TstTlsKeyLog::splitAnywhere()
{
    QByteArray text;
    for (char fill = 1; fill <= 40; ++fill)
        text += line(fill % 2 ? "CLIENT_RANDOM" : "SERVER_TRAFFIC_SECRET_0", fill, 96,
                     char('a' + fill % 6))
                + (fill % 3 ? "\n" : "\r\n");
    text += "junk\n";
    for (int cut = 1; cut < 300; cut += 7) {
        TlsKeyLog log;
        for (int at = 0; at < text.size(); at += cut)
            log.add(text.constData() + at, std::size_t(qMin(cut, int(text.size()) - at)));
        QCOMPARE(log.secret_count(), std::size_t(40));
        QCOMPARE(log.malformed_lines(), std::size_t(1));
        const TlsSecrets last = log.find(random_of(40));
        QCOMPARE(secret_hex(last[TlsSecrets::ServerTraffic]), QByteArray(96, char('a' + 40 % 6)));
    }
}

// A browser appends to its key log while the capture runs: update() takes
// the new lines, a line without its end waits for it, and a file replaced
// or cut shorter is read anew.
void TstTlsKeyLog::followsAGrowingFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("keys.log"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    file.write(line("CLIENT_RANDOM", 1, 96) + "\n");
    TlsKeyLog log;
    QVERIFY(log.open(path));
    QVERIFY(log.contains(random_of(1)));
    QVERIFY(!log.update());

    const QByteArray second = line("CLIENT_RANDOM", 2, 96);
    file.write(second.left(50));
    QVERIFY(!log.update());
    QVERIFY(!log.contains(random_of(2)));
    file.write(second.mid(50) + "\n");
    QVERIFY(log.update());
    QVERIFY(log.contains(random_of(2)));
    file.close();

    // Replaced by another file of other secrets (as a rename does).
    const QString other = dir.filePath(QStringLiteral("other.log"));
    QFile replacement(other);
    QVERIFY(replacement.open(QIODevice::WriteOnly));
    replacement.write(line("CLIENT_RANDOM", 3, 96) + "\n");
    replacement.close();
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::rename(other, path));
    QVERIFY(log.update());
    QVERIFY(log.contains(random_of(3)));
    QVERIFY(log.contains(random_of(1))); // what was read stays
    QCOMPARE(log.malformed_lines(), std::size_t(0));
}

void TstTlsKeyLog::refusesWhatCannotBeRead()
{
    QTemporaryDir dir;
    TlsKeyLog log;
    QString error;
    QVERIFY(!log.open(dir.filePath(QStringLiteral("none.log")), &error));
    QVERIFY2(error.contains(QStringLiteral("none.log")), qPrintable(error));
    QVERIFY(!log.open(dir.path(), &error)); // a folder
    QVERIFY(!log.update());
}

QTEST_APPLESS_MAIN(TstTlsKeyLog)
#include "tst_tlskeylog.moc"
