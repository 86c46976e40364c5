#include "privileges.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QList>

namespace privileges {

bool is_privileged(uid_t effective_user, const QByteArray& status)
{
    if (effective_user == 0)
        return true;
    const QList<QByteArray> lines = status.split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("CapEff:") && !line.startsWith("CapPrm:"))
            continue;
        bool ok = false;
        const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
        if (!ok || mask != 0) // a mask that cannot be read is not trusted
            return true;
    }
    return false;
}

bool running_privileged()
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return is_privileged(geteuid(), text);
}

QString warning()
{
    return QCoreApplication::translate(
            "Privileges",
            "本窗口正以root身份或带特权能力运行, 而它要解析来自网络的数据, 一旦出错后果更严重。"
            "请以普通用户运行: 安装tarnlook软件包, 用 sudo usermod -aG tarnlook $USER "
            "加入tarnlook组, 重新登录, 抓包交给tarnlook-capture。");
}

} // namespace privileges
