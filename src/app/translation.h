// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

class QCoreApplication;
class QLocale;

// Whether the interface speaks English in this locale: every language but
// Chinese does; Chinese and the C/POSIX locale (LANG=C or unset) keep the
// Chinese texts the program is written in.
bool wants_english(const QLocale& locale);

// Makes the application speak the language that the locale asks for: installs
// the embedded English catalogue on app when wants_english(locale), and
// otherwise Qt's own Chinese catalogue (qtbase_zh_CN from Qt's translations
// folder), so that Qt's dialogs and buttons speak Chinese too; replaces what
// an earlier call installed. Call it before the first window or command line
// parser is built. Returns whether English is now installed; a catalogue that
// cannot be loaded is logged and leaves those texts in their source language.
bool install_translation(QCoreApplication& app, const QLocale& locale);
