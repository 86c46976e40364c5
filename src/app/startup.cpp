// SPDX-License-Identifier: GPL-2.0-or-later

#include "startup.h"

#include <QByteArray>
#include <QLoggingCategory>

namespace startup {

void set_default_logging_rules()
{
    QLoggingCategory::setFilterRules(QStringLiteral("tarnlook.*.debug=false"));
}

QString missing_display_message(int argc, const char* const* argv)
{
    for (const char* variable : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" }) {
        if (!qEnvironmentVariableIsEmpty(variable))
            return {};
    }
    // As Qt reads its own options: with one dash or two.
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return {};
    }
    return QStringLiteral("tarnlook: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): "
                          "start it in a graphical session, or without windows on screen "
                          "with QT_QPA_PLATFORM=offscreen");
}

} // namespace startup
