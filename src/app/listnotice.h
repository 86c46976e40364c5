// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

#include <QString>
#include <QToolButton>

class QMainWindow;
class QStatusBar;
class ShownRows;
struct FilterSettings;

// The sign in the main window's status bar that include or exclude lists
// are in force: those ticked in the filter form, which every later capture
// and file goes through, and those a narrowed table goes on judging new
// rows by. It names the ticked lists (whole in its tooltip); clicked, it
// opens the filter form. Hidden while no list is in force.
class ListNotice : public QToolButton
{
    Q_OBJECT
    Q_DISABLE_COPY(ListNotice)

public:
    // A permanent widget of the bar; open_form shows the filter form.
    ListNotice(QStatusBar* bar, std::function<void()> open_form);

    // ticked: the form's settings; narrowing: whether the table is narrowed.
    void show_state(const FilterSettings& ticked, bool narrowing);
};

// The ticked lists as the form names them, "包含端口 8080|8081; 不含IP
// 10.0.0.1"; empty when none is ticked.
QString lists_summary(const FilterSettings& settings);

// While lists are in force (those ticked in the filter form, or a
// narrowing of `shown`), the window's status bar shows a ListNotice that
// says so; a click on it runs open_form. Follows the form's boxes and
// fields and the narrowing from now on.
void follow_lists_in_force(QMainWindow& window, const ShownRows& shown,
                           const std::function<void()>& open_form);
