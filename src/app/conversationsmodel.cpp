// SPDX-License-Identifier: GPL-2.0-or-later

#include "conversationsmodel.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <QCoreApplication>

#include "tcpanalysis.h"

namespace {

constexpr int kRefreshMs = 250;
constexpr double kNanoseconds = 1e9;

QString address_text(const TcpConversation& conversation, int side)
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(conversation.version == 6 ? AF_INET6 : AF_INET,
              conversation.address[static_cast<std::size_t>(side)].data(), text, sizeof text);
    return QString::fromLatin1(text);
}

QString endpoint_text(const TcpConversation& conversation, int side)
{
    const QString address = address_text(conversation, side);
    return (conversation.version == 6 ? QLatin1Char('[') + address + QLatin1Char(']') : address)
            + QLatin1Char(':') + QString::number(conversation.port[static_cast<std::size_t>(side)]);
}

double seconds(std::int64_t ns)
{
    return static_cast<double>(ns) / kNanoseconds;
}

} // namespace

ConversationsModel::ConversationsModel(const TcpAnalysis& analysis, QObject* parent)
    : QAbstractTableModel(parent)
    , m_analysis(analysis)
    , m_generation(analysis.generation())
    , m_rows(analysis.connection_count())
    , m_seen_rows(analysis.row_count())
{
    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &ConversationsModel::refresh);
    m_timer.start();
}

int ConversationsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ConversationsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

void ConversationsModel::refresh()
{
    // Cleared: every row goes, and what came since the clear comes anew.
    if (m_analysis.generation() != m_generation) {
        beginResetModel();
        m_generation = m_analysis.generation();
        m_rows = m_analysis.connection_count();
        m_seen_rows = m_analysis.row_count();
        endResetModel();
        return;
    }
    const int rows = m_analysis.row_count();
    if (rows == m_seen_rows)
        return;
    // The connections of the rows since: the old ones among them changed.
    std::vector<int> changed;
    for (int row = m_seen_rows; row < rows; ++row) {
        const int connection = m_analysis.connection_of(row);
        if (connection >= 0 && connection < m_rows)
            changed.push_back(connection);
    }
    m_seen_rows = rows;
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    for (std::size_t i = 0; i < changed.size();) {
        std::size_t last = i;
        while (last + 1 < changed.size() && changed[last + 1] == changed[last] + 1)
            ++last;
        emit dataChanged(index(changed[i], 0), index(changed[last], ColumnCount - 1));
        i = last + 1;
    }
    const int connections = m_analysis.connection_count();
    if (connections > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, connections - 1);
        m_rows = connections;
        endInsertRows();
    }
}

QVariant ConversationsModel::number(int row, int column) const
{
    const TcpConversation& c = m_analysis.conversation(row);
    const double duration = seconds(c.last_ns - c.first_ns);
    switch (column) {
    case PortA:
        return qulonglong(c.port[0]);
    case PortB:
        return qulonglong(c.port[1]);
    case PacketsAB:
        return qulonglong(c.packets[0]);
    case BytesAB:
        return qulonglong(c.bytes[0]);
    case PacketsBA:
        return qulonglong(c.packets[1]);
    case BytesBA:
        return qulonglong(c.bytes[1]);
    case Start:
        return seconds(c.first_ns - m_analysis.first_ns().value_or(c.first_ns));
    case Duration:
        return duration;
    case RateAB:
    case RateBA:
        if (c.last_ns <= c.first_ns)
            return {};
        return static_cast<double>(c.bytes[column == RateAB ? 0 : 1]) * 8 / duration;
    case Marked:
        return qulonglong(c.marked);
    default:
        return {};
    }
}

bool ConversationsModel::less(int a, int b, int column) const
{
    if (m_analysis.generation() != m_generation || a >= m_analysis.connection_count()
        || b >= m_analysis.connection_count())
        return a < b;
    const TcpConversation& x = m_analysis.conversation(a);
    const TcpConversation& y = m_analysis.conversation(b);
    const auto rate = [](const TcpConversation& c, int side) {
        return c.last_ns <= c.first_ns ? -1.0
                                       : static_cast<double>(c.bytes[std::size_t(side)]) * 8
                        / seconds(c.last_ns - c.first_ns);
    };
    switch (column) {
    case AddressA:
    case AddressB: {
        const std::size_t side = column == AddressA ? 0 : 1;
        if (x.version != y.version)
            return x.version < y.version;
        return x.address[side] < y.address[side];
    }
    case PortA:
        return x.port[0] < y.port[0];
    case PortB:
        return x.port[1] < y.port[1];
    case PacketsAB:
        return x.packets[0] < y.packets[0];
    case BytesAB:
        return x.bytes[0] < y.bytes[0];
    case PacketsBA:
        return x.packets[1] < y.packets[1];
    case BytesBA:
        return x.bytes[1] < y.bytes[1];
    case Start:
        return x.first_ns < y.first_ns;
    case Duration:
        return x.last_ns - x.first_ns < y.last_ns - y.first_ns;
    case RateAB:
    case RateBA:
        return rate(x, column == RateAB ? 0 : 1) < rate(y, column == RateAB ? 0 : 1);
    case ServerName:
        return m_analysis.server_name(a) < m_analysis.server_name(b);
    case Marked:
        return x.marked < y.marked;
    default:
        return a < b;
    }
}

QVariant ConversationsModel::data(const QModelIndex& index, int role) const
{
    // A clear the model has not taken yet leaves no row to read.
    if (!index.isValid() || index.row() >= m_rows || m_analysis.generation() != m_generation
        || index.row() >= m_analysis.connection_count())
        return {};
    const int row = index.row();
    const int column = index.column();
    const TcpConversation& c = m_analysis.conversation(row);
    const bool text = column == AddressA || column == AddressB || column == ServerName;
    switch (role) {
    case Qt::DisplayRole: {
        if (column == AddressA || column == AddressB)
            return address_text(c, column == AddressA ? 0 : 1);
        if (column == ServerName)
            return QString::fromStdString(m_analysis.server_name(row));
        const QVariant value = number(row, column);
        if (!value.isValid())
            return QString();
        if (column == Start || column == Duration)
            return QString::number(value.toDouble(), 'f', 6);
        if (column == RateAB || column == RateBA)
            return QString::number(std::llround(value.toDouble()));
        return QString::number(value.toULongLong());
    }
    case Qt::UserRole:
        return text ? data(index, Qt::DisplayRole) : number(row, column);
    case kSortRole:
        if (column == AddressA || column == AddressB) {
            const auto& address = c.address[column == AddressA ? 0 : 1];
            return QByteArray(1, char(c.version))
                    + QByteArray(reinterpret_cast<const char*>(address.data()), 16);
        }
        if (column == RateAB || column == RateBA)
            return number(row, column).isValid() ? number(row, column) : QVariant(-1.0);
        return data(index, Qt::UserRole);
    case kSearchRole:
        return endpoint_text(c, 0) + QLatin1Char(' ') + endpoint_text(c, 1) + QLatin1Char(' ')
                + QString::fromStdString(m_analysis.server_name(row));
    case Qt::TextAlignmentRole:
        return int((text ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ConversationsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::ToolTipRole) {
        switch (section) {
        case AddressA:
            return QCoreApplication::translate("ConversationsModel", "发出连接第一段的一方");
        case BytesAB:
        case BytesBA:
            return QCoreApplication::translate("ConversationsModel", "负载的字节数");
        case Start:
            return QCoreApplication::translate("ConversationsModel", "自第一行起的秒数");
        case Duration:
            return QCoreApplication::translate("ConversationsModel", "秒");
        case RateAB:
        case RateBA:
            return QCoreApplication::translate("ConversationsModel", "负载的比特每秒");
        case Marked:
            return QCoreApplication::translate("ConversationsModel", "备注中有标记的行数");
        default:
            return {};
        }
    }
    if (orientation == Qt::Vertical || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[ColumnCount] = {
        QT_TRANSLATE_NOOP("ConversationsModel", "地址A"),
        QT_TRANSLATE_NOOP("ConversationsModel", "端口A"),
        QT_TRANSLATE_NOOP("ConversationsModel", "地址B"),
        QT_TRANSLATE_NOOP("ConversationsModel", "端口B"),
        QT_TRANSLATE_NOOP("ConversationsModel", "包数 A→B"),
        QT_TRANSLATE_NOOP("ConversationsModel", "字节 A→B"),
        QT_TRANSLATE_NOOP("ConversationsModel", "包数 B→A"),
        QT_TRANSLATE_NOOP("ConversationsModel", "字节 B→A"),
        QT_TRANSLATE_NOOP("ConversationsModel", "开始"),
        QT_TRANSLATE_NOOP("ConversationsModel", "持续时间"),
        QT_TRANSLATE_NOOP("ConversationsModel", "速率 A→B"),
        QT_TRANSLATE_NOOP("ConversationsModel", "速率 B→A"),
        QT_TRANSLATE_NOOP("ConversationsModel", "服务器名"),
        QT_TRANSLATE_NOOP("ConversationsModel", "标记行数"),
    };
    if (section < 0 || section >= ColumnCount)
        return {};
    return QCoreApplication::translate("ConversationsModel", titles[section]);
}
