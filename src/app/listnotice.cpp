// SPDX-License-Identifier: GPL-2.0-or-later

#include "listnotice.h"

#include <utility>

#include <QStatusBar>
#include <QStringList>

#include "filtersettings.h"

namespace {

// Longer summaries are cut (whole in the tooltip): the bar has other
// things to say.
constexpr int kShownCharacters = 60;

} // namespace

ListNotice::ListNotice(QStatusBar* bar, std::function<void()> open_form)
    : QToolButton(bar)
{
    setObjectName(QStringLiteral("listNotice"));
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(this, &QToolButton::clicked, this, [open = std::move(open_form)] { open(); });
    bar->addPermanentWidget(this);
    hide();
}

void ListNotice::show_state(const FilterSettings& ticked, bool narrowing)
{
    const QString lists = lists_summary(ticked);
    QStringList parts;
    QStringList tips;
    if (!lists.isEmpty()) {
        parts.append(tr("过滤列表: %1").arg(lists));
        tips.append(tr("之后的抓包和打开的文件只显示这些列表放过的行: %1").arg(lists));
    }
    if (narrowing) {
        parts.append(tr("显示的行已按列表缩小"));
        tips.append(tr("表格只显示“应用到已显示的行”时的列表放过的行, 新来的行也一样。"));
    }
    if (parts.isEmpty()) {
        hide();
        return;
    }
    QString text = parts.join(QStringLiteral("; "));
    if (text.size() > kShownCharacters)
        text = text.left(kShownCharacters - 1) + QChar(0x2026);
    setText(text);
    tips.append(tr("点击打开“过滤规则”。"));
    setToolTip(tips.join(QLatin1Char('\n')));
    show();
}

QString lists_summary(const FilterSettings& settings)
{
    const struct
    {
        bool on;
        const QStringList& entries;
        QString name;
    } lists[] = {
        { settings.include_ip_enabled, settings.include_ips, ListNotice::tr("包含IP") },
        { settings.include_port_enabled, settings.include_ports, ListNotice::tr("包含端口") },
        { settings.exclude_ip_enabled, settings.exclude_ips, ListNotice::tr("不含IP") },
        { settings.exclude_port_enabled, settings.exclude_ports, ListNotice::tr("不含端口") },
    };
    QStringList named;
    for (const auto& list : lists)
        if (list.on)
            named.append(list.name + QLatin1Char(' ') + list.entries.join(QLatin1Char('|')));
    return named.join(QStringLiteral("; "));
}
