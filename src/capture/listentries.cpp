// SPDX-License-Identifier: GPL-2.0-or-later

#include "listentries.h"

#include <limits>

#include <arpa/inet.h>

#include <QLineEdit>

namespace {

// Shown by name in the tooltip; the rest are counted.
constexpr int kNamedEntries = 10;

// Readable on the light and the dark theme alike.
const QString kMarkedStyle = QStringLiteral("QLineEdit { color: #d9363e; }");

bool is_decimal(QStringView text, int max)
{
    if (text.isEmpty() || text.size() > 5 || (text.size() > 1 && text.front() == QLatin1Char('0')))
        return false;
    int value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        value = value * 10 + (c.unicode() - '0');
    }
    return value <= max;
}

bool is_ipv4(QStringView text)
{
    int parts = 0;
    for (QStringView part : text.split(QLatin1Char('.'))) {
        if (++parts > 4 || part.size() > 3 || !is_decimal(part, 255))
            return false;
    }
    return parts == 4;
}

bool is_ipv6(const QString& text)
{
    if (!text.contains(QLatin1Char(':')))
        return false;
    for (const QChar c : text) {
        if (c.unicode() == 0 || c.unicode() > 0x7F)
            return false;
    }
    unsigned char bytes[16];
    return inet_pton(AF_INET6, text.toLatin1().constData(), bytes) == 1;
}

bool usable(const QString& entry, ListKind kind)
{
    if (kind == ListKind::Ports)
        return is_decimal(entry, 65535);
    return is_ipv4(entry) || is_ipv6(entry);
}

} // namespace

QStringList unusable_entries(const QStringList& entries, ListKind kind)
{
    QStringList unusable;
    for (const QString& entry : entries) {
        if (!usable(entry, kind))
            unusable.append(entry);
    }
    return unusable;
}

ListFieldMarker::ListFieldMarker(QLineEdit* field, ListKind kind)
    : QObject(field)
    , m_field(field)
    , m_kind(kind)
{
    // A list of any length is kept whole: the default limit of 32,767
    // characters cut long lists without a word, even inside an entry.
    field->setMaxLength(std::numeric_limits<int>::max());
    connect(field, &QLineEdit::textChanged, this, &ListFieldMarker::update);
    update(field->text());
}

void ListFieldMarker::update(const QString& text)
{
    const QStringList unusable
            = unusable_entries(text.split(QLatin1Char('|'), Qt::KeepEmptyParts), m_kind);
    if (unusable.isEmpty()) {
        m_field->setToolTip(QString());
    } else {
        QStringList named;
        for (const QString& entry : unusable.mid(0, kNamedEntries))
            named.append(QStringLiteral("“%1”").arg(entry));
        QString tip = (m_kind == ListKind::Addresses
                               ? tr("以下条目不是IP地址，不会匹配任何数据包（仍照原样使用）：")
                               : tr("以下条目不是端口号，不会匹配任何数据包（仍照原样使用）："))
                + named.join(QStringLiteral("，"));
        if (unusable.size() > kNamedEntries)
            tip += tr("，共%1项").arg(unusable.size());
        m_field->setToolTip(tip);
    }
    // Only on a change: setting a style sheet restyles the widget.
    const QString style = unusable.isEmpty() ? QString() : kMarkedStyle;
    if (m_field->styleSheet() != style)
        m_field->setStyleSheet(style);
}
