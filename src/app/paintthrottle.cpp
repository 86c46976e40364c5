// SPDX-License-Identifier: GPL-2.0-or-later

#include "paintthrottle.h"

#include <QWidget>

PaintThrottle::PaintThrottle(QWidget* widget, int intervalMs)
    : QObject(widget)
    , m_widget(widget)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(intervalMs);
    // Painted now: changes that follow at once (the next slice of rows)
    // would hold the updates back again before a posted repaint came round.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_widget->setUpdatesEnabled(true);
        m_widget->repaint();
    });
}

void PaintThrottle::changed()
{
    if (m_timer.isActive() || !m_widget->updatesEnabled())
        return;
    m_widget->setUpdatesEnabled(false);
    m_timer.start();
}
