// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// Finds Chinese, Japanese and Korean characters in interface texts, for the
// tests of the English interface.

#include <QString>
#include <QStringList>
#include <QVector>

namespace cjktext {

// Han ideographs and their radicals, CJK punctuation and full-width forms,
// kana and hangul: whatever an English reader would see as foreign script.
inline bool is_cjk(uint code)
{
    return (code >= 0x2E80 && code <= 0x2FDF) // radicals
            || (code >= 0x3000 && code <= 0x30FF) // punctuation, kana
            || (code >= 0x3100 && code <= 0x31FF) // bopomofo, kana extensions
            || (code >= 0x3400 && code <= 0x4DBF) // extension A
            || (code >= 0x4E00 && code <= 0x9FFF) // unified ideographs
            || (code >= 0xAC00 && code <= 0xD7AF) // hangul syllables
            || (code >= 0xF900 && code <= 0xFAFF) // compatibility ideographs
            || (code >= 0xFF00 && code <= 0xFFEF) // full-width forms
            || (code >= 0x20000 && code <= 0x3134F); // extensions B to G
}

inline bool has_cjk(const QString& text)
{
    const QVector<uint> codes = text.toUcs4();
    for (const uint code : codes) {
        if (is_cjk(code))
            return true;
    }
    return false;
}

// The texts among texts that hold a CJK character.
inline QStringList with_cjk(const QStringList& texts)
{
    QStringList found;
    for (const QString& text : texts) {
        if (has_cjk(text))
            found.append(text);
    }
    return found;
}

} // namespace cjktext
