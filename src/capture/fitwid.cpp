// SPDX-License-Identifier: GPL-2.0-or-later

#include "fitwid.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QStringList>

#include "capturefilterrow.h"
#include "filtersettings.h"
#include "listentries.h"
#include "pcapfilter.h"
#include "ui_fitwid.h"

FitWid* g_filter_form = nullptr;

namespace {

// Entries as typed: empty parts kept, nothing trimmed.
QStringList entries_of(const QLineEdit& field)
{
    return field.text().split(QLatin1Char('|'), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

} // namespace

FitWid::FitWid(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::FitWid)
{
    ui->setupUi(this);
    // The lists apply to the captures and files to come, and to the rows
    // shown when the user says so.
    setWindowTitle(tr("过滤规则 (用于之后的抓包和打开的文件, 也可应用到已显示的行)"));
    // Owned by their fields.
    new ListFieldMarker(ui->lineEdit, ListKind::Addresses);
    new ListFieldMarker(ui->lineEdit_2, ListKind::Ports);
    new ListFieldMarker(ui->lineEdit_4, ListKind::Addresses);
    new ListFieldMarker(ui->lineEdit_5, ListKind::Ports);

    // While a box is ticked its list follows the text as it is edited: what
    // the form shows is what the next capture applies.
    using Toggled = void (FitWid::*)(int);
    const struct
    {
        QCheckBox* box;
        QLineEdit* field;
        Toggled toggled;
    } lists[] = {
        { ui->checkBox, ui->lineEdit, &FitWid::on_checkBox_stateChanged },
        { ui->checkBox_2, ui->lineEdit_2, &FitWid::on_checkBox_2_stateChanged },
        { ui->checkBox_4, ui->lineEdit_4, &FitWid::on_checkBox_4_stateChanged },
        { ui->checkBox_5, ui->lineEdit_5, &FitWid::on_checkBox_5_stateChanged },
    };
    for (const auto& list : lists) {
        connect(list.field, &QLineEdit::textChanged, this, [this, list] {
            if (list.box->isChecked())
                (this->*list.toggled)(Qt::Checked);
        });
    }

    // Owned by its check box.
    auto* capture_filter = new CaptureFilterRow(ui->checkBox_6, ui->lineEdit_6, ui->label);
    // In a remote session the capture starts by leaving out the session's
    // own connections; the user can untick it.
    const QString own_traffic = session_exclusion_filter(qEnvironmentVariable("SSH_CONNECTION"),
                                                         qEnvironmentVariable("DISPLAY"));
    if (!own_traffic.isEmpty())
        capture_filter->preset(own_traffic);
}

FitWid::~FitWid()
{
    delete ui;
}

// Each switch slot reads the box itself, then takes the list from the text as
// it stands now; the text's edits follow while the box stays ticked.

void FitWid::on_checkBox_stateChanged(int /*arg1*/)
{
    g_filter_settings.include_ip_enabled = ui->checkBox->isChecked();
    g_filter_settings.include_ips = entries_of(*ui->lineEdit);
}

void FitWid::on_checkBox_2_stateChanged(int /*arg1*/)
{
    g_filter_settings.include_port_enabled = ui->checkBox_2->isChecked();
    g_filter_settings.include_ports = entries_of(*ui->lineEdit_2);
}

void FitWid::on_checkBox_4_stateChanged(int /*arg1*/)
{
    g_filter_settings.exclude_ip_enabled = ui->checkBox_4->isChecked();
    g_filter_settings.exclude_ips = entries_of(*ui->lineEdit_4);
}

void FitWid::on_checkBox_5_stateChanged(int /*arg1*/)
{
    g_filter_settings.exclude_port_enabled = ui->checkBox_5->isChecked();
    g_filter_settings.exclude_ports = entries_of(*ui->lineEdit_5);
}

void FitWid::on_pushButton_clicked()
{
    QMessageBox::information(this, tr("说明"),
                             tr("多组数据以 | 分割，开始抓包前设置，否则无效。标志暂无功能"),
                             QMessageBox::Ok, QMessageBox::NoButton);
}

void FitWid::on_pushButton_2_clicked()
{
    hide();
}
