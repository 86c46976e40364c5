// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <functional>

#include <QMainWindow>
#include <QPointer>

class GraphPlot;
class QMenu;
class QTableWidget;

// A window of its own around a GraphPlot: the File menu saves the picture
// (PNG or PDF) and closes the window, the View menu zooms and shows
// everything (the plot's keys do the same where it has the focus), and the
// status bar says how to move about and which row a click chose. A click on
// a data point makes its row the current one of the packet table (the
// payload shows below it), without raising the main window. The window
// deletes itself when closed.
class GraphWindow : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY(GraphWindow)

public:
    // A window of `parent` (it closes with it) over the rows of `table`.
    GraphWindow(QTableWidget* table, QWidget* parent);
    ~GraphWindow() override;

    GraphPlot* plot() const { return m_plot; }
    // "查看", for the actions of a kind of graph.
    QMenu* viewMenu() const { return m_view; }
    // The row a click chose last; -1 before.
    int chosenRow() const { return m_chosen; }
    // Makes the row the packet table's current one, as a click on one of
    // its points does; says so in the status bar.
    void showRow(int row);
    // Tells whether the rows the graph names are still the table's (a
    // clear renumbers them): when not, a click chooses no row. Always, when
    // not set.
    void setRowsKept(std::function<bool()> kept) { m_rows_kept = std::move(kept); }
    // Writes the picture; false, having told the user why, when it could
    // not be written. PDF for a name that ends in ".pdf", else PNG.
    bool savePicture(const QString& path);

private:
    void askToSavePicture();

    QPointer<QTableWidget> m_table;
    std::function<bool()> m_rows_kept;
    GraphPlot* m_plot;
    QMenu* m_view = nullptr;
    int m_chosen = -1;
};
