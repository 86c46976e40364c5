// SPDX-License-Identifier: GPL-2.0-or-later

#include "filtersettings.h"

FilterSettings g_filter_settings;

bool operator==(const FilterSettings& a, const FilterSettings& b)
{
    return a.include_ip_enabled == b.include_ip_enabled
            && a.include_port_enabled == b.include_port_enabled
            && a.exclude_ip_enabled == b.exclude_ip_enabled
            && a.exclude_port_enabled == b.exclude_port_enabled && a.include_ips == b.include_ips
            && a.include_ports == b.include_ports && a.exclude_ips == b.exclude_ips
            && a.exclude_ports == b.exclude_ports && a.capture_filter_on == b.capture_filter_on
            && a.capture_filter == b.capture_filter;
}

bool operator!=(const FilterSettings& a, const FilterSettings& b)
{
    return !(a == b);
}
