// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstddef>

#include <QTableWidgetItem>

// One captured cell of a packet table row: it asks its table's PacketRows
// for field `column()` of its row when it is shown (the "备注" column's
// cell asks its MarksColumn for the row's marks, and every cell of a marked
// row its colours), so that it stores nothing of its own. It shows its
// field centred and cannot be edited by the user; a role set on it by code
// is kept as an ordinary item keeps it and takes precedence.
class RecordFieldItem : public QTableWidgetItem
{
public:
    RecordFieldItem();

    QVariant data(int role) const override;
    QTableWidgetItem* clone() const override;

    // Cells come and go by the million: they live in large blocks of their
    // own that go back to the system as soon as the last cell is gone,
    // instead of one heap allocation each. Interface thread only.
    static void* operator new(std::size_t size);
    static void operator delete(void* cell, std::size_t size);
};
