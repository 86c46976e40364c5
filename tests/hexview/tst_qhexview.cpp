// SPDX-License-Identifier: GPL-2.0-or-later

#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolTip>
#include <QtTest>

#include "hexviewtest.h"
#include "qhexcursor.h"
#include "qhexmetadata.h"
#include "qhexrenderer.h"
#include "qhexview.h"

using namespace hexviewtest;

namespace {

// The view's geometry, as its own renderer computes it.
QFontMetricsF metricsOf(const QHexView& view)
{
    return QFontMetricsF(QFontMetrics(view.font()));
}

void sendMouse(QWidget* target, QEvent::Type type, const QPoint& pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TstQHexView : public QObject
{
    Q_OBJECT

private slots:
    void newViewShowsEmptyDocument();
    void scrollBars_data();
    void scrollBars();
    void horizontalScrollShiftsEverything();
    void cursorOffScreenIsCentred();
    void hugeDocumentScrollsToItsEnd();
    void fontChangeReranges();
    void sidewaysWheelScrollsLines();
    void documentThatFitsStaysInPlace();
    void click_data();
    void click();
    void dragSelects();
    void tooltipShowsComments();
    void annotationRepaints_data();
    void annotationRepaints();
    void setDocumentDeletesThePreviousLater();
    void setReadOnlyLeavesOverwriteMode();
};

void TstQHexView::newViewShowsEmptyDocument()
{
    PaletteScope palette;
    QHexView view;
    view.resize(viewSize(view, 10));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QVERIFY(view.document() != nullptr);
    QCOMPARE(view.document()->parent(), &view);
    QCOMPARE(view.document()->length(), qint64(0));
    QVERIFY(!view.verticalScrollBar()->isVisible());
    QVERIFY(!view.horizontalScrollBar()->isVisible());

    // The cursor is on the first cell while the view has focus, and only then.
    const QHexRenderer geometry(view.document(), metricsOf(view));
    const QRect firstCell = cellRect(geometry, true, 0, 0, 1);
    const QColor block = PaletteScope::color(QPalette::WindowText);
    QFocusEvent focusOut(QEvent::FocusOut);
    QApplication::sendEvent(&view, &focusOut);
    QVERIFY(dominantColor(view.viewport()->grab().toImage(), firstCell) != block);
    QFocusEvent focusIn(QEvent::FocusIn);
    QApplication::sendEvent(&view, &focusIn);
    QCOMPARE(dominantColor(view.viewport()->grab().toImage(), firstCell), block);
}

void TstQHexView::scrollBars_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("rows"); // the widget's height in rows, the header's included
    QTest::addColumn<bool>("allColumns"); // wide enough for them, or half as wide
    QTest::addColumn<bool>("vertical");
    QTest::addColumn<bool>("horizontal");

    // 40 bytes are 3 lines, 4096 bytes 257.
    QTest::newRow("fits") << 40 << 10 << true << false << false;
    QTest::newRow("more-lines-than-fit") << 4096 << 10 << true << true << false;
    QTest::newRow("narrower-than-columns") << 40 << 10 << false << false << true;
    QTest::newRow("both") << 4096 << 10 << false << true << true;
}

void TstQHexView::scrollBars()
{
    QFETCH(int, length);
    QFETCH(int, rows);
    QFETCH(bool, allColumns);
    QFETCH(bool, vertical);
    QFETCH(bool, horizontal);

    QHexView view;
    view.setDocument(makeDocument(QByteArray(length, 'x'), &view));
    view.resize(viewSize(view, rows, allColumns));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QHexRenderer geometry(view.document(), metricsOf(view));
    const quint64 lines = geometry.lineCount();
    QScrollBar* vbar = view.verticalScrollBar();
    QScrollBar* hbar = view.horizontalScrollBar();

    QCOMPARE(vbar->isVisible(), vertical);
    QCOMPARE(hbar->isVisible(), horizontal);
    if (vertical) {
        // The rows of the widget's height, less the header.
        const quint64 visible = quint64(view.height() / geometry.lineHeight() - 1);
        QCOMPARE(view.visibleLines(), visible);
        QCOMPARE(quint64(vbar->maximum()), lines - visible + 1);
        vbar->setValue(vbar->maximum());
        QVERIFY(view.isLineVisible(geometry.lastLine()));
    } else {
        // Nothing to scroll: no range that the wheel or a key could move.
        QCOMPARE(vbar->value(), 0);
        QCOMPARE(vbar->maximum(), 0);
    }
    const int width = view.viewport()->width();
    QCOMPARE(hbar->maximum(), horizontal ? geometry.endColumnX() - width + 2 : 0);
}

void TstQHexView::horizontalScrollShiftsEverything()
{
    PaletteScope palette;
    QHexView view;
    view.setFont(crispFont());
    view.setDocument(makeDocument(QByteArray(40, ' '), &view));
    view.resize(viewSize(view, 10, false));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QHexRenderer geometry(view.document(), metricsOf(view));
    // By part of a cell too: a picture drawn unscrolled cannot pass.
    const int shift = qRound(4.5 * geometry.cellWidth());
    view.horizontalScrollBar()->setValue(shift);
    QCOMPARE(view.horizontalScrollBar()->value(), shift);
    view.document()->cursor()->moveTo(0, 5, 1);
    view.document()->cursor()->select(0, 5, 0);

    // The selected byte is drawn, and hit, where it moved to. Its first digit
    // is probed: the caret covers the second one.
    const QImage image = view.viewport()->grab().toImage();
    const QColor highlight = PaletteScope::color(QPalette::Highlight);
    QCOMPARE(dominantColor(image, cellRect(geometry, true, 0, 15, 1, 0, shift)), highlight);
    QVERIFY(dominantColor(image, cellRect(geometry, true, 0, 15, 1)) != highlight);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                      cellCentre(geometry, true, 0, 27) - QPoint(shift, 0));
    QCOMPARE(caret(view.document()->cursor()->position()), QStringLiteral("0:9:1"));
}

void TstQHexView::cursorOffScreenIsCentred()
{
    QHexView view;
    view.setDocument(makeDocument(QByteArray(4096, 'x'), &view));
    view.resize(viewSize(view, 10));
    view.show();
    QHexCursor* cursor = view.document()->cursor();
    QScrollBar* vbar = view.verticalScrollBar();
    const quint64 half = view.visibleLines() / 2;

    cursor->moveTo(100, 0, 1);
    QCOMPARE(quint64(vbar->value()), 100 - half);
    QVERIFY(view.isLineVisible(100));
    cursor->moveTo(101, 3, 1); // within the rows shown: no scrolling
    QCOMPARE(quint64(vbar->value()), 100 - half);
    cursor->moveTo(2, 0, 1); // too near the top to be centred
    QCOMPARE(vbar->value(), 0);
}

void TstQHexView::hugeDocumentScrollsToItsEnd()
{
    QHexView view;
    QHexDocument* document = makeSyntheticDocument((Q_INT64_C(1) << 36) + 5, &view);
    view.setDocument(document);
    view.resize(viewSize(view, 10));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QHexRenderer geometry(document, metricsOf(view));
    QScrollBar* vbar = view.verticalScrollBar();
    QVERIFY(view.scrollFactor() > 1);
    QVERIFY(vbar->maximum() > 0);

    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(caret(document->cursor()->position()), QStringLiteral("4294967296:5:1"));
    QVERIFY(view.isLineVisible(geometry.lastLine()));
    QVERIFY(!view.viewport()->grab().isNull());

    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(vbar->value(), 0);
    vbar->setValue(vbar->maximum());
    QVERIFY(view.isLineVisible(geometry.lastLine()));
}

void TstQHexView::fontChangeReranges()
{
    QHexView view;
    view.setDocument(makeDocument(QByteArray(4096, 'x'), &view));
    view.resize(viewSize(view, 10));
    view.show();
    const quint64 visibleBefore = view.visibleLines();

    QFont font = view.font();
    font.setPointSizeF(font.pointSizeF() * 2);
    view.setFont(font);
    // Fewer rows fit, so the end of the document lies further down.
    QVERIFY(view.visibleLines() < visibleBefore);
    QCOMPARE(quint64(view.verticalScrollBar()->maximum()), 257 - view.visibleLines() + 1);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum());
    QVERIFY(view.isLineVisible(256));
}

void TstQHexView::sidewaysWheelScrollsLines()
{
    QHexView view;
    view.setDocument(makeDocument(QByteArray(4096, 'x'), &view));
    view.resize(viewSize(view, 10));
    view.show();
    QScrollBar* vbar = view.verticalScrollBar();
    QVERIFY(vbar->isVisible());

    const auto tilt = [&](int x) {
        QWheelEvent event(QPointF(50, 50), QPointF(view.viewport()->mapToGlobal(QPoint(50, 50))),
                          QPoint(), QPoint(x, 0), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(view.viewport(), &event);
    };
    tilt(-120);
    QCOMPARE(vbar->value(), 3);
    tilt(120);
    QCOMPARE(vbar->value(), 0);
}

void TstQHexView::documentThatFitsStaysInPlace()
{
    // One byte: neither the wheel nor the scroll area's keys may move its
    // only line or the columns out of sight.
    QHexView view;
    view.setDocument(makeDocument(QByteArray(1, 'x'), &view));
    view.resize(900, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const int delta : { -120, 120 }) {
        QWheelEvent event(QPointF(50, 50), QPointF(view.viewport()->mapToGlobal(QPoint(50, 50))),
                          QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &event);
        QWheelEvent sideways(QPointF(50, 50), QPointF(view.viewport()->mapToGlobal(QPoint(50, 50))),
                             QPoint(), QPoint(delta, 0), Qt::NoButton, Qt::NoModifier,
                             Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &sideways);
    }
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(&view, Qt::Key_Right, Qt::ControlModifier);
    QCOMPARE(view.verticalScrollBar()->value(), 0);
    QCOMPARE(view.horizontalScrollBar()->value(), 0);
    QVERIFY(view.isLineVisible(0));
}

void TstQHexView::click_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<QString>("position"); // the cursor afterwards; it starts on 0:1:1

    const int left = Qt::LeftButton;
    QTest::newRow("hex-second-digit") << "hex" << left << "1:3:0";
    QTest::newRow("text-column") << "ascii" << left << "0:7:1";
    QTest::newRow("header") << "header" << left << "0:1:1";
    QTest::newRow("address") << "address" << left << "0:1:1";
    QTest::newRow("gap-at-rule") << "gap" << left << "0:1:1";
    QTest::newRow("right-of-text") << "right" << left << "0:1:1";
    QTest::newRow("right-button") << "hex" << int(Qt::RightButton) << "0:1:1";
    QTest::newRow("two-buttons") << "hex" << int(Qt::LeftButton | Qt::RightButton) << "0:1:1";
}

void TstQHexView::click()
{
    QFETCH(QString, where);
    QFETCH(int, buttons);
    QFETCH(QString, position);

    QHexView view;
    view.setDocument(makeDocument(QByteArray(40, 'x'), &view));
    view.resize(viewSize(view, 14));
    view.show();
    view.document()->cursor()->moveTo(0, 1, 1);
    const QHexRenderer geometry(view.document(), metricsOf(view));
    const int y = geometry.lineHeight() * 3 / 2;
    const QHash<QString, QPoint> points {
        { QStringLiteral("hex"), cellCentre(geometry, true, 1, 10) },
        { QStringLiteral("ascii"), cellCentre(geometry, false, 0, 7) },
        { QStringLiteral("header"), QPoint(cellCentre(geometry, true, 0, 4).x(), 2) },
        { QStringLiteral("address"), QPoint(geometry.hexColumnX() / 2, y) },
        { QStringLiteral("gap"), QPoint(geometry.asciiColumnX(), y) },
        { QStringLiteral("right"), QPoint(geometry.endColumnX() + 5, y) },
    };

    const QPoint point = points.value(where);
    const auto button
            = Qt::MouseButton((buttons & Qt::LeftButton) != 0 ? int(Qt::LeftButton) : buttons);
    sendMouse(view.viewport(), QEvent::MouseButtonPress, point, button, Qt::MouseButtons(buttons));
    sendMouse(view.viewport(), QEvent::MouseButtonRelease, point, button, Qt::NoButton);
    QCOMPARE(caret(view.document()->cursor()->position()), position);
    QVERIFY(!view.document()->cursor()->hasSelection());
}

void TstQHexView::dragSelects()
{
    QHexView view;
    QHexDocument* document = makeDocument(QByteArray(40, 'x'), &view);
    view.setDocument(document);
    view.resize(viewSize(view, 14));
    view.show();
    QHexCursor* cursor = document->cursor();
    const QHexRenderer geometry(document, metricsOf(view));
    QWidget* viewport = view.viewport();
    const auto drag = [&](const QPoint& to) {
        sendMouse(viewport, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    };

    sendMouse(viewport, QEvent::MouseButtonPress, cellCentre(geometry, true, 0, 3), Qt::LeftButton,
              Qt::LeftButton);
    drag(cellCentre(geometry, true, 0, 15));
    QCOMPARE(caret(cursor->position()), QStringLiteral("0:5:0"));
    QCOMPARE(anchorOf(*cursor), QStringLiteral("0:1:1"));
    QCOMPARE(document->selectedBytes().size(), 5);

    // Outside the columns the selection waits; in the text column it goes on.
    drag(QPoint(geometry.hexColumnX() / 2, geometry.lineHeight() * 5 / 2));
    QCOMPARE(caret(cursor->position()), QStringLiteral("0:5:0"));
    drag(cellCentre(geometry, false, 1, 9));
    QCOMPARE(caret(cursor->position()), QStringLiteral("1:9:0"));
    // The append cell has no second digit.
    drag(cellCentre(geometry, true, 2, 40));
    QCOMPARE(caret(cursor->position()), QStringLiteral("2:8:1"));
    sendMouse(viewport, QEvent::MouseButtonRelease, cellCentre(geometry, true, 2, 40),
              Qt::LeftButton, Qt::NoButton);

    // The drag crossed into the text column, but typing still goes to the hex column.
    cursor->moveTo(0, 0, 1);
    QTest::keyClick(&view, Qt::Key_3);
    QCOMPARE(document->at(0), uchar(0x38)); // 'x' is 0x78; in the text column it would be 0x33
}

void TstQHexView::tooltipShowsComments()
{
    QHexView view;
    QHexDocument* document = makeDocument(QByteArray(40, 'x'), &view);
    view.setDocument(document);
    view.resize(viewSize(view, 14));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    document->metadata()->setComment(0, 4, 3, QStringLiteral("first"));
    document->metadata()->setComment(0, 5, 1, QStringLiteral("second"));
    const QHexRenderer geometry(document, metricsOf(view));
    const auto hoverAt = [&](const QPoint& pos) {
        QHelpEvent event(QEvent::ToolTip, pos, view.viewport()->mapToGlobal(pos));
        QApplication::sendEvent(view.viewport(), &event);
    };
    const auto hover = [&](int cell) { hoverAt(cellCentre(geometry, true, 0, cell)); };

    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support raise()");
    hover(27); // byte 9: no comment
    // The last pixel of byte 3, right before the commented bytes.
    const int byte4
            = geometry.hexColumnX() + geometry.spacingWidth() + qCeil(12 * geometry.cellWidth());
    hoverAt(QPoint(byte4 - 1, geometry.lineHeight() * 3 / 2));
    QVERIFY(!QToolTip::isVisible());
    hover(12); // byte 4
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("first"));
    hover(16); // byte 5
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("first\nsecond"));
    QToolTip::hideText();
}

void TstQHexView::annotationRepaints_data()
{
    QTest::addColumn<qint64>("begin");
    QTest::addColumn<qint64>("end");
    QTest::newRow("long-from-above") << qint64(16 * 10 + 3) << qint64(64 * 1024); // signals 10
    QTest::newRow("short-on-the-page") << qint64(16 * 102) << qint64(16 * 103);
}

// What the screen shows, not a fresh rendering: an annotation added while the
// page is shown appears with no other change.
void TstQHexView::annotationRepaints()
{
    QFETCH(qint64, begin);
    QFETCH(qint64, end);

    PaletteScope palette;
    QHexView view;
    QHexDocument* document = makeDocument(QByteArray(64 * 1024, 'x'), &view);
    view.setDocument(document);
    view.resize(viewSize(view, 12));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.verticalScrollBar()->setValue(100);
    QCOMPARE(view.firstVisibleLine(), quint64(100));

    const QHexRenderer geometry(document, metricsOf(view));
    const QPoint corner = view.viewport()->mapTo(&view, QPoint());
    const QRect cell = cellRect(geometry, true, 102, 0, 2, 100).translated(corner);
    const auto shown = [&] {
        const QPixmap screen = view.windowHandle()->screen()->grabWindow(view.winId());
        return dominantColor(screen.toImage(), cell);
    };
    QCoreApplication::processEvents(); // the scroll's repaint: nothing is left to come
    QCOMPARE(shown(), PaletteScope::color(QPalette::Base));
    document->metadata()->addRange(begin, end, QColor(), Qt::red, QString());
    QTRY_COMPARE(shown(), QColor(Qt::red));
}

void TstQHexView::setDocumentDeletesThePreviousLater()
{
    QHexView view;
    QPointer<QHexDocument> first = view.document();
    QHexDocument* second = makeDocument("ab", &view);

    view.setDocument(second);
    QCOMPARE(view.document(), second);
    QVERIFY(!first.isNull());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
    QCOMPARE(view.findChildren<QHexRenderer*>().size(), 1);

    // Handing over the document shown again keeps it.
    view.setDocument(second);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(view.document(), second);
    QCOMPARE(view.findChildren<QHexRenderer*>().size(), 1);
    QCOMPARE(second->length(), qint64(2));
}

void TstQHexView::setReadOnlyLeavesOverwriteMode()
{
    for (const bool readOnly : { true, false }) {
        QHexView view;
        QHexCursor* cursor = view.document()->cursor();
        cursor->setInsertionMode(InsertMode);
        QSignalSpy spy(cursor, &QHexCursor::insertionModeChanged);
        view.setReadOnly(readOnly);
        QCOMPARE(cursor->insertionMode(), OverwriteMode);
        view.setReadOnly(readOnly);
        QCOMPARE(spy.count(), 1);
    }
}

QTEST_MAIN(TstQHexView)
#include "tst_qhexview.moc"
