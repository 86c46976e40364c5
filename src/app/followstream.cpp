// SPDX-License-Identifier: GPL-2.0-or-later

#include "followstream.h"

#include <cstdint>
#include <memory>
#include <vector>

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTableWidget>

#include "capturestore.h"
#include "packetrows.h"
#include "streamwindow.h"
#include "tcpfollow.h"
#include "timesequencewindow.h"

namespace {

// The frames of these rows, -1 where a row has none.
std::vector<std::int64_t> frames_of(const PacketRows& rows, const std::vector<int>& numbers,
                                    std::size_t from)
{
    std::vector<std::int64_t> frames;
    frames.reserve(numbers.size() - from);
    for (std::size_t i = from; i < numbers.size(); ++i)
        frames.push_back(rows.frame(numbers[i]).value_or(-1));
    return frames;
}

} // namespace

HexWindow* open_stream_window(QWidget* parent, const PacketRows& rows, const CaptureStore* store,
                              int row, const std::function<bool()>& capturing)
{
    const auto refuse = [parent](const QString& why) -> HexWindow* {
        QMessageBox::information(parent, QCoreApplication::translate("FollowStream", "追踪TCP流"),
                                 why);
        return nullptr;
    };
    if (row < 0 || row >= rows.count())
        return refuse(QCoreApplication::translate("FollowStream", "请先选择一行。"));
    const std::optional<std::int64_t> frame = rows.frame(row);
    if (store == nullptr || !frame || !store->contains(*frame))
        return refuse(QCoreApplication::translate("FollowStream",
                                                  "该行的帧已不在存储中, 无法追踪其TCP流。"));
    const TcpPairIndex& pairs = rows.pairs();
    const int pair = pairs.pair_of(row);
    const std::vector<int>& numbers = pairs.rows(pair);
    QString error;
    std::unique_ptr<TcpFollow> follow
            = TcpFollow::open(*store, frames_of(rows, numbers, 0), numbers, *frame, &error);
    if (follow == nullptr)
        return refuse(error);

    // New rows of the pair, for as long as they may come: the pair's number
    // holds until the next clear.
    std::function<bool(TcpFollow&)> grow;
    if (!follow->ended()) {
        grow = [&rows, store, pair, generation = pairs.generation(), seen = numbers.size(),
                capturing](TcpFollow& follow) mutable {
            const TcpPairIndex& index = rows.pairs();
            if (index.generation() != generation)
                return false;
            const std::vector<int>& now = index.rows(pair);
            const bool more = now.size() > seen;
            if (more) {
                const std::vector<int> added(now.cbegin() + static_cast<std::ptrdiff_t>(seen),
                                             now.cend());
                follow.add(*store, frames_of(rows, now, seen), added);
                seen = now.size();
            }
            return !follow.ended() && (more || capturing());
        };
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
                         menu.exec(table->viewport()->mapToGlobal(at));
                     });
}
