// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexcommands.h"

#include <climits>

#include "qhexbuffer.h"

namespace {

// The id of typed commands; every other command has -1 and never merges.
constexpr int kTypingId = 0x6865;

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

void HexCommand::setTypingRun(quint64 run)
{
    m_typed = true;
    m_run = run;
}

int HexCommand::id() const
{
    return m_typed ? kTypingId : -1;
}

bool HexCommand::mergeWith(const QUndoCommand* other)
{
    const auto* next = dynamic_cast<const HexCommand*>(other);
    if (next == nullptr || !m_typed || !next->m_typed || next->m_run != m_run
        || next->m_grown != next->m_data.length() - next->m_olddata.length())
        return false; // an edit past the end padded the buffer
    const bool inserts = dynamic_cast<const InsertCommand*>(this) != nullptr;
    const bool nextInserts = dynamic_cast<const InsertCommand*>(next) != nullptr;
    const bool nextReplaces = dynamic_cast<const ReplaceCommand*>(next) != nullptr;
    const qint64 end = m_offset + m_data.length();
    const qint64 at = next->m_offset - m_offset; // where in the written bytes
    if (nextInserts && next->m_offset == end) {
        // An insert after an overwrite happens only at the end of the data,
        // where an overwrite grows the buffer all the same.
        m_data += next->m_data;
    } else if (nextReplaces && at >= 0 && next->m_offset <= end
               && (!inserts || next->m_offset + next->m_data.length() <= end)) {
        // Over the bytes written, and for an overwrite on past them: what it
        // overwrote beyond them is this step's to restore too.
        const qint64 beyond = next->m_offset + next->m_olddata.length() - end;
        if (beyond > 0)
            m_olddata += next->m_olddata.right(static_cast<int>(beyond));
        m_data = m_data.left(static_cast<int>(at)) + next->m_data
                + m_data.mid(static_cast<int>(at + next->m_data.length()));
    } else {
        return false;
    }
    m_grown += next->m_grown;
    return true;
}

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
    const qint64 padding = m_grown - m_data.length();
    removePadding(*m_buffer, m_offset, padding);
    // The exact inverse of the move: nothing lies inside the inserted bytes.
    if (m_metadata != nullptr)
        static_cast<void>(m_metadata->removeBytes(m_offset - padding, m_grown));
}

void InsertCommand::redo()
{
    const qint64 before = m_buffer->length();
    m_buffer->insert(m_offset, m_data);
    m_grown = m_buffer->length() - before;
    // The padding of an insert past the end comes before the data.
    if (m_metadata != nullptr && m_grown > 0)
        m_metadata->insertBytes(m_offset - (m_grown - m_data.length()), m_grown);
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
    if (m_metadata != nullptr && !m_data.isEmpty()) {
        m_metadata->insertBytes(m_offset, m_data.length());
        m_metadata->restoreCut(m_cut);
    }
}

void RemoveCommand::redo()
{
    // Save exactly what the removal takes out: nothing for an empty range or
    // one that starts outside the data.
    const bool removes = m_length > 0 && m_offset >= 0 && m_offset < m_buffer->length();
    m_data = removes ? m_buffer->read(m_offset, m_length) : QByteArray();
    m_buffer->remove(m_offset, m_length);
    if (m_metadata != nullptr && !m_data.isEmpty())
        m_cut = m_metadata->removeBytes(m_offset, m_data.length());
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
    const qint64 padding = m_grown - m_data.length() + m_olddata.length();
    removePadding(*m_buffer, m_offset, padding);
    if (m_metadata != nullptr && m_grown > 0)
        static_cast<void>(
                m_metadata->removeBytes(m_offset + m_olddata.length() - padding, m_grown));
}

void ReplaceCommand::redo()
{
    const qint64 before = m_buffer->length();
    const bool overwrites = m_offset >= 0 && m_offset < before;
    m_olddata = overwrites ? m_buffer->read(m_offset, m_data.length()) : QByteArray();
    m_buffer->replace(m_offset, m_data);
    m_grown = m_buffer->length() - before;
    // What it wrote past the old end (and the padding before it, if any) is
    // an insert there: annotations beyond the end move as for one.
    if (m_metadata != nullptr && m_grown > 0)
        m_metadata->insertBytes(before, m_grown);
}
