// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <vector>

#include <QLayout>
#include <QRect>
#include <QSize>

// Lays widgets out where a form placed them for one size of their parent,
// the design size, and moves their edges by set shares of the width and
// height the parent has more (or less) than that: a share of 0 keeps an
// edge where the form put it, relative to the parent's top left corner; 1
// moves it with the parent's right or bottom edge; 0.5 half as far. At the
// design size every widget therefore has its form geometry exactly.
//
// The smallest size is the one at which a stretched widget would become
// smaller than it can be (its minimum size, or else its minimum size hint,
// but never more than the form's size), or at which two widgets side by
// side, or one above the other, would come closer than a few pixels (or
// than the form has them, if closer). There is no largest size.
class AnchorLayout : public QLayout
{
    Q_OBJECT
    Q_DISABLE_COPY(AnchorLayout)

public:
    // How far each edge moves, per pixel of extra width (left, right) or
    // height (top, bottom); each from 0 to 1, the first edge's no greater
    // than the second's.
    struct Shares
    {
        qreal left = 0;
        qreal right = 0;
        qreal top = 0;
        qreal bottom = 0;
    };

    // Installs itself on parent, whose widgets are laid out for design.
    AnchorLayout(QWidget* parent, QSize design);
    ~AnchorLayout() override;

    // Takes the widget, a child of the parent, with its geometry now as its
    // place at the design size.
    void addWidget(QWidget* widget, Shares shares);

    void addItem(QLayoutItem* item) override; // with shares of 0
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    QSize maximumSize() const override;
    Qt::Orientations expandingDirections() const override;
    void setGeometry(const QRect& rect) override;

private:
    struct Entry
    {
        QLayoutItem* item;
        QRect design;
        Shares shares;
    };
    QRect place(const Entry& entry, QPoint origin, QSize extra) const;

    QSize m_design;
    std::vector<Entry> m_entries;
};
