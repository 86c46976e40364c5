// SPDX-License-Identifier: GPL-2.0-or-later

#include <QtTest>

#include "qhexmetadata.h"

namespace {

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

QTEST_APPLESS_MAIN(TstQHexMetadata)
#include "tst_qhexmetadata.moc"
