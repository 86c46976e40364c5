// SPDX-License-Identifier: GPL-2.0-or-later

#include "qhexdocument.h"

#include <memory>

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QIODevice>
#include <QMimeData>

#include "hexclipboardlimit.h"
#include "hexcommands.h"
#include "qfilebuffer.h"
#include "qhexbuffer.h"
#include "qhexcursor.h"
#include "qhexmetadata.h"

namespace {

// Pushes the command, which runs it; the stack owns it from then on (or
// deletes it, merged into the one before). When running it throws (an
// allocation that failed), the stack never took it and it is deleted here.
void pushCommand(QUndoStack& stack, QHexMetadata* metadata, std::unique_ptr<HexCommand> command)
{
    command->setMetadata(metadata);
    stack.push(command.get());
    static_cast<void>(command.release());
}

// The clipboard format of the exact bytes copied from the text column.
const QString kOctetStream = QStringLiteral("application/octet-stream");
constexpr int kSaveChunk = 1 << 20;

// The system clipboard, or null in a program without a GUI application.
QClipboard* clipboard()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr
            ? QGuiApplication::clipboard()
            : nullptr;
}

// Whether the selection fits on the clipboard.
bool selectionFitsClipboard(const QHexCursor& cursor, bool hex)
{
    return HexClipboardLimit::current().allows(selectionSpan(cursor), hex);
}

} // namespace

QHexDocument::QHexDocument(QHexBuffer* buffer, QObject* parent)
    : QObject(parent)
    , m_buffer(buffer)
{
    qRegisterMetaType<QIODevice*>("QIODevice*");
    m_buffer->setParent(this);

    m_cursor = new QHexCursor(this);
    m_cursor->setLineWidth(m_bytesperline);
    m_metadata = new QHexMetadata(this);
    m_metadata->setLineWidth(m_bytesperline);

    connect(m_metadata, &QHexMetadata::metadataChanged, this, &QHexDocument::lineChanged);
    connect(m_metadata, &QHexMetadata::metadataCleared, this, &QHexDocument::documentChanged);
    connect(&m_undostack, &QUndoStack::canUndoChanged, this, &QHexDocument::canUndoChanged);
    connect(&m_undostack, &QUndoStack::canRedoChanged, this, &QHexDocument::canRedoChanged);
}

QHexDocument* QHexDocument::fromFile(const QString& fileName, QObject* parent)
{
    auto* file = new QFile(fileName); // the buffer takes it over on load
    auto* buffer = new QFileBuffer(); // the document takes it over
    if (!buffer->load(file)) {
        delete file;
        delete buffer;
        return nullptr;
    }
    return new QHexDocument(buffer, parent);
}

qint64 QHexDocument::length() const
{
    return m_buffer->length();
}

bool QHexDocument::isEmpty() const
{
    return m_buffer->isEmpty();
}

bool QHexDocument::atEnd() const
{
    return m_cursor->position().offset() >= m_buffer->length();
}

bool QHexDocument::canUndo() const
{
    return m_undostack.canUndo();
}

bool QHexDocument::canRedo() const
{
    return m_undostack.canRedo();
}

uchar QHexDocument::at(qint64 offset) const
{
    return m_buffer->at(offset);
}

QByteArray QHexDocument::selectedBytes() const
{
    if (!m_cursor->hasSelection())
        return {};
    return m_buffer->read(m_cursor->selectionStart().offset(), m_cursor->selectionLength());
}

void QHexDocument::bufferGrew()
{
    emit documentChanged();
}

void QHexDocument::setBaseAddress(quint64 baseaddress)
{
    if (m_baseaddress == baseaddress)
        return;
    m_baseaddress = baseaddress;
    emit documentChanged();
}

void QHexDocument::setBytesPerLine(quint8 value)
{
    if (value == 0)
        return; // a line must hold a byte
    m_bytesperline = value;
    m_cursor->setLineWidth(value);
    m_metadata->setLineWidth(value);
}

bool QHexDocument::isModified() const
{
    return !m_undostack.isClean();
}

void QHexDocument::setUnmodified()
{
    m_undostack.setClean();
}

void QHexDocument::removeSelection()
{
    if (!m_cursor->hasSelection())
        return;
    remove(m_cursor->selectionStart().offset(), m_cursor->selectionLength());
    m_cursor->clearSelection();
}

void QHexDocument::typeByte(qint64 offset, uchar byte, bool insert)
{
    if (!m_lasttyped.isValid() || m_lasttyped.elapsed() >= m_typingpause)
        ++m_typingrun;
    const QByteArray data(1, static_cast<char>(byte));
    std::unique_ptr<HexCommand> command;
    if (insert)
        command = std::make_unique<InsertCommand>(m_buffer, offset, data);
    else
        command = std::make_unique<ReplaceCommand>(m_buffer, offset, data);
    command->setTypingRun(m_typingrun);
    pushCommand(m_undostack, m_metadata, std::move(command));
    m_lasttyped.start();
    emit documentChanged();
}

void QHexDocument::endTyping()
{
    ++m_typingrun;
}

void QHexDocument::undo()
{
    ++m_typingrun;
    m_undostack.undo();
    emit documentChanged();
}

void QHexDocument::redo()
{
    ++m_typingrun;
    m_undostack.redo();
    emit documentChanged();
}

void QHexDocument::cut(bool hex)
{
    if (!m_cursor->hasSelection() || !selectionFitsClipboard(*m_cursor, hex))
        return;
    copy(hex);
    const qint64 start = m_cursor->selectionStart().offset();
    removeSelection();
    // Where the bytes were, not past the end of what is left.
    m_cursor->moveTo(qMin(start, m_buffer->length()));
}

void QHexDocument::copy(bool hex)
{
    if (!m_cursor->hasSelection() || !selectionFitsClipboard(*m_cursor, hex))
        return;
    QClipboard* board = clipboard();
    if (board == nullptr)
        return;
    const QByteArray bytes = selectedBytes();
    if (hex) {
        board->setText(QString::fromUtf8(bytes.toHex(' ').toUpper()), QClipboard::Clipboard);
        return;
    }
    // Text for other programs, read as UTF-8 up to the first zero byte; the
    // exact bytes beside it for a paste back into a hex editor.
    auto* data = new QMimeData; // the clipboard takes it over
    data->setText(QString::fromUtf8(bytes.constData()));
    data->setData(kOctetStream, bytes);
    board->setMimeData(data, QClipboard::Clipboard);
}

void QHexDocument::paste(bool hex)
{
    QClipboard* board = clipboard();
    if (board == nullptr)
        return;
    const QMimeData* mime = board->mimeData(QClipboard::Clipboard);
    const bool raw = mime != nullptr && mime->hasFormat(kOctetStream);
    QByteArray data = raw ? mime->data(kOctetStream) : board->text(QClipboard::Clipboard).toUtf8();
    if (data.isEmpty())
        return;
    removeSelection();
    if (hex && !raw)
        data = QByteArray::fromHex(data);
    // A selection that reached the end leaves the position past the data once
    // removed: the paste goes to the end then, instead of padding the gap with
    // spaces.
    const qint64 offset = qMin(m_cursor->position().offset(), m_buffer->length());
    if (m_cursor->insertionMode() == InsertMode)
        insert(offset, data);
    else
        replace(offset, data);
    // After what was pasted, as in every editor: a second paste follows the
    // first. Never past the end (a store that took no bytes).
    m_cursor->moveTo(qMin(offset + data.length(), m_buffer->length()));
}

void QHexDocument::insert(qint64 offset, uchar b)
{
    insert(offset, QByteArray(1, static_cast<char>(b)));
}

void QHexDocument::replace(qint64 offset, uchar b)
{
    replace(offset, QByteArray(1, static_cast<char>(b)));
}

void QHexDocument::insert(qint64 offset, QByteArray data)
{
    ++m_typingrun;
    pushCommand(m_undostack, m_metadata, std::make_unique<InsertCommand>(m_buffer, offset, data));
    emit documentChanged();
}

void QHexDocument::replace(qint64 offset, QByteArray data)
{
    ++m_typingrun;
    pushCommand(m_undostack, m_metadata, std::make_unique<ReplaceCommand>(m_buffer, offset, data));
    emit documentChanged();
}

void QHexDocument::remove(qint64 offset, int len)
{
    ++m_typingrun;
    pushCommand(m_undostack, m_metadata, std::make_unique<RemoveCommand>(m_buffer, offset, len));
    emit documentChanged();
}

QByteArray QHexDocument::read(qint64 offset, int len)
{
    return m_buffer->read(offset, len);
}

bool QHexDocument::saveTo(QIODevice* device)
{
    if (device == nullptr || !device->isWritable()) {
        m_errorstring = tr("目标未以写入方式打开");
        return false;
    }
    // Piece by piece, so that a full disk or a failing device is seen.
    const qint64 length = m_buffer->length();
    for (qint64 offset = 0; offset < length; offset += kSaveChunk) {
        const int size = static_cast<int>(qMin<qint64>(kSaveChunk, length - offset));
        const QByteArray bytes = m_buffer->read(offset, size);
        if (bytes.size() != size) {
            m_errorstring = tr("无法读取偏移 %1 处的数据").arg(offset);
            return false;
        }
        if (device->write(bytes) != size) {
            m_errorstring = device->errorString();
            if (m_errorstring.isEmpty() || m_errorstring == QLatin1String("Unknown error"))
                m_errorstring = tr("写入未完成");
            return false;
        }
    }
    m_errorstring.clear();
    return true;
}

qint64 QHexDocument::searchForward(QByteArray ba)
{
    const qint64 found = m_buffer->indexOf(ba, m_cursor->position().offset());
    if (found >= 0) {
        m_cursor->clearSelection();
        m_cursor->moveTo(found);
        m_cursor->select(ba.length());
    }
    return found;
}

qint64 QHexDocument::searchBackward(QByteArray ba)
{
    const QHexPosition& from
            = m_cursor->hasSelection() ? m_cursor->selectionStart() : m_cursor->position();
    const qint64 found = m_buffer->lastIndexOf(ba, from.offset() - 1);
    if (found >= 0) {
        m_cursor->clearSelection();
        m_cursor->moveTo(found);
        m_cursor->select(ba.length());
    }
    return found;
}
