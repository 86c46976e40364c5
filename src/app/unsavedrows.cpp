// SPDX-License-Identifier: GPL-2.0-or-later

#include "unsavedrows.h"

#include <algorithm>

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

void UnsavedRows::saved(std::uint64_t mark)
{
    // A clear after the save began already let go of more.
    m_kept = std::max(m_kept, std::min(mark, m_captured));
}

UnsavedRowsChoice ask_about_unsaved_rows(QWidget* parent, std::uint64_t rows, bool* never_again,
                                         UnsavedRowsLoss loss)
{
    QMessageBox box(
            QMessageBox::Warning, UnsavedRows::tr("未保存的数据包"),
            UnsavedRows::tr("有 %1 行捕获的数据包还没有保存。").arg(static_cast<qulonglong>(rows)),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setInformativeText(loss == UnsavedRowsLoss::Opening
                                   ? UnsavedRows::tr("打开文件前要保存吗? 打开的文件会取代它们, "
                                                     "不保存的话, 它们会丢失。")
                                   : UnsavedRows::tr("关闭前要保存吗? 不保存的话, 它们会丢失。"));
    box.button(QMessageBox::Save)->setText(UnsavedRows::tr("保存..."));
    box.button(QMessageBox::Discard)->setText(UnsavedRows::tr("不保存"));
    box.button(QMessageBox::Cancel)->setText(UnsavedRows::tr("取消"));
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    box.setCheckBox(new QCheckBox(UnsavedRows::tr("不再询问"))); // the box takes it over
    box.exec();
    *never_again = box.checkBox()->isChecked();
    // Compared by button: a box closed without a click (the program is
    // ending) answers nothing, which keeps the rows.
    const QAbstractButton* clicked = box.clickedButton();
    if (clicked == box.button(QMessageBox::Save))
        return UnsavedRowsChoice::Save;
    if (clicked == box.button(QMessageBox::Discard))
        return UnsavedRowsChoice::Discard;
    return UnsavedRowsChoice::Cancel;
}
