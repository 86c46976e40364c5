// SPDX-License-Identifier: GPL-2.0-or-later

#include <limits>

#include <QtTest>

#include "qhexcursor.h"

namespace {

struct Place
{
    quint64 line;
    int column;
    int nibble;
};

void verify_at(const QHexPosition& pos, Place place)
{
    QCOMPARE(pos.line, place.line);
    QCOMPARE(pos.column, place.column);
    QCOMPARE(pos.nibbleIndex, place.nibble);
}

} // namespace

class TstQHexCursor : public QObject
{
    Q_OBJECT

private slots:
    void freshCursor();
    void moveToOffset_data();
    void moveToOffset();
    void selectLengthStaysOnLine_data();
    void selectLengthStaysOnLine();
    void selectionOrderAndLength();
    void nibbleOnlySelection();
    void farPositionsWrap_data();
    void farPositionsWrap();
    void everyMoveEmitsOnce();
    void insertionModeSignals();
    void lineWidthChange();
};

void TstQHexCursor::freshCursor()
{
    QHexCursor cursor;
    QVERIFY(!cursor.hasSelection());
    verify_at(cursor.position(), { 0, 0, 1 });
    QCOMPARE(cursor.position().lineWidth, quint8(16));
    QCOMPARE(cursor.insertionMode(), OverwriteMode);
    QCOMPARE(cursor.selectionLength(), 1);
    QVERIFY(!cursor.isLineSelected(0));
}

void TstQHexCursor::moveToOffset_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<quint64>("line");
    QTest::addColumn<int>("column");
    QTest::newRow("zero") << qint64(0) << quint64(0) << 0;
    QTest::newRow("last-of-line") << qint64(15) << quint64(0) << 15;
    QTest::newRow("first-of-line") << qint64(16) << quint64(1) << 0;
    QTest::newRow("35") << qint64(35) << quint64(2) << 3;
    QTest::newRow("beyond-32-bit") << (qint64(1) << 40) + 5 << (quint64(1) << 36) << 5;
}

void TstQHexCursor::moveToOffset()
{
    QFETCH(qint64, offset);
    QFETCH(quint64, line);
    QFETCH(int, column);
    QHexCursor cursor;
    cursor.select(4, 4, 0); // a selection to be collapsed
    cursor.moveTo(offset);
    verify_at(cursor.position(), { line, column, 1 });
    QVERIFY(!cursor.hasSelection());
    QCOMPARE(cursor.position().offset(), offset);
}

void TstQHexCursor::selectLengthStaysOnLine_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("endColumn");
    QTest::addColumn<int>("selected");
    QTest::newRow("inside-line") << qint64(35) << 4 << 6 << 4;
    QTest::newRow("to-line-end") << qint64(35) << 13 << 15 << 13;
    QTest::newRow("clamped-at-line-end") << qint64(35) << 20 << 15 << 13;
    QTest::newRow("one-byte") << qint64(0) << 1 << 0 << 1;
}

void TstQHexCursor::selectLengthStaysOnLine()
{
    QFETCH(qint64, offset);
    QFETCH(int, length);
    QFETCH(int, endColumn);
    QFETCH(int, selected);
    QHexCursor cursor;
    QSignalSpy moved(&cursor, &QHexCursor::positionChanged);
    cursor.selectOffset(offset, length);
    QCOMPARE(moved.size(), 2);
    QCOMPARE(cursor.anchorLine(), quint64(offset / 16));
    QCOMPARE(cursor.anchorColumn(), int(offset % 16));
    QCOMPARE(cursor.currentLine(), quint64(offset / 16));
    QCOMPARE(cursor.currentColumn(), endColumn);
    QCOMPARE(cursor.currentNibble(), 1);
    QCOMPARE(cursor.selectionLength(), selected);
}

void TstQHexCursor::selectionOrderAndLength()
{
    QHexCursor cursor;
    cursor.moveTo(2, 5, 1);
    cursor.select(0, 7, 0); // backwards from the anchor
    verify_at(cursor.selectionStart(), { 0, 7, 0 });
    verify_at(cursor.selectionEnd(), { 2, 5, 1 });
    QCOMPARE(cursor.selectionLength(), 2 * 16 + 5 - 7 + 1);
    for (quint64 line : { 0, 1, 2 })
        QVERIFY(cursor.isLineSelected(line));
    QVERIFY(!cursor.isLineSelected(3));

    cursor.select(3, 0, 1); // across the anchor, forwards
    verify_at(cursor.selectionStart(), { 2, 5, 1 });
    verify_at(cursor.selectionEnd(), { 3, 0, 1 });
    QCOMPARE(cursor.selectionLength(), 12);
    QVERIFY(!cursor.isLineSelected(1));

    cursor.clearSelection();
    QVERIFY(!cursor.hasSelection());
    verify_at(cursor.position(), { 3, 0, 1 });
    QCOMPARE(cursor.anchorLine(), quint64(3));
}

void TstQHexCursor::nibbleOnlySelection()
{
    QHexCursor cursor;
    cursor.moveTo(1, 4, 1);
    cursor.select(1, 4, 0);
    QVERIFY(cursor.hasSelection());
    QCOMPARE(cursor.selectionLength(), 1);
    QVERIFY(cursor.isLineSelected(1));
    // Same line and column: the anchor counts as the start and as the end.
    QCOMPARE(cursor.selectionStart().nibbleIndex, cursor.anchorNibble());
    QCOMPARE(cursor.selectionEnd().nibbleIndex, cursor.anchorNibble());
}

void TstQHexCursor::farPositionsWrap_data()
{
    QTest::addColumn<quint64>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("lengthFromOne"); // selected from offset 1, low 32 bits
    QTest::addColumn<qint64>("spanFromOne"); // the same in 64 bits, at most the largest
    const qint64 min = std::numeric_limits<qint64>::min();
    const qint64 max = std::numeric_limits<qint64>::max();
    QTest::newRow("wraps-past-max") << (quint64(1) << 59) - 1 << 16 << min << 0 << max;
    QTest::newRow("wraps-below-min") << (quint64(1) << 59) << -2 << max - 1 << -2 << max - 1;
    QTest::newRow("last-line") << std::numeric_limits<quint64>::max() << 3 << qint64(-13) << -13
                               << max;
}

// Positions far outside any document (the cursor does not clamp) give offsets
// modulo 2^64, selection lengths in 32 bits and spans up to the largest 64-bit
// count, never an overflow.
void TstQHexCursor::farPositionsWrap()
{
    QFETCH(quint64, line);
    QFETCH(int, column);
    QFETCH(qint64, offset);
    QFETCH(int, lengthFromOne);
    QFETCH(qint64, spanFromOne);

    const QHexPosition pos { line, column, 16, 1 };
    QCOMPARE(pos.offset(), offset);

    QHexCursor cursor;
    cursor.moveTo(0, 1, 1);
    cursor.select(line, column, 1);
    QCOMPARE(cursor.selectionStart().offset(), qint64(1));
    QCOMPARE(cursor.selectionEnd().offset(), offset);
    QCOMPARE(cursor.selectionLength(), lengthFromOne);
    QCOMPARE(selectionSpan(cursor), spanFromOne);
}

void TstQHexCursor::everyMoveEmitsOnce()
{
    QHexCursor cursor;
    QSignalSpy moved(&cursor, &QHexCursor::positionChanged);
    QSignalSpy mode(&cursor, &QHexCursor::insertionModeChanged);
    cursor.moveTo(0, 0, 1); // no change, still one emission
    cursor.moveTo(QHexPosition { 1, 2, 16, 0 });
    cursor.moveTo(qint64(7));
    cursor.select(1, 1, 1);
    cursor.select(QHexPosition { 2, 2, 16, 1 });
    cursor.select(3);
    cursor.clearSelection();
    cursor.setLineWidth(8);
    QCOMPARE(moved.size(), 7);
    QCOMPARE(mode.size(), 0);
}

void TstQHexCursor::insertionModeSignals()
{
    QHexCursor cursor;
    QSignalSpy mode(&cursor, &QHexCursor::insertionModeChanged);
    cursor.setInsertionMode(OverwriteMode);
    QCOMPARE(mode.size(), 0);
    cursor.setInsertionMode(InsertMode);
    QCOMPARE(mode.size(), 1);
    QCOMPARE(cursor.insertionMode(), InsertMode);
    cursor.switchInsertionMode();
    cursor.switchInsertionMode();
    QCOMPARE(mode.size(), 3);
    QCOMPARE(cursor.insertionMode(), InsertMode);
}

void TstQHexCursor::lineWidthChange()
{
    QHexCursor cursor;
    cursor.moveTo(2, 3, 1);
    cursor.select(2, 9, 1);
    cursor.setLineWidth(8);
    verify_at(cursor.position(), { 2, 9, 1 }); // not recomputed
    QCOMPARE(cursor.position().lineWidth, quint8(8));
    QCOMPARE(cursor.selectionStart().lineWidth, quint8(8));
    QCOMPARE(cursor.selectionLength(), 7);
    cursor.moveTo(qint64(35));
    verify_at(cursor.position(), { 4, 3, 1 });
}

QTEST_APPLESS_MAIN(TstQHexCursor)
#include "tst_qhexcursor.moc"
