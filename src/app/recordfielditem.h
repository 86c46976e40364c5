#pragma once

#include <QTableWidgetItem>

class PacketRows;

// One captured cell of a packet table row: it asks the rows for field
// `column()` of its row when it is shown, so that it stores nothing of its
// own. It shows its field centred and cannot be edited by the user; a role
// set on it by code is kept as an ordinary item keeps it and takes
// precedence.
class RecordFieldItem : public QTableWidgetItem
{
public:
    explicit RecordFieldItem(const PacketRows* rows);

    QVariant data(int role) const override;
    QTableWidgetItem* clone() const override;

private:
    const PacketRows* m_rows;
};
