// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturefilter.h"

#include <array>
#include <optional>

#include <arpa/inet.h>

#include <QStringList>
#include <QStringView>

#include "filtersettings.h"

namespace {

constexpr int kSeparators = 7; // eight fields

using Ipv6Bytes = std::array<unsigned char, 16>;

// The address an IPv6 text names, in any spelling inet_pton accepts (zeros
// compressed or not, either case, a dotted IPv4 tail); nothing otherwise.
std::optional<Ipv6Bytes> parse_ipv6(QStringView text)
{
    char latin[INET6_ADDRSTRLEN + 16];
    if (text.size() >= static_cast<qsizetype>(sizeof latin) || !text.contains(QLatin1Char(':')))
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == 0 || c > 0x7F)
            return std::nullopt;
        latin[i] = static_cast<char>(c);
    }
    latin[text.size()] = '\0';
    Ipv6Bytes bytes;
    if (inet_pton(AF_INET6, latin, bytes.data()) != 1)
        return std::nullopt;
    return bytes;
}

// Whole-text matching: ports, and what the address lists hold besides IPv6.
bool matches(const QStringList& entries, QStringView first, QStringView second)
{
    for (const QString& entry : entries) {
        if (entry.isEmpty())
            continue;
        const QStringView text(entry);
        if (text == first || text == second)
            return true;
    }
    return false;
}

// One address field of the line, parsed as IPv6 when first needed.
class AddressField
{
public:
    explicit AddressField(QStringView text)
        : m_text(text)
    { }

    bool same_address(const Ipv6Bytes& address)
    {
        if (!m_parsed) {
            m_parsed = true;
            m_address = parse_ipv6(m_text);
        }
        return m_address == address;
    }

private:
    QStringView m_text;
    bool m_parsed = false;
    std::optional<Ipv6Bytes> m_address;
};

// An address entry matches as typed, or, when it parses as an IPv6 address,
// the same address however either side spells it. Each entry and each field
// is parsed at most once.
bool matches_address(const QStringList& entries, QStringView first, QStringView second)
{
    if (matches(entries, first, second))
        return true;
    const QLatin1Char colon(':');
    if (!first.contains(colon) && !second.contains(colon))
        return false; // an IPv4 line: nothing to parse
    AddressField source(first);
    AddressField destination(second);
    for (const QString& entry : entries) {
        if (!entry.contains(colon))
            continue;
        const std::optional<Ipv6Bytes> address = parse_ipv6(entry);
        if (address && (source.same_address(*address) || destination.same_address(*address)))
            return true;
    }
    return false;
}

} // namespace

bool filter_accepts(const FilterSettings& settings, const QString& line)
{
    int separators[kSeparators];
    int from = 0;
    for (int& at : separators) {
        at = line.indexOf(QLatin1Char('|'), from);
        if (at < 0)
            return false;
        from = at + 1;
    }
    if (line.indexOf(QLatin1Char('|'), from) >= 0)
        return false;

    // Field k runs from just after separator k - 1 to separator k.
    const QStringView view(line);
    auto field = [&](int k) {
        return view.mid(separators[k - 1] + 1, separators[k] - separators[k - 1] - 1);
    };
    const QStringView source = field(2);
    const QStringView source_port = field(3);
    const QStringView destination = field(4);
    const QStringView destination_port = field(5);

    if (settings.include_ip_enabled || settings.include_port_enabled) {
        const bool included = (settings.include_ip_enabled
                               && matches_address(settings.include_ips, source, destination))
                || (settings.include_port_enabled
                    && matches(settings.include_ports, source_port, destination_port));
        if (!included)
            return false;
    }
    if (settings.exclude_ip_enabled && matches_address(settings.exclude_ips, source, destination))
        return false;
    if (settings.exclude_port_enabled
        && matches(settings.exclude_ports, source_port, destination_port))
        return false;
    return true;
}
