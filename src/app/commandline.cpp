// SPDX-License-Identifier: GPL-2.0-or-later

#include "commandline.h"

#include <optional>

#include <QCoreApplication>
#include <QFileInfo>

#include "sshcapturesource.h"

namespace {

// Status of a command line that cannot be followed, as the peer tools use.
constexpr int kUsageError = 2;

} // namespace

CommandLine::CommandLine()
    : m_adapter_option({ QStringLiteral("i"), QStringLiteral("interface") },
                       QCoreApplication::translate(
                               "CommandLine",
                               "选择要捕获的网卡, 或远程主机的网卡: ssh://[用户@]主机[:端口]/网卡"),
                       QStringLiteral("ADAPTER"))
    , m_start_option(QStringLiteral("k"),
                     QCoreApplication::translate("CommandLine", "立即开始捕获(与 -i 一起使用)"))
    , m_hex_option(QStringLiteral("hex"),
                   QCoreApplication::translate("CommandLine", "在十六进制窗口中打开文件"),
                   QStringLiteral("FILE"))
    , m_keylog_option(QStringLiteral("tls-keylog"),
                      QCoreApplication::translate(
                              "CommandLine", "用该TLS密钥日志 (SSLKEYLOGFILE 的格式) 解密TLS流"),
                      QStringLiteral("FILE"))
    , m_help_option(m_parser.addHelpOption())
    , m_version_option(m_parser.addVersionOption())
{
    m_parser.setApplicationDescription(
            QCoreApplication::translate("CommandLine", "捕获并显示TCP数据包"));
    m_parser.addOption(m_adapter_option);
    m_parser.addOption(m_start_option);
    m_parser.addOption(m_hex_option);
    m_parser.addOption(m_keylog_option);
    m_parser.addPositionalArgument(
            QStringLiteral("FILE"),
            QCoreApplication::translate("CommandLine", "启动时打开的捕获文件(pcap 或 pcapng)"),
            QStringLiteral("[FILE]"));
}

CommandLine::Outcome CommandLine::fail(const QString& message)
{
    m_exit_code = kUsageError;
    m_output = QCoreApplication::applicationName() + QStringLiteral(": ") + message
            + QLatin1Char('\n')
            + QCoreApplication::translate("CommandLine", "用 --help 查看可用的选项。")
            + QLatin1Char('\n');
    return Outcome::Exit;
}

CommandLine::Outcome CommandLine::parse(const QStringList& arguments)
{
    if (!m_parser.parse(arguments))
        return fail(m_parser.errorText());
    if (m_parser.isSet(m_help_option)) {
        m_output = m_parser.helpText();
        return Outcome::Exit;
    }
    if (m_parser.isSet(m_version_option)) {
        m_output = QCoreApplication::applicationName() + QLatin1Char(' ')
                + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return Outcome::Exit;
    }

    const auto readable = [](const QString& path) -> std::optional<QString> {
        const QFileInfo info(path);
        if (!info.exists())
            return QCoreApplication::translate("CommandLine", "文件不存在: %1").arg(path);
        if (!info.isFile() || !info.isReadable())
            return QCoreApplication::translate("CommandLine", "无法读取文件: %1").arg(path);
        return std::nullopt;
    };
    const QStringList positional = m_parser.positionalArguments();
    if (positional.size() > 1)
        return fail(QCoreApplication::translate("CommandLine", "只能打开一个文件: %1")
                            .arg(positional.join(QLatin1Char(' '))));
    if (!positional.isEmpty()) {
        file = positional.first();
        if (const std::optional<QString> why = readable(file))
            return fail(*why);
    }
    hex_file = m_parser.value(m_hex_option);
    if (!hex_file.isEmpty()) {
        if (const std::optional<QString> why = readable(hex_file))
            return fail(*why);
        if (!file.isEmpty() || m_parser.isSet(m_adapter_option) || m_parser.isSet(m_start_option))
            return fail(QCoreApplication::translate("CommandLine",
                                                    "--hex 不能与捕获文件、-i 或 -k 一起使用"));
    }
    tls_keylog = m_parser.value(m_keylog_option);
    if (!tls_keylog.isEmpty()) {
        if (const std::optional<QString> why = readable(tls_keylog))
            return fail(*why);
    }
    adapter = m_parser.value(m_adapter_option);
    QString why;
    if (adapter.startsWith(SshCaptureSource::kScheme) && !SshCaptureSource::parse(adapter, &why))
        return fail(why);
    start_capture = m_parser.isSet(m_start_option);
    if (start_capture && adapter.isEmpty())
        return fail(QCoreApplication::translate("CommandLine", "-k 需要用 -i 指定网卡"));
    if (start_capture && !file.isEmpty())
        return fail(QCoreApplication::translate("CommandLine", "不能同时打开文件和开始捕获"));
    return Outcome::Run;
}
