// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class AppSettings;
class QComboBox;

// The remote capture sources in the adapter list: the last ones used
// (remembered in the settings, most recent first) after the local
// adapters, and last "远程抓包...", which asks for a new one
// (RemoteCaptureDialog). Keeps g_adapter_names in step with the list: a
// remote source's entry is its ssh:// name, that of "远程抓包..." empty.
class RemoteSources : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(RemoteSources)

public:
    // Appends the items to combo, whose items so far are g_adapter_names'.
    RemoteSources(QComboBox& combo, AppSettings& settings, QObject* parent);

    // Asks for a remote source with the dialog (over dialog_parent); when
    // one is given, it becomes the chosen item and is remembered. True when
    // one was given.
    bool ask(QWidget* dialog_parent);
    // Makes a valid ssh:// source the chosen item, listing and remembering
    // it first when it is new; false for a name that is none.
    bool choose(const QString& source);

    // How many sources are remembered, at most.
    static constexpr int kRemembered = 5;

private:
    QComboBox& m_combo;
    AppSettings& m_settings;
    int m_previous = -1; // the item chosen before "远程抓包..."
};
