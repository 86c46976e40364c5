// SPDX-License-Identifier: GPL-2.0-or-later

#include "capturemessages.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "cupdate.h"
#include "textexcerpt.h"

namespace {

constexpr int kMaxDetailLines = 16;
constexpr int kMaxDetailLineLength = 200;

} // namespace

QString capture_failure_text(int failure, const QString& raw_detail, int rows)
{
    // It may hold what another host or a file said: shown as plain, short
    // text.
    const QString detail = text_excerpt(raw_detail, kMaxDetailLines, kMaxDetailLineLength);
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
        // libpcap 1.10 reads a pcapng file only while its interfaces share
        // the first one's link type, and says so in these words.
        if (detail.contains(QLatin1String("different from the type of the first interface")))
            return QCoreApplication::translate("MainWindow",
                                               "这个pcapng文件的接口使用了不同的链路类型,"
                                               "只能读到这里: %1\n表中已有 %2 行。")
                    .arg(detail)
                    .arg(rows);
        return QCoreApplication::translate("MainWindow", "捕获出错而停止: %1\n表中已有 %2 行。")
                .arg(detail)
                .arg(rows);
    }
}

void show_plain_warning(QWidget* parent, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
