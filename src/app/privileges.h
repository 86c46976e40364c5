// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>

// Whether the window runs with more power than it needs. It parses traffic
// from the network, so it is meant to run as an ordinary user; capturing is
// the business of tarnlook-capture alone.
namespace privileges {

// True for the effective user root, or when the process holds capabilities:
// a non-zero CapEff or CapPrm mask in status, the text of /proc/self/status.
// A status without those lines counts as no capabilities.
bool is_privileged(uid_t effective_user, const QByteArray& status);

// is_privileged() for this process.
bool running_privileged();

// One line, translated, that says why running privileged is a risk and
// what to do instead.
QString warning();

} // namespace privileges
