// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <memory>
#include <optional>

#include <QObject>
#include <QString>

class FitWid;
class QSettings;
class QVariant;

// What the program remembers between runs: the theme, the last chosen
// adapter and the filter options form (each row's check box and text, as
// typed). They live in the application's settings file (QSettings; under
// ~/.config/ on Linux, named after the organisation and application that
// main() sets); an application without an organisation name keeps nothing,
// so that a program or test that never named itself writes no file.
//
// Every change is written at once, so that a crash loses nothing. A missing
// file gives the built-in defaults; so do a file that cannot be read or
// parsed and a value of the wrong type, each with a logged warning. A
// garbled file is replaced by the current settings at the first change.
class AppSettings : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(AppSettings)

public:
    explicit AppSettings(QObject* parent = nullptr);
    ~AppSettings() override;

    // False, the light theme, unless the dark one was chosen last.
    bool dark_theme() const;
    void set_dark_theme(bool dark);

    // The pcap name of the adapter chosen last; empty when none was.
    QString adapter() const;
    void set_adapter(const QString& name);

    // Shows the remembered texts and check boxes in the form, texts first, so
    // that the form's own slots put the same switches and lists into
    // g_filter_settings as a user toggling the boxes would. From then on
    // every change of a box or a text in the form is remembered.
    void attach(FitWid& form);

private:
    std::optional<QVariant> stored(const QString& key) const;
    std::optional<QString> text(const QString& key) const;
    std::optional<bool> flag(const QString& key) const;
    void write(const QString& key, const QVariant& value);

    std::unique_ptr<QSettings> m_settings; // null: nothing is kept
    bool m_usable = false; // false: the file could not be read or parsed
    bool m_write_failed = false; // warned once about it
};
