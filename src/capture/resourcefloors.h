// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <cstdint>
#include <optional>

#include <QString>

// How much memory and disk must stay free while a capture runs; below either
// floor the capture stops by itself, before the system runs out.
struct ResourceFloors
{
    enum class Shortage { None, Memory, Disk };

    // Bytes of available memory (the system's, and the room left under the
    // process's cgroup limit when there is one) below which a capture stops.
    // Negative: the default, the smaller of 10% of RAM and 512 MiB.
    std::int64_t memory_bytes = -1;
    // Bytes free on the capture store's filesystem below which a capture
    // stops.
    std::int64_t disk_bytes = std::int64_t(256) << 20;

    // Which floor, if any, the machine is under now; `folder` is where the
    // store writes. `pending_bytes` of memory are as good as taken already
    // (rows on their way to the table, say).
    Shortage check(const QString& folder, std::int64_t pending_bytes = 0) const;
};

// Memory the process can still take: the system's available memory, or less
// when a cgroup limit is nearer. Nothing when it cannot be read.
std::optional<std::int64_t> available_memory();
// The default memory floor: the smaller of 10% of RAM and 512 MiB.
std::int64_t default_memory_floor();
// Free bytes for an unprivileged writer on the filesystem of `folder`.
std::optional<std::int64_t> available_disk(const QString& folder);

// The floors of this run; each capture copies them when it is created.
extern ResourceFloors g_resource_floors;
