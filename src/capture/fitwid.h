// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QWidget>

namespace Ui {
class FitWid;
}

// The filter options window. Toggling a row's check box writes that row's
// switch and list (its text split on "|") into g_filter_settings, and while
// the box is ticked the list follows the text as it is edited; the next
// capture started copies them. The capture filter row takes a libpcap
// expression, checked when its box is ticked; in a remote session it starts
// ticked with an expression that leaves out the session's own traffic.
// Closing or confirming hides the window, which keeps its state.
class FitWid : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(FitWid)

public:
    explicit FitWid(QWidget* parent = nullptr);
    ~FitWid() override;

private slots:
    void on_checkBox_stateChanged(int arg1);
    void on_checkBox_2_stateChanged(int arg1);
    void on_checkBox_4_stateChanged(int arg1);
    void on_checkBox_5_stateChanged(int arg1);
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();

private:
    Ui::FitWid* ui;
};

// The one filter options window of the program; made, hidden, by the main
// window, which also destroys it.
extern FitWid* g_filter_form;
