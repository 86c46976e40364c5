// SPDX-License-Identifier: GPL-2.0-or-later

#include "statisticsmenu.h"

#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

QMenu* statistics_menu(QMainWindow& window)
{
    const QString name = QStringLiteral("menuStatistics");
    if (auto* menu = window.menuBar()->findChild<QMenu*>(name, Qt::FindDirectChildrenOnly))
        return menu;
    auto* menu = new QMenu(QCoreApplication::translate("MainWindow", "统计"), window.menuBar());
    menu->setObjectName(name);
    window.menuBar()->addMenu(menu);
    return menu;
}
