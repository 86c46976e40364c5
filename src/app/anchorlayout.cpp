// SPDX-License-Identifier: GPL-2.0-or-later

#include "anchorlayout.h"

#include <algorithm>
#include <cmath>

#include <QWidget>

namespace {

// The least room left between two widgets that the form spaced wider.
constexpr int kLeastGap = 6;

// The least a widget may shrink to along one axis: what it says it needs,
// never more than the form gave it.
int least_extent(QLayoutItem& item, Qt::Orientation orientation, int design)
{
    const QWidget* widget = item.widget();
    QSize least = widget != nullptr ? widget->minimumSize() : item.minimumSize();
    if (widget != nullptr) {
        const QSize hint = widget->minimumSizeHint();
        if (least.width() <= 0)
            least.setWidth(std::max(0, hint.width()));
        if (least.height() <= 0)
            least.setHeight(std::max(0, hint.height()));
    }
    return std::min(design, orientation == Qt::Horizontal ? least.width() : least.height());
}

// The most a design size may shrink (a value <= 0) when an extent of `length`
// pixels changes by `share` per pixel and must stay at least `least` long.
double shrink_limit(int length, qreal share, int least)
{
    if (share <= 0 || least >= length)
        return share <= 0 ? -INFINITY : 0;
    return (least - length) / share;
}

} // namespace

AnchorLayout::AnchorLayout(QWidget* parent, QSize design)
    : QLayout(parent)
    , m_design(design)
{
    setContentsMargins(0, 0, 0, 0);
}

AnchorLayout::~AnchorLayout()
{
    for (const Entry& entry : m_entries)
        delete entry.item;
}

void AnchorLayout::addWidget(QWidget* widget, Shares shares)
{
    const QRect design = widget->geometry();
    addChildWidget(widget);
    m_entries.push_back({ new QWidgetItem(widget), design, shares });
    invalidate();
}

void AnchorLayout::addItem(QLayoutItem* item)
{
    m_entries.push_back({ item, item->geometry(), Shares() });
    invalidate();
}

QLayoutItem* AnchorLayout::itemAt(int index) const
{
    return index >= 0 && index < count() ? m_entries[static_cast<std::size_t>(index)].item
                                         : nullptr;
}

QLayoutItem* AnchorLayout::takeAt(int index)
{
    if (index < 0 || index >= count())
        return nullptr;
    const auto at = m_entries.begin() + index;
    QLayoutItem* item = at->item;
    m_entries.erase(at);
    invalidate();
    return item;
}

int AnchorLayout::count() const
{
    return static_cast<int>(m_entries.size());
}

QSize AnchorLayout::sizeHint() const
{
    return m_design;
}

QSize AnchorLayout::minimumSize() const
{
    // How far below the design size each axis may go, as a negative number;
    // at most all of it.
    double width = -m_design.width();
    double height = -m_design.height();
    for (const Entry& entry : m_entries) {
        const QRect& r = entry.design;
        const Shares& s = entry.shares;
        width = std::max(width,
                         shrink_limit(r.width(), s.right - s.left,
                                      least_extent(*entry.item, Qt::Horizontal, r.width())));
        height = std::max(height,
                          shrink_limit(r.height(), s.bottom - s.top,
                                       least_extent(*entry.item, Qt::Vertical, r.height())));
        // Neighbours that the shrinking moves closer together.
        for (const Entry& other : m_entries) {
            const QRect& o = other.design;
            const Shares& t = other.shares;
            const bool sideBySide = r.top() <= o.bottom() && o.top() <= r.bottom();
            const bool stacked = r.left() <= o.right() && o.left() <= r.right();
            if (sideBySide && r.right() < o.left()) {
                const int gap = o.left() - r.right() - 1;
                width = std::max(width,
                                 shrink_limit(gap, t.left - s.right, std::min(gap, kLeastGap)));
            }
            if (stacked && r.bottom() < o.top()) {
                const int gap = o.top() - r.bottom() - 1;
                height = std::max(height,
                                  shrink_limit(gap, t.top - s.bottom, std::min(gap, kLeastGap)));
            }
        }
    }
    return m_design
            + QSize(static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height)));
}

QSize AnchorLayout::maximumSize() const
{
    return QSize(QLAYOUTSIZE_MAX, QLAYOUTSIZE_MAX);
}

Qt::Orientations AnchorLayout::expandingDirections() const
{
    return Qt::Horizontal | Qt::Vertical;
}

void AnchorLayout::setGeometry(const QRect& rect)
{
    QLayout::setGeometry(rect);
    const QSize extra = rect.size() - m_design;
    for (const Entry& entry : m_entries) {
        const QRect placed = place(entry, rect.topLeft(), extra);
        // Straight to the widget: a layout item would bend the rectangle to
        // the widget's size hint where its size policy is fixed.
        if (QWidget* widget = entry.item->widget())
            widget->setGeometry(placed);
        else
            entry.item->setGeometry(placed);
    }
}

QRect AnchorLayout::place(const Entry& entry, QPoint origin, QSize extra) const
{
    const QRect& r = entry.design;
    const Shares& s = entry.shares;
    const auto moved = [](int edge, qreal share, int by) { return edge + qRound(share * by); };
    const int left = moved(r.left(), s.left, extra.width());
    const int right = moved(r.left() + r.width(), s.right, extra.width());
    const int top = moved(r.top(), s.top, extra.height());
    const int bottom = moved(r.top() + r.height(), s.bottom, extra.height());
    return QRect(origin.x() + left, origin.y() + top, std::max(0, right - left),
                 std::max(0, bottom - top));
}
