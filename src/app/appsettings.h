// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

#include <memory>
#include <optional>

#include <QList>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

class FitWid;
class QSettings;
class QVariant;

// What the program remembers between runs: the theme, the last chosen
// adapter, the remote sources used last, the filter options form (each
// row's check box and text, as typed), the TLS key log chosen last (its
// path), the main window's size and the
// packet table's column widths, and whether closing with unsaved rows asks
// first. They live in the application's settings file (QSettings; under
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

    // The remote capture sources (ssh:// names) used last, most recent
    // first, at most `most` of them; empty when none were. What the file
    // holds after them is never looked at, however long.
    QStringList remote_sources(int most) const;
    void set_remote_sources(const QStringList& sources);

    // The main window's size, without its frame, when it was not maximised
    // (also when it was); nothing when none is remembered or it is not a
    // positive size.
    std::optional<QSize> window_size() const;
    void set_window_size(QSize size);
    // Whether the main window was maximised; false unless it was.
    bool window_maximized() const;
    void set_window_maximized(bool maximized);
    // The packet table's column widths in pixels, from the first column on;
    // empty when none are remembered or one is not a positive number.
    QList<int> column_widths() const;
    void set_column_widths(const QList<int>& widths);

    // Whether closing the main window with captured rows never saved asks
    // first; true unless the user said not to ask again.
    bool ask_to_save_rows() const;
    void set_ask_to_save_rows(bool ask);

    // The TLS key log chosen last (its path, never its secrets); empty when
    // none was.
    QString tls_keylog() const;
    void set_tls_keylog(const QString& path);

    // Shows the remembered texts and check boxes in the form, texts first, so
    // that the form's own slots put the same switches and lists into
    // g_filter_settings as a user toggling the boxes would. From then on
    // every change of a box or a text in the form is remembered. A box the
    // form refuses to tick (a capture filter that no longer compiles) stays
    // unticked and is remembered so; its text is returned, for the user to be
    // told. Nothing: every remembered tick was taken.
    [[nodiscard]] std::optional<QString> attach(FitWid& form);

private:
    std::optional<QVariant> stored(const QString& key) const;
    std::optional<QString> text(const QString& key) const;
    std::optional<bool> flag(const QString& key) const;
    void write(const QString& key, const QVariant& value);

    std::unique_ptr<QSettings> m_settings; // null: nothing is kept
    bool m_usable = false; // false: the file could not be read or parsed
    bool m_write_failed = false; // warned once about it
};
