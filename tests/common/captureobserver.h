// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QObject>
#include <QStringList>
#include <QThread>

#include "cupdate.h"

// Collects what a capture reports, on the test's thread: the queued
// connections deliver in emission order, so once `finished` has arrived every
// line emitted before it has arrived too.
struct CaptureObserver
{
    QObject context;
    QStringList lines;
    QStringList failures;
    QStringList denials;
    bool finished = false;

    explicit CaptureObserver(CUpdate& capture)
    {
        QObject::connect(&capture, &CUpdate::send_update, &context,
                         [this](const QString& line) { lines.append(line); });
        QObject::connect(&capture, &CUpdate::open_failed, &context,
                         [this](const QString& reason) { failures.append(reason); });
        QObject::connect(&capture, &CUpdate::open_denied, &context,
                         [this](const QString& reason) { denials.append(reason); });
        QObject::connect(&capture, &QThread::finished, &context, [this] { finished = true; });
    }
};
