// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QByteArray>
#include <QUndoCommand>

#include "qhexmetadata.h"

class QHexBuffer;

// An edit of a document's buffer, pushed onto its undo stack. redo() applies
// it (the stack calls it on push), undo() restores exactly the bytes and the
// length the buffer had before, whatever the edit's bounds were (bytes that
// a growing buffer gained at its end meanwhile aside).
//
// With annotations given, an insert or a remove moves them with the bytes
// (QHexMetadata::insertBytes, removeBytes), and undo() puts them back as
// they were; an overwrite leaves them.
//
// Only typing merges: a command made for one typed key merges with the
// typed command before it of the same run when it continues it: an insert
// or overwrite right after the bytes that one wrote, or an overwrite inside
// them (the second hex digit of a byte). The merged command is one undo
// step that writes them all.
class HexCommand : public QUndoCommand
{
public:
    explicit HexCommand(QHexBuffer* buffer, QUndoCommand* parent = nullptr);

    // The annotations that move with the bytes; none unless set (not owned).
    void setMetadata(QHexMetadata* metadata) { m_metadata = metadata; }
    // Marks the command as one typed key of typing run `run` (see above).
    void setTypingRun(quint64 run);
    int id() const override;
    bool mergeWith(const QUndoCommand* other) override;

protected:
    QHexBuffer* m_buffer; // not owned
    qint64 m_offset = 0;
    int m_length = 0;
    QByteArray m_data;
    // How much the last redo() lengthened the buffer. What it added beyond
    // the edit's own bytes is the padding of an edit past the end, which lies
    // right before the offset: undo() takes out exactly that, so that bytes a
    // growing buffer gained at its end since the edit stay.
    qint64 m_grown = 0;
    // The bytes an overwrite replaced, saved by its redo().
    QByteArray m_olddata;
    QHexMetadata* m_metadata = nullptr;
    // Where a remove cut annotations, for its undo.
    QHexMetadataCut m_cut;
    bool m_typed = false;
    quint64 m_run = 0;
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
};
