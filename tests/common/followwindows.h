// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// What the follow tests look at in the windows a follow opens.

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include "hexwindow.h"
#include "qhexdocument.h"
#include "qhexview.h"

namespace followwindows {

// Answers every message box with OK, keeping its text.
struct BoxCatcher
{
    QStringList texts;
    QTimer timer;

    BoxCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.append(box->text());
                box->accept();
            }
        });
        timer.start(20);
    }
};

// Every byte the window's document holds.
inline QByteArray bytes_of(const HexWindow& window)
{
    QHexDocument* document = window.view()->document();
    return document->read(0, static_cast<int>(document->length()));
}

} // namespace followwindows
