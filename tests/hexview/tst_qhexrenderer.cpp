// SPDX-License-Identifier: GPL-2.0-or-later

#include <QPaintEngine>
#include <QPainter>
#include <QTranslator>
#include <QtTest>

#include "hexviewtest.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qhexrenderer.h"

using namespace hexviewtest;

namespace {

constexpr qint64 kBeyond2To36 = (Q_INT64_C(1) << 36) + 5;

QHexDocument* documentOfLength(qint64 length, QObject* parent)
{
    if (length > (1 << 20))
        return makeSyntheticDocument(length, parent);
    return makeDocument(QByteArray(static_cast<int>(length), 'x'), parent);
}

// Paints lines [0, lines) as the view would, over a colour the renderer never
// uses, so that unpainted parts stay recognisable.
QImage paintLines(QHexRenderer& renderer, quint64 lines, quint64 firstLine = 0)
{
    QImage image(renderer.endColumnX() + 20, static_cast<int>(lines + 2) * renderer.lineHeight(),
                 QImage::Format_RGB32);
    image.fill(QColor(0xC0, 0x10, 0xC0));
    QPainter painter(&image);
    painter.setFont(crispFont());
    renderer.paint(&painter, firstLine, firstLine + lines, firstLine);
    return image;
}

// A device that records the texts painted on it, where they start and how
// wide they are, instead of drawing them.
class TextRecorder : public QPaintDevice
{
public:
    struct Text
    {
        QString text;
        qreal left;
        qreal right;
        qreal baseline;
    };

    QVector<Text> texts;

    QPaintEngine* paintEngine() const override { return &m_engine; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth:
        case PdmHeight:
            return 4000;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        default:
            return QPaintDevice::metric(metric);
        }
    }

private:
    class Engine : public QPaintEngine
    {
    public:
        explicit Engine(QVector<Text>* texts)
            : QPaintEngine(QPaintEngine::AllFeatures)
            , m_texts(texts)
        { }
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override { }
        void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override { }
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override { }
        void drawPolygon(const QPoint*, int, PolygonDrawMode) override { }
        void drawTextItem(const QPointF& p, const QTextItem& item) override
        {
            m_texts->append(Text { item.text(), p.x(), p.x() + item.width(), p.y() });
        }
        Type type() const override { return QPaintEngine::User; }

    private:
        QVector<Text>* m_texts;
    };

    mutable Engine m_engine { &texts };
};

// English for the two headings, as the catalogue has it.
class HeadingTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        if (qstrcmp(context, "QHexRenderer") != 0)
            return QString();
        if (qstrcmp(source, "偏移") == 0)
            return QStringLiteral("Offset");
        if (qstrcmp(source, "文本") == 0)
            return QStringLiteral("Ascii");
        return QString();
    }
    bool isEmpty() const override { return false; }
};

} // namespace

class TstQHexRenderer : public QObject
{
    Q_OBJECT

private slots:
    void lineGeometry_data();
    void lineGeometry();
    void addressDigits_data();
    void addressDigits();
    void areaAt_data();
    void areaAt();
    void positionAt_data();
    void positionAt();
    void lineTexts_data();
    void lineTexts();
    void paintsSelection();
    void paintsCursor_data();
    void paintsCursor();
    void paintsSpecialBytesAndMetadata();
    void paintsRowsAndHeader();
    void headingsFollowTheLanguage_data();
    void headingsFollowTheLanguage();

private:
    QFontMetricsF m_metrics { crispFont() };
};

void TstQHexRenderer::lineGeometry_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("bytesPerLine");
    QTest::addColumn<quint64>("lineCount");
    QTest::addColumn<int>("lastColumn");

    QTest::newRow("empty") << qint64(0) << 16 << quint64(1) << 0;
    QTest::newRow("one-byte") << qint64(1) << 16 << quint64(1) << 1;
    QTest::newRow("one-short-of-a-line") << qint64(15) << 16 << quint64(1) << 15;
    QTest::newRow("exactly-one-line") << qint64(16) << 16 << quint64(2) << 0;
    QTest::newRow("line-and-a-byte") << qint64(17) << 16 << quint64(2) << 1;
    QTest::newRow("two-lines") << qint64(32) << 16 << quint64(3) << 0;
    QTest::newRow("width-8") << qint64(13) << 8 << quint64(2) << 5;
    QTest::newRow("width-1") << qint64(3) << 1 << quint64(4) << 0;
    QTest::newRow("beyond-2^36") << kBeyond2To36 << 16 << (Q_UINT64_C(1) << 32) + 1 << 5;
}

void TstQHexRenderer::lineGeometry()
{
    QFETCH(qint64, length);
    QFETCH(int, bytesPerLine);
    QFETCH(quint64, lineCount);
    QFETCH(int, lastColumn);

    QObject owner;
    QHexDocument* document = documentOfLength(length, &owner);
    document->setBytesPerLine(static_cast<quint8>(bytesPerLine));
    const QHexRenderer renderer(document, m_metrics);

    QCOMPARE(renderer.lineCount(), lineCount);
    QCOMPARE(renderer.lastLine(), lineCount - 1);
    QCOMPARE(renderer.lastColumn(), lastColumn);
    // The last line holds exactly the bytes before the append cell.
    QCOMPARE(renderer.lineBytes(renderer.lastLine()).size(), lastColumn);
    if (lineCount > 1)
        QCOMPARE(renderer.lineBytes(renderer.lastLine() - 1).size(), bytesPerLine);
}

void TstQHexRenderer::addressDigits_data()
{
    QTest::addColumn<quint64>("base");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("digits");

    QTest::newRow("empty") << quint64(0) << qint64(0) << 4;
    QTest::newRow("top-ffff") << quint64(0) << qint64(0xFFFE) << 4;
    QTest::newRow("top-10000") << quint64(0) << qint64(0xFFFF) << 8;
    QTest::newRow("base-crosses-ffff") << quint64(0xFFF0) << qint64(0x0F) << 8;
    QTest::newRow("top-below-2^32") << quint64(0xFFFFFF00) << qint64(0xFE) << 8;
    QTest::newRow("top-2^32") << quint64(0xFFFFFF00) << qint64(0xFF) << 9;
    QTest::newRow("beyond-2^36") << quint64(0) << kBeyond2To36 << 10;
}

void TstQHexRenderer::addressDigits()
{
    QFETCH(quint64, base);
    QFETCH(qint64, length);
    QFETCH(int, digits);

    QObject owner;
    QHexDocument* document = documentOfLength(length, &owner);
    document->setBaseAddress(base);
    const QHexRenderer renderer(document, m_metrics);
    QCOMPARE(renderer.addressDigits(), digits);
    // The address column widens by a cell per digit (give or take rounding).
    const QHexRenderer shortest(nullptr, m_metrics);
    const qreal widening = renderer.hexColumnX() - shortest.hexColumnX();
    QVERIFY(qAbs(widening - (digits - 4) * renderer.cellWidth()) <= 1);
}

void TstQHexRenderer::areaAt_data()
{
    QTest::addColumn<int>("spacing");
    QTest::addColumn<QString>("rule"); // x is given from this rule
    QTest::addColumn<int>("spacings"); // plus this many spacing widths
    QTest::addColumn<int>("pixels"); // plus this many pixels
    QTest::addColumn<bool>("header");
    QTest::addColumn<int>("area");

    const QString zero = QStringLiteral("zero");
    const QString hex = QStringLiteral("hex");
    const QString ascii = QStringLiteral("ascii");
    const QString end = QStringLiteral("end");
    for (const int spacing : { 1, 3 }) {
        const auto row = [spacing](const char* name) -> QTestData& {
            return QTest::addRow("%s-spacing-%d", name, spacing) << spacing;
        };
        row("header-over-hex") << hex << 2 << 0 << true << int(QHexRenderer::HeaderArea);
        row("left-of-address") << zero << 1 << -1 << false << int(QHexRenderer::OtherArea);
        row("address-start") << zero << 1 << 0 << false << int(QHexRenderer::AddressArea);
        row("address-end") << hex << -1 << 0 << false << int(QHexRenderer::AddressArea);
        row("gap-before-hex-rule") << hex << -1 << 1 << false << int(QHexRenderer::OtherArea);
        row("gap-after-hex-rule") << hex << 1 << 0 << false << int(QHexRenderer::OtherArea);
        row("hex-start") << hex << 1 << 1 << false << int(QHexRenderer::HexArea);
        row("hex-end") << ascii << -1 << -1 << false << int(QHexRenderer::HexArea);
        row("gap-before-ascii-rule") << ascii << -1 << 0 << false << int(QHexRenderer::OtherArea);
        row("gap-after-ascii-rule") << ascii << 1 << 0 << false << int(QHexRenderer::OtherArea);
        row("ascii-start") << ascii << 1 << 1 << false << int(QHexRenderer::AsciiArea);
        row("ascii-end") << end << -1 << -1 << false << int(QHexRenderer::AsciiArea);
        row("gap-before-end-rule") << end << -1 << 0 << false << int(QHexRenderer::OtherArea);
        row("right-of-columns") << end << 4 << 0 << false << int(QHexRenderer::OtherArea);
    }
}

void TstQHexRenderer::areaAt()
{
    QFETCH(int, spacing);
    QFETCH(QString, rule);
    QFETCH(int, spacings);
    QFETCH(int, pixels);
    QFETCH(bool, header);
    QFETCH(int, area);

    QObject owner;
    QHexDocument* document = makeDocument(QByteArray(40, 'x'), &owner);
    document->setAreaSpacing(static_cast<quint8>(spacing));
    QHexRenderer renderer(document, m_metrics);
    const QHash<QString, int> rules { { QStringLiteral("zero"), 0 },
                                      { QStringLiteral("hex"), renderer.hexColumnX() },
                                      { QStringLiteral("ascii"), renderer.asciiColumnX() },
                                      { QStringLiteral("end"), renderer.endColumnX() } };
    const QPoint p(rules.value(rule) + spacings * renderer.spacingWidth() + pixels,
                   header ? renderer.lineHeight() - 1 : renderer.lineHeight());

    QCOMPARE(renderer.areaAt(p), area);
    const bool editable = area == QHexRenderer::HexArea || area == QHexRenderer::AsciiArea;
    QHexPosition position { 7, 7, 16, 7 };
    QCOMPARE(renderer.positionAt(p, 0, &position), editable);
    if (!editable)
        QCOMPARE(position, (QHexPosition { 7, 7, 16, 7 })); // untouched

    // Only the hex and text columns can take typing.
    renderer.selectAreaAt(p);
    QCOMPARE(renderer.selectedArea(), editable ? area : int(QHexRenderer::HexArea));
}

void TstQHexRenderer::positionAt_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("hexColumn");
    QTest::addColumn<quint64>("firstLine");
    QTest::addColumn<int>("row"); // 1 = the first row under the header
    QTest::addColumn<int>("cell"); // character within the column's text
    QTest::addColumn<QString>("position");

    const auto row = [](const char* name, int length, bool hexColumn, quint64 firstLine, int row,
                        int cell, const char* position) {
        QTest::newRow(name) << length << hexColumn << firstLine << row << cell
                            << QString::fromLatin1(position);
    };
    row("hex-first-digit", 20, true, 0, 1, 0, "0:0:1");
    row("hex-second-digit", 20, true, 0, 1, 1, "0:0:0");
    row("hex-space-after-byte", 20, true, 0, 1, 2, "0:0:0");
    row("hex-next-byte", 20, true, 0, 1, 3, "0:1:1");
    row("hex-last-byte-of-line", 20, true, 0, 1, 47, "0:15:0");
    row("hex-append-cell", 20, true, 0, 2, 12, "1:4:1");
    row("hex-right-of-last-byte", 20, true, 0, 2, 31, "1:4:1");
    row("below-last-line", 20, true, 0, 7, 4, "1:1:0");
    row("scrolled", 40, true, 1, 1, 9, "1:3:1");
    row("full-line-then-empty", 16, true, 0, 2, 7, "1:0:1");
    row("ascii-first", 20, false, 0, 1, 0, "0:0:1");
    row("ascii-last-of-line", 20, false, 0, 1, 15, "0:15:1");
    row("ascii-right-of-last-byte", 20, false, 0, 2, 9, "1:4:1");
}

void TstQHexRenderer::positionAt()
{
    QFETCH(int, length);
    QFETCH(bool, hexColumn);
    QFETCH(quint64, firstLine);
    QFETCH(int, row);
    QFETCH(int, cell);
    QFETCH(QString, position);

    QObject owner;
    const QHexRenderer renderer(makeDocument(QByteArray(length, 'x'), &owner), m_metrics);
    const QPoint p = cellCentre(renderer, hexColumn, static_cast<quint64>(row - 1), cell);
    QHexPosition found {};
    QVERIFY(renderer.positionAt(p, firstLine, &found));
    QCOMPARE(caret(found), position);
    QCOMPARE(int(found.lineWidth), 16);
}

void TstQHexRenderer::lineTexts_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("ascii");

    QTest::newRow("no-bytes") << QByteArray() << QStringLiteral(" ") << QString();
    QTest::newRow("letter-and-newline")
            << QByteArray("A\n") << QStringLiteral("41 0A ") << QStringLiteral("A.");
    QTest::newRow("printable-edges")
            << QByteArray(" ~") << QStringLiteral("20 7E ") << QStringLiteral(" ~");
    QTest::newRow("unprintable") << QByteArray("\x7F\x80\xFF\x00\x1F", 5)
                                 << QStringLiteral("7F 80 FF 00 1F ") << QStringLiteral(".....");
    QTest::newRow("letters-shown-upper")
            << QByteArray("\xab\xcd") << QStringLiteral("AB CD ") << QStringLiteral("..");
}

void TstQHexRenderer::lineTexts()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, hex);
    QFETCH(QString, ascii);

    QObject owner;
    // The bytes on line 1, behind a full line 0.
    const QHexRenderer renderer(makeDocument(QByteArray(16, 'x') + bytes, &owner), m_metrics);
    QByteArray raw("junk");
    QCOMPARE(renderer.hexText(1, &raw), hex);
    QCOMPARE(raw, bytes);
    raw = "junk";
    QCOMPARE(renderer.asciiText(1, &raw), ascii);
    QCOMPARE(raw, bytes);
}

void TstQHexRenderer::paintsSelection()
{
    PaletteScope palette;
    QObject owner;
    QHexDocument* document = makeDocument(QByteArray(40, ' '), &owner);
    QHexRenderer renderer(document, m_metrics);
    // From byte 14 of line 0 to byte 1 of line 2, dragged backwards.
    document->cursor()->moveTo(2, 1, 0);
    document->cursor()->select(0, 14, 1);
    const QImage image = paintLines(renderer, renderer.lineCount());

    const QColor highlight = PaletteScope::color(QPalette::Highlight);
    const QColor base = PaletteScope::color(QPalette::Base);
    const QColor window = PaletteScope::color(QPalette::Window);
    const auto hexCell = [&](quint64 line, int first, int count = 1) {
        return dominantColor(image, cellRect(renderer, true, line, first, count));
    };
    const auto textCell = [&](quint64 line, int first, int count = 1) {
        return dominantColor(image, cellRect(renderer, false, line, first, count));
    };

    QCOMPARE(hexCell(0, 39, 2), base); // byte 13
    QCOMPARE(hexCell(0, 42, 5), highlight); // bytes 14 and 15, the space between
    QCOMPARE(hexCell(0, 47), base); // the space ending the line
    QCOMPARE(hexCell(1, 0, 47), highlight); // a middle line, but its last space
    QCOMPARE(hexCell(1, 47), window);
    QCOMPARE(hexCell(2, 0, 5), highlight);
    QCOMPARE(hexCell(2, 5), base); // the space after the last selected byte
    QCOMPARE(textCell(0, 13), base);
    QCOMPARE(textCell(0, 14, 2), highlight);
    QCOMPARE(textCell(1, 0, 16), highlight);
    QCOMPARE(textCell(2, 0, 2), highlight);
    QCOMPARE(textCell(2, 2), base);
}

void TstQHexRenderer::paintsCursor_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("nibble");
    QTest::addColumn<int>("hexFirst"); // the hex column's block: characters from here
    QTest::addColumn<int>("hexCount");
    QTest::addColumn<QString>("hexLook"); // "solid", "pale" or "underline"
    QTest::addColumn<QString>("textLook");

    const int hex = QHexRenderer::HexArea;
    const int ascii = QHexRenderer::AsciiArea;
    const QString solid = QStringLiteral("solid");
    const QString pale = QStringLiteral("pale");
    const QString underline = QStringLiteral("underline");
    QTest::newRow("overwrite-hex-first-digit")
            << 4 << int(OverwriteMode) << hex << 1 << 3 << 1 << solid << pale;
    QTest::newRow("overwrite-hex-second-digit")
            << 4 << int(OverwriteMode) << hex << 0 << 4 << 1 << solid << pale;
    QTest::newRow("overwrite-text")
            << 4 << int(OverwriteMode) << ascii << 1 << 3 << 2 << pale << solid;
    QTest::newRow("insert-hex") << 4 << int(InsertMode) << hex << 1 << 3 << 1 << underline << pale;
    QTest::newRow("insert-text") << 4 << int(InsertMode) << ascii << 1 << 3 << 2 << pale
                                 << underline;
    QTest::newRow("empty-document")
            << 0 << int(OverwriteMode) << hex << 1 << 0 << 1 << solid << pale;
}

void TstQHexRenderer::paintsCursor()
{
    QFETCH(int, length);
    QFETCH(int, mode);
    QFETCH(int, area);
    QFETCH(int, nibble);
    QFETCH(int, hexFirst);
    QFETCH(int, hexCount);
    QFETCH(QString, hexLook);
    QFETCH(QString, textLook);

    PaletteScope palette;
    QObject owner;
    // Spaces, so that the text column's cells hold no glyph.
    QHexDocument* document = makeDocument(QByteArray(length, ' '), &owner);
    QHexRenderer renderer(document, m_metrics);
    const int column = qMin(1, length);
    document->cursor()->moveTo(0, column, nibble);
    document->cursor()->setInsertionMode(InsertionMode(mode));
    if (area == QHexRenderer::AsciiArea)
        renderer.selectAreaAt(cellCentre(renderer, false, 0, 0));

    const QImage hidden = paintLines(renderer, 1);
    renderer.setCursorVisible(true);
    const QImage shown = paintLines(renderer, 1);

    const QColor base = PaletteScope::color(QPalette::Base);
    const QColor text = PaletteScope::color(QPalette::Text);
    const auto check = [&](const QRect& cell, const QString& look) {
        if (look == QLatin1String("solid")) {
            QCOMPARE(dominantColor(shown, cell), PaletteScope::color(QPalette::WindowText));
        } else if (look == QLatin1String("pale")) {
            const QColor pale = dominantColor(shown, cell);
            QVERIFY(pale != base);
            QVERIFY(pale != PaletteScope::color(QPalette::WindowText));
        } else {
            QCOMPARE(dominantColor(shown, cell), base);
            // An underline adds text-coloured pixels below the glyphs.
            const QRect full = cell.adjusted(0, -2, 0, 2);
            QVERIFY(countPixels(shown, full, text) > countPixels(hidden, full, text));
        }
    };
    check(cellRect(renderer, true, 0, hexFirst, hexCount), hexLook);
    check(cellRect(renderer, false, 0, column, 1), textLook);
    // Hidden in this blink phase: no trace of the cursor.
    QCOMPARE(dominantColor(hidden, cellRect(renderer, true, 0, hexFirst, hexCount)), base);
}

void TstQHexRenderer::paintsSpecialBytesAndMetadata()
{
    PaletteScope palette;
    QObject owner;
    QHexDocument* document = makeDocument(QByteArray("\x00\x41\xFF\x41  \x41\x41\x00", 9), &owner);
    QHexRenderer renderer(document, m_metrics);
    document->metadata()->setBackground(0, 3, 1, QColor(0xFF, 0x80, 0x80));
    document->metadata()->setComment(0, 4, 2, QStringLiteral("two spaces"));
    document->metadata()->setForeground(0, 7, 1, QColor(0x00, 0x90, 0x00));
    // A selection formats over the dimming of byte 8.
    document->cursor()->moveTo(0, 8, 1);
    document->cursor()->select(0, 8, 0);
    const QImage image = paintLines(renderer, 1);

    const QColor base = PaletteScope::color(QPalette::Base);
    const QColor text = PaletteScope::color(QPalette::Text);
    const QColor dimmed(Qt::gray); // the shade of black window text
    for (const bool hexColumn : { true, false }) {
        const int f = hexColumn ? 3 : 1;
        const auto ink = [&](int byte, const QColor& color) {
            return countPixels(image, cellRect(renderer, hexColumn, 0, byte * f, 1), color);
        };
        QVERIFY(ink(0, dimmed) > 0);
        QCOMPARE(ink(0, text), 0);
        QVERIFY(ink(1, text) > 0);
        QCOMPARE(ink(1, dimmed), 0);
        QVERIFY(ink(2, dimmed) > 0);
        QCOMPARE(ink(7, text), 0);
        QVERIFY(ink(7, QColor(0x00, 0x90, 0x00)) > 0);
        QCOMPARE(ink(8, dimmed), 0);
        QVERIFY(ink(8, PaletteScope::color(QPalette::HighlightedText)) > 0);
        QCOMPARE(dominantColor(image, cellRect(renderer, hexColumn, 0, 3 * f, hexColumn ? 2 : 1)),
                 QColor(0xFF, 0x80, 0x80));
    }
    // The background stops before the space after the item's byte.
    QCOMPARE(dominantColor(image, cellRect(renderer, true, 0, 11, 1)), base);

    // The comment underlines its bytes, in the hex column not the space after them.
    const auto underlined = [&](bool hexColumn, int first) {
        return countPixels(image, cellRect(renderer, hexColumn, 0, first, 1).adjusted(0, -2, 0, 2),
                           text)
                > 0;
    };
    QVERIFY(underlined(false, 4));
    QVERIFY(underlined(false, 5));
    QVERIFY(underlined(true, 14)); // the space between the two bytes
    QVERIFY(!underlined(true, 17)); // the space after the last one
}

void TstQHexRenderer::paintsRowsAndHeader()
{
    PaletteScope palette;
    QObject owner;
    QHexDocument* document = makeDocument(QByteArray(48, ' '), &owner);
    document->setBaseAddress(0x10);
    QHexRenderer renderer(document, m_metrics);
    const QColor highlight = PaletteScope::color(QPalette::Highlight);
    const QColor base = PaletteScope::color(QPalette::Base);
    const QColor window = PaletteScope::color(QPalette::Window);

    // Scrolled by one line: line 1 is in the first row and takes the colour of
    // an odd line, whatever row it is in.
    const QImage image = paintLines(renderer, 2, 1);
    QCOMPARE(dominantColor(image, cellRect(renderer, true, 1, 2, 1, 1)), window);
    QCOMPARE(dominantColor(image, cellRect(renderer, true, 2, 2, 1, 1)), base);
    QCOMPARE(dominantColor(image, cellRect(renderer, false, 2, 0, 16, 1)), base);

    // The header is written in the highlight colour on an unfilled row: over
    // the address and over the hex column (the column numbers).
    const int lh = renderer.lineHeight();
    const QRect address(0, 0, renderer.hexColumnX(), lh);
    const QRect numbers(renderer.hexColumnX() + renderer.spacingWidth(), 0,
                        renderer.asciiColumnX() - renderer.hexColumnX(), lh);
    QVERIFY(countPixels(image, address, highlight) > 0);
    QVERIFY(countPixels(image, numbers, highlight) > 0);
    QCOMPARE(dominantColor(image, numbers), QColor(0xC0, 0x10, 0xC0));
    // The address of each line is drawn in the highlight colour too.
    QVERIFY(countPixels(image, QRect(0, lh, renderer.hexColumnX(), lh), highlight) > 0);
}

void TstQHexRenderer::headingsFollowTheLanguage_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<int>("bytesPerLine");
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QString>("text");
    for (const int width : { 8, 16, 32 }) {
        QTest::addRow("chinese-%d", width) << false << width << "偏移"
                                           << "文本";
        QTest::addRow("english-%d", width) << true << width << "Offset"
                                           << "Ascii";
    }
}

void TstQHexRenderer::headingsFollowTheLanguage()
{
    QFETCH(bool, english);
    QFETCH(int, bytesPerLine);
    QFETCH(QString, offset);
    QFETCH(QString, text);

    HeadingTranslator translator;
    if (english)
        QVERIFY(QCoreApplication::installTranslator(&translator));
    QObject owner;
    QHexDocument* document = makeDocument("ABC", &owner); // four address digits
    document->setBytesPerLine(static_cast<quint8>(bytesPerLine));
    QHexRenderer renderer(document, m_metrics);
    TextRecorder device;
    {
        QPainter painter(&device);
        painter.setFont(crispFont());
        renderer.paint(&painter, 0, 0, 0); // the header row alone
    }
    QCoreApplication::removeTranslator(&translator);

    // Each heading is drawn inside its column: the address column, and the
    // text column between its rules.
    QString address;
    QString ascii;
    const qreal tolerance = 1; // rounding of the cells' pixels
    for (const TextRecorder::Text& drawn : std::as_const(device.texts)) {
        QVERIFY(drawn.baseline > 0 && drawn.baseline <= renderer.lineHeight());
        if (drawn.right <= renderer.hexColumnX() + tolerance) {
            QVERIFY(drawn.left >= 0);
            address += drawn.text;
        } else if (drawn.left >= renderer.asciiColumnX()) {
            QVERIFY(drawn.right <= renderer.endColumnX() + tolerance);
            ascii += drawn.text;
        }
    }
    QCOMPARE(address, offset);
    QCOMPARE(ascii, text);
}

QTEST_MAIN(TstQHexRenderer)
#include "tst_qhexrenderer.moc"
