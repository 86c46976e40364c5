// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QColor>
#include <QList>

#include <qcustomplot.h>

class QCPAxis;

// The plot of the graph windows: QCustomPlot with the ways a person moves
// about a graph and the theme's colours.
//
// The wheel zooms about the mouse (both axes; with Ctrl the time axis only,
// with Shift the values only), a drag pans. Keys: + and - zoom about the
// middle, the arrows pan by a tenth, Home shows everything. Until the user
// zooms or pans, the plot shows all the data as it grows; Home returns to
// that. A click on a data point (not a drag) reports it.
class GraphPlot : public QCustomPlot
{
    Q_OBJECT
    Q_DISABLE_COPY(GraphPlot)

public:
    explicit GraphPlot(QWidget* parent = nullptr);

    // The value axes that zoom and pan with the time axis (xAxis).
    void setValueAxes(const QList<QCPAxis*>& axes);
    // Zooms by `factor` about the middle (below 1: in), both axes.
    void zoom(double factor);
    // Pans by a share of the shown range: x to the right, y up.
    void pan(double x, double y);
    // Shows all the data, and follows it as it grows.
    void showAll();
    bool followsData() const { return m_follows; }
    // After the data changed: shows all of it while following, and draws.
    void dataChanged();

    // Colour `index` (0 to 9, then again) of the series, readable on the
    // theme's background.
    QColor seriesColour(int index) const;
    // Whether the palette is a dark theme's.
    bool isDark() const;
    // Whether the colours drawn are those for a dark theme: they follow the
    // palette a moment after it changed.
    bool coloursAreDark() const { return m_dark; }

signals:
    // A click on or near the point `index` of a plottable, at `key` on the
    // time axis.
    void pointClicked(QCPAbstractPlottable* plottable, int index, double key);
    // The theme's colours were applied: the series take theirs again.
    void themeApplied();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void applyTheme();

    QList<QCPAxis*> m_value_axes;
    bool m_follows = true;
    bool m_fitting = false; // the ranges change to show all the data
    bool m_dark = false; // the colours were chosen for a dark theme
    bool m_themed = false; // whether they were chosen at all
};
