// SPDX-License-Identifier: GPL-2.0-or-later

#include <QClipboard>
#include <QFile>
#include <QToolBar>
#include <QtTest>

#include "hexstatusbar.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "qmemorybuffer.h"
#include "uisteps.h"

namespace {

const QByteArray kBytes("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
const QByteArray kEdited = "Z" + kBytes.mid(1); // "5a" typed over the first byte
constexpr qint64 kHugeSize = qint64(1) << 30;

QByteArray file_bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QString spaced_hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

int visible_hex_windows()
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<HexWindow*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
    return count;
}

} // namespace

// Every menu action and shortcut of the hex window, typed into the active
// window, with the bytes and what else a person sees afterwards.
class TstHexWindowKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void actions_data();
    void actions();
};

void TstHexWindowKeys::initTestCase()
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TstHexWindowKeys::actions_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<QString>("source"); // file, payload or huge
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QByteArray>("bytes"); // the document's afterwards; null: not checked
    QTest::addColumn<QString>("checks"); // separated by "|"

    const QString clipboard = QStringLiteral("clipboard=") + spaced_hex(kBytes);
    struct Row
    {
        const char* name;
        const char* source;
        QString steps;
        QByteArray bytes;
        QString checks;
    };
    const QList<Row> rows {
        // Typing is one undo step, until the caret is moved by hand.
        { "undo-by-shortcut", "file", "text:5a;key:Ctrl+Z;key:Ctrl+Z", kBytes, "open" },
        { "typing-undone-at-once", "file", "text:414243;key:Ctrl+Z", kBytes, "open" },
        { "caret-move-ends-typing", "file", "text:5a;key:Left;key:Right;text:5a;key:Ctrl+Z",
          kEdited, "open" },
        { "undo-by-menu", "file", "text:5a;menu:actionUndo;menu:actionUndo", kBytes, "open" },
        { "redo-by-shortcut", "file",
          "text:5a;key:Ctrl+Z;key:Ctrl+Z;key:Ctrl+Shift+Z;key:Ctrl+Shift+Z", kEdited, "open" },
        { "redo-by-menu", "file", "text:5a;key:Ctrl+Z;key:Ctrl+Z;menu:actionRedo;menu:actionRedo",
          kEdited, "open" },
        { "undo-in-payload-window", "payload", "text:5a;key:Ctrl+Z;key:Ctrl+Z", kBytes, "open" },
        { "cut-by-shortcut", "file", "key:Ctrl+A;key:Ctrl+X", "", clipboard },
        { "cut-by-menu", "file", "key:Ctrl+A;menu:actionCut", "", clipboard },
        { "cut-then-undo", "file", "key:Ctrl+A;key:Ctrl+X;key:Ctrl+Z", kBytes, clipboard },
        { "paste-by-shortcut", "file", "clipboard:5A5A;key:Ctrl+V", "ZZ" + kBytes.mid(2), "" },
        { "paste-by-menu", "file", "clipboard:5A5A;menu:actionPaste", "ZZ" + kBytes.mid(2), "" },
        { "paste-then-undo", "file", "clipboard:5A5A;key:Ctrl+V;key:Ctrl+Z", kBytes, "" },
        // A paste leaves the caret after what it pasted.
        { "paste-twice-overwrite", "file", "clipboard:5A5A;key:Ctrl+V;key:Ctrl+V",
          "ZZZZ" + kBytes.mid(4), "offset=4" },
        { "paste-twice-insert", "file",
          "key:Insert;clipboard:5A;key:Ctrl+V;clipboard:59;key:Ctrl+V", "ZY" + kBytes, "offset=2" },
        { "cut-all-leaves-caret-at-start", "file", "key:Ctrl+End;key:Ctrl+A;key:Ctrl+X", "",
          "offset=0|status-offset=0" },
        { "copy-by-shortcut", "file", "key:Ctrl+A;key:Ctrl+C", kBytes, clipboard },
        { "copy-by-menu", "file", "key:Ctrl+A;menu:actionCopy", kBytes, clipboard },
        { "copy-hex-by-shortcut", "file", "key:Ctrl+A;key:Ctrl+Shift+C", kBytes, clipboard },
        { "copy-hex-by-menu", "file", "key:Ctrl+A;menu:actionCopyHex", kBytes, clipboard },
        { "select-all-by-shortcut", "file", "key:Ctrl+A;key:Delete", "", "" },
        { "select-all-by-menu", "file", "menu:actionSelectAll;key:Delete", "", "" },
        { "huge-copy-refused", "huge", "key:Ctrl+A;key:Ctrl+C", {}, "boxes=1|open" },
        { "save-by-shortcut", "file", "text:5a;key:Ctrl+S", kEdited, "file=data.bin|boxes=0" },
        { "save-by-menu", "file", "text:5a;menu:actionSave", kEdited, "file=data.bin" },
        { "save-as-by-shortcut", "file", "text:5a;answer:file:copy.bin;key:Ctrl+Shift+S", kEdited,
          "dialogs=1|file=copy.bin" },
        { "save-as-by-menu", "payload", "text:5a;answer:file:copy.bin;menu:actionSaveAs", kEdited,
          "dialogs=1|file=copy.bin" },
        { "save-payload-asks-name", "payload", "answer:file:copy.bin;key:Ctrl+S", kBytes,
          "dialogs=1|file=copy.bin" },
        { "open-by-shortcut", "file", "answer:file:other.bin;key:Ctrl+O", kBytes, "windows=2" },
        { "open-by-menu", "payload", "answer:file:other.bin;menu:actionOpen", kBytes, "windows=2" },
        { "close-unmodified", "file", "key:Ctrl+W", {}, "closed|boxes=0" },
        { "close-by-menu", "payload", "menu:actionClose", {}, "closed|boxes=0" },
        { "close-modified-cancel", "file", "text:5a;answer:reject;key:Ctrl+W", kEdited,
          "open|boxes=1|data.bin-unchanged" },
        { "close-modified-discard",
          "file",
          "text:5a;answer:destructive;key:Ctrl+W",
          {},
          "closed|boxes=1|data.bin-unchanged" },
        { "close-modified-payload-asks", "payload", "text:5a;answer:reject;key:Ctrl+W", kEdited,
          "open|boxes=1|modified" },
        { "find-by-shortcut", "file", "key:Ctrl+F;text:XYZ;key:Return", kBytes,
          "selected=XYZ|findbar" },
        { "find-again-by-f3", "file", "key:Ctrl+F;text:XYZ;key:Return;key:Escape;key:F3", kBytes,
          "findbar" },
        { "find-escape-hides-bar", "file", "menu:actionFind;key:Escape", kBytes, "no-findbar" },
        { "go-to-by-shortcut", "file", "answer:input:0x10;key:Ctrl+G", kBytes, "offset=16" },
        { "go-to-by-menu", "file", "answer:input:20;menu:actionGoTo", kBytes, "offset=20" },
        { "zoom-in-by-shortcut", "file", "key:Ctrl++", kBytes, "zoom=1" },
        { "zoom-in-by-ctrl-equal", "file", "key:Ctrl+=", kBytes, "zoom=1" },
        { "zoom-in-by-menu", "file", "menu:actionZoomIn", kBytes, "zoom=1" },
        { "zoom-out-by-shortcut", "file", "key:Ctrl+-", kBytes, "zoom=-1" },
        { "zoom-out-by-menu", "file", "menu:actionZoomOut", kBytes, "zoom=-1" },
        { "eight-bytes-per-line", "file", "menu:actionBytesPerLine8", kBytes, "bpl=8" },
        { "thirty-two-bytes-per-line", "file", "menu:actionBytesPerLine32", kBytes, "bpl=32" },
        { "back-to-sixteen-per-line", "file", "menu:actionBytesPerLine8;menu:actionBytesPerLine16",
          kBytes, "bpl=16" },
    };
    for (const int theme : { 1, 0 }) {
        for (const Row& row : rows)
            QTest::addRow("%s/%s", row.name, theme == 1 ? "dark" : "light")
                    << theme << row.source << row.steps << row.bytes << row.checks;
    }
}

void TstHexWindowKeys::actions()
{
    XTEST_ROW_IN_OWN_PROCESS();
    QFETCH(int, theme);
    QFETCH(QString, source);
    QFETCH(QString, steps);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, checks);

    MainWindow::load_theme(theme);
    uisteps::Driver driver;
    const QString data = driver.path(QStringLiteral("data.bin"));
    {
        QFile file(data);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(kBytes), qint64(kBytes.size()));
        QFile other(driver.path(QStringLiteral("other.bin")));
        QVERIFY(other.open(QIODevice::WriteOnly));
        QVERIFY(other.write("other") == 5);
    }
    if (source == QLatin1String("huge")) {
        QFile file(data);
        QVERIFY(file.resize(kHugeSize)); // sparse: takes no room on disk
    }

    QPointer<HexWindow> window = new HexWindow; // deletes itself on close
    if (source == QLatin1String("payload")) {
        auto* buffer = new QMemoryBuffer; // the document takes it over
        buffer->load(kBytes.constData(), kBytes.size());
        window->setDocument(new QHexDocument(buffer));
    } else {
        QVERIFY(window->openFile(data));
    }
    QVERIFY(xtest::activate(window));
    QCOMPARE(QApplication::focusWidget(), window->view());
    const int fontSize = window->view()->font().pointSize();

    QString failure;
    QVERIFY2(driver.run(steps, &failure), qPrintable(failure));

    if (!bytes.isNull()) {
        QVERIFY(window);
        QHexDocument* document = window->view()->document();
        QCOMPARE(document->read(0, int(document->length())), bytes);
    }
    for (const QString& check : checks.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const QString name = check.section(QLatin1Char('='), 0, 0);
        const QString value = check.section(QLatin1Char('='), 1);
        if (name == QLatin1String("open")) {
            QVERIFY(window);
            QVERIFY(window->isVisible());
        } else if (name == QLatin1String("closed")) {
            QTRY_VERIFY(window.isNull() || !window->isVisible());
        } else if (name == QLatin1String("boxes")) {
            QCOMPARE(driver.boxes, value.toInt());
        } else if (name == QLatin1String("dialogs")) {
            QCOMPARE(driver.fileDialogs, value.toInt());
        } else if (name == QLatin1String("clipboard")) {
            QCOMPARE(QGuiApplication::clipboard()->text(), value);
        } else if (name == QLatin1String("file")) {
            QCOMPARE(file_bytes(driver.path(value)), bytes);
        } else if (name == QLatin1String("data.bin-unchanged")) {
            QCOMPARE(file_bytes(data), kBytes);
        } else if (name == QLatin1String("modified")) {
            QVERIFY(window->isWindowModified());
        } else if (name == QLatin1String("windows")) {
            QTRY_COMPARE(visible_hex_windows(), value.toInt());
        } else if (name == QLatin1String("status-offset")) {
            QCOMPARE(window->hexStatusBar()->offsetText(),
                     HexStatusBar::tr("偏移: 0x%1 (%2)").arg(value.toInt(), 0, 16).arg(value));
        } else if (name == QLatin1String("offset")) {
            QCOMPARE(window->view()->document()->cursor()->position().offset(), value.toLongLong());
        } else if (name == QLatin1String("selected")) {
            QCOMPARE(window->view()->document()->selectedBytes(), value.toLatin1());
        } else if (name == QLatin1String("findbar") || name == QLatin1String("no-findbar")) {
            auto* bar = window->findChild<QToolBar*>(QStringLiteral("findToolBar"));
            QVERIFY(bar != nullptr);
            QCOMPARE(bar->isVisible(), name == QLatin1String("findbar"));
        } else if (name == QLatin1String("zoom")) {
            QCOMPARE(window->view()->font().pointSize(), fontSize + value.toInt());
        } else if (name == QLatin1String("bpl")) {
            QCOMPARE(int(window->view()->document()->bytesPerLine()), value.toInt());
        } else {
            QFAIL(qPrintable(QStringLiteral("no such check: ") + check));
        }
    }
    QList<QPointer<HexWindow>> left;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* hex = qobject_cast<HexWindow*>(widget))
            left.append(hex);
    for (const QPointer<HexWindow>& hex : std::as_const(left))
        delete hex.data(); // no close event: nothing asks
}

QTEST_MAIN(TstHexWindowKeys)
#include "tst_hexwindowkeys.moc"
