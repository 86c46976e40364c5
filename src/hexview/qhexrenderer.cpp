// SPDX-License-Identifier: GPL-2.0-or-later

#include "qhexrenderer.h"

#include <QAbstractTextDocumentLayout>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPoint>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"

namespace {

constexpr int kDefaultBytesPerLine = 16;
constexpr int kDefaultSpacing = 1;
constexpr int kHexCharsPerByte = 3;

int bytesPerLineOf(const QHexDocument* document)
{
    return document != nullptr ? qMax(1, int(document->bytesPerLine())) : kDefaultBytesPerLine;
}

int spacingOf(const QHexDocument* document)
{
    return document != nullptr ? document->areaSpacing() : kDefaultSpacing;
}

qint64 lengthOf(const QHexDocument* document)
{
    return document != nullptr ? qMax<qint64>(0, document->length()) : 0;
}

QString hexTextOf(const QByteArray& bytes)
{
    // Every byte owns three characters, the space after it included.
    return QString::fromLatin1(bytes.toHex(' ').toUpper()) + QLatin1Char(' ');
}

QString asciiTextOf(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<uchar>(c);
        text.append(byte >= 0x20 && byte <= 0x7E ? QLatin1Char(c) : QLatin1Char('.'));
    }
    return text;
}

// The colour of the bytes 0x00 and 0xFF, a shade off the text colour.
QColor dimmedColor(const QPalette& palette)
{
    const QColor text = palette.color(QPalette::WindowText);
    QColor dimmed;
    if (text.lightness() < 50)
        dimmed = text == QColor(Qt::black) ? QColor(Qt::gray) : text.darker(200);
    else
        dimmed = text.lighter(150);
    // Dimming brings the text towards the background. Where the shade above
    // moves it away instead (near-black text made darker, light text on a
    // dark theme made lighter), take the colour halfway to the background.
    const QColor base = palette.color(QPalette::Base);
    if (qAbs(dimmed.lightness() - base.lightness()) >= qAbs(text.lightness() - base.lightness()))
        dimmed = QColor((text.red() + base.red()) / 2, (text.green() + base.green()) / 2,
                        (text.blue() + base.blue()) / 2);
    return dimmed;
}

// The cursor block of the column that does not take typing. lighter() leaves
// black as it is, so on black text a grey block keeps the two columns apart.
QColor paleBlockColor(const QPalette& palette)
{
    const QColor text = palette.color(QPalette::WindowText);
    const QColor pale = text.lighter(250);
    return pale == text ? QColor(Qt::gray) : pale;
}

// The colours of the widget painted on, which the application's style sheet
// recolours (a dark theme gives dark rows and light text); the application
// palette when painting elsewhere, into an image say.
QPalette paletteFor(const QPainter& painter, const QObject* owner)
{
    const QPaintDevice* device = painter.device();
    if (device != nullptr && device->devType() == QInternal::Widget)
        return static_cast<const QWidget*>(device)->palette();
    if (const auto* widget = qobject_cast<const QWidget*>(owner))
        return widget->palette();
    return QGuiApplication::palette();
}

// Odd lines: the window colour, or where a theme gives it the base colour
// too, a shade of the base that still tells the rows apart.
QBrush oddLineBrush(const QPalette& palette)
{
    const QColor base = palette.color(QPalette::Base);
    if (palette.color(QPalette::Window) != base)
        return palette.brush(QPalette::Window);
    return base.lightness() < 128 ? base.lighter(125) : base.darker(106);
}

// What every line of one paint shares.
struct PaintState
{
    QPalette palette;
    QHexCursor* cursor;
    QHexMetadata* metadata;
    quint64 lastLine;
    int selectedArea;
    bool cursorVisible;
};

// Gives the characters [start, start + count) of the text the format,
// replacing whatever format they had; the part outside the text is dropped.
// With giveBackLast the range ends one character earlier.
void formatRange(QTextCursor& cursor, int textLength, int start, int count,
                 const QTextCharFormat& format, bool giveBackLast = false)
{
    if (start < 0 || start >= textLength || count <= 0)
        return;
    int end = qMin(start + count, textLength);
    if (giveBackLast)
        --end;
    if (end <= start)
        return;
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    cursor.setCharFormat(format);
}

// One column of one line: the hex column has three characters per byte, the
// text column one. The passes run from least to most important, a later one
// replacing an earlier one's format where they overlap: dimmed bytes,
// annotations, selection, cursor.
void paintColumn(QPainter* painter, const PaintState& state, quint64 line, const QByteArray& bytes,
                 bool hexColumn, const QPoint& origin)
{
    const int f = hexColumn ? kHexCharsPerByte : 1;
    const int ownArea = hexColumn ? QHexRenderer::HexArea : QHexRenderer::AsciiArea;

    QString text = hexColumn ? hexTextOf(bytes) : asciiTextOf(bytes);
    if (line == state.lastLine)
        text += QLatin1Char(' '); // the append cell
    const int length = text.length();

    QTextDocument document;
    document.setDocumentMargin(0);
    document.setUndoRedoEnabled(false);
    document.setDefaultFont(painter->font());
    QTextCursor cursor(&document);
    cursor.insertText(text);

    QTextCharFormat dimmed;
    dimmed.setForeground(dimmedColor(state.palette));
    for (int i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<uchar>(bytes.at(i));
        if (byte == 0x00 || byte == 0xFF)
            formatRange(cursor, length, i * f, f, dimmed);
    }

    if (state.metadata->hasMetadata(line)) {
        for (const QHexMetadataItem& item : state.metadata->lineItems(line)) {
            QTextCharFormat format;
            if (item.background.isValid())
                format.setBackground(item.background);
            if (item.foreground.isValid())
                format.setForeground(item.foreground);
            if (!item.comment.isEmpty())
                format.setUnderlineStyle(QTextCharFormat::SingleUnderline);
            // In the hex column the space after the item's last byte stays
            // plain, unless the item goes on past the end of the line.
            const int count = item.length * f - (hexColumn ? 1 : 0);
            formatRange(cursor, length, item.start * f, count, format);
        }
    }

    if (state.cursor->isLineSelected(line)) {
        const QHexPosition& s = state.cursor->selectionStart();
        const QHexPosition& e = state.cursor->selectionEnd();
        int start = 0;
        int count = length;
        if (s.line == line && e.line == line) {
            start = s.column * f;
            count = (e.column - s.column + 1) * f;
        } else if (s.line == line) {
            start = s.column * f;
            count = length - start;
        } else if (e.line == line) {
            count = (e.column + 1) * f;
        }
        QTextCharFormat format;
        format.setBackground(state.palette.color(QPalette::Highlight));
        format.setForeground(state.palette.color(QPalette::HighlightedText));
        formatRange(cursor, length, start, count, format, hexColumn);
    }

    if (state.cursorVisible && state.cursor->currentLine() == line) {
        cursor.clearSelection();
        int start = state.cursor->currentColumn() * f;
        int count = 1;
        if (hexColumn) {
            if (state.selectedArea == QHexRenderer::HexArea && state.cursor->currentNibble() == 0)
                ++start;
            if (state.selectedArea == QHexRenderer::AsciiArea)
                count = 2;
        }
        QTextCharFormat format;
        if (state.cursor->insertionMode() == InsertMode && ownArea == state.selectedArea) {
            format.setUnderlineStyle(QTextCharFormat::SingleUnderline);
        } else {
            format.setForeground(state.palette.color(QPalette::Window));
            format.setBackground(ownArea == state.selectedArea
                                         ? state.palette.color(QPalette::WindowText)
                                         : paleBlockColor(state.palette));
        }
        formatRange(cursor, length, start, count, format);
    }

    painter->save();
    painter->translate(origin);
    // As drawContents does, with the palette of this paint for the text.
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = state.palette;
    document.documentLayout()->draw(painter, context);
    painter->restore();
}

} // namespace

QHexRenderer::QHexRenderer(QHexDocument* document, const QFontMetricsF& metrics, QObject* parent)
    : QObject(parent)
    , m_document(document)
    , m_fontmetrics(metrics)
{ }

quint64 QHexRenderer::lineCount() const
{
    // The ceiling of (length + 1) / bpl, in integers so that it stays exact
    // for any length.
    const auto bpl = static_cast<quint64>(bytesPerLineOf(m_document));
    return (static_cast<quint64>(lengthOf(m_document)) + bpl) / bpl;
}

quint64 QHexRenderer::lastLine() const
{
    return lineCount() - 1;
}

int QHexRenderer::lastColumn() const
{
    return static_cast<int>(lengthOf(m_document) % bytesPerLineOf(m_document));
}

int QHexRenderer::lineHeight() const
{
    return qRound(m_fontmetrics.height());
}

int QHexRenderer::headerLineCount() const
{
    return 1;
}

int QHexRenderer::addressDigits() const
{
    const quint64 base = m_document != nullptr ? m_document->baseAddress() : 0;
    const quint64 top = base + static_cast<quint64>(lengthOf(m_document)) + 1;
    if (top < (Q_UINT64_C(1) << 32))
        return top > 0xFFFF ? 8 : 4;
    int digits = 0;
    for (quint64 rest = top; rest != 0; rest >>= 4)
        ++digits;
    return digits;
}

qreal QHexRenderer::cellWidth() const
{
    return m_fontmetrics.horizontalAdvance(QLatin1Char(' '));
}

int QHexRenderer::cellsWidth(int n) const
{
    return qRound(n * cellWidth());
}

int QHexRenderer::spacingWidth() const
{
    return cellsWidth(spacingOf(m_document));
}

int QHexRenderer::hexColumnX() const
{
    return cellsWidth(addressDigits()) + 2 * spacingWidth();
}

int QHexRenderer::asciiColumnX() const
{
    return hexColumnX() + cellsWidth(kHexCharsPerByte * bytesPerLineOf(m_document))
            + 2 * spacingWidth();
}

int QHexRenderer::endColumnX() const
{
    return asciiColumnX() + cellsWidth(bytesPerLineOf(m_document)) + 2 * spacingWidth();
}

QRect QHexRenderer::lineRect(quint64 line, quint64 firstLine) const
{
    const int row = static_cast<int>(line - firstLine) + 1;
    return QRect(0, row * lineHeight(), endColumnX(), lineHeight());
}

int QHexRenderer::areaAt(const QPoint& p) const
{
    const int x = p.x();
    const int sw = spacingWidth();
    if (p.y() < lineHeight())
        return HeaderArea;
    if (x >= sw && x <= hexColumnX() - sw)
        return AddressArea;
    if (x > hexColumnX() + sw && x < asciiColumnX() - sw)
        return HexArea;
    if (x > asciiColumnX() + sw && x < endColumnX() - sw)
        return AsciiArea;
    return OtherArea;
}

bool QHexRenderer::positionAt(const QPoint& p, quint64 firstLine, QHexPosition* position) const
{
    const int area = areaAt(p);
    if (area != HexArea && area != AsciiArea)
        return false;
    const qreal cell = cellWidth();
    if (cell <= 0)
        return false;

    const int bpl = bytesPerLineOf(m_document);
    const quint64 last = lastLine();
    quint64 line = firstLine + static_cast<quint64>(p.y() / qMax(1, lineHeight())) - 1;
    if (line > last)
        line = last;

    int column = 0;
    int nibble = 1;
    if (area == HexArea) {
        const int c = static_cast<int>((p.x() - hexColumnX() - spacingWidth()) / cell);
        column = c / kHexCharsPerByte;
        nibble = c % kHexCharsPerByte == 0 ? 1 : 0;
    } else {
        column = static_cast<int>((p.x() - asciiColumnX() - spacingWidth()) / cell);
    }

    if (line != last) {
        column = qMin(column, bpl - 1);
    } else if (column >= lastColumn()) {
        // The append cell has a first digit only.
        column = lastColumn();
        nibble = 1;
    }

    position->line = line;
    position->column = column;
    position->lineWidth = static_cast<quint8>(bpl);
    position->nibbleIndex = nibble;
    return true;
}

void QHexRenderer::selectAreaAt(const QPoint& p)
{
    const int area = areaAt(p);
    if (isEditableArea(area))
        m_selectedarea = area;
}

bool QHexRenderer::isEditableArea(int area) const
{
    return area == HexArea || area == AsciiArea;
}

QByteArray QHexRenderer::lineBytes(quint64 line) const
{
    if (m_document == nullptr)
        return {};
    const int bpl = bytesPerLineOf(m_document);
    return m_document->read(static_cast<qint64>(line * static_cast<quint64>(bpl)), bpl);
}

QString QHexRenderer::hexText(quint64 line, QByteArray* raw) const
{
    const QByteArray bytes = lineBytes(line);
    if (raw != nullptr)
        *raw = bytes;
    return hexTextOf(bytes);
}

QString QHexRenderer::asciiText(quint64 line, QByteArray* raw) const
{
    const QByteArray bytes = lineBytes(line);
    if (raw != nullptr)
        *raw = bytes;
    return asciiTextOf(bytes);
}

void QHexRenderer::paint(QPainter* painter, quint64 begin, quint64 end, quint64 firstLine)
{
    const QPalette palette = paletteFor(*painter, parent());
    const int lh = lineHeight();
    const int bpl = bytesPerLineOf(m_document);
    const int hexX = hexColumnX();
    const int asciiX = asciiColumnX();
    const int endX = endColumnX();
    const int sw = spacingWidth();

    painter->save();
    painter->setPen(palette.color(QPalette::Highlight));
    // The headings follow the language. A CJK character takes about two
    // cells, so both languages fit the narrowest columns: four address
    // digits, eight bytes per line.
    painter->drawText(QRect(0, 0, hexX, lh), Qt::AlignHCenter | Qt::AlignVCenter, tr("偏移"));
    QString columns;
    for (int i = 0; i < bpl; ++i)
        columns += QStringLiteral("%1 ").arg(i, 2, 16, QLatin1Char('0')).toUpper();
    painter->drawText(QRect(hexX + sw, 0, cellsWidth(kHexCharsPerByte * bpl), lh),
                      Qt::AlignLeft | Qt::AlignVCenter, columns);
    painter->drawText(QRect(asciiX, 0, endX - asciiX, lh), Qt::AlignCenter, tr("文本"));
    painter->restore();

    if (m_document == nullptr)
        return;

    // Asked once per paint: a file-backed document answers its length
    // through the file system.
    const quint64 count = lineCount();
    PaintState state {};
    state.palette = palette;
    state.cursor = m_document->cursor();
    state.metadata = m_document->metadata();
    state.lastLine = count - 1;
    state.selectedArea = m_selectedarea;
    state.cursorVisible = m_cursorenabled;
    const int digits = addressDigits();
    const quint64 base = m_document->baseAddress();
    end = qMin(end, count);

    for (quint64 line = begin; line < end; ++line) {
        const int row = static_cast<int>(line - firstLine) + 1;
        const QRect rect(0, row * lh, endX, lh);
        painter->fillRect(rect,
                          line % 2 == 0 ? palette.brush(QPalette::Base) : oddLineBrush(palette));

        const quint64 address = base + line * static_cast<quint64>(bpl);
        painter->save();
        painter->setPen(palette.color(QPalette::Highlight));
        painter->drawText(
                QRect(rect.x(), rect.y(), hexX, lh), Qt::AlignCenter,
                QString::number(address, 16).rightJustified(digits, QLatin1Char('0')).toUpper());
        painter->restore();

        const QByteArray bytes = lineBytes(line);
        paintColumn(painter, state, line, bytes, true, QPoint(hexX + sw, rect.y()));
        paintColumn(painter, state, line, bytes, false, QPoint(asciiX + sw, rect.y()));
    }
}

void QHexRenderer::paintSeparators(QPainter* painter)
{
    const int y = lineHeight() - 1;
    const QRect window = painter->window();
    painter->drawLine(0, y, endColumnX(), y);
    for (const int x : { hexColumnX(), asciiColumnX(), endColumnX() })
        painter->drawLine(x, window.top(), x, window.bottom());
}

void QHexRenderer::setCursorVisible(bool visible)
{
    m_cursorenabled = visible;
}

void QHexRenderer::toggleCursorVisible()
{
    m_cursorenabled = !m_cursorenabled;
}

void QHexRenderer::setFontMetrics(const QFontMetricsF& metrics)
{
    m_fontmetrics = metrics;
}
