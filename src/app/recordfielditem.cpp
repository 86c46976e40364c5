#include "recordfielditem.h"

#include <QTableWidget>

namespace {

// Field `index` of a "|"-separated line; empty when the line has fewer fields.
QString field(const QString& line, int index)
{
    int from = 0;
    for (int i = 0; i < index; ++i) {
        from = line.indexOf(QLatin1Char('|'), from);
        if (from < 0)
            return QString();
        ++from;
    }
    const int to = line.indexOf(QLatin1Char('|'), from);
    return line.mid(from, to < 0 ? -1 : to - from);
}

} // namespace

RecordFieldItem::RecordFieldItem(const QString& line)
    : m_line(line)
{ }

QVariant RecordFieldItem::data(int role) const
{
    const QVariant own = QTableWidgetItem::data(role);
    if (own.isValid())
        return own;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return field(m_line, qMax(0, column()));
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
