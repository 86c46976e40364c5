// SPDX-License-Identifier: GPL-2.0-or-later

#include "listnotice.h"

#include <utility>

#include <QCheckBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>

#include "filtersettings.h"
#include "fitwid.h"
#include "shownrows.h"

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

void follow_lists_in_force(QMainWindow& window, const ShownRows& shown,
                           const std::function<void()>& open_form)
{
    // Made when first needed: the status bar comes with it.
    const auto update = [&window, &shown, open_form] {
        auto* notice = window.findChild<ListNotice*>();
        const bool in_force = shown.narrowing() || !lists_summary(g_filter_settings).isEmpty();
        if (notice == nullptr && !in_force)
            return;
        if (notice == nullptr)
            notice = new ListNotice(window.statusBar(), open_form); // a child of the bar
        notice->show_state(g_filter_settings, shown.narrowing());
    };
    // Once the form's own slots have written the settings.
    const auto later = [&shown, update] { QTimer::singleShot(0, &shown, update); };
    for (const QCheckBox* box : g_filter_form->findChildren<QCheckBox*>())
        QObject::connect(box, &QCheckBox::toggled, &shown, later);
    for (const QLineEdit* field : g_filter_form->findChildren<QLineEdit*>())
        QObject::connect(field, &QLineEdit::textChanged, &shown, later);
    QObject::connect(&shown, &ShownRows::narrowing_changed, &shown, later);
    update();
}
