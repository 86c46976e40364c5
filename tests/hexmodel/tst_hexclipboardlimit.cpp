// SPDX-License-Identifier: GPL-2.0-or-later

#include <optional>

#include <QtTest>

#include "hexclipboardlimit.h"

Q_DECLARE_METATYPE(std::optional<qint64>)

namespace {

constexpr qint64 kMiB = qint64(1) << 20;
constexpr qint64 kGiB = qint64(1) << 30;

} // namespace

class TstHexClipboardLimit : public QObject
{
    Q_OBJECT

private slots:
    void allows_data();
    void allows();
    void memAvailable_data();
    void memAvailable();
};

void TstHexClipboardLimit::allows_data()
{
    QTest::addColumn<std::optional<qint64>>("available");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("allowed");

    const std::optional<qint64> unknown;
    const std::optional<qint64> plenty = 64 * kGiB;
    QTest::newRow("ceiling") << plenty << 256 * kMiB << false << true;
    QTest::newRow("above-ceiling") << plenty << 256 * kMiB + 1 << false << false;
    QTest::newRow("one-gib") << plenty << kGiB << false << false;
    QTest::newRow("beyond-int") << plenty << 4 * kGiB + 2 << false << false;
    QTest::newRow("hex-third-of-ceiling") << plenty << 256 * kMiB / 3 << true << true;
    QTest::newRow("hex-above-third") << plenty << 256 * kMiB / 3 + 1 << true << false;
    QTest::newRow("unknown-memory-ceiling") << unknown << 256 * kMiB << false << true;
    QTest::newRow("unknown-memory-above") << unknown << 256 * kMiB + 1 << false << false;
    QTest::newRow("short-memory-quarter")
            << std::optional<qint64>(400 * kMiB) << 100 * kMiB << false << true;
    QTest::newRow("short-memory-above-quarter")
            << std::optional<qint64>(400 * kMiB) << 100 * kMiB + 1 << false << false;
    QTest::newRow("short-memory-hex")
            << std::optional<qint64>(400 * kMiB) << 40 * kMiB << true << false;
    QTest::newRow("no-memory") << std::optional<qint64>(0) << 1LL << false << false;
    QTest::newRow("nothing-fits-always") << std::optional<qint64>(0) << 0LL << true << true;
    QTest::newRow("negative") << plenty << -1LL << false << false;
}

void TstHexClipboardLimit::allows()
{
    QFETCH(std::optional<qint64>, available);
    QFETCH(qint64, bytes);
    QFETCH(bool, hex);
    QFETCH(bool, allowed);
    const HexClipboardLimit limit(available);
    QCOMPARE(limit.allows(bytes, hex), allowed);
    // What a refusal reports as the most that fits does fit, one more not.
    const qint64 most = limit.maximumBytes(hex);
    QVERIFY(limit.allows(most, hex));
    QVERIFY(!limit.allows(most + 1, hex));
}

void TstHexClipboardLimit::memAvailable_data()
{
    QTest::addColumn<QByteArray>("meminfo");
    QTest::addColumn<std::optional<qint64>>("available");

    QTest::newRow("kernel-text") << QByteArray("MemTotal:       16314236 kB\n"
                                               "MemFree:         1234567 kB\n"
                                               "MemAvailable:    8123456 kB\n"
                                               "Buffers:          345678 kB\n")
                                 << std::optional<qint64>(8123456LL * 1024);
    QTest::newRow("first-line") << QByteArray("MemAvailable: 4 kB\n")
                                << std::optional<qint64>(4096);
    QTest::newRow("missing") << QByteArray("MemTotal: 100 kB\nMemFree: 50 kB\n")
                             << std::optional<qint64>();
    QTest::newRow("no-unit") << QByteArray("MemAvailable: 100\n") << std::optional<qint64>();
    QTest::newRow("not-a-number") << QByteArray("MemAvailable: lots kB\n")
                                  << std::optional<qint64>();
    QTest::newRow("negative") << QByteArray("MemAvailable: -5 kB\n") << std::optional<qint64>();
    QTest::newRow("overflow") << QByteArray("MemAvailable: 9223372036854775807 kB\n")
                              << std::optional<qint64>();
    QTest::newRow("empty") << QByteArray() << std::optional<qint64>();
}

void TstHexClipboardLimit::memAvailable()
{
    QFETCH(QByteArray, meminfo);
    QFETCH(std::optional<qint64>, available);
    QCOMPARE(HexClipboardLimit::memAvailable(meminfo), available);
}

QTEST_APPLESS_MAIN(TstHexClipboardLimit)
#include "tst_hexclipboardlimit.moc"
