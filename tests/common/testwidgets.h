// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// Driving widgets the way a user does, at places that hold whatever font and
// resolution the machine has.

#include <QCheckBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

namespace testwidgets {

// A click on the box of a check box. The middle of the widget, where a plain
// mouseClick lands, lies past the end of a short label in a small font, and
// a click there does nothing.
inline void click_check_box(QCheckBox* box)
{
    QStyleOptionButton option;
    option.initFrom(box);
    const QRect indicator
            = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, indicator.center());
}

} // namespace testwidgets
