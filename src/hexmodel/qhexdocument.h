// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUndoStack>

class QHexBuffer;
class QHexCursor;
class QHexMetadata;
class QIODevice;

// The model a hex view shows and edits: a byte buffer (owned), a cursor, the
// annotations and an undo stack of edits, with the layout settings the
// renderer reads (base address, bytes per line, area spacing).
//
// Every edit is one undo step and emits documentChanged, but typing, which
// merges (typeByte). Apart from removeSelection, which collapses the
// selection, cut, which leaves the caret where the cut bytes were, and
// paste, which leaves it after the pasted bytes, no edit moves the cursor.
// Inserts and removals move the annotations with the bytes they mark.
// Offsets from cursor positions are line * lineWidth + column.
class QHexDocument : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QHexDocument)

public:
    // Takes ownership of the buffer.
    explicit QHexDocument(QHexBuffer* buffer, QObject* parent = nullptr);

    // A document reading the file, or null when it cannot be. Nothing but
    // what is shown or searched is read.
    static QHexDocument* fromFile(const QString& fileName, QObject* parent = nullptr);

    QHexCursor* cursor() const { return m_cursor; }
    QHexBuffer* buffer() const { return m_buffer; }
    QHexMetadata* metadata() const { return m_metadata; }
    qint64 length() const;
    bool isEmpty() const;
    // Whether the cursor stands at or past the last byte + 1.
    bool atEnd() const;
    bool canUndo() const;
    bool canRedo() const;
    // The byte at offset; 0 outside the data.
    uchar at(qint64 offset) const;
    // Empty without a selection.
    QByteArray selectedBytes() const;

    quint64 baseAddress() const { return m_baseaddress; }
    // Emits documentChanged when the address changes.
    void setBaseAddress(quint64 baseaddress);
    quint8 areaSpacing() const { return m_areaspacing; }
    void setAreaSpacing(quint8 value) { m_areaspacing = value; }
    quint8 bytesPerLine() const { return m_bytesperline; }
    // Also the cursor's and the annotations' line width (>= 1).
    void setBytesPerLine(quint8 value);

    // Whether an edit was made, or undone, since the document was built or
    // last marked unmodified (after a save).
    bool isModified() const;
    void setUnmodified();
    // For the owner of a buffer that grows at its end by itself (a live
    // stream): not an edit and not undoable; the views take the new length.
    void bufferGrew();
    // Why the last saveTo() returned false; empty after one that succeeded.
    QString errorString() const { return m_errorstring; }

    // Removes the selected bytes and collapses the selection; nothing (and no
    // signal) without a selection.
    void removeSelection();

    // The byte of one typed key at offset, inserted or overwriting. Typing
    // that goes on where the last typed key wrote (the next byte, or the
    // second digit of the same one) merges into one undo step with it, until
    // endTyping() (the caret was moved), another edit, an undo or redo, or a
    // pause of typingPause() ms or more between two keys (1000 unless set).
    void typeByte(qint64 offset, uchar byte, bool insert);
    void endTyping();
    int typingPause() const { return m_typingpause; }
    void setTypingPause(int ms) { m_typingpause = ms; }

public slots:
    // Emit documentChanged, also when there is nothing to undo or redo.
    void undo();
    void redo();
    // The selection to the clipboard (and out of the document, the caret
    // going where it began), as its bytes
    // read as UTF-8 up to the first zero byte, with the exact bytes beside it
    // as application/octet-stream, or, with hex, as upper-case pairs
    // separated by spaces. Nothing without a selection, and nothing when the
    // selection is more than the clipboard may take (HexClipboardLimit).
    void cut(bool hex = false);
    void copy(bool hex = false);
    // Removes the selection, if any, then writes the clipboard's bytes
    // (application/octet-stream) when it holds some, else its text as UTF-8
    // or, with hex, the bytes its hex digits stand for, at the position (at
    // the end when the position lies past it); inserted or overwritten by the
    // cursor's mode. The caret then stands on the byte after the pasted ones.
    // Nothing when the clipboard is empty.
    void paste(bool hex = false);
    void insert(qint64 offset, uchar b);
    void replace(qint64 offset, uchar b);
    void insert(qint64 offset, QByteArray data);
    void replace(qint64 offset, QByteArray data);
    void remove(qint64 offset, int len);
    QByteArray read(qint64 offset, int len);
    // False, writing nothing, when the device is not writable; false too when
    // a write fails or falls short. errorString() then says why.
    bool saveTo(QIODevice* device);
    // Searches from the byte under the cursor (forward) or from the byte
    // before it or before the selection (backward); selects the match on its
    // line and returns its offset, or returns -1 and leaves the cursor.
    qint64 searchForward(QByteArray ba);
    qint64 searchBackward(QByteArray ba);

signals:
    void canUndoChanged(bool canUndo);
    void canRedoChanged(bool canRedo);
    void documentChanged();
    void lineChanged(quint64 line);

private:
    QHexBuffer* m_buffer;
    QHexMetadata* m_metadata;
    QUndoStack m_undostack;
    QHexCursor* m_cursor;
    quint64 m_baseaddress = 0;
    quint8 m_areaspacing = 1;
    quint8 m_bytesperline = 16;
    QString m_errorstring;
    // Typed keys of the same run merge; see typeByte.
    quint64 m_typingrun = 0;
    QElapsedTimer m_lasttyped;
    int m_typingpause = 1000;
};
