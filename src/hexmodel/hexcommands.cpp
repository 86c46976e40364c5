// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexcommands.h"

#include <climits>

#include "qhexbuffer.h"

namespace {

// Takes out the padding that an edit past the old end put right before
// `offset`: `excess` bytes, if any.
void removePadding(QHexBuffer& buffer, qint64 offset, qint64 excess)
{
    if (excess > 0)
        buffer.remove(offset - excess, static_cast<int>(qMin<qint64>(excess, INT_MAX)));
}

} // namespace

HexCommand::HexCommand(QHexBuffer* buffer, QUndoCommand* parent)
    : QUndoCommand(parent)
    , m_buffer(buffer)
{ }

InsertCommand::InsertCommand(QHexBuffer* buffer, qint64 offset, const QByteArray& data,
                             QUndoCommand* parent)
    : HexCommand(buffer, parent)
{
    m_offset = offset;
    m_data = data;
}

void InsertCommand::undo()
{
    if (m_grown <= 0)
        return; // the insert changed nothing
    m_buffer->remove(m_offset, m_data.length());
    removePadding(*m_buffer, m_offset, m_grown - m_data.length());
}

void InsertCommand::redo()
{
    const qint64 before = m_buffer->length();
    m_buffer->insert(m_offset, m_data);
    m_grown = m_buffer->length() - before;
}

RemoveCommand::RemoveCommand(QHexBuffer* buffer, qint64 offset, int length, QUndoCommand* parent)
    : HexCommand(buffer, parent)
{
    m_offset = offset;
    m_length = length;
}

void RemoveCommand::undo()
{
    m_buffer->insert(m_offset, m_data);
}

void RemoveCommand::redo()
{
    // Save exactly what the removal takes out: nothing for an empty range or
    // one that starts outside the data.
    const bool removes = m_length > 0 && m_offset >= 0 && m_offset < m_buffer->length();
    m_data = removes ? m_buffer->read(m_offset, m_length) : QByteArray();
    m_buffer->remove(m_offset, m_length);
}

ReplaceCommand::ReplaceCommand(QHexBuffer* buffer, qint64 offset, const QByteArray& data,
                               QUndoCommand* parent)
    : HexCommand(buffer, parent)
{
    m_offset = offset;
    m_data = data;
}

void ReplaceCommand::undo()
{
    // Take out the whole new run, even where it grew the buffer, then put the
    // old bytes back.
    m_buffer->remove(m_offset, m_data.length());
    m_buffer->insert(m_offset, m_olddata);
    removePadding(*m_buffer, m_offset, m_grown - m_data.length() + m_olddata.length());
}

void ReplaceCommand::redo()
{
    const qint64 before = m_buffer->length();
    const bool overwrites = m_offset >= 0 && m_offset < before;
    m_olddata = overwrites ? m_buffer->read(m_offset, m_data.length()) : QByteArray();
    m_buffer->replace(m_offset, m_data);
    m_grown = m_buffer->length() - before;
}
