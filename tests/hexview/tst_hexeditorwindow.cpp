// SPDX-License-Identifier: GPL-2.0-or-later

#include <memory>
#include <new>

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include "hexfindbar.h"
#include "hexstatusbar.h"
#include "hexviewtest.h"
#include "hexwindow.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "qmemorybuffer.h"

namespace {

// What the offscreen platform says when a message box fixes its size.
const char* const kBoxSizeNotice = "This plugin does not support propagateSizeHints()";

// A shown window over the bytes, without a file, kept when closed.
std::unique_ptr<HexWindow> payloadWindow(const QByteArray& bytes)
{
    auto window = std::make_unique<HexWindow>();
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    auto* buffer = new QMemoryBuffer; // the document takes it over
    buffer->load(bytes);
    window->setDocument(new QHexDocument(buffer));
    window->show();
    return window;
}

// A store that runs out of memory on every insert, as a paste of a huge
// clipboard would.
class ExhaustedBuffer : public QMemoryBuffer
{
public:
    void insert(qint64, const QByteArray&) override { throw std::bad_alloc(); }
};

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QAction* action(const QWidget& window, const QString& name)
{
    return window.findChild<QAction*>(name);
}

// Clicks `button` in the next message box shown while `context` lives, and
// counts the boxes seen.
void answerNextBox(QObject* context, QMessageBox::StandardButton button, int* seen)
{
    auto* timer = new QTimer(context); // deleted with the context
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, context, [=] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++*seen;
            box->button(button)->click();
        }
    });
    timer->start(0);
}

} // namespace

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

class TstHexEditorWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void find_data();
    void find();
    void longSearchCancelsAndScrolls();
    void goToOffset_data();
    void goToOffset();
    void statusBar_data();
    void statusBar();
    void undoRedoFollowStack();
    void editCommandsActOnce_data();
    void editCommandsActOnce();
    void hugeSelectionIsNotCopied_data();
    void hugeSelectionIsNotCopied();
    void exhaustedMemoryIsReported();
    void saveAndSaveAs();
    void closePrompt_data();
    void closePrompt();
    void payloadSavedAsOnClose_data();
    void payloadSavedAsOnClose();
    void payloadTitleShowsModified();
    void bytesPerLineKeepsCaret();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TstHexEditorWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TstHexEditorWindow::find_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<qint64>("caret");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift"); // backward
    QTest::addColumn<qint64>("found"); // -1: caret kept
    QTest::addColumn<QString>("message");

    const int enter = Qt::Key_Return;
    const int f3 = Qt::Key_F3;
    const QString badHex = QStringLiteral("十六进制格式错误: 需成对的数字");
    QTest::newRow("text-enter") << false << "bc" << 0LL << enter << false << 1LL << QString();
    QTest::newRow("text-f3-wraps")
            << false << "bc" << 10LL << f3 << false << 1LL << "已到达末尾，从开头继续查找";
    QTest::newRow("text-shift-enter") << false << "bc" << 12LL << enter << true << 9LL << QString();
    QTest::newRow("text-shift-f3-wraps")
            << false << "bc" << 0LL << f3 << true << 9LL << "已到达开头，从末尾继续查找";
    QTest::newRow("text-utf8") << false << "é" << 0LL << enter << false << 5LL << QString();
    QTest::newRow("hex-with-zero") << true << "00 ff" << 0LL << enter << false << 3LL << QString();
    QTest::newRow("not-found") << false << "zz" << 0LL << enter << false << -1LL << "未找到";
    QTest::newRow("hex-odd-digits") << true << "0ff" << 0LL << enter << false << -1LL << badHex;
    QTest::newRow("hex-not-digits") << true << "zz" << 0LL << enter << false << -1LL << badHex;
}

void TstHexEditorWindow::find()
{
    QFETCH(bool, hex);
    QFETCH(QString, pattern);
    QFETCH(qint64, caret);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(qint64, found);
    QFETCH(QString, message);

    const auto window = payloadWindow(QByteArray("abc\0\xFF\xC3\xA9xabc\0\xFF", 13));
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QHexCursor* cursor = window->view()->document()->cursor();
    cursor->moveTo(caret);
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    HexFindBar* bar = window->findBar();
    QVERIFY(bar->isVisible() && bar->patternEdit()->hasFocus());
    bar->hexToggle()->setChecked(hex);
    bar->patternEdit()->setText(pattern);
    QTest::keyClick(key == Qt::Key_F3 ? static_cast<QWidget*>(window.get()) : bar->patternEdit(),
                    Qt::Key(key), shift ? Qt::ShiftModifier : Qt::NoModifier);

    QCOMPARE(bar->message(), message);
    QCOMPARE(cursor->hasSelection(), found >= 0);
    if (found < 0) {
        QCOMPARE(cursor->position().offset(), caret);
        return;
    }
    QCOMPARE(cursor->selectionStart().offset(), found);
    QCOMPARE(window->view()->document()->selectedBytes(),
             hex ? QByteArray::fromHex(pattern.toLatin1()) : pattern.toUtf8());
}

void TstHexEditorWindow::longSearchCancelsAndScrolls()
{
    // One window of the search per turn of the event loop: four turns.
    QByteArray bytes(16 << 20, 'x');
    bytes.replace(bytes.size() - 6, 6, "needle");
    const auto window = payloadWindow(bytes);
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    HexFindBar* bar = window->findBar();
    bar->setSliceMs(0);
    action(*window, "actionFind")->trigger();
    QTest::keyClicks(bar->patternEdit(), QStringLiteral("needle"));
    QTest::keyClick(bar->patternEdit(), Qt::Key_Return);
    QVERIFY(bar->isSearching());
    QTest::keyClick(bar->patternEdit(), Qt::Key_Escape);
    QVERIFY(!bar->isSearching() && bar->isVisible());
    QCOMPARE(bar->message(), QStringLiteral("查找已取消"));
    QHexCursor* cursor = window->view()->document()->cursor();
    QVERIFY(!cursor->hasSelection());

    QSignalSpy finished(bar, &HexFindBar::finished);
    QTest::keyClick(bar->patternEdit(), Qt::Key_Return);
    QVERIFY(finished.wait());
    QCOMPARE(cursor->selectionStart().offset(), qint64(bytes.size() - 6));
    QVERIFY(window->view()->isLineVisible(cursor->currentLine()));

    QTest::keyClick(window->view(), Qt::Key_Escape); // from anywhere in the window
    QVERIFY(!bar->isVisible());
}

void TstHexEditorWindow::goToOffset_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("caret"); // 20: where it was
    QTest::newRow("hex") << "0x1F" << 31LL;
    QTest::newRow("relative") << "-20" << 0LL;
    QTest::newRow("malformed") << "1F" << 20LL;
}

void TstHexEditorWindow::goToOffset()
{
    QFETCH(QString, text);
    QFETCH(qint64, caret);
    const auto window = payloadWindow(QByteArray(100, 'x'));
    QHexCursor* cursor = window->view()->document()->cursor();
    cursor->moveTo(qint64(20));
    QString error;
    QCOMPARE(window->goToOffset(text, &error), caret != 20);
    QCOMPARE(cursor->position().offset(), caret);
    QCOMPARE(error.isEmpty(), caret != 20); // a refusal says why
}

void TstHexEditorWindow::statusBar_data()
{
    QTest::addColumn<qint64>("caret");
    QTest::addColumn<qint64>("selectTo"); // -1: none
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QString>("selection");
    QTest::addColumn<QString>("value");

    // The bytes 41 FF 02 80 01.
    QTest::newRow("start") << 0LL << -1LL << "偏移: 0x0 (0)"
                           << "选中: 0 字节"
                           << "u8: 65  s8: 65  u16 LE: 65345  u32 LE: 2147680065";
    QTest::newRow("negative-byte") << 1LL << -1LL << "偏移: 0x1 (1)"
                                   << "选中: 0 字节"
                                   << "u8: 255  s8: -1  u16 LE: 767  u32 LE: 25166591";
    QTest::newRow("last-byte") << 4LL << -1LL << "偏移: 0x4 (4)"
                               << "选中: 0 字节"
                               << "u8: 1  s8: 1  u16 LE: -  u32 LE: -";
    QTest::newRow("append-cell") << 5LL << -1LL << "偏移: 0x5 (5)"
                                 << "选中: 0 字节"
                                 << "u8: -  s8: -  u16 LE: -  u32 LE: -";
    QTest::newRow("selection") << 1LL << 3LL << "偏移: 0x3 (3)"
                               << "选中: 3 字节"
                               << "u8: 128  s8: -128  u16 LE: 384  u32 LE: -";
}

void TstHexEditorWindow::statusBar()
{
    QFETCH(qint64, caret);
    QFETCH(qint64, selectTo);
    QFETCH(QString, offset);
    QFETCH(QString, selection);
    QFETCH(QString, value);

    const auto window = payloadWindow(QByteArray::fromHex("41FF028001"));
    QHexCursor* cursor = window->view()->document()->cursor();
    cursor->moveTo(caret);
    if (selectTo >= 0)
        cursor->select(0, int(selectTo), 0);
    const HexStatusBar* bar = window->hexStatusBar();
    QCOMPARE(bar->offsetText(), offset);
    QCOMPARE(bar->selectionText(), selection);
    QCOMPARE(bar->valueText(), value);
    QCOMPARE(bar->modeText(), QStringLiteral("OVR"));
    QTest::keyClick(window->view(), Qt::Key_Insert);
    QCOMPARE(bar->modeText(), QStringLiteral("INS"));
    QVERIFY(bar->readOnlyText().isEmpty());
}

void TstHexEditorWindow::undoRedoFollowStack()
{
    const auto window = payloadWindow("AB");
    QAction* undo = action(*window, "actionUndo");
    QAction* redo = action(*window, "actionRedo");
    const auto enabled = [&] { return qMakePair(undo->isEnabled(), redo->isEnabled()); };
    QCOMPARE(enabled(), qMakePair(false, false));
    QTest::keyClick(window->view(), Qt::Key_C); // the first digit: 0xC1
    QCOMPARE(enabled(), qMakePair(true, false));
    undo->trigger();
    QCOMPARE(window->view()->document()->read(0, 2), QByteArray("AB"));
    QCOMPARE(enabled(), qMakePair(false, true));
    redo->trigger();
    QCOMPARE(window->view()->document()->read(0, 2),
             QByteArray("\xC1"
                        "B"));
    QCOMPARE(enabled(), qMakePair(true, false));
}

void TstHexEditorWindow::editCommandsActOnce_data()
{
    QTest::addColumn<QString>("name"); // of the Edit menu's action
    QTest::addColumn<QKeySequence>("keys"); // empty: the action is triggered
    QTest::addColumn<QString>("bytes");

    // Before each: "ABCD" typed over as "XYCD" in four undo steps (one per
    // digit, each typing step ended), two of them undone; B and C selected; "xy" on the clipboard;
    // insert mode. A second undo, redo or paste would show in the bytes.
    const QKeySequence menu;
    const QKeySequence redoKey(QStringLiteral("Ctrl+Shift+Z"));
    QTest::newRow("undo-key") << "actionUndo" << QKeySequence(QKeySequence::Undo) << "QBCD";
    QTest::newRow("undo-menu") << "actionUndo" << menu << "QBCD";
    QTest::newRow("redo-key") << "actionRedo" << redoKey << "XRCD";
    QTest::newRow("redo-key-y") << "actionRedo" << QKeySequence(QStringLiteral("Ctrl+Y")) << "XRCD";
    QTest::newRow("redo-menu") << "actionRedo" << menu << "XRCD";
    QTest::newRow("cut-key") << "actionCut" << QKeySequence(QKeySequence::Cut) << "XD";
    QTest::newRow("cut-menu") << "actionCut" << menu << "XD";
    QTest::newRow("paste-key") << "actionPaste" << QKeySequence(QKeySequence::Paste) << "XxyD";
    QTest::newRow("paste-menu") << "actionPaste" << menu << "XxyD";
}

void TstHexEditorWindow::editCommandsActOnce()
{
    QFETCH(QString, name);
    QFETCH(QKeySequence, keys);
    QFETCH(QString, bytes);

    // Shortcuts fire in an active window only.
    const auto window = payloadWindow("ABCD");
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QHexDocument* document = window->view()->document();
    for (const char digit : { '5', '8', '5', '9' }) {
        QTest::keyClick(window->view(), digit);
        document->endTyping();
    }
    document->undo();
    document->undo();
    document->cursor()->moveTo(qint64(1));
    document->cursor()->select(0, 2, 0);
    document->cursor()->setInsertionMode(InsertMode);
    auto* data = new QMimeData; // the clipboard takes it over
    data->setData(QStringLiteral("application/octet-stream"), "xy");
    QApplication::clipboard()->setMimeData(data);

    if (keys.isEmpty())
        action(*window, name)->trigger();
    else
        QTest::keySequence(window.get(), keys);
    QCOMPARE(document->read(0, int(document->length())), bytes.toLatin1());
}

void TstHexEditorWindow::hugeSelectionIsNotCopied_data()
{
    QTest::addColumn<QKeySequence>("keys");
    QTest::newRow("copy") << QKeySequence(QKeySequence::Copy);
    QTest::newRow("copy-hex") << QKeySequence(QStringLiteral("Ctrl+Shift+C"));
    QTest::newRow("cut") << QKeySequence(QKeySequence::Cut);
}

void TstHexEditorWindow::hugeSelectionIsNotCopied()
{
    QFETCH(QKeySequence, keys);
    HexWindow window;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.setDocument(hexviewtest::makeSyntheticDocument(qint64(1) << 30, nullptr));
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    QHexDocument* document = window.view()->document();

    QTest::keySequence(&window, QKeySequence::SelectAll);
    QCOMPARE(document->cursor()->selectionEnd().offset(), (qint64(1) << 30) - 1);
    QString told;
    QTimer answer;
    answer.setSingleShot(true);
    connect(&answer, &QTimer::timeout, this, [&told] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(0);
    QTest::ignoreMessage(QtWarningMsg, kBoxSizeNotice);
    QTest::keySequence(&window, keys);
    QVERIFY2(told.contains(QStringLiteral("另存为")), qUtf8Printable(told));
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("kept"));
    QVERIFY(!document->isModified());
}

void TstHexEditorWindow::exhaustedMemoryIsReported()
{
    HexWindow window;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    auto* buffer = new ExhaustedBuffer; // the document takes it over
    buffer->load(QByteArray("ABCD"));
    window.setDocument(new QHexDocument(buffer));
    QHexDocument* document = window.view()->document();
    document->cursor()->setInsertionMode(InsertMode);
    QApplication::clipboard()->setText(QStringLiteral("xy"));

    int boxes = 0;
    QObject context;
    answerNextBox(&context, QMessageBox::Ok, &boxes);
    QTest::ignoreMessage(QtWarningMsg, kBoxSizeNotice);
    action(window, "actionPaste")->trigger();
    QCOMPARE(boxes, 1);
    QCOMPARE(document->read(0, 8), QByteArray("ABCD"));
    QVERIFY(!document->canUndo());
}

void TstHexEditorWindow::saveAndSaveAs()
{
    const QString path = m_dir->filePath(QStringLiteral("data.bin"));
    QVERIFY(writeFile(path, "ABCD"));
    HexWindow window;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    QVERIFY(window.openFile(path));
    QVERIFY(window.windowTitle().startsWith(QStringLiteral("data.bin[*]")));
    QHexDocument* document = window.view()->document();
    document->cursor()->setInsertionMode(InsertMode);
    QTest::keyClicks(window.view(), QStringLiteral("7a"));
    QCOMPARE(document->read(0, 5), QByteArray("zABCD"));
    QVERIFY(window.isWindowModified());
    QCOMPARE(contents(path), QByteArray("ABCD")); // nothing written yet

    QVERIFY(window.save());
    QCOMPARE(contents(path), QByteArray("zABCD"));
    QVERIFY(!window.isWindowModified());

    // A failed save says why and keeps the changes and the file.
    document->remove(0, 2);
    int boxes = 0;
    QObject context;
    answerNextBox(&context, QMessageBox::Ok, &boxes);
    QTest::ignoreMessage(QtWarningMsg, kBoxSizeNotice);
    QVERIFY(!window.saveFile(m_dir->filePath(QStringLiteral("missing/data.bin"))));
    QCOMPARE(boxes, 1);
    QVERIFY(window.isWindowModified());
    QCOMPARE(window.fileName(), path);

    const QString other = m_dir->filePath(QStringLiteral("other.bin"));
    QVERIFY(window.saveFile(other));
    QCOMPARE(contents(other), QByteArray("BCD"));
    QCOMPARE(contents(path), QByteArray("zABCD"));
    QVERIFY(window.windowTitle().startsWith(QStringLiteral("other.bin[*]")));
    QVERIFY(!window.isWindowModified());
}

void TstHexEditorWindow::closePrompt_data()
{
    QTest::addColumn<bool>("file");
    QTest::addColumn<bool>("edit");
    QTest::addColumn<QMessageBox::StandardButton>("answer"); // NoButton: no box expected
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QByteArray>("saved");

    const auto none = QMessageBox::NoButton;
    QTest::newRow("payload-unchanged") << false << false << none << true << QByteArray("ABCD");
    QTest::newRow("payload-cancel")
            << false << true << QMessageBox::Cancel << false << QByteArray("ABCD");
    QTest::newRow("payload-discard")
            << false << true << QMessageBox::Discard << true << QByteArray("ABCD");
    QTest::newRow("file-unchanged") << true << false << none << true << QByteArray("ABCD");
    QTest::newRow("file-cancel") << true << true << QMessageBox::Cancel << false
                                 << QByteArray("ABCD");
    QTest::newRow("file-discard") << true << true << QMessageBox::Discard << true
                                  << QByteArray("ABCD");
    QTest::newRow("file-save") << true << true << QMessageBox::Save << true << QByteArray("ZBCD");
}

void TstHexEditorWindow::closePrompt()
{
    QFETCH(bool, file);
    QFETCH(bool, edit);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, closed);
    QFETCH(QByteArray, saved);

    const QString path = m_dir->filePath(QStringLiteral("data.bin"));
    QVERIFY(writeFile(path, "ABCD"));
    QPointer<HexWindow> window = new HexWindow; // deletes itself on close
    if (file) {
        QVERIFY(window->openFile(path));
    } else {
        auto* buffer = new QMemoryBuffer; // the document takes it over
        buffer->load(contents(path));
        window->setDocument(new QHexDocument(buffer));
    }
    window->show();
    if (edit)
        window->view()->document()->replace(0, QByteArray("Z"));

    int boxes = 0;
    QObject context;
    answerNextBox(&context, answer == QMessageBox::NoButton ? QMessageBox::Cancel : answer, &boxes);
    if (answer != QMessageBox::NoButton)
        QTest::ignoreMessage(QtWarningMsg, kBoxSizeNotice);
    QCOMPARE(window->close(), closed);
    if (closed) {
        // Closed again before its deletion has run: no second question.
        answerNextBox(&context, QMessageBox::Cancel, &boxes);
        QVERIFY(window->close());
    }
    QCOMPARE(boxes, answer == QMessageBox::NoButton ? 0 : 1);
    QCOMPARE(contents(path), saved);
    if (closed)
        QTRY_VERIFY(window.isNull());
    else
        delete window; // unsaved changes go with it
}

void TstHexEditorWindow::payloadSavedAsOnClose_data()
{
    QTest::addColumn<bool>("chooseFile"); // in the file dialog, or cancel it
    QTest::newRow("saved") << true;
    QTest::newRow("file-dialog-cancelled") << false;
}

void TstHexEditorWindow::payloadSavedAsOnClose()
{
    QFETCH(bool, chooseFile);
    const QString path = m_dir->filePath(QStringLiteral("payload.bin"));
    QPointer<HexWindow> window = payloadWindow("ABCD").release(); // deleted below
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->view()->document()->replace(0, QByteArray("Z"));

    // The box offers "Save as...", then a file dialog asks for the name.
    QStringList seen;
    QTimer answers;
    connect(&answers, &QTimer::timeout, this, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.append(box->button(QMessageBox::Save)->text());
            box->button(QMessageBox::Save)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            seen.append(QStringLiteral("dialog"));
            dialog->selectFile(path);
            // Which leaves the name field alone while it has the focus: the
            // name is typed there then, as a person would.
            if (auto* edit = qobject_cast<QLineEdit*>(dialog->focusWidget()))
                edit->setText(path);
            if (chooseFile && seen.size() < 10) // else it refused the name: give up
                static_cast<QDialog*>(dialog)->accept(); // protected in QFileDialog
            else
                dialog->reject();
        }
    });
    answers.start(10);
    QTest::ignoreMessage(QtWarningMsg, kBoxSizeNotice); // the box
    QTest::ignoreMessage(QtWarningMsg, kBoxSizeNotice); // the file dialog
    QCOMPARE(window->close(), chooseFile);
    answers.stop();
    QCOMPARE(seen, QStringList({ QStringLiteral("另存为..."), QStringLiteral("dialog") }));
    QCOMPARE(contents(path), chooseFile ? QByteArray("ZBCD") : QByteArray());
    if (chooseFile) {
        QTRY_VERIFY(window.isNull());
    } else {
        QVERIFY(window->isVisible());
        QVERIFY(window->isWindowModified());
        delete window;
    }
}

void TstHexEditorWindow::payloadTitleShowsModified()
{
    const auto window = payloadWindow("AB");
    QHexDocument* document = window->view()->document();
    // The title as the window system shows it.
    const auto title = [&] { return window->windowHandle()->title(); };
    const QString plain = QStringLiteral("HexEdit 十六进制查看编辑");
    QCOMPARE(title(), plain);
    QTest::keyClick(window->view(), Qt::Key_4);
    QVERIFY(window->isWindowModified());
    QCOMPARE(title(), plain + QLatin1Char('*'));
    document->undo();
    QCOMPARE(title(), plain);
}

void TstHexEditorWindow::bytesPerLineKeepsCaret()
{
    const auto window = payloadWindow(QByteArray(100, 'x'));
    QHexDocument* document = window->view()->document();
    document->cursor()->moveTo(qint64(40));
    for (const int width : { 8, 32, 16 }) {
        action(*window, QStringLiteral("actionBytesPerLine%1").arg(width))->trigger();
        QCOMPARE(int(document->bytesPerLine()), width);
        QCOMPARE(document->cursor()->currentLine(), quint64(40 / width)); // same byte
        QCOMPARE(document->cursor()->position().offset(), 40LL);
    }
}

QTEST_MAIN(TstHexEditorWindow)
#include "tst_hexeditorwindow.moc"
