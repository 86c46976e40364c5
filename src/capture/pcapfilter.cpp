// SPDX-License-Identifier: GPL-2.0-or-later

#include "pcapfilter.h"

#include <QStringList>

namespace {

constexpr int kX11BasePort = 6000;
constexpr int kSnapLength = 262144; // a capture's: whole frames

// An address as a filter names it: an IPv6 zone ("fe80::1%eth0") is no part
// of the expression language.
QString filter_host(const QString& address)
{
    return address.section(QLatin1Char('%'), 0, 0);
}

bool is_port(const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port > 0 && port <= 65535;
}

// "not (tcp port A and host B ...)" for one TCP connection between two ends.
QString exclude_connection(const QString& host_a, const QString& port_a, const QString& host_b,
                           const QString& port_b)
{
    return QStringLiteral("not (tcp port %1 and host %2 and tcp port %3 and host %4)")
            .arg(port_a, filter_host(host_a), port_b, filter_host(host_b));
}

// The TCP end of an X display, or nothing for a local one (":0", "unix:0",
// a socket path).
std::optional<QString> x11_over_tcp(const QString& display)
{
    QString name = display.trimmed();
    if (name.startsWith(QLatin1Char('/')))
        return std::nullopt;
    const int slash = name.indexOf(QLatin1Char('/'));
    if (slash >= 0) { // protocol/host:display
        if (name.left(slash) != QLatin1String("tcp") && name.left(slash) != QLatin1String("inet")
            && name.left(slash) != QLatin1String("inet6"))
            return std::nullopt;
        name = name.mid(slash + 1);
    }
    const int colon = name.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = name.left(colon);
    if (host.endsWith(QLatin1Char(':'))) // DECnet's "host::0"
        return std::nullopt;
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host == QLatin1String("unix"))
        return std::nullopt;
    bool ok = false;
    const int number = name.mid(colon + 1).section(QLatin1Char('.'), 0, 0).toInt(&ok);
    if (!ok || number < 0 || number > 65535 - kX11BasePort)
        return std::nullopt;
    return QStringLiteral("not (tcp port %1 and host %2)")
            .arg(kX11BasePort + number)
            .arg(filter_host(host));
}

} // namespace

bool apply_capture_filter(pcap_t* handle, const QString& expression, bpf_u_int32 netmask,
                          QString* error)
{
    bpf_program program {};
    const QByteArray text = expression.toUtf8();
    if (pcap_compile(handle, &program, text.constData(), 1, netmask) != 0) {
        *error = QString::fromLocal8Bit(pcap_geterr(handle));
        return false;
    }
    const bool applied = pcap_setfilter(handle, &program) == 0;
    if (!applied)
        *error = QString::fromLocal8Bit(pcap_geterr(handle));
    pcap_freecode(&program);
    return applied;
}

std::optional<QString> capture_filter_error(const QString& expression)
{
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, kSnapLength);
    if (dead == nullptr)
        return QStringLiteral("pcap_open_dead failed");
    std::optional<QString> error;
    bpf_program program {};
    const QByteArray text = expression.toUtf8();
    if (pcap_compile(dead, &program, text.constData(), 1, PCAP_NETMASK_UNKNOWN) != 0)
        error = QString::fromLocal8Bit(pcap_geterr(dead));
    else
        pcap_freecode(&program);
    pcap_close(dead);
    return error;
}

QString session_exclusion_filter(const QString& ssh_connection, const QString& display)
{
    QStringList parts;
    const QStringList ssh = ssh_connection.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (ssh.size() == 4 && is_port(ssh.at(1)) && is_port(ssh.at(3)))
        parts.append(exclude_connection(ssh.at(0), ssh.at(1), ssh.at(2), ssh.at(3)));
    if (const std::optional<QString> x11 = x11_over_tcp(display))
        parts.append(*x11);
    return parts.join(QStringLiteral(" and "));
}
