// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QString>

// What main() settles before the application object exists: which of the
// program's messages show, and whether there is a display to show a window
// on at all.
namespace startup {

// The program's debug lines (categories tarnlook.*) stay off; its warnings
// and everything else show. QT_LOGGING_RULES and a QT_LOGGING_CONF file
// still decide over these rules, so that a user can ask for the debug lines.
void set_default_logging_rules();

// Empty when Qt has somewhere to show windows: DISPLAY or WAYLAND_DISPLAY is
// set, or a platform is chosen (QT_QPA_PLATFORM, or -platform among the
// arguments of main()). Otherwise the one line, without a line break, that
// tells the user so, in English: it is printed before any translator is
// installed.
QString missing_display_message(int argc, const char* const* argv);

} // namespace startup
