// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

class QMainWindow;
class QMenu;

// The main window's menu "统计", after "文件": found by its object name
// ("menuStatistics"), made the first time it is asked for. Whoever adds a
// window of the capture's figures adds its action here.
QMenu* statistics_menu(QMainWindow& window);
