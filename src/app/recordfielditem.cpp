#include "recordfielditem.h"

#include "packetrows.h"

RecordFieldItem::RecordFieldItem(const PacketRows* rows)
    : m_rows(rows)
{
    // What was captured stays as captured.
    setFlags(flags() & ~Qt::ItemIsEditable);
}

QVariant RecordFieldItem::data(int role) const
{
    const QVariant own = QTableWidgetItem::data(role);
    if (own.isValid())
        return own;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return m_rows->field(row(), column());
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    default:
        return own;
    }
}

QTableWidgetItem* RecordFieldItem::clone() const
{
    return new RecordFieldItem(*this);
}
