// SPDX-License-Identifier: GPL-2.0-or-later

#include "packetfindbar.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "findbarcontrols.h"
#include "packetrows.h"
#include "popupwidth.h"

namespace {

constexpr int kProgressSteps = FindBarControls::kProgressSteps;
constexpr int kHexColumn = 7;
// Rows looked at between two looks at the clock: a few milliseconds' worth
// of payloads.
constexpr int kRowsPerStep = 4096;

} // namespace

PacketFindBar::PacketFindBar(QTableWidget* table, const PacketRows& rows, const CaptureStore* store,
                             QMainWindow* window)
    : QWidget(window)
    , m_table(table)
    , m_tool_bar(new QToolBar(tr("查找"), window))
    , m_edit(new QLineEdit(this))
    , m_kind(new QComboBox(this))
    , m_case(new QCheckBox(tr("区分大小写"), this))
    , m_timer(new QTimer(this))
    , m_search(rows, store, [table](int row) { return table->isRowHidden(row); })
{
    setObjectName(QStringLiteral("packetFindBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->addWidget(new QLabel(tr("查找:"), this));
    m_edit->setObjectName(QStringLiteral("findPattern"));
    layout->addWidget(m_edit, 1);
    givePatternRoom(*m_edit);
    // In the order of PacketFindKind.
    m_kind->setObjectName(QStringLiteral("findKind"));
    m_kind->addItems({ tr("负载中的文本"), tr("负载中的十六进制字节"),
                       tr("字段 (地址, 端口, 时间, 长度, 备注)") });
    fitPopupToEntries(*m_kind);
    layout->addWidget(m_kind);
    m_case->setObjectName(QStringLiteral("findCase"));
    layout->addWidget(m_case);

    const FindBarControls controls
            = addFindBarControls(this, layout, { findWrapNotice(true), findWrapNotice(false) });
    m_message = controls.message;
    m_progress = controls.progress;
    QToolButton* previous = controls.previous;
    QToolButton* next = controls.next;
    QToolButton* close = controls.close;

    const auto placeholder = [this] {
        const auto kind = static_cast<PacketFindKind>(m_kind->currentIndex());
        m_edit->setPlaceholderText(kind == PacketFindKind::PayloadHex
                                           ? tr("十六进制字节，如 4F 4B")
                                           : (kind == PacketFindKind::Fields
                                                      ? tr("如 10.0.0.1, 5432 或 重传")
                                                      : tr("文本 (UTF-8)")));
        // Bytes have no case.
        m_case->setEnabled(kind != PacketFindKind::PayloadHex);
    };
    placeholder();
    connect(m_kind, qOverload<int>(&QComboBox::currentIndexChanged), this, [this, placeholder] {
        placeholder();
        m_message->clear();
    });
    connect(previous, &QToolButton::clicked, this, &PacketFindBar::find_previous);
    connect(next, &QToolButton::clicked, this, &PacketFindBar::find_next);
    connect(close, &QToolButton::clicked, this, &PacketFindBar::close_bar);
    connect(m_edit, &QLineEdit::textEdited, m_message, &QLabel::clear);
    // Rows that go (the table cleared) take the search's ground away.
    connect(table->model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            &PacketFindBar::cancel);
    connect(table->model(), &QAbstractItemModel::modelAboutToBeReset, this, &PacketFindBar::cancel);
    // Emptied: what the bar said was of rows that are gone.
    connect(table->model(), &QAbstractItemModel::rowsRemoved, this, [this] {
        if (m_table->rowCount() == 0)
            m_message->clear();
    });

    m_timer->setInterval(0);
    connect(m_timer, &QTimer::timeout, this, &PacketFindBar::run_steps);

    m_tool_bar->setObjectName(QStringLiteral("findToolBar"));
    m_tool_bar->setMovable(false);
    m_tool_bar->setFloatable(false);
    m_tool_bar->addWidget(this);
    window->addToolBar(Qt::BottomToolBarArea, m_tool_bar);
    m_tool_bar->hide();
    add_find_actions(window);
}

void PacketFindBar::add_find_actions(QMainWindow* window)
{
    // The window's own, with no menu of their own: its menu bar holds the
    // file menu alone.
    auto* find = new QAction(tr("查找..."), window);
    find->setObjectName(QStringLiteral("actionFind"));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, &PacketFindBar::activate);
    const auto again = [this](bool forward) {
        // Without a pattern there is nothing to look for again: the bar asks.
        if (!is_shown() || m_edit->text().isEmpty()) {
            activate();
            if (m_edit->text().isEmpty())
                return;
        }
        this->find(forward);
    };
    auto* next = new QAction(tr("查找下一个"), window);
    next->setObjectName(QStringLiteral("actionFindNext"));
    next->setShortcut(QKeySequence(Qt::Key_F3));
    connect(next, &QAction::triggered, this, [again] { again(true); });
    auto* previous = new QAction(tr("查找上一个"), window);
    previous->setObjectName(QStringLiteral("actionFindPrevious"));
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    connect(previous, &QAction::triggered, this, [again] { again(false); });
    window->addActions({ find, next, previous });
}

void PacketFindBar::activate()
{
    m_tool_bar->show();
    m_edit->setFocus();
    m_edit->selectAll();
}

bool PacketFindBar::is_shown() const
{
    return !m_tool_bar->isHidden();
}

void PacketFindBar::find_next()
{
    find(true);
}

void PacketFindBar::find_previous()
{
    find(false);
}

bool PacketFindBar::is_searching() const
{
    return m_search.status() == PacketSearch::Status::Running;
}

QString PacketFindBar::message() const
{
    return m_message->text();
}

void PacketFindBar::cancel()
{
    if (!is_searching())
        return;
    m_search.cancel();
    end(tr("查找已取消"));
}

void PacketFindBar::set_remarks(std::function<QString(int row)> remarks)
{
    m_search.set_remarks(std::move(remarks));
}

int PacketFindBar::find_now(const QString& pattern, PacketFindKind kind, int from_row, bool forward)
{
    cancel();
    const std::optional<QByteArray> bytes = PacketSearch::pattern_bytes(pattern, kind);
    if (!bytes)
        return -1;
    m_search.start(*bytes, kind, false, from_row, forward);
    return m_search.run();
}

void PacketFindBar::find(bool forward)
{
    cancel();
    const auto kind = static_cast<PacketFindKind>(m_kind->currentIndex());
    QString refusal;
    const std::optional<QByteArray> bytes
            = PacketSearch::pattern_bytes(m_edit->text(), kind, &refusal);
    if (!bytes) {
        end(refusal);
        return;
    }
    const bool ignore_case = kind != PacketFindKind::PayloadHex && !m_case->isChecked();
    m_forward = forward;
    m_search.start(*bytes, kind, ignore_case, m_table->currentRow(), forward);
    m_message->setText(tr("正在查找..."));
    run_steps();
}

void PacketFindBar::run_steps()
{
    QElapsedTimer slice;
    slice.start();
    while (m_search.step(kRowsPerStep) == PacketSearch::Status::Running) {
        if (slice.elapsed() >= m_slice_ms) {
            // Still going: show how far, and come back on the next turn.
            const qint64 total = qMax<qint64>(1, m_search.total());
            m_progress->setValue(static_cast<int>(m_search.scanned() * kProgressSteps / total));
            m_progress->show();
            m_timer->start();
            return;
        }
    }
    m_timer->stop();
    if (m_search.status() != PacketSearch::Status::Found) {
        end(tr("未找到"));
        return;
    }
    const int row = m_search.match();
    {
        // The window shows the payload once, on found(), not on the change
        // of the current cell too.
        const QSignalBlocker quiet(m_table);
        m_table->setCurrentCell(row, kHexColumn,
                                QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    m_table->scrollTo(m_table->model()->index(row, kHexColumn),
                      QAbstractItemView::PositionAtCenter);
    emit found(row);
    end(m_search.wrapped() ? findWrapNotice(m_forward) : QString());
}

void PacketFindBar::end(const QString& message)
{
    m_timer->stop();
    m_progress->hide();
    m_message->setText(message);
    emit finished();
}

void PacketFindBar::close_bar()
{
    cancel();
    m_tool_bar->hide();
    m_table->setFocus();
}

void PacketFindBar::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (is_searching())
            cancel();
        else
            close_bar();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (event->modifiers().testFlag(Qt::ShiftModifier))
            find_previous();
        else
            find_next();
        return;
    }
    QWidget::keyPressEvent(event);
}
