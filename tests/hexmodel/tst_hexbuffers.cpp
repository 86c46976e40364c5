// SPDX-License-Identifier: GPL-2.0-or-later

#include <memory>

#include <fcntl.h>

#include <QBuffer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "hexsearch.h"
#include "qfilebuffer.h"
#include "qhexdocument.h"
#include "qmemorybuffer.h"
#include "qmemoryrefbuffer.h"
#include "qpiecebuffer.h"

namespace {

enum Store { Memory, MemoryRef, File, Pieces };

const char* store_name(Store store)
{
    switch (store) {
    case Memory:
        return "memory";
    case MemoryRef:
        return "memory-ref";
    case File:
        return "file";
    case Pieces:
        return "pieces";
    }
    return "";
}

const QByteArray kGap("\xA5\xA5<record header>\xA5\xA5"); // between runs, never shown

int openForReading(const QString& path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
}

} // namespace

Q_DECLARE_METATYPE(Store)

// The behaviour every store shares, run once per store; where the stores
// differ (editing, backward search) each row says what its store does.
class TstHexBuffers : public QObject
{
    Q_OBJECT

private slots:
    void readsAndLength_data();
    void readsAndLength();
    void edits_data();
    void edits();
    void searches_data();
    void searches();
    void searchAcrossWindows_data();
    void searchAcrossWindows();
    void writeToDevice_data();
    void writeToDevice();
    void rejectsWrongDevice();
    void fileBufferNeverCreatesFiles();
    void sparseFileReadsOnlyWhatIsAsked();
    void editableFileMatchesModel();
    void piecesGrowWhileEditedMatchModel();
    void piecesJoinRunsThatFollowInAFile();
    void piecesNeverInventBytes();
    void pieceDocumentUndoRedoAndFind();

private:
    std::unique_ptr<QHexBuffer> make(Store store, const QByteArray& bytes);
    // The bytes laid out as payloads in capture files: runs of 1 to 3 bytes
    // (up to 1448 for more than 4 KiB), each after a gap, four in one file,
    // then four in the other, and so on.
    std::unique_ptr<QPieceBuffer> makePieces(const QByteArray& bytes);
    QString writeFile(const QByteArray& bytes);

    QTemporaryDir m_dir;
    int m_files = 0;
};

std::unique_ptr<QHexBuffer> TstHexBuffers::make(Store store, const QByteArray& bytes)
{
    switch (store) {
    case Memory: {
        auto buffer = std::make_unique<QMemoryBuffer>();
        buffer->load(bytes);
        return buffer;
    }
    case MemoryRef: {
        auto buffer = std::make_unique<QMemoryRefBuffer>();
        buffer->load(bytes);
        return buffer;
    }
    case File: {
        const QString path = writeFile(bytes);
        if (path.isEmpty())
            return nullptr;
        auto buffer = std::make_unique<QFileBuffer>();
        buffer->load(new QFile(path));
        return buffer;
    }
    case Pieces:
        return makePieces(bytes);
    }
    return nullptr;
}

QString TstHexBuffers::writeFile(const QByteArray& bytes)
{
    const QString path = m_dir.filePath(QString::number(++m_files));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return {};
    return path;
}

std::unique_ptr<QPieceBuffer> TstHexBuffers::makePieces(const QByteArray& bytes)
{
    struct Run
    {
        int file;
        qint64 offset;
        qint64 length;
    };
    QByteArray files[2];
    std::vector<Run> runs;
    for (int at = 0, i = 0; at < bytes.size(); ++i) {
        const int length
                = qMin(bytes.size() - at, bytes.size() > 4096 ? 1 + (i * 613) % 1448 : 1 + i % 3);
        QByteArray& file = files[i / 4 % 2];
        file.append(kGap);
        runs.push_back(Run { i / 4 % 2, file.size(), length });
        file.append(bytes.mid(at, length));
        at += length;
    }
    auto buffer = std::make_unique<QPieceBuffer>();
    int sources[2];
    for (int i = 0; i < 2; ++i) {
        sources[i] = buffer->addSource(openForReading(writeFile(files[i])));
        if (sources[i] < 0)
            return nullptr;
    }
    for (const Run& run : runs)
        buffer->appendRun(sources[run.file], run.offset, run.length);
    return buffer;
}

void TstHexBuffers::readsAndLength_data()
{
    QTest::addColumn<Store>("store");
    for (const Store store : { Memory, MemoryRef, File, Pieces })
        QTest::newRow(store_name(store)) << store;
}

void TstHexBuffers::readsAndLength()
{
    QFETCH(Store, store);
    const auto buffer = make(store, "ABCDE");
    QVERIFY(buffer);
    QCOMPARE(buffer->length(), 5);
    QVERIFY(!buffer->isEmpty());
    QCOMPARE(buffer->read(0, 5), QByteArray("ABCDE"));
    QCOMPARE(buffer->read(3, 10), QByteArray("DE")); // cut at the end
    QCOMPARE(buffer->read(5, 1), QByteArray());
    QCOMPARE(buffer->read(7, 1), QByteArray());
    QCOMPARE(buffer->read(1, 0), QByteArray());
    QCOMPARE(buffer->at(0), uchar('A'));
    QCOMPARE(buffer->at(4), uchar('E'));
    // Outside the data every store answers 0 instead of reading beyond it.
    QCOMPARE(buffer->at(5), uchar(0));
    QCOMPARE(buffer->at(-1), uchar(0));
    QCOMPARE(buffer->at(qint64(1) << 40), uchar(0));

    const auto empty = make(store, QByteArray());
    QVERIFY(empty->isEmpty());
    QCOMPARE(empty->length(), 0);
    QCOMPARE(empty->read(0, 1), QByteArray());
    QCOMPARE(empty->at(0), uchar(0));
}

void TstHexBuffers::edits_data()
{
    QTest::addColumn<Store>("store");
    QTest::addColumn<QByteArray>("afterInsert");
    QTest::addColumn<QByteArray>("afterRemove");
    QTest::addColumn<QByteArray>("afterReplace");
    // The memory and pieces stores are editable (the pieces store never pads
    // past the end); the others keep their bytes.
    QTest::newRow("memory") << Memory << QByteArray("ABCDE  AB") << QByteArray("ABE")
                            << QByteArray("AXYDE");
    QTest::newRow("memory-ref") << MemoryRef << QByteArray("ABCDE") << QByteArray("ABCDE")
                                << QByteArray("ABCDE");
    QTest::newRow("file") << File << QByteArray("ABCDE") << QByteArray("ABCDE")
                          << QByteArray("ABCDE");
    QTest::newRow("pieces") << Pieces << QByteArray("ABCDE") << QByteArray("ABE")
                            << QByteArray("AXYDE");
}

void TstHexBuffers::edits()
{
    QFETCH(Store, store);
    QFETCH(QByteArray, afterInsert);
    QFETCH(QByteArray, afterRemove);
    QFETCH(QByteArray, afterReplace);
    auto all = [](QHexBuffer& b) { return b.read(0, int(b.length())); };

    auto buffer = make(store, "ABCDE");
    buffer->insert(7, "AB"); // past the end: the gap is padded with spaces
    QCOMPARE(all(*buffer), afterInsert);

    buffer = make(store, "ABCDE");
    buffer->remove(2, 2);
    QCOMPARE(all(*buffer), afterRemove);
    buffer->remove(-1, 2); // nothing outside the data
    buffer->remove(1, 0);
    QCOMPARE(all(*buffer), afterRemove);

    buffer = make(store, "ABCDE");
    buffer->replace(1, "XY");
    QCOMPARE(all(*buffer), afterReplace);
}

void TstHexBuffers::searches_data()
{
    QTest::addColumn<Store>("store");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("found");

    for (const Store store : { Memory, MemoryRef, File, Pieces }) {
        const QByteArray name(store_name(store));
        const bool memory = store == Memory;
        auto row = [&](const char* tag, const char* pattern, bool forward, qint64 from,
                       qint64 found) {
            QTest::newRow((name + '-' + tag).constData())
                    << store << QByteArray(pattern) << forward << from << found;
        };
        row("forward-from-start", "BC", true, 0, 1);
        row("forward-at-match", "BC", true, 1, 1);
        row("forward-from-2", "BC", true, 2, 4);
        row("forward-from-5", "BC", true, 5, -1);
        row("forward-past-end", "BC", true, 9, -1);
        row("forward-missing", "CB", true, 0, -1);
        row("forward-whole", "ABCABC", true, 0, 0);
        row("forward-longer-than-data", "ABCABCA", true, 0, -1);
        row("backward-from-3", "BC", false, 3, 1);
        row("backward-from-6", "BC", false, 6, 4);
        // A memory store finds the last match that begins by `from`; the
        // device-backed stores the last that ends by it.
        row("backward-from-2", "BC", false, 2, memory ? 1 : -1);
        row("backward-from-minus-1", "BC", false, -1, memory ? 4 : -1);
        row("backward-from-0", "AB", false, 0, memory ? 0 : -1);
        row("backward-past-end", "BC", false, 100, memory ? -1 : 4);
    }
}

void TstHexBuffers::searches()
{
    QFETCH(Store, store);
    QFETCH(QByteArray, pattern);
    QFETCH(bool, forward);
    QFETCH(qint64, from);
    QFETCH(qint64, found);
    const auto buffer = make(store, "ABCABC");
    QCOMPARE(forward ? buffer->indexOf(pattern, from) : buffer->lastIndexOf(pattern, from), found);
}

void TstHexBuffers::searchAcrossWindows_data()
{
    QTest::addColumn<Store>("store");
    QTest::addColumn<qint64>("at");
    QTest::newRow("memory-ref-seam") << MemoryRef << qint64((1 << 20) - 3);
    QTest::newRow("file-seam") << File << qint64((1 << 20) - 3);
    QTest::newRow("file-second-seam") << File << qint64((2 << 20) - 2);
    QTest::newRow("file-last-bytes") << File << qint64((3 << 20) - 6);
    QTest::newRow("pieces-seam") << Pieces << qint64((1 << 20) - 3);
    QTest::newRow("pieces-last-bytes") << Pieces << qint64((3 << 20) - 6);
}

void TstHexBuffers::searchAcrossWindows()
{
    QFETCH(Store, store);
    QFETCH(qint64, at);
    // Searches read bounded windows: a match across a window's edge, far from
    // the start, must still be found in both directions.
    QByteArray bytes(3 << 20, 'x');
    const QByteArray pattern("needle");
    bytes.replace(int(at), pattern.size(), pattern);
    const auto buffer = make(store, bytes);

    QCOMPARE(buffer->indexOf(pattern, 0), qint64(bytes.indexOf(pattern)));
    QCOMPARE(buffer->indexOf(pattern, at + 1), qint64(-1));
    QCOMPARE(buffer->lastIndexOf(pattern, bytes.size()), at);
    QCOMPARE(buffer->lastIndexOf(pattern, at + pattern.size()), at); // ends right there
    QCOMPARE(buffer->lastIndexOf(pattern, at + pattern.size() - 1), qint64(-1));
}

void TstHexBuffers::writeToDevice_data()
{
    readsAndLength_data();
}

void TstHexBuffers::writeToDevice()
{
    QFETCH(Store, store);
    QByteArray bytes(200000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7);
    const auto buffer = make(store, bytes);
    QBuffer target;
    QVERIFY(target.open(QIODevice::WriteOnly));
    buffer->write(&target);
    QCOMPARE(target.data(), bytes);
}

void TstHexBuffers::rejectsWrongDevice()
{
    QMemoryRefBuffer ref;
    QFile file(m_dir.filePath(QStringLiteral("any")));
    QVERIFY(!ref.load(&file));
    QCOMPARE(ref.length(), 0); // no device: reads as empty
    QCOMPARE(ref.read(0, 1), QByteArray());
    QCOMPARE(ref.indexOf("A", 0), qint64(-1));

    QFileBuffer fileBuffer;
    QBuffer memory;
    QVERIFY(!fileBuffer.load(&memory));
    QVERIFY(!fileBuffer.load(QByteArray("ABC"))); // through a QBuffer too
    QCOMPARE(fileBuffer.length(), 0);
    QCOMPARE(fileBuffer.at(0), uchar(0));
}

void TstHexBuffers::fileBufferNeverCreatesFiles()
{
    const QString path = m_dir.filePath(QStringLiteral("not-there"));
    QFileBuffer buffer;
    QVERIFY(buffer.load(new QFile(path))); // loading succeeds, as documented
    QVERIFY(!QFile::exists(path));
    QCOMPARE(buffer.length(), 0);
    QCOMPARE(buffer.read(0, 4), QByteArray());

    // A file that may not be written is still read.
    const QString readOnly = m_dir.filePath(QStringLiteral("read-only"));
    QFile out(readOnly);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("ABC");
    out.close();
    QVERIFY(out.setPermissions(QFileDevice::ReadOwner));
    QFileBuffer reader;
    QVERIFY(reader.load(new QFile(readOnly)));
    QCOMPARE(reader.read(0, 3), QByteArray("ABC"));
}

void TstHexBuffers::sparseFileReadsOnlyWhatIsAsked()
{
    // Six GiB of holes: opening and reading near the end must not load it.
    const QString path = m_dir.filePath(QStringLiteral("sparse"));
    const qint64 size = qint64(6) << 30;
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        if (!out.resize(size))
            QSKIP("the file system cannot hold a sparse file of 6 GiB");
        QVERIFY(out.seek(size - 4));
        out.write("tail");
    }
    QFileBuffer buffer;
    QVERIFY(buffer.load(new QFile(path)));
    QCOMPARE(buffer.length(), size);
    QCOMPARE(buffer.read(size - 4, 100), QByteArray("tail"));
    QCOMPARE(buffer.at(size - 1), uchar('l'));
    QCOMPARE(buffer.at(qint64(5) << 30), uchar(0));
    QCOMPARE(buffer.indexOf("tail", size - (3 << 20)), size - 4);
    QCOMPARE(buffer.lastIndexOf("tail", size), size - 4);
}

void TstHexBuffers::editableFileMatchesModel()
{
    // Edits kept beside the file, against the same edits on a plain array:
    // reads across pieces, searches across them and the bytes written out.
    QByteArray model(3000, '\0');
    for (int i = 0; i < model.size(); ++i)
        model[i] = char('a' + i % 26);
    const auto made = make(File, model);
    QVERIFY(made);
    auto* buffer = qobject_cast<QFileBuffer*>(made.get());
    buffer->setEditable(true);
    const QString path = buffer->fileName();

    QRandomGenerator random(151207);
    for (int step = 0; step < 400; ++step) {
        const qint64 offset = random.bounded(-2, model.size() + 3);
        QByteArray data;
        for (int n = random.bounded(1, 40); n > 0; --n)
            data.append(char(random.bounded(256)));
        switch (random.bounded(3)) {
        case 0:
            buffer->insert(offset, data);
            if (offset >= 0 && offset <= model.size()) // never past the end
                model.insert(int(offset), data);
            break;
        case 1:
            buffer->remove(offset, data.size());
            if (offset >= 0)
                model.remove(int(offset), data.size());
            break;
        default:
            buffer->replace(offset, data);
            if (offset >= 0 && offset <= model.size()) {
                model.remove(int(offset), data.size());
                model.insert(int(offset), data);
            }
            break;
        }
        QCOMPARE(buffer->length(), qint64(model.size()));
        const int from = random.bounded(model.size() + 1);
        const int length = random.bounded(300);
        QCOMPARE(buffer->read(from, length), model.mid(from, length));
        const QByteArray pattern = model.mid(random.bounded(model.size()), 3);
        QCOMPARE(buffer->indexOf(pattern, from), qint64(model.indexOf(pattern, from)));
    }
    QCOMPARE(buffer->read(0, model.size()), model);
    QBuffer target;
    QVERIFY(target.open(QIODevice::WriteOnly));
    buffer->write(&target);
    QCOMPARE(target.data(), model);

    // The file itself is untouched until saved elsewhere.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), qint64(3000));
    QCOMPARE(file.read(3), QByteArray("abc"));
}

void TstHexBuffers::piecesGrowWhileEditedMatchModel()
{
    // A live stream: runs of three files (unlinked at once, as a capture
    // store may do) keep arriving while the bytes are edited. Against a plain
    // array given the same appends and edits.
    QRandomGenerator random(230023);
    QByteArray files[3];
    QPieceBuffer buffer;
    int sources[3];
    for (int i = 0; i < 3; ++i) {
        files[i].resize(20000);
        for (char& byte : files[i])
            byte = char('a' + random.bounded(26));
        const QString path = writeFile(files[i]);
        sources[i] = buffer.addSource(openForReading(path));
        QVERIFY(sources[i] >= 0);
        QVERIFY(QFile::remove(path));
    }

    QByteArray model;
    qint64 next[3] = { 0, 0, 0 }; // where each file's next run starts
    for (int step = 0; step < 600; ++step) {
        const int offset = random.bounded(-2, model.size() + 3);
        const int length = random.bounded(1, 40);
        switch (random.bounded(4)) {
        case 0: { // a run: right after the file's previous one, a little or far
                  // (more than a read spans) after it, or anywhere
            const int file = random.bounded(3);
            const int size = random.bounded(1, 200);
            const qint64 gaps[] = { 0, random.bounded(1, 30), random.bounded(4000, 6000),
                                    random.bounded(files[file].size()) - next[file] };
            qint64 at = next[file] + gaps[random.bounded(4)];
            if (at + size > files[file].size())
                at = random.bounded(files[file].size() - size);
            buffer.appendRun(sources[file], at, size);
            model.append(files[file].mid(int(at), size));
            next[file] = at + size;
            break;
        }
        case 1: {
            const QByteArray data = QByteArray::number(step).repeated(length);
            buffer.insert(offset, data);
            if (offset >= 0 && offset <= model.size())
                model.insert(offset, data);
            break;
        }
        case 2:
            buffer.remove(offset, length);
            if (offset >= 0)
                model.remove(offset, length);
            break;
        default:
            if (random.bounded(2) == 0) {
                buffer.appendBytes("mem");
                model.append("mem");
            }
            break;
        }
        QCOMPARE(buffer.length(), qint64(model.size()));
        const int from = random.bounded(model.size() + 1);
        const int size = random.bounded(400);
        QCOMPARE(buffer.read(from, size), model.mid(from, size));
        QCOMPARE(buffer.at(from), uchar(model.mid(from, 1).append('\0').at(0)));
        const QByteArray pattern = model.mid(random.bounded(model.size() + 1), 4);
        QCOMPARE(buffer.indexOf(pattern, from), qint64(model.indexOf(pattern, from)));
    }
    QVERIFY(buffer.runCount() > 20);
    QBuffer target;
    QVERIFY(target.open(QIODevice::WriteOnly));
    buffer.write(&target);
    QCOMPARE(target.data(), model);
}

void TstHexBuffers::piecesJoinRunsThatFollowInAFile()
{
    const QString path = writeFile("0123456789");
    QPieceBuffer buffer;
    const int a = buffer.addSource(openForReading(path));
    const int b = buffer.addSource(openForReading(path));
    QCOMPARE(buffer.addSource(-1), -1);
    buffer.appendRun(a, 0, 2);
    buffer.appendRun(a, 2, 3); // follows in the file: the same run
    QCOMPARE(buffer.runCount(), qint64(1));
    buffer.appendRun(a, 6, 1); // a byte left out
    buffer.appendRun(b, 7, 2); // the next bytes, but through another source
    buffer.appendRun(a, 1, 1); // backwards
    buffer.appendRun(2, 0, 1); // no such source: ignored
    buffer.appendRun(a, -1, 1);
    buffer.appendRun(a, qint64(1) << 48, 1); // beyond any file a run may name
    buffer.appendRun(a, 0, 0);
    QCOMPARE(buffer.runCount(), qint64(4));
    QCOMPARE(buffer.read(0, 100), QByteArray("012346781"));
    QCOMPARE(buffer.baseLength(), qint64(9));

    // Loading a device is not meaningful here and changes nothing.
    QVERIFY(!buffer.load(QByteArray("xyz")));
    QCOMPARE(buffer.read(0, 100), QByteArray("012346781"));
}

void TstHexBuffers::piecesNeverInventBytes()
{
    // A run that the file does not (or no longer) hold ends every read there:
    // nothing after it is shifted into its place and no zeros are made up.
    const QString path = writeFile("ABCDEFGH");
    QPieceBuffer buffer;
    const int source = buffer.addSource(openForReading(path));
    buffer.appendRun(source, 0, 2);
    buffer.appendRun(source, 6, 4); // only "GH" are there
    buffer.appendRun(source, 3, 2);
    QCOMPARE(buffer.length(), qint64(8));
    QCOMPARE(buffer.read(0, 8), QByteArray("ABGH"));
    QCOMPARE(buffer.read(6, 2), QByteArray("DE"));
    QBuffer target;
    QVERIFY(target.open(QIODevice::WriteOnly));
    buffer.write(&target);
    QCOMPARE(target.data(), QByteArray("ABGH"));
}

void TstHexBuffers::pieceDocumentUndoRedoAndFind()
{
    // The document a followed stream is shown in: edits undo back to the
    // files' bytes, runs that arrive meanwhile land after the last byte, and
    // the window's search finds a match that spans a run border.
    QByteArray bytes(8000, '.');
    const int border = 1 + 614 + 1227 + 392; // the 5th run, in the other file: see makePieces
    bytes.replace(border - 3, 6, "needle");
    auto* buffer = makePieces(bytes).release(); // the document takes it over
    QVERIFY(buffer != nullptr);
    QHexDocument document(buffer);
    const QString tailPath = writeFile("<tail>");
    const int tail = buffer->addSource(openForReading(tailPath));

    document.insert(0, QByteArray("head"));
    document.remove(10, 5);
    document.replace(20, QByteArray("XY"));
    buffer->appendRun(tail, 0, 6);
    QByteArray edited = bytes;
    edited.insert(0, "head").remove(10, 5).replace(20, 2, "XY").append("<tail>");
    QCOMPARE(document.read(0, int(document.length())), edited);

    for (int i = 0; i < 3; ++i)
        document.undo();
    QCOMPARE(document.read(0, int(document.length())), bytes + "<tail>");
    for (int i = 0; i < 3; ++i)
        document.redo();
    QCOMPARE(document.read(0, int(document.length())), edited);

    HexSearch search(&document);
    search.setWindowSize(500); // the match spans a window seam as well
    search.start("needle", 0, HexSearch::Direction::Forward);
    QCOMPARE(search.run(), HexSearch::Status::Found);
    QCOMPARE(search.matchOffset(), qint64(edited.indexOf("needle")));
    search.start("needle", document.length(), HexSearch::Direction::Backward);
    QCOMPARE(search.run(), HexSearch::Status::Found);
    QCOMPARE(search.matchOffset(), qint64(edited.indexOf("needle")));
    QCOMPARE(document.searchForward("<tail>"), qint64(edited.size() - 6));
}

QTEST_GUILESS_MAIN(TstHexBuffers)
#include "tst_hexbuffers.moc"
