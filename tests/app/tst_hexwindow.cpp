// SPDX-License-Identifier: GPL-2.0-or-later

#include <algorithm>

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>
#include <QScreen>
#include <QtTest>

#include "hexwindow.h"
#include "mainwindow.h"
#include "qhexbuffer.h"
#include "qhexdocument.h"
#include "qhexview.h"

namespace {

QList<HexWindow*> hex_windows()
{
    QList<HexWindow*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<HexWindow*>(widget))
            windows.append(window);
    return windows;
}

void click(const MainWindow& window, const char* button)
{
    QTest::mouseClick(window.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
}

QByteArray shown_bytes(HexWindow& window)
{
    QHexDocument* document = window.view()->document();
    return document->read(0, int(document->length()));
}

// What a user sees of the first data row of a hex window: mostly background
// (the median pixel), with text in the opposite lightness on it.
struct Row
{
    int background;
    int darkest;
    int lightest;
};

Row first_row(QHexView& view)
{
    const QImage image = view.viewport()->grab().toImage();
    const int y = view.fontMetrics().height() * 3 / 2;
    QVector<int> values;
    for (int x = 0; x < image.width() / 2; ++x)
        values.append(image.pixelColor(x, y).lightness());
    std::sort(values.begin(), values.end());
    return Row { values.at(values.size() / 2), values.first(), values.last() };
}

} // namespace

class TstHexWindow : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void opensDecodedBytes_data();
    void opensDecodedBytes();
    void everyClickOpensAnother();
    void closingReleasesWindowDocumentAndBuffer();
    void followsTheTheme();
    void applicationEndsWhenLastWindowCloses();
    void unsavedFileWindowHoldsTheClose_data();
    void unsavedFileWindowHoldsTheClose();
};

void TstHexWindow::cleanup()
{
    qDeleteAll(hex_windows());
}

void TstHexWindow::opensDecodedBytes_data()
{
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("initial-16") << QString() << QByteArray("\x16");
    QTest::newRow("zero-byte-kept") << "410042" << QByteArray("A\0B", 3);
    QTest::newRow("odd-digit-count") << "4142A" << QByteArray("AB");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("lower-case") << "e4bda0" << QByteArray("\xE4\xBD\xA0");
    QTest::newRow("not-hex-pair") << "zz41" << QByteArray("\0A", 2);
}

void TstHexWindow::opensDecodedBytes()
{
    QFETCH(QString, hex);
    QFETCH(QByteArray, bytes);

    MainWindow window;
    auto* hexEdit = window.findChild<QTextEdit*>(QStringLiteral("textEdit_2"));
    if (!hex.isNull())
        hexEdit->setPlainText(hex);
    const QString before = hexEdit->toPlainText();
    click(window, "pushButton_8");

    const QList<HexWindow*> windows = hex_windows();
    QCOMPARE(windows.size(), 1);
    HexWindow* hexWindow = windows.first();
    QVERIFY(hexWindow->isWindow());
    QVERIFY(hexWindow->isVisible());
    // As the window system shows it: no modified mark yet.
    QCOMPARE(hexWindow->windowHandle()->title(), QStringLiteral("HexEdit 十六进制查看编辑"));
    // 700 x 600, but on this screen (the offscreen platform's, 800 x 600)
    // no higher than leaves room for a title bar.
    QCOMPARE(hexWindow->width(), 700);
    QVERIFY(hexWindow->height() < hexWindow->screen()->availableGeometry().height() - 20);
    QVERIFY(hexWindow->height() >= 500);
    QCOMPARE(shown_bytes(*hexWindow), bytes);

    // Edits stay in the window.
    hexWindow->view()->document()->insert(0, QByteArray("zz"));
    QCOMPARE(shown_bytes(*hexWindow), "zz" + bytes);
    QCOMPARE(hexEdit->toPlainText(), before);
}

void TstHexWindow::everyClickOpensAnother()
{
    MainWindow window;
    click(window, "pushButton_8");
    click(window, "pushButton_8");
    const QList<HexWindow*> windows = hex_windows();
    QCOMPARE(windows.size(), 2);
    QVERIFY(windows.at(0)->view()->document() != windows.at(1)->view()->document());
    QCOMPARE(shown_bytes(*windows.at(0)), QByteArray("\x16"));
    QCOMPARE(shown_bytes(*windows.at(1)), QByteArray("\x16"));
}

void TstHexWindow::closingReleasesWindowDocumentAndBuffer()
{
    MainWindow window;
    click(window, "pushButton_8");
    QPointer<HexWindow> view = hex_windows().value(0);
    QVERIFY(view);
    QPointer<QHexDocument> document = view->view()->document();
    QPointer<QHexBuffer> buffer = document->findChild<QHexBuffer*>();
    QVERIFY(buffer);
    QVERIFY(view->close());
    QTRY_VERIFY(view.isNull());
    QVERIFY(document.isNull());
    QVERIFY(buffer.isNull());
}

void TstHexWindow::followsTheTheme()
{
    MainWindow window;
    auto* hexEdit = window.findChild<QTextEdit*>(QStringLiteral("textEdit_2"));
    hexEdit->setPlainText(QString(64, QLatin1Char('4'))); // two full lines of 0x44
    click(window, "pushButton_8");
    HexWindow* hexWindow = hex_windows().value(0);
    QVERIFY(hexWindow != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(hexWindow));
    QHexView* view = hexWindow->view();

    Row row = first_row(*view);
    QVERIFY2(row.background > 160 && row.darkest < 100, "dark text on light rows");
    click(window, "pushButton_9"); // dark
    row = first_row(*view);
    QVERIFY2(row.background < 100 && row.lightest > 160, "light text on dark rows");
    click(window, "pushButton_9"); // light again
    row = first_row(*view);
    QVERIFY2(row.background > 160 && row.darkest < 100, "dark text on light rows");
}

void TstHexWindow::applicationEndsWhenLastWindowCloses()
{
    // Closing the main window ends the program, hex windows open or not, and
    // takes them with it. Qt decides that inside the event loop, so run it.
    auto* window = new MainWindow; // deleted below, as main() would
    window->show();
    click(*window, "pushButton_8");
    QPointer<HexWindow> view = hex_windows().value(0);
    QVERIFY(view);
    QTimer::singleShot(0, window, [window] { window->close(); });
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(1); }); // liveness bound
    QCOMPARE(QApplication::exec(), 0);
    delete window;
    QVERIFY(view.isNull());
}

void TstHexWindow::unsavedFileWindowHoldsTheClose_data()
{
    QTest::addColumn<int>("answer"); // to "save the changes?"
    QTest::addColumn<bool>("closes");
    QTest::newRow("cancel") << int(QMessageBox::Cancel) << false;
    QTest::newRow("discard") << int(QMessageBox::Discard) << true;
}

void TstHexWindow::unsavedFileWindowHoldsTheClose()
{
    QFETCH(int, answer);
    QFETCH(bool, closes);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("ABCD") == 4);
    file.close();

    MainWindow window;
    window.show();
    // As the hex window's File menu opens one: a window of its own.
    QPointer<HexWindow> hex = HexWindow::openFileWindow(path);
    QVERIFY(hex);
    hex->view()->document()->replace(0, QByteArray("Z"));

    int boxes = 0;
    QTimer::singleShot(0, &window, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++boxes;
            box->button(QMessageBox::StandardButton(answer))->click();
        }
    });
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QCOMPARE(window.close(), closes);
    QCOMPARE(boxes, 1);
    QCOMPARE(window.isVisible(), !closes);
    if (closes)
        QTRY_VERIFY(hex.isNull());
    else
        delete hex.data(); // its unsaved changes go with it
}

QTEST_MAIN(TstHexWindow)
#include "tst_hexwindow.moc"
