// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexcelldelegate.h"

namespace {

// More characters than the widest cell shows in the narrowest font: the
// style still elides what does not fit.
constexpr int kShownCharacters = 1024;

} // namespace

HexCellDelegate::HexCellDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{ }

void HexCellDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (option->text.size() > kShownCharacters)
        option->text = option->text.left(kShownCharacters) + QChar(0x2026); // …
}
