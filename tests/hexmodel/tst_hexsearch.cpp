// SPDX-License-Identifier: GPL-2.0-or-later

#include <memory>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "hexsearch.h"
#include "qfilebuffer.h"
#include "qhexdocument.h"
#include "qmemorybuffer.h"

namespace {

std::unique_ptr<QHexDocument> memoryDocument(const QByteArray& bytes)
{
    auto* buffer = new QMemoryBuffer; // the document takes it over
    buffer->load(bytes);
    return std::make_unique<QHexDocument>(buffer);
}

QByteArray withNeedleAt(int size, int at)
{
    QByteArray bytes(size, 'x');
    bytes.replace(at, 6, "needle");
    return bytes;
}

} // namespace

class TstHexSearch : public QObject
{
    Q_OBJECT

private slots:
    void finds_data();
    void finds();
    void cancelStopsBetweenSteps();
    void skipsHolesOfSparseFiles();

private:
    QTemporaryDir m_dir;
};

void TstHexSearch::finds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<qint64>("window");
    QTest::addColumn<qint64>("found");
    QTest::addColumn<bool>("wrapped");

    const QByteArray text("abcXYZabcXYZ");
    const qint64 big = qint64(4) << 20;
    QTest::newRow("forward") << text << QByteArray("XYZ") << qint64(0) << true << big << 3LL
                             << false;
    QTest::newRow("forward-wraps")
            << text << QByteArray("XYZ") << 10LL << true << big << 3LL << true;
    QTest::newRow("backward") << text << QByteArray("XYZ") << 8LL << false << big << 3LL << false;
    QTest::newRow("backward-wraps")
            << text << QByteArray("XYZ") << 2LL << false << big << 9LL << true;
    QTest::newRow("backward-from-before-start")
            << text << QByteArray("abc") << -1LL << false << big << 6LL << true;
    QTest::newRow("not-found") << text << QByteArray("ZYX") << 5LL << true << big << -1LL << true;
    QTest::newRow("longer-than-document")
            << text << QByteArray("abcXYZabcXYZa") << 0LL << true << big << -1LL << false;
    QTest::newRow("empty-pattern") << text << QByteArray() << 0LL << true << big << -1LL << false;
    QTest::newRow("binary") << QByteArray("\x00\xFF\x00\x00\xFF", 5) << QByteArray("\x00\xFF", 2)
                            << 1LL << true << big << 3LL << false;
    // Windows of 8 bytes: the needle at 6 lies across the seam of the first
    // two, and across several seams with 1-byte windows.
    const QByteArray seam = withNeedleAt(100, 6);
    QTest::newRow("seam-forward") << seam << QByteArray("needle") << 0LL << true << 8LL << 6LL
                                  << false;
    QTest::newRow("seam-backward")
            << seam << QByteArray("needle") << 99LL << false << 8LL << 6LL << false;
    QTest::newRow("one-byte-windows")
            << seam << QByteArray("needle") << 50LL << false << 1LL << 6LL << false;
    const QByteArray far = withNeedleAt(3 << 20, (3 << 20) - 6);
    QTest::newRow("end-of-large") << far << QByteArray("needle") << 0LL << true << (1LL << 20)
                                  << qint64((3 << 20) - 6) << false;
}

void TstHexSearch::finds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, pattern);
    QFETCH(qint64, from);
    QFETCH(bool, forward);
    QFETCH(qint64, window);
    QFETCH(qint64, found);
    QFETCH(bool, wrapped);

    const auto document = memoryDocument(bytes);
    HexSearch search(document.get());
    search.setWindowSize(window);
    search.start(pattern, from,
                 forward ? HexSearch::Direction::Forward : HexSearch::Direction::Backward);
    qint64 scanned = 0;
    while (search.step() == HexSearch::Status::Running) {
        QVERIFY(search.scannedBytes() > scanned); // progress, never going back
        scanned = search.scannedBytes();
    }
    QCOMPARE(search.status(), found >= 0 ? HexSearch::Status::Found : HexSearch::Status::NotFound);
    QCOMPARE(search.matchOffset(), found);
    if (!pattern.isEmpty() && pattern.size() <= bytes.size())
        QCOMPARE(search.wrapped(), wrapped);
    if (found >= 0)
        QCOMPARE(bytes.mid(int(found), pattern.size()), pattern);
    else
        QCOMPARE(search.scannedBytes(), search.totalBytes());
}

void TstHexSearch::cancelStopsBetweenSteps()
{
    const auto document = memoryDocument(withNeedleAt(1 << 20, (1 << 20) - 6));
    HexSearch search(document.get());
    search.setWindowSize(4096);
    search.start("needle", 0, HexSearch::Direction::Forward);
    QCOMPARE(search.step(), HexSearch::Status::Running);
    search.cancel();
    QCOMPARE(search.status(), HexSearch::Status::Cancelled);
    QCOMPARE(search.step(), HexSearch::Status::Cancelled);
    QCOMPARE(search.matchOffset(), -1LL);
    QVERIFY(search.scannedBytes() < search.totalBytes());

    search.cancel(); // nothing running: stays as it is
    search.start("needle", 0, HexSearch::Direction::Forward);
    QCOMPARE(search.run(), HexSearch::Status::Found);
    search.cancel();
    QCOMPARE(search.status(), HexSearch::Status::Found);
}

void TstHexSearch::skipsHolesOfSparseFiles()
{
    // 1 GiB, nearly all hole, searched in 1 MiB windows: a search that read
    // the holes would take a thousand steps.
    const QString path = m_dir.filePath(QStringLiteral("sparse"));
    const qint64 size = qint64(1) << 30;
    const qint64 data = size - (qint64(1) << 20);
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        if (!out.resize(size))
            QSKIP("the file system cannot hold a sparse file of 1 GiB");
        QVERIFY(out.seek(data));
        out.write(QByteArray("\0\0\0zero-led", 12)); // a match may begin in the hole
    }
    std::unique_ptr<QHexDocument> document(QHexDocument::fromFile(path));
    QVERIFY(document);
    auto* buffer = qobject_cast<QFileBuffer*>(document->buffer());
    if (buffer->dataStart(0) == 0)
        QSKIP("the file system does not report holes");

    HexSearch search(document.get());
    search.setWindowSize(qint64(1) << 20);
    for (const QByteArray& pattern : { QByteArray("\0\0zero", 6), QByteArray("zero-led") }) {
        search.start(pattern, 0, HexSearch::Direction::Forward);
        int steps = 0;
        while (search.step() == HexSearch::Status::Running)
            ++steps;
        QCOMPARE(search.status(), HexSearch::Status::Found);
        QCOMPARE(search.matchOffset(), data + (pattern.startsWith('\0') ? 1 : 3));
        QVERIFY2(steps < 10, qPrintable(QString::number(steps)));
    }
    // A pattern of zeros only matches in the holes: none is skipped.
    search.start(QByteArray(4, '\0'), 0, HexSearch::Direction::Forward);
    QCOMPARE(search.run(), HexSearch::Status::Found);
    QCOMPARE(search.matchOffset(), 0LL);
}

QTEST_GUILESS_MAIN(TstHexSearch)
#include "tst_hexsearch.moc"
