// SPDX-License-Identifier: GPL-2.0-or-later

#include "rownumberheader.h"

#include <QStyle>

namespace {

int digits_of(int value)
{
    int digits = 1;
    for (; value >= 10; value /= 10)
        ++digits;
    return digits;
}

} // namespace

RowNumberHeader::RowNumberHeader(QWidget* parent)
    : QHeaderView(Qt::Vertical, parent)
{
    setSectionResizeMode(QHeaderView::Fixed);
}

void RowNumberHeader::setRowCount(int rows)
{
    const int digits = digits_of(rows);
    if (digits == m_digits)
        return;
    m_digits = digits;
    // The last row's number is as wide as any other of as many digits; the
    // style (and the theme's style sheet) adds its padding.
    m_width = rows > 0 && count() >= rows ? sectionSizeFromContents(rows - 1).width() : 0;
    if (m_width <= 0) {
        const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
        m_width = fontMetrics().horizontalAdvance(QString(digits, QLatin1Char('0'))) + 4 * margin;
    }
    emit geometriesChanged(); // the table lays out its margins anew
}

QSize RowNumberHeader::sizeHint() const
{
    return { m_width, defaultSectionSize() };
}
