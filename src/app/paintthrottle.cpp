// SPDX-License-Identifier: GPL-2.0-or-later

#include "paintthrottle.h"

#include <QWidget>

PaintThrottle::PaintThrottle(QWidget* widget, int intervalMs)
    : QObject(widget)
    , m_widget(widget)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_widget->setUpdatesEnabled(true); });
}

void PaintThrottle::changed()
{
    if (m_timer.isActive() || !m_widget->updatesEnabled())
        return;
    m_widget->setUpdatesEnabled(false);
    m_timer.start();
}
