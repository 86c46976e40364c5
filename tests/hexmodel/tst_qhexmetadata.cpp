// SPDX-License-Identifier: GPL-2.0-or-later

#include <QRandomGenerator>
#include <QtTest>

#include "qhexmetadata.h"

namespace {

constexpr qint64 kGiB = Q_INT64_C(1) << 30;

// A line's items as "start+length" texts, in order.
QStringList layout(const QHexMetadata& metadata, quint64 line)
{
    QStringList items;
    if (!metadata.hasMetadata(line))
        return items;
    for (const QHexMetadataItem& item : metadata.lineItems(line)) {
        if (item.line != line)
            return { QStringLiteral("wrong line") };
        items.append(QStringLiteral("%1+%2").arg(item.start).arg(item.length));
    }
    return items;
}

// A line's items as "comment:start+length" texts, in order.
QStringList commented(const QHexMetadata& metadata, quint64 line)
{
    QStringList items;
    for (const QHexMetadataItem& item : metadata.lineItems(line))
        items.append(QStringLiteral("%1:%2+%3").arg(item.comment).arg(item.start).arg(item.length));
    return items;
}

// Adds "begin-end" ranges, each with its number in the list as comment.
void addRanges(QHexMetadata* metadata, const QStringList& ranges)
{
    for (int i = 0; i < ranges.size(); ++i)
        metadata->addRange(ranges.at(i).section(QLatin1Char('-'), 0, 0).toLongLong(),
                           ranges.at(i).section(QLatin1Char('-'), 1, 1).toLongLong(), Qt::red,
                           QColor(), QString::number(i));
}

} // namespace

class TstQHexMetadata : public QObject
{
    Q_OBJECT

private slots:
    void spreading_data();
    void spreading();
    void itemsKeepTheirAttributes();
    void commentsAtColumn();
    void lineWidthRelays();
    void clearLineThenRelay();
    void clearForgetsAll();
    void longRange_data();
    void longRange();
    void longRangeSignalsOnce();
    void rangesInOrderAdded_data();
    void rangesInOrderAdded();
    void clearLineOnLongRange();
    void commentsOfLongRanges();
    void sameAsSpreadingEveryRange();
};

void TstQHexMetadata::spreading_data()
{
    QTest::addColumn<qint64>("begin");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<int>("width");
    QTest::addColumn<QStringList>("lines"); // "line:start+length" per item
    QTest::newRow("three-lines") << qint64(10) << qint64(40) << 16
                                 << QStringList { "0:10+16", "1:0+16", "2:0+8" };
    QTest::newRow("empty-range") << qint64(32) << qint64(32) << 16 << QStringList();
    QTest::newRow("one-byte") << qint64(35) << qint64(36) << 16 << QStringList { "2:3+1" };
    QTest::newRow("exactly-one-line") << qint64(0) << qint64(16) << 16 << QStringList { "0:0+16" };
    QTest::newRow("end-before-begin") << qint64(40) << qint64(10) << 16 << QStringList();
    QTest::newRow("width-8") << qint64(10) << qint64(40) << 8
                             << QStringList { "1:2+8", "2:0+8", "3:0+8", "4:0+8" };
}

void TstQHexMetadata::spreading()
{
    QFETCH(qint64, begin);
    QFETCH(qint64, end);
    QFETCH(int, width);
    QFETCH(QStringList, lines);

    QHexMetadata metadata;
    metadata.setLineWidth(quint8(width));
    QSignalSpy changed(&metadata, &QHexMetadata::metadataChanged);
    metadata.addRange(begin, end, Qt::red, QColor(), QString());

    QStringList found;
    QStringList signalled;
    for (quint64 line = 0; line < 8; ++line)
        for (const QString& item : layout(metadata, line))
            found.append(QStringLiteral("%1:%2").arg(line).arg(item));
    for (const QList<QVariant>& args : std::as_const(changed))
        signalled.append(QString::number(args.at(0).toULongLong()));
    QCOMPARE(found, lines);
    QCOMPARE(signalled.size(), lines.size()); // one emission per item, for its line
    for (int i = 0; i < lines.size(); ++i)
        QCOMPARE(signalled.at(i), lines.at(i).section(QLatin1Char(':'), 0, 0));
}

void TstQHexMetadata::itemsKeepTheirAttributes()
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    metadata.addItem(1, 4, 3, Qt::blue, Qt::yellow, QStringLiteral("note"));
    metadata.setForeground(2, 0, 1, Qt::green);
    metadata.setBackground(2, 1, 1, Qt::cyan);
    metadata.setComment(2, 2, 1, QStringLiteral("c"));
    QCOMPARE(layout(metadata, 1), QStringList { "4+3" }); // the range [20, 23)
    const QHexMetadataItem& item = metadata.lineItems(1).first();
    QCOMPARE(item.foreground, QColor(Qt::blue));
    QCOMPARE(item.background, QColor(Qt::yellow));
    QCOMPARE(item.comment, QStringLiteral("note"));

    const QList<QHexMetadataItem>& line2 = metadata.lineItems(2);
    QCOMPARE(line2.size(), 3);
    QVERIFY(line2.at(0).foreground == Qt::green && !line2.at(0).background.isValid());
    QVERIFY(!line2.at(1).foreground.isValid() && line2.at(1).background == Qt::cyan);
    QVERIFY(!line2.at(2).foreground.isValid() && !line2.at(2).background.isValid());
    QCOMPARE(line2.at(2).comment, QStringLiteral("c"));
    QVERIFY(!metadata.hasMetadata(0));
}

void TstQHexMetadata::commentsAtColumn()
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    metadata.setComment(0, 2, 5, QStringLiteral("first"));
    metadata.setColors(0, 0, 16, Qt::red, Qt::black); // no comment: never listed
    metadata.setComment(0, 5, 2, QStringLiteral("second"));
    QCOMPARE(metadata.comments(0, 5), QStringLiteral("first\nsecond"));
    QCOMPARE(metadata.comments(0, 2), QStringLiteral("first"));
    QCOMPARE(metadata.comments(0, 7), QString()); // both end before column 7
    QCOMPARE(metadata.comments(0, 9), QString());
    QCOMPARE(metadata.comments(3, 5), QString());
}

void TstQHexMetadata::lineWidthRelays()
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    metadata.addRange(10, 40, Qt::red, QColor(), QString());
    QSignalSpy changed(&metadata, &QHexMetadata::metadataChanged);
    metadata.setLineWidth(16); // unchanged: nothing happens
    QCOMPARE(changed.size(), 0);
    metadata.setLineWidth(8);
    QCOMPARE(changed.size(), 4);
    QVERIFY(!metadata.hasMetadata(0));
    QCOMPARE(layout(metadata, 1), QStringList { "2+8" });
    QCOMPARE(layout(metadata, 4), QStringList { "0+8" });
    QVERIFY(!metadata.hasMetadata(5)); // 40 is a multiple of 8: nothing spills over
    metadata.setLineWidth(0); // ignored: a line must hold a byte
    QCOMPARE(layout(metadata, 4), QStringList { "0+8" });
}

void TstQHexMetadata::clearLineThenRelay()
{
    QHexMetadata metadata;
    metadata.setLineWidth(8);
    metadata.addRange(10, 40, Qt::red, QColor(), QString());
    QSignalSpy changed(&metadata, &QHexMetadata::metadataChanged);
    metadata.clearLine(1);
    metadata.clearLine(7); // nothing there: no signal
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toULongLong(), 1ULL);
    QVERIFY(!metadata.hasMetadata(1));
    QVERIFY(metadata.hasMetadata(2));
    metadata.setLineWidth(16); // the range brings the line back
    QCOMPARE(layout(metadata, 1), QStringList { "0+16" });
}

void TstQHexMetadata::clearForgetsAll()
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    metadata.addRange(0, 64, Qt::red, QColor(), QStringLiteral("x"));
    QSignalSpy cleared(&metadata, &QHexMetadata::metadataCleared);
    metadata.clear();
    QCOMPARE(cleared.size(), 1);
    for (quint64 line = 0; line < 5; ++line)
        QVERIFY(!metadata.hasMetadata(line));
    metadata.setLineWidth(8); // the ranges went too
    QVERIFY(!metadata.hasMetadata(0));
}

void TstQHexMetadata::longRange_data()
{
    QTest::addColumn<qint64>("begin");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<int>("width"); // set after the range was added at 16
    QTest::addColumn<quint64>("line");
    QTest::addColumn<QStringList>("items");
    const qint64 end = kGiB + 3;
    QTest::newRow("first") << qint64(5) << end << 16 << quint64(0) << QStringList { "5+16" };
    QTest::newRow("second") << qint64(5) << end << 16 << quint64(1) << QStringList { "0+16" };
    QTest::newRow("middle") << qint64(5) << end << 16 << quint64(kGiB / 32)
                            << QStringList { "0+16" };
    QTest::newRow("last-partial") << qint64(5) << end << 16 << quint64(kGiB / 16)
                                  << QStringList { "0+3" };
    QTest::newRow("after-last") << qint64(5) << end << 16 << quint64(kGiB / 16 + 1)
                                << QStringList();
    QTest::newRow("before-first") << qint64(100) << end << 16 << quint64(5) << QStringList();
    QTest::newRow("ends-on-line-end")
            << qint64(0) << kGiB << 16 << quint64(kGiB / 16 - 1) << QStringList { "0+16" };
    QTest::newRow("nothing-past-line-end")
            << qint64(0) << kGiB << 16 << quint64(kGiB / 16) << QStringList();
    QTest::newRow("width-7-first") << qint64(5) << end << 7 << quint64(0) << QStringList { "5+7" };
    QTest::newRow("width-7-last") << qint64(5) << end << 7 << quint64(end / 7)
                                  << QStringList { QStringLiteral("0+%1").arg(end % 7) };
    QTest::newRow("width-255-middle")
            << qint64(300) << end << 255 << quint64(1000) << QStringList { "0+255" };
    QTest::newRow("width-1-last") << qint64(300) << end << 1 << quint64(end - 1)
                                  << QStringList { "0+1" };
    QTest::newRow("width-1-past-end") << qint64(300) << end << 1 << quint64(end) << QStringList();
}

void TstQHexMetadata::longRange()
{
    QFETCH(qint64, begin);
    QFETCH(qint64, end);
    QFETCH(int, width);
    QFETCH(quint64, line);
    QFETCH(QStringList, items);

    QHexMetadata metadata;
    metadata.setLineWidth(16);
    metadata.addRange(begin, end, Qt::red, QColor(), QString());
    metadata.setLineWidth(quint8(width));
    QCOMPARE(layout(metadata, line), items);
    QCOMPARE(metadata.hasMetadata(line), !items.isEmpty());
}

void TstQHexMetadata::longRangeSignalsOnce()
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    QSignalSpy changed(&metadata, &QHexMetadata::metadataChanged);
    metadata.addRange(40, kGiB, Qt::red, QColor(), QString()); // 67 million lines
    metadata.addRange(64, 64 + 16 * 16, Qt::red, QColor(), QString()); // 16 lines: each
    metadata.addRange(64, 64 + 16 * 16 + 1, Qt::red, QColor(), QString()); // 17: the first
    QCOMPARE(changed.size(), 1 + 16 + 1);
    QCOMPARE(changed.at(0).at(0).toULongLong(), 2ULL);
    QCOMPARE(changed.at(1).at(0).toULongLong(), 4ULL);
    QCOMPARE(changed.at(16).at(0).toULongLong(), 19ULL);
    QCOMPARE(changed.at(17).at(0).toULongLong(), 4ULL);
    changed.clear();
    metadata.setLineWidth(8); // the same again, over lines of 8
    QCOMPARE(changed.size(), 1 + 1 + 1);
    QCOMPARE(changed.at(0).at(0).toULongLong(), 5ULL);
    QCOMPARE(changed.at(1).at(0).toULongLong(), 8ULL);
}

void TstQHexMetadata::rangesInOrderAdded_data()
{
    QTest::addColumn<QStringList>("ranges"); // "begin-end", added in this order
    QTest::addColumn<quint64>("line");
    QTest::addColumn<QStringList>("items"); // "range:start+length", at width 16
    const QStringList chunks { "0-1000", "1000-1500", "1500-100000" };
    QTest::newRow("chunks-border") << chunks << quint64(62) << QStringList { "0:0+8", "1:8+16" };
    QTest::newRow("chunks-inside") << chunks << quint64(70) << QStringList { "1:0+16" };
    QTest::newRow("chunks-last") << chunks << quint64(6249) << QStringList { "2:0+16" };
    const QStringList shuffled { "1500-100000", "0-1000", "1000-1500" };
    QTest::newRow("out-of-order-border")
            << shuffled << quint64(62) << QStringList { "1:0+8", "2:8+16" };
    QTest::newRow("out-of-order-last")
            << shuffled << quint64(93) << QStringList { "0:12+16", "2:0+12" };
    const QStringList nested { "0-1000000", "5000-6000", "300-400", "4990-5010", "5010-9000" };
    QTest::newRow("nested") << nested << quint64(312)
                            << QStringList { "0:0+16", "1:8+16", "3:0+16" };
    QTest::newRow("nested-next") << nested << quint64(313)
                                 << QStringList { "0:0+16", "1:0+16", "3:0+2", "4:2+16" };
    QTest::newRow("nested-outer-only") << nested << quint64(20000) << QStringList { "0:0+16" };
    QTest::newRow("nested-early") << nested << quint64(20) << QStringList { "0:0+16", "2:0+16" };
    QTest::newRow("same-begin") << QStringList { "32-5000", "32-40", "32-900" } << quint64(2)
                                << QStringList { "0:0+16", "1:0+8", "2:0+16" };
    QTest::newRow("empty-and-negative")
            << QStringList { "50-50", "-40-20", "60-10" } << quint64(0) << QStringList { "1:0+16" };
}

void TstQHexMetadata::rangesInOrderAdded()
{
    QFETCH(QStringList, ranges);
    QFETCH(quint64, line);
    QFETCH(QStringList, items);

    QHexMetadata metadata;
    metadata.setLineWidth(16);
    addRanges(&metadata, ranges);
    QCOMPARE(commented(metadata, line), items);
}

void TstQHexMetadata::clearLineOnLongRange()
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    metadata.addRange(0, kGiB, Qt::red, QColor(), QStringLiteral("0"));
    QSignalSpy changed(&metadata, &QHexMetadata::metadataChanged);
    metadata.clearLine(1000);
    metadata.clearLine(1000); // gone already: no signal
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toULongLong(), 1000ULL);
    QVERIFY(!metadata.hasMetadata(1000));
    QVERIFY(metadata.lineItems(1000).isEmpty());
    QCOMPARE(layout(metadata, 999), QStringList { "0+16" });
    QCOMPARE(layout(metadata, 1001), QStringList { "0+16" });

    // A range added later shows on the cleared line; the cleared one does not.
    metadata.addRange(16000 + 4, 16000 + 900, Qt::blue, QColor(), QStringLiteral("1"));
    QCOMPARE(commented(metadata, 1000), QStringList { "1:4+16" });
    QCOMPARE(commented(metadata, 1001), QStringList({ "0:0+16", "1:0+16" }));

    metadata.setLineWidth(8);
    metadata.setLineWidth(16); // the ranges bring the line back
    QCOMPARE(commented(metadata, 1000), QStringList({ "0:0+16", "1:4+16" }));
}

void TstQHexMetadata::commentsOfLongRanges()
{
    QHexMetadata metadata;
    metadata.setLineWidth(16);
    metadata.addRange(4096, kGiB, QColor(), QColor(), QStringLiteral("response"));
    metadata.addRange(0, 4096 + 20, QColor(), QColor(), QStringLiteral("request"));
    metadata.addRange(4096 + 18, 4096 + 19, Qt::red, QColor(), QString()); // no comment
    QCOMPARE(metadata.comments(0, 0), QStringLiteral("request"));
    QCOMPARE(metadata.comments(256, 3), QStringLiteral("response\nrequest"));
    QCOMPARE(metadata.comments(257, 2), QStringLiteral("response\nrequest"));
    QCOMPARE(metadata.comments(257, 4), QStringLiteral("response"));
    QCOMPARE(metadata.comments(kGiB / 16 - 1, 15), QStringLiteral("response"));
    QCOMPARE(metadata.comments(kGiB / 16, 0), QString());
}

// Against a plain spreading, byte by byte, of every range over every line,
// for ranges of every kind added in any order (overlapping, nested, empty,
// out of order, asked for in between or not). An item may run on past its
// line's end; it covers up to there.
void TstQHexMetadata::sameAsSpreadingEveryRange()
{
    QRandomGenerator random(23);
    for (int round = 0; round < 20; ++round) {
        const int width = 1 + random.bounded(20);
        QHexMetadata metadata;
        metadata.setLineWidth(quint8(width));
        QHash<quint64, QList<QPair<int, QPair<int, int>>>> expected; // range, start, count
        const int count = 1 + random.bounded(60);
        const bool growing = round % 2 == 0; // as a stream's chunks come
        qint64 begin = 0;
        for (int i = 0; i < count; ++i) {
            begin = growing ? begin + random.bounded(40) : random.bounded(2000);
            const qint64 end = begin + random.bounded(random.bounded(2) == 0 ? 20 : 1500);
            metadata.addRange(begin, end, Qt::red, QColor(), QString::number(i));
            if (round % 4 < 2)
                metadata.hasMetadata(quint64(random.bounded(3600 / width)));
            for (qint64 byte = begin; byte < end; ++byte) {
                auto& items = expected[quint64(byte / width)];
                if (items.isEmpty() || items.constLast().first != i)
                    items.append({ i, { int(byte % width), 0 } });
                ++items.last().second.second;
            }
        }
        for (quint64 line = 0; line <= quint64(3600 / width); ++line) {
            QStringList found;
            for (const QHexMetadataItem& item : metadata.lineItems(line))
                found.append(QStringLiteral("%1:%2+%3")
                                     .arg(item.comment)
                                     .arg(item.start)
                                     .arg(qMin(item.length, width - item.start)));
            QStringList wanted;
            for (const auto& item : expected.value(line))
                wanted.append(QStringLiteral("%1:%2+%3")
                                      .arg(item.first)
                                      .arg(item.second.first)
                                      .arg(item.second.second));
            QVERIFY2(found == wanted,
                     qPrintable(QStringLiteral("round %1, line %2").arg(round).arg(line)));
        }
    }
}

QTEST_APPLESS_MAIN(TstQHexMetadata)
#include "tst_qhexmetadata.moc"
