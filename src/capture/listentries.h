// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QObject>
#include <QStringList>

class QLineEdit;

// What a filter list holds: addresses are compared with the address fields
// of a record line, ports with its port fields.
enum class ListKind { Addresses, Ports };

// The entries of a list that can never match a field of its kind, in list
// order: for addresses, anything but dotted-decimal IPv4 as the record line
// prints it (no leading zeros) or text that parses as an IPv6 address; for
// ports, anything but a decimal 0 to 65535 without leading zeros. Blanks
// count ("80 " is no port), and so does an empty entry.
[[nodiscard]] QStringList unusable_entries(const QStringList& entries, ListKind kind);

// Watches one list field of the filter form: lifts the line edit's length
// limit (a long list is never cut) and, while the text holds entries that
// can never match, colours the text and names them in the tooltip. The
// entries are still used as typed. Owned by the field.
class ListFieldMarker : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ListFieldMarker)

public:
    ListFieldMarker(QLineEdit* field, ListKind kind);

private:
    void update(const QString& text);

    QLineEdit* m_field;
    ListKind m_kind;
};
