// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QStyledItemDelegate>

// Paints the payload's hex text in the packet table. A cell is a few hundred
// pixels wide at most, while the text of a 64 KB payload has 131,072
// characters; eliding all of them on every repaint froze the table. Only
// the characters that can show are handed to the style; the cell's text
// itself (its display role) is left whole.
class HexCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY(HexCellDelegate)

public:
    explicit HexCellDelegate(QObject* parent = nullptr);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
