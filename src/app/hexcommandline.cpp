#include "hexcommandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

std::optional<QString> hexFileArgument(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption hex(QStringLiteral("hex"),
                                 QCoreApplication::translate("main", "在十六进制窗口中打开文件。"),
                                 QStringLiteral("FILE"));
    parser.addOption(hex);
    // Options this reader does not know belong to others: not an error here.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    parser.parse(arguments);
    if (!parser.isSet(hex) || parser.value(hex).isEmpty())
        return std::nullopt;
    return parser.value(hex);
}
