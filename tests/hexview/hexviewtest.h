// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QApplication>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QStyle>
#include <QTest>

#include "qhexbuffer.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexrenderer.h"
#include "qhexview.h"
#include "qmemorybuffer.h"

namespace hexviewtest {

// A read-only store of any length whose bytes are all 0x5A: a document far
// beyond memory and beyond 2^31 lines.
class SyntheticBuffer : public QHexBuffer
{
public:
    explicit SyntheticBuffer(qint64 length)
        : m_length(length)
    { }
    qint64 length() const override { return m_length; }
    void insert(qint64, const QByteArray&) override { }
    void remove(qint64, int) override { }
    QByteArray read(qint64 offset, int length) override
    {
        if (offset < 0 || offset >= m_length || length <= 0)
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

inline QHexDocument* makeDocument(const QByteArray& bytes, QObject* parent)
{
    auto* buffer = new QMemoryBuffer(); // the document takes it over
    buffer->load(bytes);
    return new QHexDocument(buffer, parent);
}

inline QHexDocument* makeSyntheticDocument(qint64 length, QObject* parent)
{
    return new QHexDocument(new SyntheticBuffer(length), parent);
}

// The view's fixed-pitch font drawn without antialiasing, so that every
// pixel of a glyph has exactly the colour it was drawn in. Sized in pixels:
// an image and the screen may differ in resolution, the metrics must not.
inline QFont crispFont()
{
    QFont font = QHexView().font();
    font.setStyleStrategy(QFont::NoAntialias);
    font.setPixelSize(16);
    return font;
}

// A size for the view, from the geometry of the font it draws with, so that
// a test holds whatever monospace font and resolution the machine has:
// `rows` rows high (the header row included) and, with allColumns, wide
// enough for every column beside a vertical scroll bar; without, half as
// wide as the columns. Room for a horizontal scroll bar is added below.
inline QSize viewSize(const QHexView& view, int rows, bool allColumns = true)
{
    const QHexRenderer geometry(view.document(), QFontMetricsF(QFontMetrics(view.font())));
    const int frame = 2 * view.frameWidth();
    const int bar = view.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &view);
    const int width = allColumns ? geometry.endColumnX() + frame + bar + geometry.cellsWidth(2)
                                 : geometry.endColumnX() / 2;
    return QSize(width, rows * geometry.lineHeight() + frame + bar);
}

// An application palette with one distinct colour per role that the hex view
// uses; the previous palette comes back when the scope ends.
struct PaletteScope
{
    QPalette saved = QApplication::palette();

    PaletteScope()
    {
        QPalette palette;
        palette.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xFF));
        palette.setColor(QPalette::Window, QColor(0xE0, 0xE0, 0xE0));
        palette.setColor(QPalette::Text, QColor(0x00, 0x00, 0xA0));
        palette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x00));
        palette.setColor(QPalette::Highlight, QColor(0x20, 0x60, 0x20));
        palette.setColor(QPalette::HighlightedText, QColor(0xFF, 0xFF, 0x00));
        QApplication::setPalette(palette);
    }
    ~PaletteScope() { QApplication::setPalette(saved); }
    Q_DISABLE_COPY(PaletteScope)

    static QColor color(QPalette::ColorRole role) { return QApplication::palette().color(role); }
};

// The pixels of characters [first, first + count) of a line's hex or text
// column, drawn with firstLine in the top row and scrolled left by xShift;
// trimmed on every side so that no neighbouring cell bleeds in.
inline QRect cellRect(const QHexRenderer& renderer, bool hexColumn, quint64 line, int first,
                      int count, quint64 firstLine = 0, int xShift = 0)
{
    const int x0 = (hexColumn ? renderer.hexColumnX() : renderer.asciiColumnX())
            + renderer.spacingWidth() - xShift;
    const int left = x0 + qRound(first * renderer.cellWidth());
    const int right = x0 + qRound((first + count) * renderer.cellWidth());
    const int top = static_cast<int>(line - firstLine + 1) * renderer.lineHeight();
    return QRect(QPoint(left + 1, top + 2), QPoint(right - 2, top + renderer.lineHeight() - 3));
}

// The centre of character `index` of a line's hex or text column.
inline QPoint cellCentre(const QHexRenderer& renderer, bool hexColumn, quint64 row, int index)
{
    return cellRect(renderer, hexColumn, row, index, 1).center();
}

// The colour of most pixels in the rectangle: a cell's background, since
// glyph strokes cover far less of it.
inline QColor dominantColor(const QImage& image, const QRect& rect)
{
    QHash<QRgb, int> counts;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            best = it.key();
            most = it.value();
        }
    }
    return QColor(best);
}

// The pixels in the rectangle that have the colour.
inline int countPixels(const QImage& image, const QRect& rect, const QColor& color)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            count += image.pixel(x, y) == color.rgb() ? 1 : 0;
    return count;
}

// The caret as "line:column:nibble": readable in a failure and in a data row.
inline QString caret(const QHexPosition& position)
{
    return QStringLiteral("%1:%2:%3")
            .arg(position.line)
            .arg(position.column)
            .arg(position.nibbleIndex);
}

inline QString anchorOf(const QHexCursor& cursor)
{
    return QStringLiteral("%1:%2:%3")
            .arg(cursor.anchorLine())
            .arg(cursor.anchorColumn())
            .arg(cursor.anchorNibble());
}

// Places the cursor from "line:column:nibble" texts; with an anchor the
// selection runs from there to the position.
inline void place(QHexCursor* cursor, const QString& anchor, const QString& position)
{
    const auto parts = [](const QString& text) { return text.split(QLatin1Char(':')); };
    const QStringList p = parts(position);
    if (!anchor.isEmpty()) {
        const QStringList a = parts(anchor);
        cursor->moveTo(a[0].toULongLong(), a[1].toInt(), a[2].toInt());
        cursor->select(p[0].toULongLong(), p[1].toInt(), p[2].toInt());
    } else {
        cursor->moveTo(p[0].toULongLong(), p[1].toInt(), p[2].toInt());
    }
}

// A left click on character `cell` of a line's hex or text column, the view
// scrolled to its top and left edge.
inline void clickCell(QHexView& view, bool hexColumn, quint64 line, int cell)
{
    const QHexRenderer geometry(view.document(), QFontMetricsF(QFontMetrics(view.font())));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier,
                      cellCentre(geometry, hexColumn, line, cell));
}

} // namespace hexviewtest
