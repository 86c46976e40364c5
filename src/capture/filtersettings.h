// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>
#include <QStringList>

// What the filter options form sets and each capture copies when it starts.
// A list is in force only while its switch is on.
struct FilterSettings
{
    bool include_ip_enabled = false;
    bool include_port_enabled = false;
    bool exclude_ip_enabled = false;
    bool exclude_port_enabled = false;
    QStringList include_ips;
    QStringList include_ports;
    QStringList exclude_ips;
    QStringList exclude_ports;
    // A libpcap filter expression ("tcp port 443 and host 10.0.0.1") applied
    // to the source at the start of a capture, while capture_filter_on.
    bool capture_filter_on = false;
    QString capture_filter;
};

// Every switch, list and expression alike.
bool operator==(const FilterSettings& a, const FilterSettings& b);
bool operator!=(const FilterSettings& a, const FilterSettings& b);

// The settings of this run, written by the filter options form and read when a
// capture starts; both on the interface thread.
extern FilterSettings g_filter_settings;
