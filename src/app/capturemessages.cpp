#include "capturemessages.h"

#include <QCoreApplication>

#include "cupdate.h"

QString capture_failure_text(int failure, const QString& detail, int rows)
{
    switch (failure) {
    case CUpdate::UnsupportedLinkType:
        return QCoreApplication::translate(
                       "MainWindow",
                       "不支持这个数据源的链路类型: %1\n无法从中解析TCP数据包,捕获已停止。")
                .arg(detail);
    case CUpdate::StoreError:
        return QCoreApplication::translate("MainWindow",
                                           "写入临时捕获数据失败,捕获已停止: %1\n表中已有 %2 行。")
                .arg(detail)
                .arg(rows);
    case CUpdate::LowMemory:
        return QCoreApplication::translate(
                       "MainWindow", "可用内存不足,捕获已自动停止。\n表中已有 %1 行,仍可保存。")
                .arg(rows);
    case CUpdate::LowDisk:
        return QCoreApplication::translate(
                       "MainWindow",
                       "临时目录所在磁盘的剩余空间不足,捕获已自动停止。\n表中已有 %1 行,仍可保存。")
                .arg(rows);
    default:
        return QCoreApplication::translate("MainWindow", "捕获出错而停止: %1\n表中已有 %2 行。")
                .arg(detail)
                .arg(rows);
    }
}
