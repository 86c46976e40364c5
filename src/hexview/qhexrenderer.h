// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QByteArray>
#include <QFontMetricsF>
#include <QObject>
#include <QRect>
#include <QString>

class QHexDocument;
class QPainter;
class QPoint;
struct QHexPosition;

// The picture of a hex document: geometry of the header row and of the
// address, hex and text columns, the map from a point to an area and a caret
// position, and the painting of document lines. Holds no bytes and caches
// nothing: every paint reads the lines it draws from the document again.
//
// Pixel values are int, x in unscrolled content coordinates; row 0 is the
// header, document lines start in row 1. Without a document the geometry
// uses 16 bytes per line, an area spacing of 1 and a length of 0.
class QHexRenderer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QHexRenderer)

public:
    // Area values.
    enum { HeaderArea = 0, AddressArea = 1, HexArea = 2, AsciiArea = 3, OtherArea = 4 };

    // The document is not owned and may be null.
    QHexRenderer(QHexDocument* document, const QFontMetricsF& metrics, QObject* parent = nullptr);

    // Lines of the document, the append cell (offset = length) included: a
    // document whose length is a multiple of the line width, an empty one
    // too, ends with a line that holds no byte. Always >= 1.
    quint64 lineCount() const;
    quint64 lastLine() const;
    // Bytes on the last line: the column of the append cell.
    int lastColumn() const;
    int lineHeight() const;
    int headerLineCount() const;
    // 4 up to base + length + 1 = 0xFFFF, 8 below 2^32, else as many as the
    // hexadecimal digits of that sum.
    int addressDigits() const;
    qreal cellWidth() const;
    int cellsWidth(int n) const;
    int spacingWidth() const;
    // Where the rules before the hex column, before the text column and after
    // it stand; endColumnX() is also the width of the content.
    int hexColumnX() const;
    int asciiColumnX() const;
    int endColumnX() const;
    QRect lineRect(quint64 line, quint64 firstLine) const;

    // The spacing next to each rule belongs to OtherArea, as does everything
    // right of the text column.
    int areaAt(const QPoint& p) const;
    // The caret position under p when it lies in the hex or text column; a
    // point below the last line maps to the last line, one right of the last
    // byte of a line to that byte (on the last line: to the append cell, on
    // its first digit). False, leaving position untouched, elsewhere.
    bool positionAt(const QPoint& p, quint64 firstLine, QHexPosition* position) const;
    // Makes the area under p the one that takes typing, when it is the hex or
    // the text column; otherwise nothing changes.
    void selectAreaAt(const QPoint& p);
    int selectedArea() const { return m_selectedarea; }
    bool isEditableArea(int area) const;

    // The bytes of the line; shorter or empty on the last line.
    QByteArray lineBytes(quint64 line) const;
    // Two upper-case digits and a space per byte ("41 0A "); a single space
    // for a line without bytes.
    QString hexText(quint64 line, QByteArray* raw = nullptr) const;
    // One character per byte: printable ASCII as itself, anything else ".".
    QString asciiText(quint64 line, QByteArray* raw = nullptr) const;

    // Paints the header row and the lines [begin, end), never past
    // lineCount(); firstLine is the line shown in row 1.
    void paint(QPainter* painter, quint64 begin, quint64 end, quint64 firstLine);
    // The rule under the header and the three column rules, with the
    // painter's current pen, down to the bottom of its window.
    void paintSeparators(QPainter* painter);

    // None of these repaints; the view does.
    void setCursorVisible(bool visible);
    void toggleCursorVisible();
    void setFontMetrics(const QFontMetricsF& metrics);

private:
    QHexDocument* m_document;
    QFontMetricsF m_fontmetrics;
    int m_selectedarea = HexArea;
    bool m_cursorenabled = false;
};
