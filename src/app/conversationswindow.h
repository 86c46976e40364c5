// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>
#include <QVector>
#include <QWidget>

class QAbstractItemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

// "TCP会话": the connections of a ConversationsModel in a table of their
// own, sortable by any column, narrowed as the user types (an address, a
// port, "address:port" or a server name) in the find field, which has the
// focus when the window opens: Down moves to the table, Enter follows the
// current connection. A double click or Enter in the table follows the
// connection, Esc closes the window; "只显示此会话" narrows the packet table to the selected
// connections, "显示全部行" shows every row again; "复制为CSV" (and Ctrl+C)
// copies the selected rows, with the column titles, as CSV.
class ConversationsWindow : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(ConversationsWindow)

public:
    // The model outlives the window.
    explicit ConversationsWindow(QAbstractItemModel* model, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QTableView* view() const { return m_view; }
    // The selected connections (their model rows), in the order shown.
    QVector<int> selected() const;
    // The selected rows as CSV: a line of titles, a line per connection.
    QString selected_csv() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

signals:
    void follow(int connection);
    void narrow(const QVector<int>& connections);
    void show_all();

private:
    void show_count();

    QSortFilterProxyModel* m_proxy;
    QTableView* m_view;
    QLineEdit* m_find;
    QLabel* m_count;
    QPushButton* m_narrow;
    QPushButton* m_copy;
};
