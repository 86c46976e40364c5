// SPDX-License-Identifier: GPL-2.0-or-later

#include "markscolumn.h"

#include <algorithm>

#include <QCoreApplication>
#include <QHash>
#include <QPalette>
#include <QSignalBlocker>
#include <QStringList>
#include <QTableWidget>

#include "recordfielditem.h"
#include "tcpanalysis.h"

namespace {

// Background and text of a marked row, in the light and the dark theme:
// amber for loss, retransmission and the other troubles, red for a reset.
// Each pair keeps a contrast of more than 7:1.
const QColor kTroubleLight(0xFF, 0xE0, 0xA3);
const QColor kResetLight(0xF6, 0xC1, 0xC1);
const QColor kTextLight(0x1A, 0x1A, 0x1A);
const QColor kTroubleDark(0x5C, 0x43, 0x00);
const QColor kResetDark(0x6E, 0x1B, 0x1B);
const QColor kTextDark(0xF2, 0xF2, 0xF2);

QHash<const QTableWidget*, const MarksColumn*>& registry()
{
    static QHash<const QTableWidget*, const MarksColumn*> columns;
    return columns;
}

} // namespace

MarksColumn::MarksColumn(QTableWidget* table, const TcpAnalysis& analysis)
    : QObject(table)
    , m_table(table)
    , m_analysis(analysis)
{
    registry().insert(table, this);
    // Room for the longest single mark; a remembered width comes later.
    table->setColumnWidth(
            kColumn,
            std::max(table->columnWidth(kColumn),
                     table->fontMetrics().horizontalAdvance(text(TcpMark::PreviousSegmentLost))
                             + 2 * table->fontMetrics().averageCharWidth()));
}

MarksColumn::~MarksColumn()
{
    registry().remove(m_table);
}

const MarksColumn* MarksColumn::of(const QTableWidget* table)
{
    return registry().value(table);
}

void MarksColumn::row_added(int row)
{
    if (m_analysis.marks(row) == 0 || row >= m_table->rowCount()
        || m_table->item(row, kColumn) != nullptr)
        return;
    m_table->setItem(row, kColumn, new RecordFieldItem);
}

QString MarksColumn::text(TcpMarks marks)
{
    static const char* const words[kTcpMarkKinds] = {
        QT_TRANSLATE_NOOP("TcpMarks", "重传"),         QT_TRANSLATE_NOOP("TcpMarks", "乱序"),
        QT_TRANSLATE_NOOP("TcpMarks", "前一段未捕获"), QT_TRANSLATE_NOOP("TcpMarks", "重复ACK"),
        QT_TRANSLATE_NOOP("TcpMarks", "零窗口"),       QT_TRANSLATE_NOOP("TcpMarks", "窗口已满"),
        QT_TRANSLATE_NOOP("TcpMarks", "保活"),         QT_TRANSLATE_NOOP("TcpMarks", "重置"),
    };
    QStringList said;
    for (int kind = 0; kind < kTcpMarkKinds; ++kind)
        if ((marks & (1U << kind)) != 0)
            said << QCoreApplication::translate("TcpMarks", words[kind]);
    return said.join(QStringLiteral(", "));
}

QString MarksColumn::text_of(int row) const
{
    return text(m_analysis.marks(row));
}

bool MarksColumn::dark() const
{
    // The theme's style sheet sets the table's palette.
    return m_table->palette().color(QPalette::Base).lightness() < 128;
}

QColor MarksColumn::background(int row) const
{
    const TcpMarks marks = m_analysis.marks(row);
    if (marks == 0)
        return {};
    const bool reset = (marks & TcpMark::Reset) != 0;
    if (dark())
        return reset ? kResetDark : kTroubleDark;
    return reset ? kResetLight : kTroubleLight;
}

QColor MarksColumn::foreground(int row) const
{
    if (m_analysis.marks(row) == 0)
        return {};
    return dark() ? kTextDark : kTextLight;
}
