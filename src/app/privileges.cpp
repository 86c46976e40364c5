// SPDX-License-Identifier: GPL-2.0-or-later

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
            "本窗口正以root身份或带特权能力解析网络数据, 风险大。请以普通用户运行: "
            "用 sudo usermod -aG tarnlook $USER 加入tarnlook组, 再重新登录。");
}

} // namespace privileges
