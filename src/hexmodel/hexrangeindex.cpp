// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexrangeindex.h"

#include <algorithm>

#include "qhexmetadata.h"

namespace {

// The level of a node: the number of its position's lowest set bits.
int levelOf(qint64 position)
{
    int level = 0;
    while ((position >> level & 1) != 0)
        ++level;
    return level;
}

} // namespace

HexRangeIndex::HexRangeIndex(const QVector<QHexMetadataRange>& ranges)
    : m_ranges(ranges)
{ }

void HexRangeIndex::add(int id)
{
    const bool inOrder = m_sorted == m_order.size()
            && (m_sorted == 0 || m_ranges.at(m_order.constLast()).begin <= m_ranges.at(id).begin);
    m_order.append(id);
    if (inOrder)
        appendNode(m_sorted++);
}

void HexRangeIndex::clear()
{
    m_order.clear();
    m_maxEnd.clear();
    m_sorted = 0;
}

QVector<int> HexRangeIndex::overlapping(qint64 from, qint64 to) const
{
    QVector<int> found;
    if (m_order.isEmpty() || from >= to)
        return found;
    restoreOrder();
    // The root's subtree, [0, 2^(level + 1) - 1), must hold every position.
    int level = 0;
    while ((Q_INT64_C(2) << level) - 1 < m_order.size())
        ++level;
    collect((1 << level) - 1, level, from, to, &found);
    std::sort(found.begin(), found.end());
    return found;
}

// Puts the range at m_order[position] into the tree; every position before
// it must be in already. Its node takes the largest end of its left subtree
// (complete, since it lies before it), and every ancestor already present
// takes its end.
void HexRangeIndex::appendNode(int position) const
{
    const qint64 end = m_ranges.at(m_order.at(position)).end;
    if (m_maxEnd.size() <= position)
        m_maxEnd.resize(position + 1);
    const int level = levelOf(position);
    qint64 maxEnd = end;
    if (level > 0)
        maxEnd = std::max(maxEnd, m_maxEnd.at(position - (1 << (level - 1))));
    m_maxEnd[position] = maxEnd;
    for (int up = level + 1; (Q_INT64_C(1) << up) - 1 <= position; ++up) {
        const qint64 ancestor
                = (qint64(position) >> (up + 1) << (up + 1)) + (Q_INT64_C(1) << up) - 1;
        if (ancestor < position)
            m_maxEnd[static_cast<int>(ancestor)]
                    = std::max(m_maxEnd.at(static_cast<int>(ancestor)), end);
    }
}

void HexRangeIndex::restoreOrder() const
{
    if (m_sorted == m_order.size())
        return;
    const auto before = [this](int a, int b) {
        const qint64 beginA = m_ranges.at(a).begin;
        const qint64 beginB = m_ranges.at(b).begin;
        return beginA < beginB || (beginA == beginB && a < b);
    };
    std::sort(m_order.begin() + m_sorted, m_order.end(), before);
    std::inplace_merge(m_order.begin(), m_order.begin() + m_sorted, m_order.end(), before);
    m_maxEnd.resize(m_order.size());
    for (m_sorted = 0; m_sorted < m_order.size(); ++m_sorted)
        appendNode(m_sorted);
}

// In order of begin, so that a node that begins at or after `to` ends the
// walk to its right.
void HexRangeIndex::collect(int node, int level, qint64 from, qint64 to, QVector<int>* found) const
{
    const int count = m_order.size();
    if (node < count && m_maxEnd.at(node) <= from)
        return; // nothing below reaches the span
    if (level > 0)
        collect(node - (1 << (level - 1)), level - 1, from, to, found);
    if (node >= count)
        return; // so is everything to its right
    const QHexMetadataRange& range = m_ranges.at(m_order.at(node));
    if (range.begin >= to)
        return;
    if (range.end > from)
        found->append(m_order.at(node));
    if (level > 0)
        collect(node + (1 << (level - 1)), level - 1, from, to, found);
}
