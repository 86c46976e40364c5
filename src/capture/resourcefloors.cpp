// SPDX-License-Identifier: GPL-2.0-or-later

#include "resourcefloors.h"

#include <algorithm>

#include <sys/statvfs.h>

#include <QFile>
#include <QStringList>

ResourceFloors g_resource_floors;

namespace {

constexpr std::int64_t kMaxMemoryFloor = std::int64_t(512) << 20;

// A "Name:  123 kB" line of /proc/meminfo, in bytes.
std::optional<std::int64_t> meminfo_value(const QByteArray& meminfo, const QByteArray& name)
{
    const int at = meminfo.indexOf("\n" + name + ':');
    const int from = at < 0 ? (meminfo.startsWith(name + ':') ? 0 : -1) : at + 1;
    if (from < 0)
        return std::nullopt;
    const int end = meminfo.indexOf('\n', from);
    const QList<QByteArray> parts = meminfo.mid(from, end - from).simplified().split(' ');
    bool ok = false;
    const std::int64_t kib = parts.size() >= 2 ? parts.at(1).toLongLong(&ok) : 0;
    return ok ? std::optional<std::int64_t>(kib * 1024) : std::nullopt;
}

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<std::int64_t> number_in(const QString& path)
{
    bool ok = false;
    const std::int64_t value = read_file(path).trimmed().toLongLong(&ok);
    return ok ? std::optional<std::int64_t>(value) : std::nullopt;
}

// Room left under the memory limit of the process's cgroup (v2 or v1), or
// nothing when there is no limit.
std::optional<std::int64_t> cgroup_room()
{
    const QList<QByteArray> lines = read_file(QStringLiteral("/proc/self/cgroup")).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> parts = line.split(':');
        if (parts.size() < 3)
            continue;
        const QString path = QString::fromUtf8(parts.at(2));
        std::optional<std::int64_t> limit;
        std::optional<std::int64_t> used;
        if (parts.at(0) == "0" && parts.at(1).isEmpty()) {
            const QString base = QStringLiteral("/sys/fs/cgroup") + path;
            limit = number_in(base + QStringLiteral("/memory.max")); // "max": no number
            used = number_in(base + QStringLiteral("/memory.current"));
        } else if (parts.at(1).split(',').contains("memory")) {
            const QString base = QStringLiteral("/sys/fs/cgroup/memory") + path;
            limit = number_in(base + QStringLiteral("/memory.limit_in_bytes"));
            used = number_in(base + QStringLiteral("/memory.usage_in_bytes"));
        }
        // cgroup v1 states "no limit" as a huge number.
        if (limit && used && *limit < (std::int64_t(1) << 60))
            return std::max<std::int64_t>(0, *limit - *used);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::int64_t> available_memory()
{
    const std::optional<std::int64_t> system
            = meminfo_value(read_file(QStringLiteral("/proc/meminfo")), "MemAvailable");
    const std::optional<std::int64_t> cgroup = cgroup_room();
    if (system && cgroup)
        return std::min(*system, *cgroup);
    return system ? system : cgroup;
}

std::int64_t default_memory_floor()
{
    const std::optional<std::int64_t> total
            = meminfo_value(read_file(QStringLiteral("/proc/meminfo")), "MemTotal");
    return total ? std::min(*total / 10, kMaxMemoryFloor) : kMaxMemoryFloor;
}

std::optional<std::int64_t> available_disk(const QString& folder)
{
    struct statvfs info
    {
    };
    if (statvfs(QFile::encodeName(folder).constData(), &info) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

ResourceFloors::Shortage ResourceFloors::check(const QString& folder,
                                               std::int64_t pending_bytes) const
{
    const std::int64_t memory_floor = memory_bytes >= 0 ? memory_bytes : default_memory_floor();
    const std::optional<std::int64_t> memory = available_memory();
    if (memory && *memory - pending_bytes < memory_floor)
        return Shortage::Memory;
    if (!folder.isEmpty()) {
        const std::optional<std::int64_t> disk = available_disk(folder);
        if (disk && *disk < disk_bytes)
            return Shortage::Disk;
    }
    return Shortage::None;
}
