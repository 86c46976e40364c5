// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <optional>

#include <QByteArray>
#include <QtGlobal>

// How much a copy may put on the clipboard. The clipboard keeps the whole
// copy in memory, and building it takes several times as much again (the
// bytes, their text as UTF-16, the clipboard's own copy), so a copy larger
// than kCeiling, or than a quarter of the memory the system has available,
// is refused before anything is read. A copy as hex text takes three
// characters per byte ("41 "), three times the bytes of a plain copy.
class HexClipboardLimit
{
public:
    static constexpr qint64 kCeiling = qint64(256) << 20;

    // available: bytes of memory the system can still hand out; nothing when
    // unknown, and then only the ceiling applies.
    explicit HexClipboardLimit(std::optional<qint64> available);
    // The limit for the memory /proc/meminfo reports available now.
    static HexClipboardLimit current();
    // The MemAvailable line of a /proc/meminfo text, in bytes; nothing when
    // the line is missing or malformed.
    static std::optional<qint64> memAvailable(const QByteArray& meminfo);

    // The most the clipboard may take, in bytes; never negative.
    qint64 maximum() const { return m_maximum; }
    // The most bytes of a document that one copy may take, as they are or
    // as hex text.
    qint64 maximumBytes(bool hex) const;
    // Whether a copy of that many bytes fits; false for a negative count.
    bool allows(qint64 bytes, bool hex) const;

private:
    qint64 m_maximum;
};
