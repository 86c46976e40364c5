// SPDX-License-Identifier: GPL-2.0-or-later

#include "findbarcontrols.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

namespace {

QToolButton* addButton(QWidget* bar, QBoxLayout* layout, const QString& name, const QString& label,
                       const QString& tip)
{
    auto* button = new QToolButton(bar);
    button->setObjectName(name);
    button->setText(label);
    button->setToolTip(tip);
    layout->addWidget(button);
    return button;
}

} // namespace

QString findWrapNotice(bool forward)
{
    return forward ? QCoreApplication::translate("FindBarControls", "已到达末尾，从开头继续查找")
                   : QCoreApplication::translate("FindBarControls", "已到达开头，从末尾继续查找");
}

FindBarControls addFindBarControls(QWidget* bar, QBoxLayout* layout, const QStringList& notices)
{
    FindBarControls controls {};
    controls.previous
            = addButton(bar, layout, QStringLiteral("findPrevious"),
                        QCoreApplication::translate("FindBarControls", "上一个"),
                        QCoreApplication::translate("FindBarControls", "查找上一个 (Shift+F3)"));
    controls.next = addButton(bar, layout, QStringLiteral("findNext"),
                              QCoreApplication::translate("FindBarControls", "下一个"),
                              QCoreApplication::translate("FindBarControls", "查找下一个 (F3)"));

    controls.progress = new QProgressBar(bar);
    controls.progress->setRange(0, FindBarControls::kProgressSteps);
    controls.progress->setMaximumWidth(120);
    controls.progress->setTextVisible(false);
    controls.progress->hide();
    layout->addWidget(controls.progress);

    controls.message = new QLabel(bar);
    controls.message->setObjectName(QStringLiteral("findMessage"));
    int widest = 0;
    for (const QString& notice : notices)
        widest = qMax(widest, controls.message->fontMetrics().horizontalAdvance(notice));
    controls.message->setMinimumWidth(widest + 8);
    layout->addWidget(controls.message);

    controls.close = addButton(bar, layout, QStringLiteral("findClose"), QStringLiteral("×"),
                               QCoreApplication::translate("FindBarControls", "关闭 (Esc)"));
    return controls;
}

void givePatternRoom(QLineEdit& pattern)
{
    constexpr int kCharacters = 20;
    // As QLineEdit measures its own hint: characters of the average width,
    // and the frame and margins around them.
    QStyleOptionFrame option;
    option.initFrom(&pattern);
    const QSize text(pattern.fontMetrics().averageCharWidth() * kCharacters,
                     pattern.fontMetrics().height());
    const QMargins margins = pattern.textMargins();
    pattern.setMinimumWidth(
            pattern.style()
                    ->sizeFromContents(
                            QStyle::CT_LineEdit, &option,
                            text.grownBy(QMargins(margins.left(), 0, margins.right(), 0)), &pattern)
                    .width());
}
