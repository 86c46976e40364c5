// SPDX-License-Identifier: GPL-2.0-or-later

#include "deviceio.h"

#include <limits>

#include <QIODevice>

namespace {

constexpr qint64 kWindow = 1 << 20;
constexpr qint64 kCopyChunk = qint64(64) * 1024;

qint64 windowFor(const QByteArray& pattern)
{
    return qMax<qint64>(kWindow, 2 * static_cast<qint64>(pattern.size()));
}

} // namespace

QByteArray deviceRead(QIODevice& device, qint64 offset, int length)
{
    if (offset < 0 || length <= 0 || !device.isReadable())
        return {};
    const qint64 size = device.size();
    if (offset >= size || !device.seek(offset))
        return {};
    return device.read(qMin<qint64>(length, size - offset));
}

qint64 windowIndexOf(const WindowReader& read, qint64 size, const QByteArray& pattern, qint64 from)
{
    if (from < 0)
        from = qMax<qint64>(0, from + size);
    if (from >= size)
        return -1;
    if (pattern.isEmpty())
        return from;

    const qint64 window = windowFor(pattern);
    qint64 start = from;
    for (;;) {
        const QByteArray bytes = read(start, static_cast<int>(qMin(window, size - start)));
        const int at = bytes.indexOf(pattern);
        if (at >= 0)
            return start + at;
        if (start + bytes.size() >= size || bytes.size() <= pattern.size())
            return -1;
        // The next window overlaps this one by the pattern's length, so a match
        // across the seam is not lost.
        start += bytes.size() - pattern.size();
    }
}

qint64 windowLastIndexOf(const WindowReader& read, qint64 size, const QByteArray& pattern,
                         qint64 from)
{
    if (from < 0 || pattern.size() == std::numeric_limits<int>::max())
        return -1;
    const qint64 window = windowFor(pattern);
    qint64 end = qMin(from, size);
    for (;;) {
        const qint64 start = qMax<qint64>(0, end - window);
        const QByteArray bytes = read(start, static_cast<int>(end - start));
        // From the window's end: a match lies wholly inside, ending by `end`.
        const int at = bytes.lastIndexOf(pattern);
        if (at >= 0)
            return start + at;
        if (start == 0)
            return -1;
        end = start + pattern.size();
    }
}

qint64 deviceIndexOf(QIODevice& device, const QByteArray& pattern, qint64 from)
{
    return windowIndexOf(
            [&](qint64 offset, int length) { return deviceRead(device, offset, length); },
            device.size(), pattern, from);
}

qint64 deviceLastIndexOf(QIODevice& device, const QByteArray& pattern, qint64 from)
{
    return windowLastIndexOf(
            [&](qint64 offset, int length) { return deviceRead(device, offset, length); },
            device.size(), pattern, from);
}

void deviceCopy(QIODevice& source, QIODevice& target)
{
    if (!source.isReadable() || !source.seek(0))
        return;
    for (;;) {
        const QByteArray chunk = source.read(kCopyChunk);
        if (chunk.isEmpty())
            return;
        target.write(chunk);
    }
}
