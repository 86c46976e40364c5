// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>

#include <QAbstractTableModel>
#include <QTimer>

class TcpAnalysis;

// The TCP connections of the packet table, one row each in the order of
// their first rows (row i is connection i of the analysis), as the
// analysis keeps them while rows arrive: nothing is read when a view opens.
// New connections and changed counts reach the model a few times a second,
// as inserted rows and changed data, so that a view keeps its selection.
//
// Columns, in this order: A's address and port, B's (A sent the
// connection's first segment), packets and payload bytes A to B, the same
// B to A, start (seconds since the table's first row), duration (seconds),
// the payload rates A to B and B to A (bits per second; empty for a
// connection of no duration), the server name of a TLS ClientHello, and the
// count of its rows with a mark. Qt::DisplayRole gives the text;
// Qt::UserRole the numbers as numbers (ports, counts and rows as qulonglong,
// times and rates as double; text for the text columns, nothing for an
// empty rate), kSortRole a key that sorts addresses as addresses.
class ConversationsModel : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY(ConversationsModel)

public:
    enum Column {
        AddressA,
        PortA,
        AddressB,
        PortB,
        PacketsAB,
        BytesAB,
        PacketsBA,
        BytesBA,
        Start,
        Duration,
        RateAB,
        RateBA,
        ServerName,
        Marked,
        ColumnCount
    };
    static constexpr int kSortRole = Qt::UserRole + 1;
    // "address:port address:port server name", what finding a connection
    // by typing looks in.
    static constexpr int kSearchRole = Qt::UserRole + 2;

    // The analysis outlives the model.
    explicit ConversationsModel(const TcpAnalysis& analysis, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Whether row a comes before row b by `column`, as kSortRole orders
    // them, without making their values: sorting a million connections
    // compares them some twenty million times.
    bool less(int a, int b, int column) const;

    // Takes what the analysis added since; the model's own timer calls it.
    void refresh();

private:
    QVariant number(int row, int column) const;

    const TcpAnalysis& m_analysis;
    std::uint64_t m_generation;
    int m_rows = 0; // connections shown
    int m_seen_rows = 0; // packet table rows taken
    QTimer m_timer;
};
