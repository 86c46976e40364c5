// SPDX-License-Identifier: GPL-2.0-or-later

#include "popupwidth.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace {

// Follows the box's entries and look; a child of the box.
class PopupWidth : public QObject
{
public:
    explicit PopupWidth(QComboBox& box)
        : QObject(&box)
        , m_box(box)
    {
        box.installEventFilter(this);
        QAbstractItemModel* model = box.model();
        for (const auto signal :
             { &QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved })
            connect(model, signal, this, &PopupWidth::fit);
        connect(model, &QAbstractItemModel::dataChanged, this, &PopupWidth::fit);
        connect(model, &QAbstractItemModel::modelReset, this, &PopupWidth::fit);
        fit();
    }

    void fit()
    {
        QAbstractItemView* view = m_box.view();
        // The widest entry as the list draws it: the delegate of a styled
        // box takes the size it is given as the text's and adds its
        // margins and mark (the view's own measure looks at the rows in
        // sight only, none while hidden); then the list's frame and, for a
        // list that scrolls, its scroll bar.
        QStyleOptionViewItem option;
        option.initFrom(view);
        option.font = view->font();
        const QFontMetrics metrics(view->font());
        int widest = 0;
        for (int row = 0; row < m_box.count(); ++row) {
            option.rect
                    = QRect(0, 0, metrics.horizontalAdvance(m_box.itemText(row)), metrics.height());
            const QModelIndex index = m_box.model()->index(row, m_box.modelColumn());
            widest = qMax(widest, view->itemDelegate()->sizeHint(option, index).width());
        }
        int width = widest + 2 * view->frameWidth();
        if (m_box.count() > m_box.maxVisibleItems())
            width += view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
        view->setMinimumWidth(width);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::StyleChange || type == QEvent::FontChange || type == QEvent::Polish)
            fit();
        return QObject::eventFilter(watched, event);
    }

private:
    QComboBox& m_box;
};

} // namespace

void fitPopupToEntries(QComboBox& box)
{
    new PopupWidth(box); // a child of the box
}
