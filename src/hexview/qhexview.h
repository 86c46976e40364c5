// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QAbstractScrollArea>
#include <QPoint>

class QHexCursor;
class QHexDocument;
class QHexRenderer;
class QTimer;

// The scrollable hex viewer and editor: shows one document through a
// renderer, with the header row fixed at the top, a blinking cursor, mouse
// selection, comment tooltips and keyboard editing.
//
// The vertical scroll bar counts steps of scrollFactor() lines, so documents
// of any number of lines fit its int range; its value times scrollFactor() is
// the first line shown under the header.
class QHexView : public QAbstractScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY(QHexView)

public:
    // Shows an empty, editable document of its own until given another.
    explicit QHexView(QWidget* parent = nullptr);

    // The previous document and renderer are deleted later; the new document
    // is not reparented, and is deleted in turn when another replaces it.
    // Setting the document already shown changes nothing.
    void setDocument(QHexDocument* document);
    QHexDocument* document() const { return m_document; }
    // Either way the cursor goes back to overwrite mode. Read-only leaves the
    // navigation keys only.
    void setReadOnly(bool readOnly);

    quint64 scrollFactor() const;
    // Rows under the header that the widget's height holds, at most the
    // document's lines.
    quint64 visibleLines() const;
    quint64 firstVisibleLine() const;
    quint64 lastVisibleLine() const;
    bool isLineVisible(quint64 line) const;
    // Repaints the viewport when the line is visible.
    void updateLine(quint64 line);
    // Viewport coordinates to the renderer's unscrolled content coordinates.
    QPoint absolutePosition(const QPoint& p) const;
    // Scroll bar ranges and visibility for the document's size and the
    // viewport's; run on resize and on every document change.
    void adjustScrollBars();

    // Keys: navigation first (also when read-only), then editing commands,
    // then typing; what none of them takes goes to the scroll area.
    void keyPressEvent(QKeyEvent* e) override;
    bool handleNavigationKey(QHexCursor* cursor, QKeyEvent* e);
    bool handleCommandKey(QHexCursor* cursor, QKeyEvent* e);
    bool handleTextKey(QHexCursor* cursor, QKeyEvent* e);
    // One digit (hex column) or one byte (text column) right or left; with
    // select the selection is extended instead of the cursor moved.
    void stepForward(bool select);
    void stepBackward(bool select);

protected:
    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private slots:
    void renderCurrentLine();
    void moveToSelection();
    void blinkCursor();

private:
    QHexDocument* m_document = nullptr;
    QHexRenderer* m_renderer = nullptr;
    QTimer* m_blinktimer = nullptr;
    bool m_readonly = false;
};
