// SPDX-License-Identifier: GPL-2.0-or-later

// The hex document over a memory buffer, driven by a sequence of edits,
// undo/redo, clipboard operations and cursor moves decoded from the input,
// and compared after every step with a plain QByteArray model that keeps its
// own undo history as snapshots. The model holds the documented rules:
//  - the buffer follows QByteArray: an insert past the end pads with spaces,
//    a remove past the end cuts, negative offsets change nothing, edits
//    beyond one array's reach (2^31 - 1 bytes) change nothing;
//  - every edit is one undo step, undo gives back exactly the earlier bytes;
//  - cut is copy plus removeSelection, the caret then where the selection
//    began (at the end when that lies past it); paste is removeSelection,
//    then an insert (InsertMode) or replace (OverwriteMode) of the clipboard
//    text's UTF-8 bytes (hex: QByteArray::fromHex) at the cursor position's
//    offset, or at the end when that lies past it, the caret then after
//    the pasted bytes (at most at the end);
//  - copy puts the selected bytes read as UTF-8 up to the first zero byte on
//    the clipboard, or, with hex, upper-case pairs separated by spaces; the
//    first also puts the exact bytes beside that text, which a paste takes
//    as they are, before the text; a selection more than the clipboard may
//    take (its span counted in 64 bits) is neither copied nor cut.
// The input's first byte sizes the initial content, which follows it; then
// each operation is one byte followed by its arguments. Missing bytes read
// as zero.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <QString>

#include "hexclipboardlimit.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qmemorybuffer.h"

namespace {

[[noreturn]] void fail(const char* what, int step)
{
    std::fprintf(stderr, "fuzz_hexdocument: step %d: %s\n", step, what);
    std::abort();
}

class Reader
{
public:
    Reader(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    { }

    bool atEnd() const { return m_at >= m_size; }
    std::uint8_t u8() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>((u8() << 8) | u8()); }
    QByteArray bytes(int n)
    {
        QByteArray out;
        for (int i = 0; i < n && !atEnd(); ++i)
            out.append(static_cast<char>(u8()));
        return out;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

struct Pos
{
    quint64 line = 0;
    int column = 0;
    int nibble = 1;

    bool operator==(const Pos& o) const
    {
        return line == o.line && column == o.column && nibble == o.nibble;
    }
    bool before(const Pos& o) const
    {
        return line < o.line || (line == o.line && column < o.column);
    }
};

// line * width + column, wrapping like the 64-bit arithmetic it stands for.
qint64 offsetOf(const Pos& p, quint8 width)
{
    return static_cast<qint64>(p.line * width + static_cast<quint64>(qint64(p.column)));
}

class Model
{
public:
    explicit Model(const QByteArray& initial) { m_states.push_back(initial); }

    const QByteArray& bytes() const { return m_states[m_current]; }
    bool canUndo() const { return m_current > 0; }
    bool canRedo() const { return m_current + 1 < m_states.size(); }

    // One undo step holding the bytes after the edit.
    void push(const QByteArray& after)
    {
        m_states.resize(m_current + 1);
        m_states.push_back(after);
        ++m_current;
    }
    void undo()
    {
        if (canUndo())
            --m_current;
    }
    void redo()
    {
        if (canRedo())
            ++m_current;
    }

    static bool inReach(qint64 offset) { return offset >= 0 && offset <= INT_MAX; }
    // Whether the inserted run would end within one array's reach.
    static bool fits(qint64 offset, const QByteArray& data)
    {
        return offset >= 0 && offset <= qint64(INT_MAX) - data.size();
    }

    void insert(qint64 offset, const QByteArray& data)
    {
        QByteArray after = bytes();
        if (fits(offset, data))
            after.insert(static_cast<int>(offset), data);
        push(after);
    }
    void replace(qint64 offset, const QByteArray& data)
    {
        QByteArray after = bytes();
        if (inReach(offset))
            after.remove(static_cast<int>(offset), data.size());
        if (fits(offset, data))
            after.insert(static_cast<int>(offset), data);
        push(after);
    }
    void remove(qint64 offset, int length)
    {
        QByteArray after = bytes();
        if (inReach(offset))
            after.remove(static_cast<int>(offset), length);
        push(after);
    }
    QByteArray read(qint64 offset, int length) const
    {
        if (offset > INT_MAX || offset < -qint64(INT_MAX))
            return {};
        return bytes().mid(static_cast<int>(offset), length);
    }

    // Cursor.
    Pos position;
    Pos anchor;
    quint8 width = 16;
    InsertionMode mode = OverwriteMode;

    bool hasSelection() const { return !(position == anchor); }
    const Pos& selectionStart() const { return position.before(anchor) ? position : anchor; }
    const Pos& selectionEnd() const { return anchor.before(position) ? position : anchor; }
    qint64 positionOffset() const { return offsetOf(position, width); }
    qint64 startOffset() const { return offsetOf(selectionStart(), width); }
    int selectionLength() const
    {
        const quint64 span = static_cast<quint64>(offsetOf(selectionEnd(), width))
                - static_cast<quint64>(startOffset()) + 1;
        return static_cast<int>(static_cast<quint32>(span));
    }
    QByteArray selectedBytes() const
    {
        return hasSelection() ? read(startOffset(), selectionLength()) : QByteArray();
    }
    void moveTo(qint64 offset)
    {
        const qint64 line = offset / width;
        position = { static_cast<quint64>(line), static_cast<int>(offset - line * width), 1 };
        anchor = position;
    }

    // Counted like the document's documentChanged.
    int changes = 0;
    QString clipboard;
    // The exact bytes a copy put beside the text, if any.
    std::optional<QByteArray> rawClipboard;

private:
    std::vector<QByteArray> m_states;
    std::size_t m_current = 0;
};

constexpr qint64 kMaxModelLength = 64 * 1024;

qint64 pickOffset(Reader& in, qint64 length)
{
    const std::uint8_t how = in.u8();
    switch (how % 8) {
    case 0:
    case 1:
    case 2:
        return in.u16() % (length + 1); // inside, or the end
    case 3:
        return length + 1 + in.u8() % 40; // past the end: padding
    case 4:
        return -1 - in.u8() % 4;
    case 5: {
        // Beyond one array's reach either way, and the 32-bit edges; never
        // far inside the reach, where an insert would pad gigabytes.
        static const qint64 far[] = { qint64(INT_MAX) + 1,
                                      qint64(1) << 40,
                                      LLONG_MAX,
                                      LLONG_MIN,
                                      qint64(INT_MIN),
                                      qint64(INT_MIN) - 1,
                                      -(qint64(1) << 32) + 5,
                                      (qint64(1) << 32) + 3 };
        return far[in.u8() % (sizeof far / sizeof far[0])];
    }
    default:
        return in.u8() % (length + 1);
    }
}

int pickLength(Reader& in)
{
    const std::uint8_t how = in.u8();
    switch (how % 6) {
    case 0:
        return -1 - in.u8() % 3;
    case 1: {
        static const int edges[] = { 0, INT_MAX, INT_MIN, INT_MAX - 1 };
        return edges[in.u8() % 4];
    }
    default:
        return in.u8() % 24;
    }
}

quint64 pickLine(Reader& in)
{
    const std::uint8_t how = in.u8();
    if (how % 8 != 0)
        return in.u8() % 12;
    // Lines whose offsets lie beyond one array's reach or wrap around; none
    // lands far inside the reach, where an insert would pad gigabytes.
    static const quint64 far[]
            = { quint64(1) << 32, quint64(1) << 59, quint64(1) << 63, ULLONG_MAX };
    return far[in.u8() % 4];
}

int pickColumn(Reader& in)
{
    return int(in.u8() % 40) - 2;
}

void check(const QHexDocument& constDoc, QHexDocument& doc, const Model& model, int step)
{
    if (doc.length() != model.bytes().size())
        fail("length differs from the model", step);
    if (doc.read(0, static_cast<int>(doc.length())) != model.bytes())
        fail("bytes differ from the model", step);
    if (doc.canUndo() != model.canUndo() || doc.canRedo() != model.canRedo())
        fail("undo/redo availability differs from the model", step);

    const QHexCursor* cursor = constDoc.cursor();
    const Pos position { cursor->currentLine(), cursor->currentColumn(), cursor->currentNibble() };
    const Pos anchor { cursor->anchorLine(), cursor->anchorColumn(), cursor->anchorNibble() };
    if (!(position == model.position) || !(anchor == model.anchor))
        fail("cursor differs from the model", step);
    if (cursor->insertionMode() != model.mode)
        fail("insertion mode differs from the model", step);
    if (cursor->hasSelection() != model.hasSelection())
        fail("selection differs from the model", step);
    if (constDoc.selectedBytes() != model.selectedBytes())
        fail("selected bytes differ from the model", step);
    if (constDoc.atEnd() != (model.positionOffset() >= model.bytes().size()))
        fail("atEnd differs from the model", step);
    if (QGuiApplication::clipboard()->text() != model.clipboard)
        fail("clipboard differs from the model", step);
}

QString clipboardTextOf(const QByteArray& selected, bool hex)
{
    if (hex)
        return QString::fromLatin1(selected.toHex(' ').toUpper());
    const int nul = selected.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? selected : selected.left(nul));
}

void removeSelection(Model& model)
{
    if (!model.hasSelection())
        return;
    model.remove(model.startOffset(), model.selectionLength());
    model.anchor = model.position;
    ++model.changes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_hexdocument";
    static char* argv[] = { name, nullptr };
    // The clipboard needs it. Never deleted: it lives until the process
    // ends, and Qt's offscreen platform would leak its screen on deletion.
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    Q_UNUSED(app);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader in(data, size);
    const QByteArray initial = in.bytes(in.u8() % 48);

    QClipboard* board = QGuiApplication::clipboard();
    board->setText(QString());

    auto* buffer = new QMemoryBuffer; // the document takes it over
    buffer->load(initial);
    QHexDocument doc(buffer);
    const QHexDocument& constDoc = doc;
    QHexCursor* cursor = doc.cursor();
    int changes = 0;
    QObject::connect(&doc, &QHexDocument::documentChanged, [&changes] { ++changes; });

    Model model(initial);
    check(constDoc, doc, model, 0);

    for (int step = 1; !in.atEnd(); ++step) {
        const std::uint8_t op = in.u8();
        const qint64 length = model.bytes().size();
        // The model keeps a snapshot per step: past a size, copy and paste
        // would double the bytes until memory runs out, so edits that grow
        // them are passed over.
        const bool grows = op % 20 <= 3 || op % 20 == 9;
        if (grows && length > kMaxModelLength)
            continue;
        switch (op % 20) {
        case 0: {
            const qint64 offset = pickOffset(in, length);
            const QByteArray bytes = in.bytes(in.u8() % 9);
            doc.insert(offset, bytes);
            model.insert(offset, bytes);
            ++model.changes;
            break;
        }
        case 1: {
            const qint64 offset = pickOffset(in, length);
            const auto byte = static_cast<uchar>(in.u8());
            doc.insert(offset, byte);
            model.insert(offset, QByteArray(1, static_cast<char>(byte)));
            ++model.changes;
            break;
        }
        case 2: {
            const qint64 offset = pickOffset(in, length);
            const QByteArray bytes = in.bytes(in.u8() % 9);
            doc.replace(offset, bytes);
            model.replace(offset, bytes);
            ++model.changes;
            break;
        }
        case 3: {
            const qint64 offset = pickOffset(in, length);
            const auto byte = static_cast<uchar>(in.u8());
            doc.replace(offset, byte);
            model.replace(offset, QByteArray(1, static_cast<char>(byte)));
            ++model.changes;
            break;
        }
        case 4: {
            const qint64 offset = pickOffset(in, length);
            const int count = pickLength(in);
            doc.remove(offset, count);
            model.remove(offset, count);
            ++model.changes;
            break;
        }
        case 5:
            doc.undo();
            model.undo();
            ++model.changes;
            break;
        case 6:
            doc.redo();
            model.redo();
            ++model.changes;
            break;
        case 7:
        case 8: {
            const bool hex = in.u8() & 1;
            if (op % 20 == 7)
                doc.cut(hex);
            else
                doc.copy(hex);
            // Counted modulo 2^64 as the offsets are, at most INT64_MAX.
            const quint64 wrapped
                    = static_cast<quint64>(offsetOf(model.selectionEnd(), model.width))
                    - static_cast<quint64>(model.startOffset()) + 1;
            const auto span = static_cast<qint64>(qMin<quint64>(wrapped, LLONG_MAX));
            if (model.hasSelection() && HexClipboardLimit::current().allows(span, hex)) {
                model.clipboard = clipboardTextOf(model.selectedBytes(), hex);
                model.rawClipboard = hex ? std::nullopt : std::optional(model.selectedBytes());
                if (op % 20 == 7) {
                    const qint64 start = model.startOffset();
                    removeSelection(model);
                    model.moveTo(qMin(start, qint64(model.bytes().size())));
                }
            }
            break;
        }
        case 9: {
            const bool hex = in.u8() & 1;
            // A cursor moved to a far line of a narrow document can stand
            // inside the reach yet gigabytes past the end, where a paste pads
            // as documented; that is a test of memory, not of the model.
            const qint64 at = model.positionOffset();
            if (at > length + 65536 && at <= INT_MAX)
                break;
            doc.paste(hex);
            QByteArray bytes = model.rawClipboard.value_or(model.clipboard.toUtf8());
            if (bytes.isEmpty())
                break;
            removeSelection(model);
            if (hex && !model.rawClipboard)
                bytes = QByteArray::fromHex(bytes);
            const qint64 offset = qMin(model.positionOffset(), qint64(model.bytes().size()));
            if (model.mode == InsertMode)
                model.insert(offset, bytes);
            else
                model.replace(offset, bytes);
            model.moveTo(qMin(offset + bytes.size(), qint64(model.bytes().size())));
            ++model.changes;
            break;
        }
        case 10:
            doc.removeSelection();
            removeSelection(model);
            break;
        case 11: {
            const qint64 offset = pickOffset(in, length);
            cursor->moveTo(offset);
            model.moveTo(offset);
            break;
        }
        case 12:
        case 13: {
            const quint64 line = pickLine(in);
            const int column = pickColumn(in);
            const int nibble = in.u8() & 1;
            const Pos pos { line, column, nibble };
            if (op % 20 == 12) {
                cursor->moveTo(line, column, nibble);
                model.position = pos;
                model.anchor = pos;
            } else {
                cursor->select(line, column, nibble);
                model.position = pos;
            }
            break;
        }
        case 14:
        case 15: {
            const int count = int(in.u8() % 40) - 4;
            if (op % 20 == 15) {
                const qint64 offset = pickOffset(in, length);
                cursor->selectOffset(offset, count);
                model.moveTo(offset);
            } else {
                cursor->select(count);
            }
            model.position.nibble = 1;
            model.position.column = static_cast<int>(
                    qMin<qint64>(qint64(model.position.column) + count - 1, model.width - 1));
            break;
        }
        case 16:
            cursor->clearSelection();
            model.anchor = model.position;
            break;
        case 17:
            if (in.u8() & 1) {
                cursor->switchInsertionMode();
                model.mode = model.mode == InsertMode ? OverwriteMode : InsertMode;
            } else {
                const InsertionMode mode = (in.u8() & 1) ? InsertMode : OverwriteMode;
                cursor->setInsertionMode(mode);
                model.mode = mode;
            }
            break;
        case 18: {
            // Something to paste: text of any bytes, or hex pairs.
            const bool asHex = in.u8() & 1;
            const QByteArray bytes = in.bytes(in.u8() % 12);
            const QString text
                    = asHex ? QString::fromLatin1(bytes.toHex(' ')) : QString::fromUtf8(bytes);
            board->setText(text);
            model.clipboard = text;
            model.rawClipboard.reset();
            break;
        }
        default: {
            const quint8 width = in.u8();
            doc.setBytesPerLine(width);
            if (width != 0)
                model.width = width;
            break;
        }
        }
        check(constDoc, doc, model, step);
        if (changes != model.changes)
            fail("documentChanged count differs from the model", step);
    }
    return 0;
}
