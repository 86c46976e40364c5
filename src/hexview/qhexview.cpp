// SPDX-License-Identifier: GPL-2.0-or-later

#include "qhexview.h"

#include <climits>
#include <optional>

#include <QFontDatabase>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>

#include "hexnavigation.h"
#include "hexpaste.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qhexrenderer.h"
#include "qmemorybuffer.h"

namespace {

constexpr int kBlinkIntervalMs = 500;
constexpr int kSidewaysWheelSteps = 3;

int clampToInt(quint64 value)
{
    return static_cast<int>(qMin<quint64>(value, INT_MAX));
}

// The navigation keys in the order they are tried: each row moves with its
// first key and extends the selection with its second.
struct NavigationKey
{
    QKeySequence::StandardKey move;
    QKeySequence::StandardKey select;
    HexMove target;
};

constexpr NavigationKey kNavigationKeys[] = {
    { QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar, HexMove::NextChar },
    { QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar, HexMove::PreviousChar },
    { QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine, HexMove::NextLine },
    { QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine, HexMove::PreviousLine },
    { QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage, HexMove::NextPage },
    { QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage, HexMove::PreviousPage },
    { QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument,
      HexMove::StartOfDocument },
    { QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument,
      HexMove::EndOfDocument },
    { QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine, HexMove::StartOfLine },
    { QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine, HexMove::EndOfLine },
};

HexLayout layoutOf(const QHexRenderer& renderer, const QHexDocument& document, quint64 pageLines)
{
    HexLayout layout {};
    layout.length = document.length();
    layout.bytesPerLine = qMax(1, int(document.bytesPerLine()));
    layout.lastLine = renderer.lastLine();
    layout.lastColumn = renderer.lastColumn();
    layout.pageLines = pageLines;
    layout.hexColumn = renderer.selectedArea() == QHexRenderer::HexArea;
    return layout;
}

HexCaret caretOf(const QHexCursor& cursor)
{
    return HexCaret { cursor.currentLine(), cursor.currentColumn(), cursor.currentNibble() };
}

void goTo(QHexCursor* cursor, const std::optional<HexCaret>& target, bool select)
{
    if (!target)
        return;
    if (select)
        cursor->select(target->line, target->column, target->nibble);
    else
        cursor->moveTo(target->line, target->column, target->nibble);
}

// Typing over a selection replaces it: the selected bytes go and the typed
// byte is inserted where they began, whatever the insertion mode. A cursor
// left past the end of the data (by an undo or a cut) goes back to the append
// cell first, so nothing is ever written beyond the end. Returns whether a
// selection was removed.
bool makeRoomForTyping(QHexDocument& document)
{
    QHexCursor* cursor = document.cursor();
    if (cursor->hasSelection()) {
        const qint64 start = cursor->selectionStart().offset();
        document.removeSelection();
        cursor->moveTo(qMin(start, document.length()));
        return true;
    }
    if (cursor->position().offset() > document.length())
        cursor->moveTo(document.length());
    return false;
}

// The cursor position of the append cell has no second digit; a drag that
// ends there keeps the first.
int dragNibble(const QHexRenderer& renderer, const QHexPosition& position)
{
    const bool appendCell
            = position.line == renderer.lastLine() && position.column >= renderer.lastColumn();
    return appendCell ? 1 : 0;
}

} // namespace

QHexView::QHexView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (font.styleHint() != QFont::TypeWriter) {
        font.setFamily(QStringLiteral("Monospace"));
        font.setStyleHint(QFont::TypeWriter, QFont::PreferDefault);
    }
    setFont(font);

    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_MouseTracking);

    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(1);

    m_blinktimer = new QTimer(this);
    m_blinktimer->setInterval(kBlinkIntervalMs);
    connect(m_blinktimer, &QTimer::timeout, this, &QHexView::blinkCursor);

    auto* buffer = new QMemoryBuffer(); // the document takes it over
    buffer->load(QByteArray());
    setDocument(new QHexDocument(buffer, this));
}

void QHexView::setDocument(QHexDocument* document)
{
    if (document == m_document)
        return; // would schedule the document shown for deletion

    if (m_renderer != nullptr)
        m_renderer->deleteLater();
    if (m_document != nullptr) {
        m_document->disconnect(this);
        m_document->cursor()->disconnect(this);
        m_document->deleteLater();
    }

    m_document = document;
    m_renderer = new QHexRenderer(document, QFontMetricsF(QFontMetrics(font())), this);

    if (m_document != nullptr) {
        connect(m_document, &QHexDocument::documentChanged, this, [this] {
            adjustScrollBars();
            viewport()->update();
        });
        // Any annotation repaints the page: one over many lines signals only
        // its first, which may lie above the page. Qt makes one paint of the
        // updates of one turn of the event loop, and an update costs less
        // than asking whether the line is shown (the document's length may
        // come from the file system).
        connect(m_document, &QHexDocument::lineChanged, this, [this] { viewport()->update(); });
        connect(m_document->cursor(), &QHexCursor::positionChanged, this,
                &QHexView::moveToSelection);
        connect(m_document->cursor(), &QHexCursor::insertionModeChanged, this,
                &QHexView::renderCurrentLine);
    }

    adjustScrollBars();
    viewport()->update();
}

void QHexView::setReadOnly(bool readOnly)
{
    m_readonly = readOnly;
    if (m_document != nullptr)
        m_document->cursor()->setInsertionMode(OverwriteMode);
}

quint64 QHexView::scrollFactor() const
{
    if (m_document == nullptr || m_renderer == nullptr)
        return 1;
    const quint64 lines = m_renderer->lineCount();
    if (lines < static_cast<quint64>(INT_MAX))
        return 1;
    return lines / static_cast<quint64>(INT_MAX) + 1;
}

quint64 QHexView::visibleLines() const
{
    if (m_renderer == nullptr)
        return 0;
    const qint64 rows = height() / qMax(1, m_renderer->lineHeight());
    // A widget lower than one row wraps below zero and so yields lineCount().
    const auto lines = static_cast<quint64>(rows - m_renderer->headerLineCount());
    return qMin(lines, m_renderer->lineCount());
}

quint64 QHexView::firstVisibleLine() const
{
    return static_cast<quint64>(verticalScrollBar()->value()) * scrollFactor();
}

quint64 QHexView::lastVisibleLine() const
{
    return firstVisibleLine() + visibleLines() - 1;
}

bool QHexView::isLineVisible(quint64 line) const
{
    if (m_document == nullptr)
        return false;
    return firstVisibleLine() <= line && line <= lastVisibleLine();
}

void QHexView::updateLine(quint64 line)
{
    if (isLineVisible(line))
        viewport()->update();
}

QPoint QHexView::absolutePosition(const QPoint& p) const
{
    return QPoint(p.x() + horizontalScrollBar()->value(), p.y());
}

void QHexView::adjustScrollBars()
{
    if (m_renderer == nullptr)
        return;

    QScrollBar* vbar = verticalScrollBar();
    const quint64 factor = scrollFactor();
    const quint64 lines = m_renderer->lineCount();
    const quint64 visible = visibleLines();
    vbar->setSingleStep(clampToInt(factor));
    if (lines > visible) {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        vbar->setMaximum(clampToInt((lines - visible) / factor + 1));
    } else {
        // Nothing to scroll: a range would let the wheel push the lines out
        // of sight with no bar to bring them back.
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        vbar->setRange(0, 0);
    }

    QScrollBar* hbar = horizontalScrollBar();
    const int contentWidth = m_renderer->endColumnX();
    const int viewportWidth = viewport()->width();
    if (contentWidth > viewportWidth) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        hbar->setMaximum(contentWidth - viewportWidth + 2);
    } else {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        hbar->setRange(0, 0);
    }
}

void QHexView::keyPressEvent(QKeyEvent* e)
{
    if (m_renderer == nullptr || m_document == nullptr) {
        QAbstractScrollArea::keyPressEvent(e);
        return;
    }

    // The cursor stays solid while keys come in.
    m_blinktimer->stop();
    m_renderer->setCursorVisible(true);

    QHexCursor* cursor = m_document->cursor();
    bool handled = handleNavigationKey(cursor, e);
    // A caret moved by hand ends a typing step.
    if (handled)
        m_document->endTyping();
    if (!handled && !m_readonly)
        handled = handleCommandKey(cursor, e);
    if (!handled)
        handled = handleTextKey(cursor, e);
    if (!handled)
        QAbstractScrollArea::keyPressEvent(e);

    m_blinktimer->start();
}

bool QHexView::handleNavigationKey(QHexCursor* cursor, QKeyEvent* e)
{
    if (m_renderer == nullptr || m_document == nullptr)
        return false;
    for (const NavigationKey& key : kNavigationKeys) {
        const bool select = e->matches(key.select);
        if (!select && !e->matches(key.move))
            continue;
        const HexLayout layout = layoutOf(*m_renderer, *m_document, visibleLines());
        goTo(cursor, hexMoveTarget(key.target, layout, caretOf(*cursor)), select);
        return true;
    }
    return false;
}

bool QHexView::handleCommandKey(QHexCursor* cursor, QKeyEvent* e)
{
    if (m_renderer == nullptr || m_document == nullptr)
        return false;
    const bool hex = m_renderer->selectedArea() == QHexRenderer::HexArea;

    if (e->modifiers() == Qt::NoModifier) {
        switch (e->key()) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            if (cursor->hasSelection()) {
                const QHexPosition start = cursor->selectionStart();
                m_document->removeSelection();
                cursor->moveTo(start.line, start.column, 1);
            } else if (e->key() == Qt::Key_Delete) {
                m_document->remove(cursor->position().offset(), 1);
            } else if (const qint64 offset = cursor->position().offset(); offset > 0) {
                // The byte under the cursor moves one place left; the cursor
                // follows it, digit for digit.
                m_document->remove(offset - 1, 1);
                stepBackward(false);
                if (hex)
                    stepBackward(false);
            }
            return true;
        case Qt::Key_Insert:
            m_document->endTyping();
            cursor->switchInsertionMode();
            return true;
        default:
            return false;
        }
    }

    if (e->matches(QKeySequence::SelectAll)) {
        cursor->moveTo(0, 0, 1);
        const qint64 length = m_document->length();
        if (length > 0) { // an empty document has no byte to select
            const qint64 last = length - 1;
            const int bpl = qMax(1, int(m_document->bytesPerLine()));
            // The second digit of a lone byte, so that position and anchor
            // differ and the byte counts as selected.
            cursor->select(static_cast<quint64>(last / bpl), static_cast<int>(last % bpl),
                           length == 1 ? 0 : 1);
        }
    } else if (e->matches(QKeySequence::Undo)) {
        m_document->undo();
    } else if (e->matches(QKeySequence::Redo)) {
        m_document->redo();
    } else if (e->matches(QKeySequence::Cut)) {
        m_document->cut(hex);
    } else if (e->matches(QKeySequence::Copy)) {
        m_document->copy(hex);
    } else if (e->matches(QKeySequence::Paste)) {
        pasteOverSelection(*m_document, hex);
    } else {
        return false;
    }
    return true;
}

bool QHexView::handleTextKey(QHexCursor* cursor, QKeyEvent* e)
{
    if (m_readonly || m_renderer == nullptr || m_document == nullptr
        || e->modifiers().testFlag(Qt::ControlModifier))
        return false;

    const QString text = e->text();
    const ushort code = text.isEmpty() ? 0 : text.at(0).unicode();
    const uchar key = code > 0xFF ? 0 : static_cast<uchar>(code);

    if (m_renderer->selectedArea() == QHexRenderer::HexArea) {
        const std::optional<int> value = hexDigitValue(key);
        if (!value)
            return false;
        const bool replacesSelection = makeRoomForTyping(*m_document);
        const qint64 offset = cursor->position().offset();
        const bool secondDigit = cursor->currentNibble() == 0;
        if (!replacesSelection && !m_document->atEnd()
            && (secondDigit || cursor->insertionMode() == OverwriteMode)) {
            const uchar byte = hexWithDigit(m_document->at(offset), *value, !secondDigit);
            m_document->typeByte(offset, byte, false);
        } else {
            // A new byte whose first digit is the one typed.
            m_document->typeByte(offset, static_cast<uchar>(*value << 4), true);
        }
        stepForward(false);
        return true;
    }

    if (key < 0x20 || key > 0x7E)
        return false;
    const bool replacesSelection = makeRoomForTyping(*m_document);
    const qint64 offset = cursor->position().offset();
    const bool overwrite = !replacesSelection && !m_document->atEnd()
            && cursor->insertionMode() == OverwriteMode;
    m_document->typeByte(offset, key, !overwrite);
    // One byte on, as the key Right would: the typing goes on from there.
    stepForward(false);
    return true;
}

void QHexView::stepForward(bool select)
{
    if (m_renderer == nullptr || m_document == nullptr)
        return;
    QHexCursor* cursor = m_document->cursor();
    const HexLayout layout = layoutOf(*m_renderer, *m_document, visibleLines());
    goTo(cursor, hexMoveTarget(HexMove::NextChar, layout, caretOf(*cursor)), select);
}

void QHexView::stepBackward(bool select)
{
    if (m_renderer == nullptr || m_document == nullptr)
        return;
    QHexCursor* cursor = m_document->cursor();
    const HexLayout layout = layoutOf(*m_renderer, *m_document, visibleLines());
    goTo(cursor, hexMoveTarget(HexMove::PreviousChar, layout, caretOf(*cursor)), select);
}

bool QHexView::event(QEvent* e)
{
    if (m_renderer != nullptr && e->type() == QEvent::FontChange) {
        // New metrics change every column and the row height, so the ranges
        // and the picture follow at once.
        m_renderer->setFontMetrics(QFontMetricsF(font()));
        adjustScrollBars();
        viewport()->update();
        return true;
    }
    if (m_renderer != nullptr && m_document != nullptr && e->type() == QEvent::ToolTip) {
        // A tooltip event comes up from the viewport in the view's own
        // coordinates; the renderer counts from the viewport's corner.
        const auto* help = static_cast<QHelpEvent*>(e);
        const QPoint point = absolutePosition(viewport()->mapFrom(this, help->pos()));
        QHexPosition position {};
        if (m_renderer->positionAt(point, firstVisibleLine(), &position)) {
            const QString comments
                    = m_document->metadata()->comments(position.line, position.column);
            if (!comments.isEmpty())
                QToolTip::showText(help->globalPos(), comments, this);
        }
        return true;
    }
    return QAbstractScrollArea::event(e);
}

void QHexView::mousePressEvent(QMouseEvent* e)
{
    QAbstractScrollArea::mousePressEvent(e);
    if (m_renderer == nullptr || m_document == nullptr || e->buttons() != Qt::LeftButton)
        return;

    const QPoint point = absolutePosition(e->pos());
    QHexPosition position {};
    if (!m_renderer->positionAt(point, firstVisibleLine(), &position))
        return; // the header, the address column or a gap
    m_renderer->selectAreaAt(point);
    m_document->endTyping();
    if (m_renderer->isEditableArea(m_renderer->selectedArea()))
        m_document->cursor()->moveTo(position);
    e->accept();
}

void QHexView::mouseReleaseEvent(QMouseEvent* e)
{
    QAbstractScrollArea::mouseReleaseEvent(e);
    if (e->button() != Qt::LeftButton)
        return;
    if (!m_blinktimer->isActive())
        m_blinktimer->start();
    e->accept();
}

void QHexView::mouseMoveEvent(QMouseEvent* e)
{
    QAbstractScrollArea::mouseMoveEvent(e);
    if (m_renderer == nullptr || m_document == nullptr)
        return;
    const QPoint point = absolutePosition(e->pos());

    if (e->buttons() == Qt::LeftButton) {
        // The cursor stays hidden while the selection is dragged.
        if (m_blinktimer->isActive()) {
            m_blinktimer->stop();
            m_renderer->setCursorVisible(false);
        }
        QHexPosition position {};
        if (!m_renderer->positionAt(point, firstVisibleLine(), &position))
            return;
        // The second digit, so that the byte under the mouse is selected.
        m_document->cursor()->select(position.line, position.column,
                                     dragNibble(*m_renderer, position));
        e->accept();
        return;
    }

    if (e->buttons() == Qt::NoButton) {
        setCursor(m_renderer->isEditableArea(m_renderer->areaAt(point)) ? Qt::IBeamCursor
                                                                        : Qt::ArrowCursor);
    }
}

void QHexView::wheelEvent(QWheelEvent* e)
{
    if (e->angleDelta().y() != 0) {
        QAbstractScrollArea::wheelEvent(e);
        return;
    }
    // A sideways wheel scrolls the lines: left-tilt down, right-tilt up.
    QScrollBar* vbar = verticalScrollBar();
    const int x = e->angleDelta().x();
    if (x < 0)
        vbar->setValue(vbar->value() + kSidewaysWheelSteps);
    else if (x > 0)
        vbar->setValue(vbar->value() - kSidewaysWheelSteps);
}

void QHexView::focusInEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusInEvent(e);
    if (m_renderer == nullptr)
        return;
    m_renderer->setCursorVisible(true);
    m_blinktimer->start();
}

void QHexView::focusOutEvent(QFocusEvent* e)
{
    QAbstractScrollArea::focusOutEvent(e);
    if (m_renderer == nullptr)
        return;
    m_blinktimer->stop();
    m_renderer->setCursorVisible(false);
}

void QHexView::paintEvent(QPaintEvent* e)
{
    if (m_document == nullptr || m_renderer == nullptr)
        return;

    QPainter painter(viewport());
    painter.setFont(font());

    // Only the rows inside the exposed rectangle are painted.
    const quint64 first = firstVisibleLine();
    const int lh = qMax(1, m_renderer->lineHeight());
    const int header = m_renderer->headerLineCount();
    const int begin = qMax(0, e->rect().top() / lh - header);
    const int end = qMax(0, e->rect().bottom() / lh + 1 - header);

    painter.save();
    painter.translate(-horizontalScrollBar()->value(), 0);
    m_renderer->paint(&painter, first + static_cast<quint64>(begin),
                      first + static_cast<quint64>(end), first);
    m_renderer->paintSeparators(&painter);
    painter.restore();
}

void QHexView::resizeEvent(QResizeEvent* e)
{
    QAbstractScrollArea::resizeEvent(e);
    adjustScrollBars();
}

void QHexView::renderCurrentLine()
{
    if (m_document != nullptr)
        updateLine(m_document->cursor()->currentLine());
}

void QHexView::moveToSelection()
{
    if (m_document == nullptr)
        return;
    const quint64 line = m_document->cursor()->currentLine();
    if (isLineVisible(line)) {
        viewport()->update();
        return;
    }
    // The cursor line comes to the middle; near the top that is value 0.
    const quint64 half = visibleLines() / 2;
    const quint64 top = line > half ? line - half : 0;
    verticalScrollBar()->setValue(clampToInt(top / scrollFactor()));
}

void QHexView::blinkCursor()
{
    if (m_renderer == nullptr)
        return;
    m_renderer->toggleCursorVisible();
    renderCurrentLine();
}
