// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QObject>
#include <QTimer>

class QWidget;

// Keeps a widget that changes in a flood (the packet table while traffic
// pours in) from repainting for every change: the first change of a burst
// holds its updates back, and they resume, with one repaint, at most an
// interval later. Changes reach the screen within the interval, in order.
class PaintThrottle : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(PaintThrottle)

public:
    // A child of the widget it throttles.
    explicit PaintThrottle(QWidget* widget, int intervalMs = 50);

    // Call after each change of the widget.
    void changed();

private:
    QWidget* m_widget;
    QTimer m_timer;
};
