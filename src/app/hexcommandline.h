#pragma once

#include <optional>

#include <QString>
#include <QStringList>

// The file named by `--hex FILE` among the program's arguments (the first
// being the program), to open in a hex window; nothing when the option is
// absent or lacks its value. Other arguments are left to other readers.
std::optional<QString> hexFileArgument(const QStringList& arguments);
