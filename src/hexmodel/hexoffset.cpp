// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexoffset.h"

#include <cctype>

HexOffsetEntry HexOffsetEntry::parse(const QString& text, qint64 current, qint64 length)
{
    QString digits = text.trimmed();
    int sign = 0;
    if (digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-'))) {
        sign = digits.at(0) == QLatin1Char('+') ? 1 : -1;
        digits = digits.mid(1);
    }
    int base = 10;
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        digits = digits.mid(2);
    }
    // toULongLong would take signs and spaces inside; only digits may follow.
    for (const QChar c : qAsConst(digits)) {
        const bool digit = base == 16 ? isxdigit(c.toLatin1()) != 0 : c.isDigit();
        if (!digit || c.unicode() > 0x7F)
            return {};
    }
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, base);
    if (!ok)
        return {};

    HexOffsetEntry entry;
    entry.error = HexOffsetEntry::OutOfRange;
    const auto limit = static_cast<qulonglong>(qMax<qint64>(0, length));
    qulonglong target = value;
    if (sign > 0) {
        target = static_cast<qulonglong>(current) + value;
        if (value > limit || target > limit)
            return entry;
    } else if (sign < 0) {
        if (value > static_cast<qulonglong>(current))
            return entry;
        target = static_cast<qulonglong>(current) - value;
    }
    if (target > limit)
        return entry;
    entry.error = HexOffsetEntry::None;
    entry.offset = static_cast<qint64>(target);
    return entry;
}
