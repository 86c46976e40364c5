// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>
#include <vector>

#include <QByteArray>

// The edits of a byte store, kept in memory as a list of pieces: ranges of
// the store's unedited bytes (its "base", which the store reads itself, by
// base offset) and ranges of the bytes that edits added, which are kept here.
// The base is never written. Offsets and lengths are bytes; the table holds
// at most 2^31 - 1 added bytes (an insert beyond that changes nothing).
class HexPieceTable
{
public:
    struct Piece
    {
        bool added; // from the added bytes, else from the base
        qint64 source; // offset in the added bytes or in the base
        qint64 length;
    };

    // Copies base bytes [offset, offset + count) to `out`; returns how many it
    // copied, fewer than `count` only when the base could not yield them.
    using BaseReader = std::function<qint64(qint64 offset, char* out, qint64 count)>;

    // Forgets every edit and the added bytes: base bytes [0, baseLength).
    void reset(qint64 baseLength);
    qint64 length() const { return m_length; }

    // False, changing nothing, for an offset outside [0, length()], empty
    // data or a full table.
    bool insert(qint64 offset, const QByteArray& data);
    // Removes [offset, offset + length), cut at the end; false, changing
    // nothing, when the range holds no byte.
    bool remove(qint64 offset, qint64 length);
    // Places base bytes [baseOffset, baseOffset + length) after the last byte,
    // whatever was edited before: a base that grows at its end shows up at the
    // end, and no byte already there moves.
    void appendBase(qint64 baseOffset, qint64 length);

    // Bytes [offset, offset + length), cut at the end; empty outside
    // [0, length()) or for length <= 0. A base read that falls short ends the
    // result there.
    QByteArray read(qint64 offset, int length, const BaseReader& readBase) const;

    // Calls visit(piece, start) for each piece that ends after `offset`, in
    // order, with the store offset where the piece starts, until it returns
    // false.
    void forEachFrom(qint64 offset,
                     const std::function<bool(const Piece& piece, qint64 start)>& visit) const;

private:
    // Splits the piece holding `offset` so that a piece begins there, and
    // returns that piece's index (m_pieces.size() at the end).
    size_t splitAt(qint64 offset);

    std::vector<Piece> m_pieces;
    QByteArray m_added;
    qint64 m_length = 0;
};
