// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QString>

class CaptureStore;

// Reading and writing capture files for the user.

// Why libpcap cannot read the file at `path` (missing, no permission, not a
// capture file); nothing when it can, and then *link_type (if given) is the
// file's link type (of its first interface, for pcapng).
std::optional<QString> capture_file_problem(const QString& path, int* link_type = nullptr);

// Whether the capture file open at `fd` keeps its timestamps in nanoseconds
// (a nanosecond pcap file, or pcapng whose first interface has a resolution
// finer than a microsecond); nothing when that cannot be told, as from a pipe.
// Reads with pread: the file's position is not moved.
std::optional<bool> capture_file_has_nanoseconds(int fd);

// Writes the stored frames, in the order given, to a pcap file at `path`
// with their timestamps and bytes as captured: a nanosecond pcap file when
// any of them has nanosecond timestamps, else a microsecond one. The data
// goes to a temporary file in the target's folder, which replaces the target
// by rename only once it is complete: on failure an existing file stays as it
// was. A new file gets the mode the umask leaves; a replaced one keeps its
// mode, and its owner and group where this process may give them (else the
// group loses its rights: the file never becomes readable to more). `progress`
// (optional) is called now and then with the count of frames written; it
// returns false to cancel. Returns false with the reason in `error`.
[[nodiscard]] bool save_frames(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                               const QString& path, QString* error,
                               const std::function<bool(std::size_t)>& progress = {});
