// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexcommands.h"

#include <climits>

#include "qhexbuffer.h"

namespace {

// Cuts off what an edit past the old end left behind (the spaces an insert
// beyond the end pads with), so that undo gives back the old length.
void restoreLength(QHexBuffer& buffer, qint64 lengthBefore)
{
    const qint64 excess = buffer.length() - lengthBefore;
    if (excess > 0)
        buffer.remove(lengthBefore, static_cast<int>(qMin<qint64>(excess, INT_MAX)));
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
    m_buffer->remove(m_offset, m_data.length());
    restoreLength(*m_buffer, m_lengthBefore);
}

void InsertCommand::redo()
{
    m_lengthBefore = m_buffer->length();
    m_buffer->insert(m_offset, m_data);
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
    m_lengthBefore = m_buffer->length();
    // Save exactly what the removal takes out: nothing for an empty range or
    // one that starts outside the data.
    const bool removes = m_length > 0 && m_offset >= 0 && m_offset < m_lengthBefore;
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
    restoreLength(*m_buffer, m_lengthBefore);
}

void ReplaceCommand::redo()
{
    m_lengthBefore = m_buffer->length();
    const bool overwrites = m_offset >= 0 && m_offset < m_lengthBefore;
    m_olddata = overwrites ? m_buffer->read(m_offset, m_data.length()) : QByteArray();
    m_buffer->replace(m_offset, m_data);
}
