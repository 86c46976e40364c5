// SPDX-License-Identifier: GPL-2.0-or-later

#include <limits>
#include <memory>

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMetaMethod>
#include <QMimeData>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include "qhexbuffer.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qmemorybuffer.h"
#include "qmemoryrefbuffer.h"

namespace {

std::unique_ptr<QHexDocument> memory_document(const QByteArray& bytes)
{
    auto* buffer = new QMemoryBuffer; // the document takes it over
    buffer->load(bytes);
    return std::make_unique<QHexDocument>(buffer);
}

QByteArray all(QHexDocument& document)
{
    return document.read(0, int(document.length()));
}

// One edit: "i" insert, "r" replace, "d" remove.
struct Edit
{
    char kind;
    qint64 offset;
    QByteArray data; // insert, replace
    int length = 0; // remove
};

void apply(QHexDocument& document, const Edit& edit)
{
    if (edit.kind == 'i')
        document.insert(edit.offset, edit.data);
    else if (edit.kind == 'r')
        document.replace(edit.offset, edit.data);
    else
        document.remove(edit.offset, edit.length);
}

// The same edit on a plain byte array: the oracle for a memory store.
void apply(QByteArray& bytes, const Edit& edit)
{
    if (edit.offset > INT_MAX || edit.offset < INT_MIN)
        return;
    const int offset = int(edit.offset);
    if (edit.kind == 'i') {
        bytes.insert(offset, edit.data);
    } else if (edit.kind == 'r') {
        bytes.remove(offset, edit.data.size());
        bytes.insert(offset, edit.data);
    } else {
        bytes.remove(offset, edit.length);
    }
}

// Bytes of any length, all 'Z', that hold no memory: a document far larger
// than any clipboard. Reads of more than a few MiB fail the test, since a
// refused copy must read nothing.
class HugeBuffer : public QHexBuffer
{
public:
    explicit HugeBuffer(qint64 length)
        : m_length(length)
    { }
    qint64 length() const override { return m_length; }
    void insert(qint64, const QByteArray&) override { }
    void remove(qint64, int) override { }
    QByteArray read(qint64 offset, int length) override
    {
        if (offset < 0 || offset >= m_length || length <= 0 || length > (4 << 20))
            return {};
        return QByteArray(static_cast<int>(qMin<qint64>(length, m_length - offset)), 'Z');
    }
    bool load(QIODevice*) override { return true; }
    void write(QIODevice*) override { }
    qint64 indexOf(const QByteArray&, qint64) override { return -1; }
    qint64 lastIndexOf(const QByteArray&, qint64) override { return -1; }

private:
    qint64 m_length;
};

} // namespace

Q_DECLARE_METATYPE(Edit)

class TstQHexDocument : public QObject
{
    Q_OBJECT

private slots:
    void interface();
    void newDocument();
    void editUndoRedo_data();
    void editUndoRedo();
    void randomEditsMatchModel();
    void editSignals();
    void readOnlyStoreKeepsBytes();
    void clipboard_data();
    void clipboard();
    void pasteOverSelectionToTheEnd_data();
    void pasteOverSelectionToTheEnd();
    void annotationsFollowBytesAtRandom();
    void clipboardWithoutSelection();
    void oversizedSelectionStaysOffTheClipboard_data();
    void oversizedSelectionStaysOffTheClipboard();
    void copyKeepsExactBytes();
    void searches_data();
    void searches();
    void layoutSettings();
    void saveTo();
    void saveToReportsFailedWrite();
    void modifiedFollowsUndoStack();
    void fromFile();
    void fromLargeSparseFile();

private:
    QTemporaryDir m_dir;
};

void TstQHexDocument::interface()
{
    // Callers reach these through the meta-object by name (in the normalised
    // spelling: qint64 and quint64 are qlonglong and qulonglong there).
    const QStringList expected = { "canUndoChanged(bool)",
                                   "canRedoChanged(bool)",
                                   "documentChanged()",
                                   "lineChanged(qulonglong)",
                                   "undo()",
                                   "redo()",
                                   "cut(bool)",
                                   "cut()",
                                   "copy(bool)",
                                   "copy()",
                                   "paste(bool)",
                                   "paste()",
                                   "insert(qlonglong,uchar)",
                                   "replace(qlonglong,uchar)",
                                   "insert(qlonglong,QByteArray)",
                                   "replace(qlonglong,QByteArray)",
                                   "remove(qlonglong,int)",
                                   "read(qlonglong,int)",
                                   "saveTo(QIODevice*)",
                                   "searchForward(QByteArray)",
                                   "searchBackward(QByteArray)" };
    const QMetaObject& meta = QHexDocument::staticMetaObject;
    QStringList found;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        found.append(QString::fromLatin1(meta.method(i).methodSignature()));
    QCOMPARE(found, expected);
    const QMetaMethod save = meta.method(meta.indexOfMethod("saveTo(QIODevice*)"));
    QCOMPARE(save.parameterNames().first(), QByteArray("device"));
    QCOMPARE(QByteArray(save.typeName()), QByteArray("bool"));
}

void TstQHexDocument::newDocument()
{
    const auto document = memory_document({});
    QVERIFY(document->isEmpty());
    QVERIFY(document->atEnd());
    QVERIFY(!document->canUndo());
    QVERIFY(!document->canRedo());
    QCOMPARE(document->bytesPerLine(), quint8(16));
    QCOMPARE(document->areaSpacing(), quint8(1));
    QCOMPARE(document->baseAddress(), quint64(0));
    QCOMPARE(document->cursor()->position().lineWidth, quint8(16));
    QCOMPARE(document->cursor()->parent(), document.get());
    QCOMPARE(document->metadata()->parent(), document.get());
    QVERIFY(document->selectedBytes().isEmpty());
}

void TstQHexDocument::editUndoRedo_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<Edit>("edit");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("insert") << QByteArray("ABCDE") << Edit { 'i', 2, "XY" }
                            << QByteArray("ABXYCDE");
    QTest::newRow("insert-at-end")
            << QByteArray("ABCDE") << Edit { 'i', 5, "XY" } << QByteArray("ABCDEXY");
    QTest::newRow("insert-past-end")
            << QByteArray("ABCDE") << Edit { 'i', 7, "XY" } << QByteArray("ABCDE  XY");
    QTest::newRow("insert-negative")
            << QByteArray("ABCDE") << Edit { 'i', -1, "XY" } << QByteArray("ABCDE");
    QTest::newRow("remove") << QByteArray("ABCDE") << Edit { 'd', 1, {}, 2 } << QByteArray("ADE");
    QTest::newRow("remove-past-end")
            << QByteArray("ABCDE") << Edit { 'd', 3, {}, 10 } << QByteArray("ABC");
    QTest::newRow("remove-negative-length")
            << QByteArray("ABCDE") << Edit { 'd', 2, {}, -1 } << QByteArray("ABCDE");
    QTest::newRow("remove-negative-offset")
            << QByteArray("ABCDE") << Edit { 'd', -1, {}, 2 } << QByteArray("ABCDE");
    QTest::newRow("remove-at-end")
            << QByteArray("ABCDE") << Edit { 'd', 5, {}, 1 } << QByteArray("ABCDE");
    QTest::newRow("replace") << QByteArray("ABCDE") << Edit { 'r', 1, "XY" } << QByteArray("AXYDE");
    QTest::newRow("replace-past-end")
            << QByteArray("ABCDE") << Edit { 'r', 3, "XYZ" } << QByteArray("ABCXYZ");
    QTest::newRow("replace-at-end")
            << QByteArray("ABCDE") << Edit { 'r', 5, "XY" } << QByteArray("ABCDEXY");
    QTest::newRow("replace-beyond-end")
            << QByteArray("ABCDE") << Edit { 'r', 7, "XY" } << QByteArray("ABCDE  XY");
    QTest::newRow("replace-in-empty") << QByteArray() << Edit { 'r', 0, "AB" } << QByteArray("AB");
    // Offsets that a 32-bit narrowing would turn into 1, inside the data.
    const qint64 belowInt = -(qint64(1) << 32) + 1;
    QTest::newRow("insert-below-32-bit")
            << QByteArray("ABCDE") << Edit { 'i', belowInt, "XY" } << QByteArray("ABCDE");
    QTest::newRow("remove-below-32-bit")
            << QByteArray("ABCDE") << Edit { 'd', belowInt, {}, 2 } << QByteArray("ABCDE");
    QTest::newRow("replace-below-32-bit")
            << QByteArray("ABCDE") << Edit { 'r', belowInt, "XY" } << QByteArray("ABCDE");
    // The end of the inserted run would pass what one array can hold.
    const qint64 nearIntMax = std::numeric_limits<int>::max() - 1;
    QTest::newRow("insert-ending-past-int-max")
            << QByteArray("ABCDE") << Edit { 'i', nearIntMax, "XY" } << QByteArray("ABCDE");
    QTest::newRow("replace-ending-past-int-max")
            << QByteArray("ABCDE") << Edit { 'r', nearIntMax, "XYZ" } << QByteArray("ABCDE");
    QTest::newRow("replace-with-zero-bytes")
            << QByteArray("ABCDE") << Edit { 'r', 1, QByteArray(2, '\0') }
            << QByteArray("A\0\0DE", 5);
}

void TstQHexDocument::editUndoRedo()
{
    QFETCH(QByteArray, before);
    QFETCH(Edit, edit);
    QFETCH(QByteArray, after);

    const auto document = memory_document(before);
    apply(*document, edit);
    QCOMPARE(all(*document), after);
    document->undo();
    QCOMPARE(all(*document), before); // exactly, length included
    document->redo();
    QCOMPARE(all(*document), after);
    document->undo();
    document->undo(); // nothing more to undo
    QCOMPARE(all(*document), before);
}

void TstQHexDocument::randomEditsMatchModel()
{
    // Edits, undos and redos in any order against snapshots of a plain array.
    QRandomGenerator random(20261207);
    const auto document = memory_document("0123456789");
    QVector<QByteArray> states { "0123456789" };
    int current = 0;
    for (int step = 0; step < 3000; ++step) {
        const int action = random.bounded(10);
        if (action < 2) {
            document->undo();
            current = qMax(0, current - 1);
        } else if (action < 3) {
            document->redo();
            current = qMin(int(states.size()) - 1, current + 1);
        } else {
            const qint64 size = states.at(current).size();
            Edit edit { "ird"[random.bounded(3)],
                        random.bounded(-2, int(size) + 4),
                        {},
                        random.bounded(-1, 7) };
            for (int n = random.bounded(6); n > 0; --n)
                edit.data.append(char(random.bounded(256)));
            apply(*document, edit);
            QByteArray next = states.at(current);
            apply(next, edit);
            states.resize(++current);
            states.append(next);
        }
        QCOMPARE(all(*document), states.at(current));
        QCOMPARE(document->canUndo(), current > 0);
        QCOMPARE(document->canRedo(), current < states.size() - 1);
    }
}

void TstQHexDocument::editSignals()
{
    const auto document = memory_document("ABCDE");
    QSignalSpy changed(document.get(), &QHexDocument::documentChanged);
    QSignalSpy canUndo(document.get(), &QHexDocument::canUndoChanged);
    QSignalSpy canRedo(document.get(), &QHexDocument::canRedoChanged);

    document->undo(); // nothing to undo: still a documentChanged, no stack signal
    QCOMPARE(changed.size(), 1);
    QCOMPARE(canUndo.size(), 0);

    document->insert(0, uchar('X'));
    document->replace(1, uchar('Y'));
    document->remove(0, 1);
    QCOMPARE(changed.size(), 4);
    QCOMPARE(all(*document), QByteArray("YBCDE"));
    QVERIFY(!canUndo.isEmpty());
    QCOMPARE(canUndo.last().first().toBool(), true);

    document->undo();
    QCOMPARE(canRedo.last().first().toBool(), true);
    document->insert(0, uchar('Z')); // drops the undone step
    QVERIFY(!document->canRedo());
    QCOMPARE(canRedo.last().first().toBool(), false);
    QCOMPARE(all(*document), QByteArray("ZXYBCDE"));
    QCOMPARE(changed.size(), 6);
}

void TstQHexDocument::readOnlyStoreKeepsBytes()
{
    auto* buffer = new QMemoryRefBuffer;
    buffer->load(QByteArray("ABCDE"));
    QHexDocument document(buffer);
    QSignalSpy changed(&document, &QHexDocument::documentChanged);
    document.insert(0, QByteArray("XY"));
    document.replace(1, QByteArray("Q"));
    document.remove(0, 2);
    QCOMPARE(changed.size(), 3);
    QVERIFY(document.canUndo()); // the steps exist, but change nothing
    QCOMPARE(all(document), QByteArray("ABCDE"));
    document.undo();
    document.undo();
    document.undo();
    QCOMPARE(all(document), QByteArray("ABCDE"));
}

void TstQHexDocument::clipboard_data()
{
    QTest::addColumn<QString>("action"); // copy, copy-hex, cut, paste, paste-hex
    QTest::addColumn<bool>("insertMode");
    QTest::addColumn<QString>("clipboardBefore");
    QTest::addColumn<QByteArray>("bytesAfter");
    QTest::addColumn<QString>("clipboardAfter");

    QTest::addColumn<qint64>("caretAfter"); // where the bytes cut were, after those pasted

    // ABCDEFGH with offsets 2 to 4 selected, the position on offset 4.
    QTest::newRow("copy") << "copy" << false << "" << QByteArray("ABCDEFGH") << "CDE" << 4LL;
    QTest::newRow("copy-hex") << "copy-hex" << false << "" << QByteArray("ABCDEFGH") << "43 44 45"
                              << 4LL;
    QTest::newRow("cut") << "cut" << false << "" << QByteArray("ABFGH") << "CDE" << 2LL;
    QTest::newRow("cut-hex") << "cut-hex" << false << "" << QByteArray("ABFGH") << "43 44 45"
                             << 2LL;
    QTest::newRow("paste-insert") << "paste" << true << "XY" << QByteArray("ABFGXYH") << "XY"
                                  << 6LL;
    QTest::newRow("paste-overwrite")
            << "paste" << false << "XY" << QByteArray("ABFGXY") << "XY" << 6LL;
    QTest::newRow("paste-hex-insert")
            << "paste-hex" << true << "58 5a" << QByteArray("ABFGXZH") << "58 5a" << 6LL;
    QTest::newRow("paste-utf8") << "paste" << true << QString::fromUtf8("\xE4\xBD\xA0")
                                << QByteArray("ABFG\xE4\xBD\xA0H")
                                << QString::fromUtf8("\xE4\xBD\xA0") << 7LL;
    QTest::newRow("paste-empty-clipboard")
            << "paste" << true << "" << QByteArray("ABCDEFGH") << "" << 4LL;
}

void TstQHexDocument::clipboard()
{
    QFETCH(QString, action);
    QFETCH(bool, insertMode);
    QFETCH(QString, clipboardBefore);
    QFETCH(QByteArray, bytesAfter);
    QFETCH(QString, clipboardAfter);
    QFETCH(qint64, caretAfter);

    QClipboard* board = QGuiApplication::clipboard();
    board->setText(clipboardBefore);
    const auto document = memory_document("ABCDEFGH");
    document->cursor()->moveTo(qint64(2));
    document->cursor()->select(0, 4, 1);
    document->cursor()->setInsertionMode(insertMode ? InsertMode : OverwriteMode);
    QCOMPARE(document->selectedBytes(), QByteArray("CDE"));
    QSignalSpy changed(document.get(), &QHexDocument::documentChanged);

    const bool hex = action.endsWith(QLatin1String("-hex"));
    if (action.startsWith(QLatin1String("copy")))
        document->copy(hex);
    else if (action.startsWith(QLatin1String("cut")))
        document->cut(hex);
    else
        document->paste(hex);

    QCOMPARE(all(*document), bytesAfter);
    QCOMPARE(board->text(), clipboardAfter);
    QCOMPARE(document->cursor()->position().offset(), caretAfter);
    if (action.startsWith(QLatin1String("cut")))
        QCOMPARE(changed.size(), 1);
    if (bytesAfter != "ABCDEFGH") {
        QVERIFY(!document->cursor()->hasSelection());
        // Everything the action changed is undone step by step.
        while (document->canUndo())
            document->undo();
        QCOMPARE(all(*document), QByteArray("ABCDEFGH"));
    } else {
        QCOMPARE(changed.size(), 0);
        QVERIFY(document->cursor()->hasSelection());
    }
}

void TstQHexDocument::pasteOverSelectionToTheEnd_data()
{
    QTest::addColumn<bool>("insertMode");
    QTest::newRow("insert") << true;
    QTest::newRow("overwrite") << false;
}

void TstQHexDocument::pasteOverSelectionToTheEnd()
{
    // Selected from C to the last byte, the position on the last byte: once
    // the selection is removed the position lies past the data, and the
    // paste must not pad the gap with spaces.
    QFETCH(bool, insertMode);
    QGuiApplication::clipboard()->setText(QStringLiteral("XY"));
    const auto document = memory_document("ABCDEFGH");
    document->cursor()->moveTo(qint64(2));
    document->cursor()->select(0, 7, 1);
    document->cursor()->setInsertionMode(insertMode ? InsertMode : OverwriteMode);
    document->paste();
    QCOMPARE(all(*document), QByteArray("ABXY"));
    document->undo();
    document->undo();
    QCOMPARE(all(*document), QByteArray("ABCDEFGH"));
}

void TstQHexDocument::annotationsFollowBytesAtRandom()
{
    // Every byte carries the set of annotations it belongs to: removed bytes
    // take theirs along, and an inserted byte joins the annotations of both
    // its neighbours (it lands inside them). Each annotation must cover
    // exactly its bytes, after every edit, undo and redo; there are enough
    // of them for the index's tree to have a few levels.
    constexpr int kAnnotations = 40;
    using Marks = QVector<quint64>; // bit i: annotation i
    struct State
    {
        QByteArray bytes;
        Marks marks;
    };
    const auto applyMarked = [](State state, const Edit& edit) {
        const int size = state.bytes.size();
        if (edit.kind == 'd') {
            if (edit.offset >= 0 && edit.offset < size && edit.length > 0)
                state.marks.remove(int(edit.offset), qMin(edit.length, size - int(edit.offset)));
        } else if (edit.kind == 'i' && edit.offset >= 0 && edit.offset <= size) {
            const int at = int(edit.offset);
            const quint64 inside = at > 0 && at < size ? state.marks[at - 1] & state.marks[at] : 0;
            state.marks.insert(at, edit.data.size(), inside);
        } else if (edit.kind == 'r' && edit.offset >= 0 && edit.offset <= size) {
            const qint64 grown = edit.offset + edit.data.size() - size;
            if (grown > 0)
                state.marks.append(Marks(int(grown), 0));
        } else {
            return state; // padded or refused: no byte of it is checked
        }
        apply(state.bytes, edit);
        return state;
    };

    QRandomGenerator random(20261208);
    const QByteArray start = QByteArray("0123456789abcdefghijklmnopqrstuv").repeated(2);
    const auto document = memory_document(start);
    QHexMetadata* metadata = document->metadata();
    State first { start, Marks(start.size(), 0) };
    for (int i = 0; i < kAnnotations; ++i) {
        const int begin = random.bounded(start.size() - 2);
        const int end = qMin(begin + 1 + random.bounded(random.bounded(2) == 0 ? 4 : 30),
                             int(start.size())); // over bytes there are
        metadata->addRange(begin, end, QColor(), QColor(), QString::number(i));
        for (int at = begin; at < end; ++at)
            first.marks[at] |= quint64(1) << i;
    }
    QVector<State> states { first };
    int current = 0;
    for (int step = 0; step < 1500; ++step) {
        const int action = random.bounded(10);
        if (action < 2) {
            document->undo();
            current = qMax(0, current - 1);
        } else if (action < 3) {
            document->redo();
            current = qMin(int(states.size()) - 1, current + 1);
        } else {
            const int size = states.at(current).bytes.size();
            Edit edit { "ird"[random.bounded(3)], random.bounded(0, size + 1),
                        QByteArray(random.bounded(1, 4), 'z'), random.bounded(1, 5) };
            if (edit.kind != 'd' && size > 96)
                edit.kind = 'd'; // stays short enough to read at once
            const State next = applyMarked(states.at(current), edit);
            apply(*document, edit);
            states.resize(++current);
            states.append(next);
        }
        const State& state = states.at(current);
        QCOMPARE(all(*document), state.bytes);
        for (int at = 0; at < state.bytes.size(); ++at) {
            quint64 found = 0;
            const QString comments = metadata->comments(quint64(at / 16), at % 16);
            for (const QString& number : comments.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                found |= quint64(1) << number.toInt();
            QVERIFY2(found == state.marks[at],
                     qPrintable(QStringLiteral("step %1, byte %2: %3 instead of %4")
                                        .arg(step)
                                        .arg(at)
                                        .arg(found, 0, 2)
                                        .arg(state.marks[at], 0, 2)));
        }
    }
}

void TstQHexDocument::clipboardWithoutSelection()
{
    QClipboard* board = QGuiApplication::clipboard();
    board->setText(QStringLiteral("41 42"));
    const auto document = memory_document({});
    document->cursor()->setInsertionMode(InsertMode);
    QSignalSpy changed(document.get(), &QHexDocument::documentChanged);
    document->copy();
    document->cut(true);
    document->removeSelection();
    QCOMPARE(changed.size(), 0);
    QCOMPARE(board->text(), QStringLiteral("41 42"));
    document->paste(true);
    QCOMPARE(all(*document), QByteArray("AB"));

    // Raw copying stops at the first zero byte; the hex form keeps it.
    const auto binary = memory_document(QByteArray("a\0b", 3));
    binary->cursor()->moveTo(qint64(0));
    binary->cursor()->select(0, 2, 1);
    binary->copy();
    QCOMPARE(board->text(), QStringLiteral("a"));
    binary->copy(true);
    QCOMPARE(board->text(), QStringLiteral("61 00 62"));
}

void TstQHexDocument::oversizedSelectionStaysOffTheClipboard_data()
{
    QTest::addColumn<qint64>("length"); // all selected
    QTest::addColumn<QString>("action");

    const qint64 gib = qint64(1) << 30;
    QTest::newRow("copy-1gib") << gib << "copy";
    QTest::newRow("copy-hex-1gib") << gib << "copy-hex";
    QTest::newRow("cut-1gib") << gib << "cut";
    QTest::newRow("copy-hex-100mib") << (qint64(100) << 20) << "copy-hex"; // 300 MiB as text
    QTest::newRow("copy-beyond-int") << 4 * gib + 2 << "copy";
    QTest::newRow("cut-beyond-int") << 4 * gib + 2 << "cut";
}

void TstQHexDocument::oversizedSelectionStaysOffTheClipboard()
{
    QFETCH(qint64, length);
    QFETCH(QString, action);

    QClipboard* board = QGuiApplication::clipboard();
    board->setText(QStringLiteral("kept"));
    QHexDocument document(new HugeBuffer(length));
    QSignalSpy changed(&document, &QHexDocument::documentChanged);
    QHexCursor* cursor = document.cursor();
    cursor->moveTo(0, 0, 1);
    cursor->select(static_cast<quint64>((length - 1) / 16), static_cast<int>((length - 1) % 16), 0);
    QVERIFY(cursor->hasSelection());

    const bool hex = action.endsWith(QLatin1String("-hex"));
    if (action.startsWith(QLatin1String("cut")))
        document.cut(hex);
    else
        document.copy(hex);
    QCOMPARE(board->text(), QStringLiteral("kept"));
    QCOMPARE(changed.size(), 0);
    QVERIFY(!document.canUndo());
    QVERIFY(cursor->hasSelection());
}

void TstQHexDocument::copyKeepsExactBytes()
{
    // Invalid UTF-8 and a zero byte: the text cannot carry them, the bytes
    // beside it must, and a paste takes the bytes in either column.
    const QByteArray bytes = QByteArray::fromHex("41C328420043FF44");
    QClipboard* board = QGuiApplication::clipboard();
    const auto source = memory_document(bytes);
    source->cursor()->moveTo(qint64(0));
    source->cursor()->select(0, bytes.size() - 1, 0);
    source->copy();
    QCOMPARE(board->mimeData()->data(QStringLiteral("application/octet-stream")), bytes);
    QVERIFY(board->text().startsWith(QLatin1Char('A'))); // text for other programs

    for (const bool hex : { false, true }) {
        const auto target = memory_document({});
        target->cursor()->setInsertionMode(InsertMode);
        target->paste(hex);
        QCOMPARE(all(*target), bytes);
    }

    // Copy as hex stays text only.
    source->copy(true);
    QCOMPARE(board->text(), QStringLiteral("41 C3 28 42 00 43 FF 44"));
    QVERIFY(!board->mimeData()->hasFormat(QStringLiteral("application/octet-stream")));
}

void TstQHexDocument::searches_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<bool>("forward");
    QTest::addColumn<qint64>("cursorAt");
    QTest::addColumn<int>("selectTo"); // -1: no selection
    QTest::addColumn<qint64>("found");
    // Over ABCDEFGHCD, 16 bytes per line.
    QTest::newRow("forward-under-cursor")
            << QByteArray("CD") << true << qint64(2) << -1 << qint64(2);
    QTest::newRow("forward-later") << QByteArray("CD") << true << qint64(3) << -1 << qint64(8);
    QTest::newRow("forward-none") << QByteArray("XY") << true << qint64(0) << -1 << qint64(-1);
    QTest::newRow("backward-from-before-cursor")
            << QByteArray("CD") << false << qint64(2) << -1 << qint64(-1);
    QTest::newRow("backward-from-start-wraps-to-last")
            << QByteArray("CD") << false << qint64(0) << -1 << qint64(8);
    QTest::newRow("backward-before-selection")
            << QByteArray("CD") << false << qint64(9) << 3 << qint64(2);
    QTest::newRow("backward-found") << QByteArray("CD") << false << qint64(9) << -1 << qint64(8);
}

void TstQHexDocument::searches()
{
    QFETCH(QByteArray, pattern);
    QFETCH(bool, forward);
    QFETCH(qint64, cursorAt);
    QFETCH(int, selectTo);
    QFETCH(qint64, found);

    const auto document = memory_document("ABCDEFGHCD");
    QHexCursor* cursor = document->cursor();
    cursor->moveTo(cursorAt);
    if (selectTo >= 0)
        cursor->select(0, selectTo, 1);
    const QHexPosition before = cursor->position();
    const qint64 result
            = forward ? document->searchForward(pattern) : document->searchBackward(pattern);
    QCOMPARE(result, found);
    if (found < 0) {
        QCOMPARE(cursor->position(), before);
        return;
    }
    // The match is selected: anchor on its first byte, position on its last.
    QCOMPARE(qint64(cursor->anchorColumn()), found);
    QCOMPARE(qint64(cursor->currentColumn()), found + pattern.size() - 1);
    QCOMPARE(document->selectedBytes(), pattern);
}

void TstQHexDocument::layoutSettings()
{
    const auto document = memory_document(QByteArray(64, 'x'));
    QSignalSpy changed(document.get(), &QHexDocument::documentChanged);
    QSignalSpy lines(document.get(), &QHexDocument::lineChanged);
    document->setBaseAddress(0);
    QCOMPARE(changed.size(), 0);
    document->setBaseAddress(4096);
    document->setBaseAddress(4096);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(document->baseAddress(), quint64(4096));
    document->setAreaSpacing(3);
    QCOMPARE(document->areaSpacing(), quint8(3));

    document->metadata()->addRange(0, 20, Qt::red, QColor(), QString());
    QCOMPARE(lines.size(), 2); // lines 0 and 1
    document->setBytesPerLine(8);
    QCOMPARE(document->bytesPerLine(), quint8(8));
    QCOMPARE(document->cursor()->position().lineWidth, quint8(8));
    QCOMPARE(lines.size(), 5); // relaid over lines 0, 1 and 2
    QCOMPARE(lines.last().first().toULongLong(), 2ULL);
    QCOMPARE(changed.size(), 1); // no documentChanged of its own
    document->cursor()->moveTo(qint64(35));
    QCOMPARE(document->cursor()->currentLine(), quint64(4));

    document->metadata()->clear(); // forwarded as documentChanged
    QCOMPARE(changed.size(), 2);
}

void TstQHexDocument::saveTo()
{
    const auto document = memory_document(QByteArray("AB\0CD", 5));
    QBuffer readOnly;
    readOnly.setData("old");
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    QVERIFY(!document->saveTo(&readOnly));
    QCOMPARE(readOnly.data(), QByteArray("old"));
    QVERIFY(!document->saveTo(nullptr));

    QBuffer target;
    QVERIFY(target.open(QIODevice::WriteOnly));
    bool saved = false;
    QVERIFY(QMetaObject::invokeMethod(document.get(), "saveTo", Q_RETURN_ARG(bool, saved),
                                      Q_ARG(QIODevice*, &target)));
    QVERIFY(saved);
    QCOMPARE(target.data(), QByteArray("AB\0CD", 5));
}

void TstQHexDocument::saveToReportsFailedWrite()
{
    const auto document = memory_document(QByteArray(3 << 20, 'x'));
    QFile full(QStringLiteral("/dev/full")); // every write: no space left
    if (!full.open(QIODevice::WriteOnly))
        QSKIP("no /dev/full here");
    QVERIFY(!document->saveTo(&full));
    QVERIFY(!document->errorString().isEmpty());
    QBuffer roomy;
    QVERIFY(roomy.open(QIODevice::WriteOnly));
    QVERIFY(document->saveTo(&roomy));
    QVERIFY(document->errorString().isEmpty());
}

void TstQHexDocument::modifiedFollowsUndoStack()
{
    const auto document = memory_document("ABC");
    QVERIFY(!document->isModified());
    document->insert(0, QByteArray("x"));
    QVERIFY(document->isModified());
    document->undo();
    QVERIFY(!document->isModified());
    document->redo();
    document->setUnmodified(); // saved
    QVERIFY(!document->isModified());
    document->undo(); // back before the save: differs from the file
    QVERIFY(document->isModified());
}

void TstQHexDocument::fromFile()
{
    const QString path = m_dir.filePath(QStringLiteral("small.bin"));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write("0123456789ABCDEF0123");
    }
    std::unique_ptr<QHexDocument> document(QHexDocument::fromFile(path));
    QVERIFY(document);
    QCOMPARE(document->length(), 20);
    QCOMPARE(document->read(16, 10), QByteArray("0123"));
    QCOMPARE(document->at(10), uchar('A'));
    document->cursor()->moveTo(qint64(1));
    QCOMPARE(document->searchForward("0123"), qint64(16));
    document->insert(0, QByteArray("zz")); // read-only: nothing changes
    QCOMPARE(document->length(), 20);

    QBuffer copy;
    QVERIFY(copy.open(QIODevice::WriteOnly));
    QVERIFY(document->saveTo(&copy));
    QCOMPARE(copy.data(), QByteArray("0123456789ABCDEF0123"));

    const QString missing = m_dir.filePath(QStringLiteral("missing.bin"));
    std::unique_ptr<QHexDocument> none(QHexDocument::fromFile(missing));
    QVERIFY(none);
    QVERIFY(none->isEmpty());
    QVERIFY(!QFile::exists(missing));
}

void TstQHexDocument::fromLargeSparseFile()
{
    const QString path = m_dir.filePath(QStringLiteral("large.bin"));
    const qint64 size = (qint64(5) << 30) + 7; // the needle starts a line
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        if (!out.resize(size))
            QSKIP("the file system cannot hold a sparse file of 5 GiB");
        QVERIFY(out.seek(size - 7));
        out.write("needle!");
    }
    std::unique_ptr<QHexDocument> document(QHexDocument::fromFile(path));
    QVERIFY(document);
    QCOMPARE(document->length(), size);
    QHexCursor* cursor = document->cursor();
    cursor->moveTo(size - (qint64(2) << 20)); // far past 2^32
    QCOMPARE(cursor->position().offset(), size - (qint64(2) << 20));
    QCOMPARE(document->searchForward("needle"), size - 7);
    QCOMPARE(document->selectedBytes(), QByteArray("needle"));
    QCOMPARE(document->at(size - 1), uchar('!'));
    cursor->moveTo(size);
    QVERIFY(document->atEnd());
    QCOMPARE(document->searchBackward("needle"), size - 7);
}

QTEST_MAIN(TstQHexDocument)
#include "tst_qhexdocument.moc"
