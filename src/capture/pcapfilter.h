// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <optional>

#include <pcap/pcap.h>

#include <QString>

// The capture filter: a libpcap filter expression ("tcp port 443 and host
// 10.0.0.1") that the kernel or libpcap applies before any frame reaches the
// capture thread.

// Compiles the expression for the handle's link type and applies it. On
// failure returns false with libpcap's own text in error; the handle is left
// as it was. netmask is that of the captured network, or
// PCAP_NETMASK_UNKNOWN (then "ip broadcast" is rejected).
[[nodiscard]] bool apply_capture_filter(pcap_t* handle, const QString& expression,
                                        bpf_u_int32 netmask, QString* error);

// libpcap's objection to the expression on an Ethernet capture, or nothing
// when it compiles: a check that needs no adapter, before a capture starts.
[[nodiscard]] std::optional<QString> capture_filter_error(const QString& expression);

// An expression that keeps a remote session's own traffic out of the
// capture, from the values of SSH_CONNECTION ("client port server port")
// and DISPLAY (an X display reached over TCP, "host:N" on port 6000 + N);
// empty when neither names a TCP connection. Over ssh -X, or with a display
// such as 127.0.0.1:10, a capture on the adapter that carries the session
// would otherwise show the program's own SSH and X11 traffic, which makes
// more traffic.
[[nodiscard]] QString session_exclusion_filter(const QString& ssh_connection,
                                               const QString& display);
