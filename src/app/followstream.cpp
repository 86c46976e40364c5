// SPDX-License-Identifier: GPL-2.0-or-later

#include "followstream.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTableWidget>

#include "capturestore.h"
#include "followreading.h"
#include "packetrows.h"
#include "streamwindow.h"
#include "tcpfollow.h"
#include "timesequencewindow.h"

HexWindow* open_stream_window(QWidget* parent, const PacketRows& rows, const CaptureStore* store,
                              int row, const std::function<bool()>& capturing)
{
    const auto refuse = [parent](const QString& why) -> HexWindow* {
        QMessageBox::information(parent, QCoreApplication::translate("FollowStream", "追踪TCP流"),
                                 why);
        return nullptr;
    };
    QString error;
    const std::optional<FollowedRows> followed = rows_to_follow(
            rows, store, row,
            QCoreApplication::translate("FollowStream", "该行的帧已不在存储中, 无法追踪其TCP流。"),
            &error);
    if (!followed)
        return refuse(error);
    const std::vector<std::int64_t>& frames = followed->frames;
    TcpFollow::Progress progress;
    std::unique_ptr<TcpFollow> follow;
    const bool done
            = follow_in_background(parent, QCoreApplication::translate("FollowStream", "追踪TCP流"),
                                   frames.size(), frames.size(), progress, [&] {
                                       follow = TcpFollow::open(*store, frames, followed->rows,
                                                                followed->frame, &error, &progress);
                                   });
    if (!done)
        return nullptr;
    if (follow == nullptr)
        return refuse(error);

    // New rows of the pair, for as long as they may come.
    std::function<bool(TcpFollow&)> grow;
    if (!follow->ended()) {
        grow = FollowGrowth::callback(std::make_shared<FollowGrowth>(
                rows, *store, followed->pair, followed->rows.size(), capturing));
    }
    auto* window = new StreamWindow(std::move(follow), std::move(grow), parent);
    window->setWindowFlag(Qt::Window);
    add_time_sequence_action(*window, rows, store, row, capturing);
    window->show();
    return window;
}

void add_follow_action(QTableWidget* table, QWidget* window, const std::function<void(int)>& follow)
{
    auto* action = new QAction(QCoreApplication::translate("FollowStream", "追踪TCP流"), window);
    action->setObjectName(QStringLiteral("actionFollowStream"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_T));
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    QObject::connect(action, &QAction::triggered, window,
                     [table, follow] { follow(table->currentRow()); });

    table->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(table, &QWidget::customContextMenuRequested, window,
                     [table, action](const QPoint& at) {
                         const int row = table->rowAt(at.y());
                         if (row < 0)
                             return;
                         const int column = table->columnAt(at.x());
                         table->setCurrentCell(row, column < 0 ? 0 : column);
                         QMenu menu(table);
                         menu.addAction(action);
                         // Other actions on the row (the TLS follow).
                         menu.addActions(table->actions());
                         menu.exec(table->viewport()->mapToGlobal(at));
                     });
}
