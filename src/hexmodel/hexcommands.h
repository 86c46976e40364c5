// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QByteArray>
#include <QUndoCommand>

class QHexBuffer;

// An edit of a document's buffer, pushed onto its undo stack. redo() applies
// it (the stack calls it on push), undo() restores exactly the bytes and the
// length the buffer had before, whatever the edit's bounds were. Commands
// never merge.
class HexCommand : public QUndoCommand
{
public:
    explicit HexCommand(QHexBuffer* buffer, QUndoCommand* parent = nullptr);

protected:
    QHexBuffer* m_buffer; // not owned
    qint64 m_offset = 0;
    int m_length = 0;
    QByteArray m_data;
    // The buffer's length before the last redo(); undo() cuts back to it what
    // an edit past the end added (the padding of an insert beyond the end).
    qint64 m_lengthBefore = 0;
};

// Inserts data at offset.
class InsertCommand : public HexCommand
{
public:
    InsertCommand(QHexBuffer* buffer, qint64 offset, const QByteArray& data,
                  QUndoCommand* parent = nullptr);
    void undo() override;
    void redo() override;
};

// Removes length bytes at offset (fewer at the end); redo saves them.
class RemoveCommand : public HexCommand
{
public:
    RemoveCommand(QHexBuffer* buffer, qint64 offset, int length, QUndoCommand* parent = nullptr);
    void undo() override;
    void redo() override;
};

// Overwrites from offset with data, growing the buffer when it runs past the
// end; redo saves the bytes it overwrites.
class ReplaceCommand : public HexCommand
{
public:
    ReplaceCommand(QHexBuffer* buffer, qint64 offset, const QByteArray& data,
                   QUndoCommand* parent = nullptr);
    void undo() override;
    void redo() override;

private:
    QByteArray m_olddata;
};
