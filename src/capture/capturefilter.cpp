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

// Ports, and IPv4 addresses, match as typed. An IPv6 entry matches the
// address it names however either side spells it.
bool same_address(QStringView entry, QStringView field)
{
    if (entry == field)
        return true;
    if (!field.contains(QLatin1Char(':')))
        return false;
    const std::optional<Ipv6Bytes> wanted = parse_ipv6(entry);
    return wanted && wanted == parse_ipv6(field);
}

bool matches(const QStringList& entries, QStringView first, QStringView second,
             bool addresses = false)
{
    for (const QString& entry : entries) {
        if (entry.isEmpty())
            continue;
        const QStringView text(entry);
        if (text == first || text == second)
            return true;
        if (addresses && (same_address(text, first) || same_address(text, second)))
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
                               && matches(settings.include_ips, source, destination, true))
                || (settings.include_port_enabled
                    && matches(settings.include_ports, source_port, destination_port));
        if (!included)
            return false;
    }
    if (settings.exclude_ip_enabled && matches(settings.exclude_ips, source, destination, true))
        return false;
    if (settings.exclude_port_enabled
        && matches(settings.exclude_ports, source_port, destination_port))
        return false;
    return true;
}
