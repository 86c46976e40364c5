// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>
#include <QStringList>

class QBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QToolButton;
class QWidget;

// The controls that every find bar has after its own fields: "上一个" and
// "下一个", a progress bar shown while a search runs, a line for notices
// and a close button, with the names and tooltips the bars share.
struct FindBarControls
{
    // The progress bar's range: 0 to this many steps.
    static constexpr int kProgressSteps = 1000;

    QToolButton* previous;
    QToolButton* next;
    QProgressBar* progress; // hidden until a search runs
    QLabel* message;
    QToolButton* close;
};

// The notice of a search that went round an end of what it searches, going
// forward or backward.
QString findWrapNotice(bool forward);

// Adds the controls to the bar's layout. The notice line is as wide as the
// widest of `notices`, so that none is cut and the bar does not jump as
// they change.
FindBarControls addFindBarControls(QWidget* bar, QBoxLayout* layout, const QStringList& notices);

// Gives a find bar's pattern field room for about 20 characters of its
// font, however narrow the window: a usable least width.
void givePatternRoom(QLineEdit& pattern);
