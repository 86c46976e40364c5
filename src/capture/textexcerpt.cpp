// SPDX-License-Identifier: GPL-2.0-or-later

#include "textexcerpt.h"

#include <QStringList>

namespace {

const QChar kReplacement(0xFFFD);
const QChar kEllipsis(0x2026);

// Whether the character would act on a terminal or on the layout rather
// than show: C0 and C1 controls, DEL, line and paragraph separators, and
// format characters (the bidirectional marks and overrides among them).
bool acts(char32_t code)
{
    switch (QChar::category(code)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

QString shown_line(const QString& line, int max_length)
{
    QString shown;
    int length = 0;
    for (int i = 0; i < line.size(); ++i) {
        if (length == max_length) {
            shown += kEllipsis;
            break;
        }
        ++length;
        const QChar c = line.at(i);
        if (c.isHighSurrogate() && i + 1 < line.size() && line.at(i + 1).isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, line.at(i + 1));
            ++i;
            if (acts(code))
                shown += kReplacement;
            else
                shown += QString::fromUcs4(&code, 1);
        } else if (c == QLatin1Char('\t')) {
            shown += QLatin1Char(' ');
        } else {
            shown += acts(c.unicode()) ? kReplacement : c;
        }
    }
    return shown.trimmed();
}

} // namespace

QString text_excerpt(const QString& text, int max_lines, int max_line_length)
{
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    QStringList lines;
    int dropped = 0;
    const QStringList all = unified.split(QLatin1Char('\n'));
    // From the end: only the lines kept are looked at.
    for (int i = all.size() - 1; i >= 0; --i) {
        if (all.at(i).trimmed().isEmpty())
            continue;
        if (lines.size() == max_lines) {
            ++dropped;
            break;
        }
        const QString line = shown_line(all.at(i), max_line_length);
        if (!line.isEmpty())
            lines.prepend(line);
    }
    if (dropped > 0)
        lines.prepend(QString(kEllipsis));
    return lines.join(QLatin1Char('\n'));
}
