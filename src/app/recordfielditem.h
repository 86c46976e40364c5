#pragma once

#include <QString>
#include <QTableWidgetItem>

// One cell of a packet table row: field `column()` of the record line, which
// the row's eight cells share (one implicitly shared text, no copy per field).
// It shows its field centred; an edit by the user, or any other role set on
// it, is kept as an ordinary item keeps it and takes precedence.
//
// Nothing but the shared line is stored per cell: a million rows stay within
// a kilobyte each beyond their text.
class RecordFieldItem : public QTableWidgetItem
{
public:
    explicit RecordFieldItem(const QString& line);

    QVariant data(int role) const override;
    QTableWidgetItem* clone() const override;

private:
    QString m_line;
};
