// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a clean end of the event loop
// (QCoreApplication::quit on the interface thread), so that the program ends
// as when its window is closed: captures stopped, the capture store removed.
// One per process; the handlers stay installed until it is destroyed.
class QuitSignals : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QuitSignals)

public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;

private:
    QSocketNotifier* m_notifier = nullptr;
};
