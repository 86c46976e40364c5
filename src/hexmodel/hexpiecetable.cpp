// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexpiecetable.h"

#include <climits>
#include <cstring>

void HexPieceTable::reset(qint64 baseLength)
{
    m_pieces.clear();
    m_added.clear();
    m_length = qMax<qint64>(0, baseLength);
    if (m_length > 0)
        m_pieces.push_back(Piece { false, 0, m_length });
}

size_t HexPieceTable::splitAt(qint64 offset)
{
    qint64 start = 0;
    for (size_t i = 0; i < m_pieces.size(); ++i) {
        Piece& piece = m_pieces[i];
        if (offset == start)
            return i;
        if (offset < start + piece.length) {
            const qint64 head = offset - start;
            const Piece tail { piece.added, piece.source + head, piece.length - head };
            piece.length = head;
            m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(i) + 1, tail);
            return i + 1;
        }
        start += piece.length;
    }
    return m_pieces.size();
}

bool HexPieceTable::insert(qint64 offset, const QByteArray& data)
{
    if (offset < 0 || offset > m_length || data.isEmpty() || m_added.size() > INT_MAX - data.size())
        return false;
    const size_t at = splitAt(offset);
    m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(at),
                    Piece { true, m_added.size(), data.size() });
    m_added.append(data);
    m_length += data.size();
    return true;
}

bool HexPieceTable::remove(qint64 offset, qint64 length)
{
    if (offset < 0 || length <= 0 || offset >= m_length)
        return false;
    const qint64 end = length > m_length - offset ? m_length : offset + length;
    const size_t first = splitAt(offset);
    const size_t last = splitAt(end);
    m_pieces.erase(m_pieces.begin() + static_cast<std::ptrdiff_t>(first),
                   m_pieces.begin() + static_cast<std::ptrdiff_t>(last));
    m_length -= end - offset;
    return true;
}

void HexPieceTable::appendBase(qint64 baseOffset, qint64 length)
{
    if (length <= 0 || baseOffset < 0)
        return;
    m_length += length;
    // A live base grows by many small appends: one piece for all of them while
    // they follow each other.
    if (!m_pieces.empty()) {
        Piece& last = m_pieces.back();
        if (!last.added && last.source + last.length == baseOffset) {
            last.length += length;
            return;
        }
    }
    m_pieces.push_back(Piece { false, baseOffset, length });
}

QByteArray HexPieceTable::read(qint64 offset, int length, const BaseReader& readBase) const
{
    if (offset < 0 || length <= 0 || offset >= m_length)
        return {};
    const qint64 end = qMin(offset + length, m_length);
    QByteArray bytes(static_cast<int>(end - offset), Qt::Uninitialized);
    qint64 filled = 0;
    forEachFrom(offset, [&](const Piece& piece, qint64 start) {
        const qint64 from = qMax(offset, start) - start;
        const qint64 count = qMin(end, start + piece.length) - start - from;
        char* out = bytes.data() + filled;
        if (piece.added) {
            std::memcpy(out, m_added.constData() + piece.source + from, static_cast<size_t>(count));
            filled += count;
        } else {
            const qint64 got = readBase(piece.source + from, out, count);
            filled += qBound<qint64>(0, got, count);
            if (got < count)
                return false;
        }
        return start + piece.length < end;
    });
    bytes.truncate(static_cast<int>(filled));
    return bytes;
}

void HexPieceTable::forEachFrom(
        qint64 offset, const std::function<bool(const Piece& piece, qint64 start)>& visit) const
{
    qint64 start = 0;
    for (const Piece& piece : m_pieces) {
        const qint64 pieceEnd = start + piece.length;
        if (pieceEnd > offset && !visit(piece, start))
            return;
        start = pieceEnd;
    }
}
