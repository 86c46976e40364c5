// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

#include <QVector>

struct QHexMetadataRange;

// Finds the ranges of a vector that overlap a span of bytes, without spreading
// them over lines: a range costs 12 bytes here, whatever its length.
//
// The ranges are kept as their positions in the vector, sorted by begin, in
// the layout of an implicit binary search tree (a node of level k sits at a
// position whose k lowest bits are set) whose every node also holds the
// largest end in its subtree. A query thus skips every subtree that ends
// before the span: O(log n + k) for k ranges found, also when long ranges
// contain others. Appending a range that begins at or after the last begin
// costs O(log n); one that begins earlier leaves the order to be restored by
// the next query (sort of the late ones, merge, rebuild of the ends).
class HexRangeIndex
{
    Q_DISABLE_COPY(HexRangeIndex)

public:
    // Reads begin and end from the vector, which must outlive the index and
    // keep every range added, unchanged but by shifted(), until clear().
    explicit HexRangeIndex(const QVector<QHexMetadataRange>& ranges);

    // Takes in the range at position id of the vector. Ranges whose begin is
    // not below their end cover no byte and should be left out.
    void add(int id);
    void clear();
    // The ranges' begins and ends were moved by a map that keeps their order
    // (bytes inserted or removed): the order stands, the ranges that
    // `covers` no longer holds for leave, and the largest ends are taken
    // anew. O(n), where adding every range again would cost O(n log n).
    void shifted(const std::function<bool(const QHexMetadataRange&)>& covers);
    // The positions of the ranges that share a byte with [from, to), in
    // increasing order.
    QVector<int> overlapping(qint64 from, qint64 to) const;

private:
    void appendNode(int id) const;
    void restoreOrder() const;
    void collect(int node, int level, qint64 from, qint64 to, QVector<int>* found) const;

    const QVector<QHexMetadataRange>& m_ranges;
    // Mutable: a query restores the order that out-of-order additions broke.
    mutable QVector<int> m_order; // positions in m_ranges, by begin
    mutable QVector<qint64> m_maxEnd; // per node of the tree over m_order
    mutable int m_sorted = 0; // m_order[0, m_sorted) is in order and in the tree
};
