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

// Writes the stored frames, in the order given, to a pcap file at `path`
// with their timestamps and bytes as captured. The data goes to a temporary
// file in the target's folder, which replaces the target by rename only once
// it is complete: on failure an existing file stays as it was. `progress`
// (optional) is called now and then with the count of frames written; it
// returns false to cancel. Returns false with the reason in `error`.
[[nodiscard]] bool save_frames(const CaptureStore& store, const std::vector<std::int64_t>& frames,
                               const QString& path, QString* error,
                               const std::function<bool(std::size_t)>& progress = {});
