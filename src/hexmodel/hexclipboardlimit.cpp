// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexclipboardlimit.h"

#include <limits>

#include <QFile>

namespace {

constexpr qint64 kHexCharsPerByte = 3;
constexpr qint64 kAvailableShare = 4; // a quarter of what is available

} // namespace

HexClipboardLimit::HexClipboardLimit(std::optional<qint64> available)
    : m_maximum(kCeiling)
{
    if (available)
        m_maximum = qBound<qint64>(0, *available / kAvailableShare, kCeiling);
}

HexClipboardLimit HexClipboardLimit::current()
{
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly))
        return HexClipboardLimit(std::nullopt);
    return HexClipboardLimit(memAvailable(file.readAll()));
}

std::optional<qint64> HexClipboardLimit::memAvailable(const QByteArray& meminfo)
{
    // "MemAvailable:    8123456 kB"
    const QByteArray name("MemAvailable:");
    for (const QByteArray& line : meminfo.split('\n')) {
        if (!line.startsWith(name))
            continue;
        const QList<QByteArray> parts = line.mid(name.size()).simplified().split(' ');
        if (parts.size() != 2 || parts.at(1) != "kB")
            return std::nullopt;
        bool ok = false;
        const qint64 kib = parts.at(0).toLongLong(&ok);
        if (!ok || kib < 0 || kib > (std::numeric_limits<qint64>::max() >> 10))
            return std::nullopt;
        return kib << 10;
    }
    return std::nullopt;
}

qint64 HexClipboardLimit::maximumBytes(bool hex) const
{
    return hex ? m_maximum / kHexCharsPerByte : m_maximum;
}

bool HexClipboardLimit::allows(qint64 bytes, bool hex) const
{
    return bytes >= 0 && bytes <= maximumBytes(hex);
}
