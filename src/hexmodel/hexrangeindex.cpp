// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexrangeindex.h"

#include <algorithm>
#include <limits>

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

void HexRangeIndex::shifted(const std::function<bool(const QHexMetadataRange&)>& covers)
{
    // Those that leave, from the ordered part and from the late ones alike.
    int sorted = 0;
    int kept = 0;
    for (int position = 0; position < m_order.size(); ++position) {
        const int id = m_order.at(position);
        if (!covers(m_ranges.at(id)))
            continue;
        m_order[kept++] = id;
        if (position < m_sorted)
            ++sorted;
    }
    m_order.resize(kept);
    m_sorted = sorted;
    m_maxEnd.resize(m_sorted);
    // Level by level from the leaves: a node takes its own end and its
    // children's largest. A child past the ordered part is no node; what
    // of its subtree is inside lies down its left side.
    constexpr qint64 kNone = std::numeric_limits<qint64>::min();
    const auto subtree = [this](qint64 node, int level) {
        while (node >= m_sorted) {
            if (level == 0)
                return kNone;
            node -= Q_INT64_C(1) << --level;
        }
        return m_maxEnd.at(static_cast<int>(node));
    };
    for (int level = 0; (Q_INT64_C(1) << level) - 1 < m_sorted; ++level) {
        const qint64 step = Q_INT64_C(2) << level;
        for (qint64 node = (Q_INT64_C(1) << level) - 1; node < m_sorted; node += step) {
            qint64 maxEnd = m_ranges.at(m_order.at(static_cast<int>(node))).end;
            if (level > 0) {
                const qint64 half = Q_INT64_C(1) << (level - 1);
                maxEnd = std::max({ maxEnd, subtree(node - half, level - 1),
                                    subtree(node + half, level - 1) });
            }
            m_maxEnd[static_cast<int>(node)] = maxEnd;
        }
    }
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
    // By begin alone: ranges that begin alike may lie in any order (moved
    // ranges come to share a begin), and the merge keeps the ordered part's.
    const auto before
            = [this](int a, int b) { return m_ranges.at(a).begin < m_ranges.at(b).begin; };
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
