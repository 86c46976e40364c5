// SPDX-License-Identifier: GPL-2.0-or-later

#include "conversationswindow.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include "conversationsmodel.h"

namespace {

constexpr int kWidth = 1100;
constexpr int kHeight = 480;

// A field of a CSV line (RFC 4180): quoted when it holds a comma, a quote
// or a line break, its quotes doubled.
QString csv_field(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\""))
            + QLatin1Char('"');
}

// Shows the connections whose endpoints or server name hold every word
// typed, case aside.
class ConversationFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void set_words(const QString& typed)
    {
        m_words = typed.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        invalidateFilter();
    }

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        if (const auto* model = qobject_cast<const ConversationsModel*>(sourceModel()))
            return model->less(left.row(), right.row(), left.column());
        return QSortFilterProxyModel::lessThan(left, right);
    }
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        if (m_words.isEmpty())
            return true;
        const QString text = sourceModel()
                                     ->index(row, 0, parent)
                                     .data(ConversationsModel::kSearchRole)
                                     .toString();
        for (const QString& word : m_words)
            if (!text.contains(word, Qt::CaseInsensitive))
                return false;
        return true;
    }

private:
    QStringList m_words;
};

} // namespace

ConversationsWindow::ConversationsWindow(QAbstractItemModel* model, QWidget* parent)
    : QWidget(parent)
    , m_proxy(new ConversationFilter(this))
    , m_view(new QTableView(this))
    , m_find(new QLineEdit(this))
    , m_count(new QLabel(this))
    , m_narrow(new QPushButton(tr("只显示此会话"), this))
    , m_copy(new QPushButton(tr("复制为CSV"), this))
{
    setObjectName(QStringLiteral("conversationsWindow"));
    setWindowTitle(tr("TCP会话"));

    m_proxy->setSourceModel(model);
    m_proxy->setSortRole(ConversationsModel::kSortRole);
    // New and changed connections go to their places as they come.
    m_proxy->setDynamicSortFilter(true);
    m_view->setObjectName(QStringLiteral("conversationsView"));
    m_view->setModel(m_proxy);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // In the order the connections began until a column is chosen.
    m_view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_view->setSortingEnabled(true);
    m_view->horizontalHeader()->setSectionsMovable(true);

    m_find->setObjectName(QStringLiteral("conversationsFind"));
    m_find->setPlaceholderText(tr("地址, 端口, 地址:端口 或服务器名"));
    m_find->setClearButtonEnabled(true);
    m_narrow->setObjectName(QStringLiteral("conversationsNarrow"));
    m_copy->setObjectName(QStringLiteral("conversationsCopy"));
    auto* all = new QPushButton(tr("显示全部行"), this);
    all->setObjectName(QStringLiteral("conversationsShowAll"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("查找:"), this));
    top->addWidget(m_find, 1);
    top->addWidget(m_count);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_narrow);
    bottom->addWidget(all);
    bottom->addStretch(1);
    bottom->addWidget(m_copy);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addLayout(bottom);

    connect(m_find, &QLineEdit::textChanged, this, [this](const QString& typed) {
        static_cast<ConversationFilter*>(m_proxy)->set_words(typed);
        // The first match becomes current, so that Enter or a double click
        // needs no hunt for it.
        if (!typed.isEmpty() && m_proxy->rowCount() > 0 && selected().isEmpty())
            m_view->setCurrentIndex(m_proxy->index(0, 0));
        show_count();
    });
    // A double click, or Enter.
    connect(m_view, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { emit follow(m_proxy->mapToSource(index).row()); });
    connect(m_narrow, &QPushButton::clicked, this, [this] {
        const QVector<int> connections = selected();
        if (!connections.isEmpty())
            emit narrow(connections);
    });
    connect(all, &QPushButton::clicked, this, &ConversationsWindow::show_all);
    const auto copy = [this] {
        if (!selected().isEmpty())
            QApplication::clipboard()->setText(selected_csv());
    };
    connect(m_copy, &QPushButton::clicked, this, copy);
    auto* copy_action = new QAction(tr("复制为CSV"), this);
    copy_action->setShortcut(QKeySequence::Copy);
    copy_action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy_action, &QAction::triggered, this, copy);
    m_view->addAction(copy_action);

    const auto enable = [this] {
        const bool any = m_view->selectionModel()->hasSelection();
        m_narrow->setEnabled(any);
        m_copy->setEnabled(any);
    };
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, enable);
    connect(m_proxy, &QAbstractItemModel::rowsInserted, this, &ConversationsWindow::show_count);
    connect(m_proxy, &QAbstractItemModel::modelReset, this, &ConversationsWindow::show_count);
    enable();
    show_count();
    m_view->resizeColumnsToContents();
    m_find->installEventFilter(this);
    // The find field first: a window just opened takes what is typed.
    setTabOrder(m_find, m_view);
    setFocusProxy(m_find);
}

bool ConversationsWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_find || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Down && m_proxy->rowCount() > 0) {
        if (!m_view->currentIndex().isValid())
            m_view->setCurrentIndex(m_proxy->index(0, 0));
        m_view->setFocus(Qt::TabFocusReason);
        return true;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_view->currentIndex().isValid()) {
        emit follow(m_proxy->mapToSource(m_view->currentIndex()).row());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void ConversationsWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

QSize ConversationsWindow::sizeHint() const
{
    return { kWidth, kHeight };
}

QVector<int> ConversationsWindow::selected() const
{
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QVector<int> connections;
    connections.reserve(rows.size());
    for (const QModelIndex& index : std::as_const(rows))
        connections.append(m_proxy->mapToSource(index).row());
    return connections;
}

QString ConversationsWindow::selected_csv() const
{
    const QAbstractItemModel* model = m_proxy->sourceModel();
    QStringList fields;
    for (int column = 0; column < model->columnCount(); ++column)
        fields << csv_field(model->headerData(column, Qt::Horizontal).toString());
    QString csv = fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const int connection : selected()) {
        fields.clear();
        for (int column = 0; column < model->columnCount(); ++column)
            fields << csv_field(model->index(connection, column).data().toString());
        csv += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return csv;
}

void ConversationsWindow::show_count()
{
    const int all = m_proxy->sourceModel()->rowCount();
    const int shown = m_proxy->rowCount();
    m_count->setText(shown == all ? tr("%1 个会话").arg(all)
                                  : tr("%1 / %2 个会话").arg(shown).arg(all));
}
