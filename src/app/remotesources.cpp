// SPDX-License-Identifier: GPL-2.0-or-later

#include "remotesources.h"

#include <algorithm>

#include <QComboBox>

#include "appsettings.h"
#include "mainwindow.h"
#include "remotecapturedialog.h"
#include "sshcapturesource.h"

RemoteSources::RemoteSources(QComboBox& combo, AppSettings& settings, QObject* parent)
    : QObject(parent)
    , m_combo(combo)
    , m_settings(settings)
{
    for (const QString& source : settings.remote_sources(kRemembered)) {
        if (!SshCaptureSource::parse(source) || g_adapter_names.contains(source))
            continue;
        combo.addItem(source);
        g_adapter_names.append(source);
    }
    combo.addItem(tr("远程抓包..."));
    g_adapter_names.append(QString());

    connect(&combo, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index >= 0 && index < g_adapter_names.size() && !g_adapter_names.at(index).isEmpty())
            m_previous = index;
    });
    m_previous = combo.currentIndex();
    // Chosen by the user, the last item asks at once.
    connect(&combo, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (index >= 0 && index < g_adapter_names.size() && g_adapter_names.at(index).isEmpty())
            ask(m_combo.window());
    });
}

bool RemoteSources::ask(QWidget* dialog_parent)
{
    // Filled in from the remote source chosen before, if it was one.
    RemoteCaptureDialog dialog(dialog_parent);
    if (m_previous >= 0 && m_previous < g_adapter_names.size())
        dialog.set_source(g_adapter_names.at(m_previous));
    if (dialog.exec() == QDialog::Accepted && choose(dialog.source()))
        return true;
    // Back to what was chosen before.
    if (m_previous >= 0 && m_previous < m_combo.count())
        m_combo.setCurrentIndex(m_previous);
    return false;
}

bool RemoteSources::choose(const QString& source)
{
    if (!SshCaptureSource::parse(source))
        return false;
    int index = g_adapter_names.indexOf(source);
    if (index < 0) {
        // Before "远程抓包...", the last item.
        index = std::max(0, int(g_adapter_names.lastIndexOf(QString())));
        if (g_adapter_names.isEmpty() || !g_adapter_names.at(index).isEmpty())
            index = g_adapter_names.size();
        m_combo.insertItem(index, source);
        g_adapter_names.insert(index, source);
    }
    m_combo.setCurrentIndex(index);
    m_settings.set_adapter(source);
    QStringList remembered = m_settings.remote_sources(kRemembered);
    remembered.removeAll(source);
    remembered.prepend(source);
    m_settings.set_remote_sources(remembered.mid(0, kRemembered));
    return true;
}
