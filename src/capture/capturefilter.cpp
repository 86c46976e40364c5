#include "capturefilter.h"

#include <QStringList>
#include <QStringView>

#include "filtersettings.h"

namespace {

constexpr int kSeparators = 7; // eight fields

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
                               && matches(settings.include_ips, source, destination))
                || (settings.include_port_enabled
                    && matches(settings.include_ports, source_port, destination_port));
        if (!included)
            return false;
    }
    if (settings.exclude_ip_enabled && matches(settings.exclude_ips, source, destination))
        return false;
    if (settings.exclude_port_enabled
        && matches(settings.exclude_ports, source_port, destination_port))
        return false;
    return true;
}
