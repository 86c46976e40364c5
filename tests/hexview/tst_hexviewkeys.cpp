// SPDX-License-Identifier: GPL-2.0-or-later

#include <QClipboard>
#include <QSignalSpy>
#include <QtTest>

#include "hexviewtest.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexview.h"

using namespace hexviewtest;

namespace {

const QByteArray kAlphabet("ABCDEFGHIJKLMNOPQRST"); // 20 bytes: a full line and 4

enum Column { Hex, Text };

// A shown view over the bytes, with typing going to the given column.
struct Editor
{
    QHexView view;
    QHexDocument* document;

    explicit Editor(const QByteArray& bytes, Column column = Hex, int rows = 14)
        : document(makeDocument(bytes, &view))
    {
        view.setDocument(document);
        view.resize(viewSize(view, rows));
        view.show();
        if (column == Text)
            clickCell(view, false, 0, 0);
    }
    QHexCursor* cursor() const { return document->cursor(); }
    QString position() const { return caret(cursor()->position()); }
    QByteArray bytes() const { return document->read(0, static_cast<int>(document->length())); }
    void press(QKeySequence::StandardKey key)
    {
        const QKeySequence binding = QKeySequence::keyBindings(key).value(0);
        QTest::keySequence(&view, binding);
    }
    // Sends one key press and tells whether the view kept it.
    bool accepts(const QString& text)
    {
        QKeyEvent event(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
        QApplication::sendEvent(&view, &event);
        return event.isAccepted();
    }
};

} // namespace

class TstHexViewKeys : public QObject
{
    Q_OBJECT

private slots:
    void navigation_data();
    void navigation();
    void pageKeysMoveByVisibleLines();
    void typing_data();
    void typing();
    void typingPastTheEndAppends();
    void typingMergesIntoOneStep_data();
    void typingMergesIntoOneStep();
    void unhandledKeysReachTheScrollArea_data();
    void unhandledKeysReachTheScrollArea();
    void deleteKeys_data();
    void deleteKeys();
    void insertKeyTogglesMode();
    void selectAll_data();
    void selectAll();
    void clipboardKeys_data();
    void clipboardKeys();
    void readOnlyOnlyNavigates();
};

void TstHexViewKeys::navigation_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("anchor"); // empty: no selection

    // 40 bytes: lines 0 and 1 full, line 2 holds 8, the append cell is 2:8.
    const auto row = [](const char* name, Column column, const char* start, QKeySequence keys,
                        const char* position, const char* anchor = "") {
        QTest::newRow(name) << int(column) << QString::fromLatin1(start) << keys
                            << QString::fromLatin1(position) << QString::fromLatin1(anchor);
    };
    const QKeySequence right(Qt::Key_Right), left(Qt::Key_Left);
    row("right-to-second-digit", Hex, "0:0:1", right, "0:0:0");
    row("right-to-next-byte", Hex, "0:0:0", right, "0:1:1");
    row("right-wraps-line", Hex, "0:15:0", right, "1:0:1");
    row("right-on-append-cell-hex", Hex, "2:8:1", right, "2:8:1");
    row("right-on-append-cell-text", Text, "2:8:1", right, "2:8:1");
    row("right-text-a-byte", Text, "0:3:1", right, "0:4:1");
    row("right-text-wraps-line", Text, "0:15:1", right, "1:0:1");
    row("left-at-start-hex", Hex, "0:0:1", left, "0:0:1");
    row("left-at-start-text", Text, "0:0:1", left, "0:0:1");
    row("left-to-first-digit", Hex, "0:4:0", left, "0:4:1");
    row("left-to-previous-byte", Hex, "0:4:1", left, "0:3:0");
    row("left-wraps-line", Hex, "1:0:1", left, "0:15:0");
    row("left-text-wraps-line", Text, "1:0:1", left, "0:15:0");
    row("down-keeps-column", Hex, "0:5:0", QKeySequence(Qt::Key_Down), "1:5:1");
    row("down-onto-short-line", Hex, "1:12:1", QKeySequence(Qt::Key_Down), "2:12:1");
    row("down-on-last-line", Hex, "2:3:0", QKeySequence(Qt::Key_Down), "2:3:0");
    row("up", Hex, "2:3:0", QKeySequence(Qt::Key_Up), "1:3:1");
    row("up-on-first-line", Hex, "0:3:0", QKeySequence(Qt::Key_Up), "0:3:0");
    row("page-down-near-end", Hex, "1:2:0", QKeySequence(Qt::Key_PageDown), "2:2:1");
    row("page-up-near-top", Hex, "2:7:0", QKeySequence(Qt::Key_PageUp), "0:7:1");
    row("ctrl-home", Hex, "2:5:0", QKeySequence(Qt::CTRL | Qt::Key_Home), "0:0:1");
    row("ctrl-home-on-line-0", Hex, "0:5:0", QKeySequence(Qt::CTRL | Qt::Key_Home), "0:5:0");
    row("ctrl-end", Hex, "0:3:0", QKeySequence(Qt::CTRL | Qt::Key_End), "2:8:1");
    row("ctrl-end-on-last-line", Hex, "2:2:0", QKeySequence(Qt::CTRL | Qt::Key_End), "2:2:0");
    row("home", Hex, "1:9:0", QKeySequence(Qt::Key_Home), "1:0:1");
    row("end-full-line", Hex, "0:3:1", QKeySequence(Qt::Key_End), "0:15:0");
    row("end-last-line", Hex, "2:1:1", QKeySequence(Qt::Key_End), "2:8:1");
    row("shift-right-selects-a-digit", Hex, "0:0:1", QKeySequence(Qt::SHIFT | Qt::Key_Right),
        "0:0:0", "0:0:1");
    row("shift-right-then-left", Hex, "0:0:1",
        QKeySequence(Qt::SHIFT | Qt::Key_Right, Qt::SHIFT | Qt::Key_Left), "0:0:1");
    row("shift-down", Text, "0:2:1", QKeySequence(Qt::SHIFT | Qt::Key_Down), "1:2:1", "0:2:1");
    row("shift-end", Hex, "1:2:1", QKeySequence(Qt::SHIFT | Qt::Key_End), "1:15:0", "1:2:1");
    row("move-ends-selection", Hex, "0:0:1", QKeySequence(Qt::SHIFT | Qt::Key_Down, Qt::Key_Right),
        "1:0:0");
}

void TstHexViewKeys::navigation()
{
    QFETCH(int, column);
    QFETCH(QString, start);
    QFETCH(QKeySequence, keys);
    QFETCH(QString, position);
    QFETCH(QString, anchor);

    Editor editor(QByteArray(40, 'x'), Column(column));
    place(editor.cursor(), QString(), start);
    QTest::keySequence(&editor.view, keys);
    QCOMPARE(editor.position(), position);
    QCOMPARE(anchorOf(*editor.cursor()), anchor.isEmpty() ? position : anchor);
    QCOMPARE(editor.bytes(), QByteArray(40, 'x'));
}

void TstHexViewKeys::pageKeysMoveByVisibleLines()
{
    Editor editor(QByteArray(4096, 'x'), Hex, 10);
    const quint64 page = editor.view.visibleLines();
    QVERIFY(page > 2);
    place(editor.cursor(), QString(), QStringLiteral("10:3:0"));
    QTest::keyClick(&editor.view, Qt::Key_PageDown);
    QCOMPARE(editor.cursor()->currentLine(), 10 + page);
    QCOMPARE(editor.cursor()->currentColumn(), 3);
    // The cursor left the rows shown, so the view followed it.
    QVERIFY(editor.view.isLineVisible(10 + page));
    QTest::keyClick(&editor.view, Qt::Key_PageUp);
    QCOMPARE(editor.position(), QStringLiteral("10:3:1"));
}

void TstHexViewKeys::typing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("anchor");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QString>("position");

    const auto row = [](const char* name, const QByteArray& bytes, Column column,
                        InsertionMode mode, const char* anchor, const char* start, const char* keys,
                        const QByteArray& result, const char* position) {
        QTest::newRow(name) << bytes << int(column) << int(mode) << QString::fromLatin1(anchor)
                            << QString::fromLatin1(start) << QString::fromLatin1(keys) << result
                            << QString::fromLatin1(position);
    };
    const QByteArray two("\x11\x22");
    row("hex-overwrite-a-byte", two, Hex, OverwriteMode, "", "0:0:1", "ab", "\xAB\x22", "0:1:1");
    row("hex-upper-case-digits", two, Hex, OverwriteMode, "", "0:0:1", "CD", "\xCD\x22", "0:1:1");
    row("hex-second-digit", two, Hex, OverwriteMode, "", "0:1:0", "f", "\x11\x2F", "0:2:1");
    row("hex-insert", two, Hex, InsertMode, "", "0:1:1", "7e", "\x11\x7E\x22", "0:2:1");
    row("hex-insert-one-digit", two, Hex, InsertMode, "", "0:0:1", "9", "\x90\x11\x22", "0:0:0");
    row("hex-append", two, Hex, OverwriteMode, "", "0:2:1", "5c", "\x11\x22\x5C", "0:3:1");
    row("hex-not-a-digit", two, Hex, OverwriteMode, "", "0:0:1", "g z", two, "0:0:1");
    row("text-overwrite", "abc", Text, OverwriteMode, "", "0:1:1", "Z", "aZc", "0:2:1");
    row("text-insert", "abc", Text, InsertMode, "", "0:1:1", "Z", "aZbc", "0:2:1");
    row("text-upper-case-letter", "abc", Text, OverwriteMode, "", "0:0:1", "A", "Abc", "0:1:1");
    row("text-append-overwrite", "abc", Text, OverwriteMode, "", "0:3:1", "de", "abcde", "0:5:1");
    row("text-across-line-end", QByteArray(16, 'x'), Text, OverwriteMode, "", "0:15:1", "yz",
        QByteArray(15, 'x') + "yz", "1:1:1");
    // Typing over a selection replaces it, in either mode.
    row("hex-over-selection", "ABCDEFGH", Hex, OverwriteMode, "0:2:1", "0:4:0", "7a",
        "AB\x7A"
        "FGH",
        "0:3:1");
    row("text-over-selection", "ABCDEFGH", Text, OverwriteMode, "0:2:1", "0:4:1", "x", "ABxFGH",
        "0:3:1");
    row("text-over-selection-to-end", "ABCDEFGH", Text, InsertMode, "0:2:1", "0:7:1", "x", "ABx",
        "0:3:1");
}

void TstHexViewKeys::typing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, column);
    QFETCH(int, mode);
    QFETCH(QString, anchor);
    QFETCH(QString, start);
    QFETCH(QString, keys);
    QFETCH(QByteArray, result);
    QFETCH(QString, position);

    Editor editor(bytes, Column(column));
    editor.cursor()->setInsertionMode(InsertionMode(mode));
    place(editor.cursor(), anchor, start);
    QTest::keyClicks(&editor.view, keys);
    QCOMPARE(editor.bytes(), result);
    QCOMPARE(editor.position(), position);
    QVERIFY(!editor.cursor()->hasSelection());

    // However the typing was merged, undo takes all of it back.
    while (editor.document->canUndo())
        editor.press(QKeySequence::Undo);
    QCOMPARE(editor.bytes(), bytes);
    while (editor.document->canRedo())
        editor.press(QKeySequence::Redo);
    QCOMPARE(editor.bytes(), result);
}

void TstHexViewKeys::typingPastTheEndAppends()
{
    Editor editor("AB", Text);
    place(editor.cursor(), QString(), QStringLiteral("0:2:1"));
    QTest::keyClicks(&editor.view, QStringLiteral("c"));
    editor.press(QKeySequence::Undo);
    // The undo left the cursor one place past the append cell.
    QCOMPARE(editor.bytes(), QByteArray("AB"));
    QCOMPARE(editor.position(), QStringLiteral("0:3:1"));
    QTest::keyClicks(&editor.view, QStringLiteral("d"));
    QCOMPARE(editor.bytes(), QByteArray("ABd"));
    QCOMPARE(editor.position(), QStringLiteral("0:3:1"));
}

void TstHexViewKeys::typingMergesIntoOneStep_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("keys"); // "<" Left, ">" Right, "^" Insert
    QTest::addColumn<int>("pause"); // ms between keys that ends a step
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<int>("steps"); // undo steps that take it back

    const int usual = 1000;
    const auto row
            = [](const char* name, const QByteArray& bytes, Column column, InsertionMode mode,
                 const char* keys, int pause, const QByteArray& result, int steps) {
                  QTest::newRow(name) << bytes << int(column) << int(mode)
                                      << QString::fromLatin1(keys) << pause << result << steps;
              };
    // From offset 0, first digit.
    row("hex-insert", "WXYZ", Hex, InsertMode, "414243", usual, "ABCWXYZ", 1);
    row("hex-overwrite", "WXYZ", Hex, OverwriteMode, "414243", usual, "ABCZ", 1);
    row("hex-overwrite-past-end", "W", Hex, OverwriteMode, "414243", usual, "ABC", 1);
    row("text-insert", "wxyz", Text, InsertMode, "abc", usual, "abcwxyz", 1);
    row("text-overwrite-past-end", "wx", Text, OverwriteMode, "abc", usual, "abc", 1);
    row("caret-move-ends-step", "WXYZ", Hex, OverwriteMode, "41<>42", usual, "ABYZ", 2);
    row("insert-key-ends-step", "WXYZ", Hex, OverwriteMode, "41^42", usual, "ABXYZ", 2);
    row("pause-ends-step", "WXYZ", Hex, OverwriteMode, "4142", 0, "ABYZ", 4);
}

void TstHexViewKeys::typingMergesIntoOneStep()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, column);
    QFETCH(int, mode);
    QFETCH(QString, keys);
    QFETCH(int, pause);
    QFETCH(QByteArray, result);
    QFETCH(int, steps);

    Editor editor(bytes, Column(column));
    editor.document->setTypingPause(pause);
    editor.cursor()->setInsertionMode(InsertionMode(mode));
    place(editor.cursor(), QString(), QStringLiteral("0:0:1"));
    for (const QChar key : keys) {
        if (key == QLatin1Char('<'))
            QTest::keyClick(&editor.view, Qt::Key_Left);
        else if (key == QLatin1Char('>'))
            QTest::keyClick(&editor.view, Qt::Key_Right);
        else if (key == QLatin1Char('^'))
            QTest::keyClick(&editor.view, Qt::Key_Insert);
        else
            QTest::keyClicks(&editor.view, key);
    }
    QCOMPARE(editor.bytes(), result);
    for (int step = 1; step < steps; ++step)
        editor.press(QKeySequence::Undo);
    QVERIFY2(editor.bytes() != bytes, "taken back in fewer steps");
    editor.press(QKeySequence::Undo);
    QCOMPARE(editor.bytes(), bytes);
    QVERIFY(!editor.document->canUndo());
    editor.press(QKeySequence::Redo);
    if (steps == 1)
        QCOMPARE(editor.bytes(), result);
}

void TstHexViewKeys::unhandledKeysReachTheScrollArea_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("taken");

    QTest::newRow("hex-g") << int(Hex) << false << QStringLiteral("g") << false;
    QTest::newRow("hex-space") << int(Hex) << false << QStringLiteral(" ") << false;
    QTest::newRow("hex-upper-a") << int(Hex) << false << QStringLiteral("A") << true;
    QTest::newRow("text-space") << int(Text) << false << QStringLiteral(" ") << true;
    QTest::newRow("text-latin1-letter") << int(Text) << false << QStringLiteral("\u00E9") << false;
    QTest::newRow("text-beyond-latin1") << int(Text) << false << QStringLiteral("\u4E2D") << false;
    QTest::newRow("read-only-digit") << int(Hex) << true << QStringLiteral("1") << false;
}

void TstHexViewKeys::unhandledKeysReachTheScrollArea()
{
    QFETCH(int, column);
    QFETCH(bool, readOnly);
    QFETCH(QString, text);
    QFETCH(bool, taken);

    Editor editor(kAlphabet, Column(column));
    editor.view.setReadOnly(readOnly);
    place(editor.cursor(), QString(), QStringLiteral("0:1:1"));
    QCOMPARE(editor.accepts(text), taken);
    QCOMPARE(editor.bytes() != kAlphabet, taken);
}

void TstHexViewKeys::deleteKeys_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("anchor");
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QString>("position");

    const auto row = [](const char* name, Column column, const char* anchor, const char* start,
                        Qt::Key key, const QByteArray& result, const char* position) {
        QTest::newRow(name) << int(column) << QString::fromLatin1(anchor)
                            << QString::fromLatin1(start) << int(key) << result
                            << QString::fromLatin1(position);
    };
    const Qt::Key backspace = Qt::Key_Backspace;
    const Qt::Key del = Qt::Key_Delete;
    row("backspace-at-start", Hex, "", "0:0:1", backspace, kAlphabet, "0:0:1");
    row("delete-at-start", Hex, "", "0:0:1", del, kAlphabet.mid(1), "0:0:1");
    row("backspace-first-digit", Hex, "", "0:2:1", backspace, "ACDEFGHIJKLMNOPQRST", "0:1:1");
    row("backspace-second-digit", Hex, "", "0:2:0", backspace, "ACDEFGHIJKLMNOPQRST", "0:1:0");
    row("backspace-text", Text, "", "0:2:1", backspace, "ACDEFGHIJKLMNOPQRST", "0:1:1");
    row("backspace-at-line-start", Hex, "", "1:0:1", backspace, "ABCDEFGHIJKLMNOQRST", "0:15:1");
    row("backspace-at-append-cell", Text, "", "1:4:1", backspace, kAlphabet.left(19), "1:3:1");
    row("delete-keeps-cursor", Text, "", "0:2:1", del, "ABDEFGHIJKLMNOPQRST", "0:2:1");
    row("backspace-selection", Hex, "0:1:1", "0:3:0", backspace, "AEFGHIJKLMNOPQRST", "0:1:1");
    row("delete-backward-selection", Text, "1:1:1", "0:14:1", del, "ABCDEFGHIJKLMNST", "0:14:1");
}

void TstHexViewKeys::deleteKeys()
{
    QFETCH(int, column);
    QFETCH(QString, anchor);
    QFETCH(QString, start);
    QFETCH(int, key);
    QFETCH(QByteArray, result);
    QFETCH(QString, position);

    Editor editor(kAlphabet, Column(column));
    place(editor.cursor(), anchor, start);
    QTest::keyClick(&editor.view, Qt::Key(key));
    QCOMPARE(editor.bytes(), result);
    QCOMPARE(editor.position(), position);
    QVERIFY(!editor.cursor()->hasSelection());

    editor.press(QKeySequence::Undo);
    QCOMPARE(editor.bytes(), kAlphabet);
}

void TstHexViewKeys::insertKeyTogglesMode()
{
    Editor editor(kAlphabet);
    QSignalSpy spy(editor.cursor(), &QHexCursor::insertionModeChanged);
    QTest::keyClick(&editor.view, Qt::Key_Insert);
    QCOMPARE(editor.cursor()->insertionMode(), InsertMode);
    QTest::keyClick(&editor.view, Qt::Key_Insert);
    QCOMPARE(editor.cursor()->insertionMode(), OverwriteMode);
    QCOMPARE(spy.count(), 2);
}

void TstHexViewKeys::selectAll_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("position");

    QTest::newRow("empty") << QByteArray() << QStringLiteral("0:0:1");
    QTest::newRow("one-byte") << QByteArray("A") << QStringLiteral("0:0:0");
    QTest::newRow("line-and-four") << kAlphabet << QStringLiteral("1:3:1");
}

void TstHexViewKeys::selectAll()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, position);

    Editor editor(bytes);
    editor.cursor()->moveTo(editor.document->length()); // the append cell
    editor.press(QKeySequence::SelectAll);
    QCOMPARE(editor.position(), position);
    QCOMPARE(anchorOf(*editor.cursor()), QStringLiteral("0:0:1"));
    QCOMPARE(editor.cursor()->hasSelection(), !bytes.isEmpty());
    QCOMPARE(editor.document->selectedBytes(), bytes);
}

void TstHexViewKeys::clipboardKeys_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("anchor");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QString>("clipboardAfter");

    const auto row = [](const char* name, const QByteArray& bytes, Column column,
                        InsertionMode mode, const char* anchor, const char* start,
                        const char* clipboard, QKeySequence::StandardKey key,
                        const QByteArray& result, const char* clipboardAfter) {
        QTest::newRow(name) << bytes << int(column) << int(mode) << QString::fromLatin1(anchor)
                            << QString::fromLatin1(start) << QString::fromLatin1(clipboard)
                            << int(key) << result << QString::fromLatin1(clipboardAfter);
    };
    const QByteArray bin("AB\x00\xFF", 4);
    const auto ovr = OverwriteMode;
    row("copy-hex", bin, Hex, ovr, "0:1:1", "0:3:0", "", QKeySequence::Copy, bin, "42 00 FF");
    row("copy-text", "ABCD", Text, ovr, "0:1:1", "0:2:1", "", QKeySequence::Copy, "ABCD", "BC");
    row("cut-hex", "ABCD", Hex, ovr, "0:1:1", "0:2:0", "", QKeySequence::Cut, "AD", "42 43");
    row("cut-text", "ABCD", Text, ovr, "0:1:1", "0:2:1", "", QKeySequence::Cut, "AD", "BC");
    row("paste-hex-insert", "AD", Hex, InsertMode, "", "0:1:1", "42 43", QKeySequence::Paste,
        "ABCD", "42 43");
    row("paste-text-overwrite", "ABCD", Text, ovr, "", "0:1:1", "xy", QKeySequence::Paste, "AxyD",
        "xy");
    row("paste-hex-into-empty", "", Hex, ovr, "", "0:0:1", "41 42", QKeySequence::Paste, "AB",
        "41 42");
    row("paste-over-selection", "ABCDEFGH", Text, InsertMode, "0:2:1", "0:4:1", "XY",
        QKeySequence::Paste, "ABXYFGH", "XY");
    row("paste-over-selection-to-end", "ABCDEFGH", Text, ovr, "0:2:1", "0:7:1", "XY",
        QKeySequence::Paste, "ABXY", "XY");
}

void TstHexViewKeys::clipboardKeys()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, column);
    QFETCH(int, mode);
    QFETCH(QString, anchor);
    QFETCH(QString, start);
    QFETCH(QString, clipboard);
    QFETCH(int, key);
    QFETCH(QByteArray, result);
    QFETCH(QString, clipboardAfter);

    Editor editor(bytes, Column(column));
    editor.cursor()->setInsertionMode(InsertionMode(mode));
    place(editor.cursor(), anchor, start);
    QGuiApplication::clipboard()->setText(clipboard);
    editor.press(QKeySequence::StandardKey(key));
    QCOMPARE(editor.bytes(), result);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboardAfter);
    editor.press(QKeySequence::Undo);
    if (result != bytes)
        editor.press(QKeySequence::Undo); // a paste over a selection is two steps
    QCOMPARE(editor.bytes(), bytes);
}

void TstHexViewKeys::readOnlyOnlyNavigates()
{
    Editor editor(kAlphabet);
    editor.view.setReadOnly(true);
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));

    QTest::keyClick(&editor.view, Qt::Key_Right);
    QTest::keyClick(&editor.view, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(editor.position(), QStringLiteral("1:0:1"));
    QCOMPARE(anchorOf(*editor.cursor()), QStringLiteral("0:0:0"));

    for (const auto key : { QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
                            QKeySequence::SelectAll, QKeySequence::Undo })
        editor.press(key);
    QTest::keyClick(&editor.view, Qt::Key_Delete);
    QTest::keyClick(&editor.view, Qt::Key_Backspace);
    QTest::keyClick(&editor.view, Qt::Key_Insert);
    QTest::keyClicks(&editor.view, QStringLiteral("a1"));

    QCOMPARE(editor.bytes(), kAlphabet);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QCOMPARE(editor.cursor()->insertionMode(), OverwriteMode);
    QCOMPARE(anchorOf(*editor.cursor()), QStringLiteral("0:0:0"));
    QVERIFY(!editor.document->canUndo());
}

QTEST_MAIN(TstHexViewKeys)
#include "tst_hexviewkeys.moc"
