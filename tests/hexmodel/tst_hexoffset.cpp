// SPDX-License-Identifier: GPL-2.0-or-later

#include <QtTest>

#include "hexoffset.h"

Q_DECLARE_METATYPE(HexOffsetEntry::Error)

class TstHexOffset : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TstHexOffset::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("current");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<HexOffsetEntry::Error>("error");
    QTest::addColumn<qint64>("offset");

    const auto ok = HexOffsetEntry::None;
    const auto bad = HexOffsetEntry::Malformed;
    const auto out = HexOffsetEntry::OutOfRange;
    const qint64 tenGiB = qint64(10) << 30;
    QTest::newRow("hex") << "0x1F40" << 0LL << 10000LL << ok << 8000LL;
    QTest::newRow("decimal") << "8000" << 0LL << 10000LL << ok << 8000LL;
    QTest::newRow("relative-plus") << "+100" << 50LL << 10000LL << ok << 150LL;
    QTest::newRow("relative-minus-hex") << "-0x10" << 32LL << 10000LL << ok << 16LL;
    QTest::newRow("append-position") << "10000" << 0LL << 10000LL << ok << 10000LL;
    QTest::newRow("beyond-4GiB") << "0x280000000" << 0LL << tenGiB << ok << tenGiB;
    QTest::newRow("past-end") << "10001" << 0LL << 10000LL << out << -1LL;
    QTest::newRow("before-start") << "-0x10" << 8LL << 10000LL << out << -1LL;
    QTest::newRow("plus-past-end") << "+1" << 10000LL << 10000LL << out << -1LL;
    QTest::newRow("huge") << "0xFFFFFFFFFFFFFFFF" << 0LL << tenGiB << out << -1LL;
    QTest::newRow("empty") << "" << 0LL << 10000LL << bad << -1LL;
    QTest::newRow("bare-prefix") << "0x" << 0LL << 10000LL << bad << -1LL;
    QTest::newRow("hex-without-prefix") << "1F40" << 0LL << 10000LL << bad << -1LL;
    QTest::newRow("two-signs") << "+-5" << 10LL << 10000LL << bad << -1LL;
    QTest::newRow("not-a-digit") << "0x1G" << 0LL << 10000LL << bad << -1LL;
    QTest::newRow("too-many-digits") << "0x1FFFFFFFFFFFFFFFF" << 0LL << 10000LL << bad << -1LL;
}

void TstHexOffset::parse()
{
    QFETCH(QString, text);
    QFETCH(qint64, current);
    QFETCH(qint64, length);
    QFETCH(HexOffsetEntry::Error, error);
    QFETCH(qint64, offset);
    const HexOffsetEntry entry = HexOffsetEntry::parse(text, current, length);
    QCOMPARE(entry.error, error);
    QCOMPARE(entry.offset, offset);
}

QTEST_APPLESS_MAIN(TstHexOffset)
#include "tst_hexoffset.moc"
