// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>

struct FilterSettings;

// Whether a record line is shown under the settings.
//
// A line passes when no include switch is on or it matches an entry of an
// enabled include list, and it matches no entry of an enabled exclude list.
// Address entries are compared with the source and the destination address,
// port entries with the source and the destination port: whole texts,
// case-sensitive, as typed (" 80" and "080" match no port), except that an
// address entry that parses as an IPv6 address matches that address however
// it is spelled ("0:0:0:0:0:0:0:1" matches "::1", case does not matter).
// An empty entry never matches. A text that does not split on "|" into
// exactly eight fields is no record line and never passes.
[[nodiscard]] bool filter_accepts(const FilterSettings& settings, const QString& line);
