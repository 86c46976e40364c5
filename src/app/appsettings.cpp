// SPDX-License-Identifier: GPL-2.0-or-later

#include "appsettings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QSettings>
#include <QStringList>
#include <QVariant>

#include "fitwid.h"

namespace {

Q_LOGGING_CATEGORY(lcSettings, "tarnlook.settings")

const QString kThemeKey = QStringLiteral("theme");
const QString kAdapterKey = QStringLiteral("adapter");
const QString kRemoteSourcesKey = QStringLiteral("remote_sources");
const QString kWindowSizeKey = QStringLiteral("window/size");
const QString kWindowMaximizedKey = QStringLiteral("window/maximized");
const QString kColumnWidthsKey = QStringLiteral("table/column_widths");
const QString kAskToSaveRowsKey = QStringLiteral("ask_to_save_rows");
const QString kTlsKeyLogKey = QStringLiteral("tls_keylog");
const QString kDark = QStringLiteral("dark");
const QString kLight = QStringLiteral("light");

// One row of the filter options form: its key in the file and the object
// names of its check box and text field.
struct FilterRow
{
    const char* key;
    const char* box;
    const char* field;
};

constexpr FilterRow kFilterRows[] = {
    { "include_ips", "checkBox", "lineEdit" },
    { "include_ports", "checkBox_2", "lineEdit_2" },
    { "data_flag", "checkBox_3", "lineEdit_3" },
    { "exclude_ips", "checkBox_4", "lineEdit_4" },
    { "exclude_ports", "checkBox_5", "lineEdit_5" },
    { "capture_filter", "checkBox_6", "lineEdit_6" },
};

QString enabled_key(const FilterRow& row)
{
    return QStringLiteral("filter/%1/enabled").arg(QLatin1String(row.key));
}

QString text_key(const FilterRow& row)
{
    return QStringLiteral("filter/%1/text").arg(QLatin1String(row.key));
}

const char* status_text(QSettings::Status status)
{
    return status == QSettings::AccessError ? "cannot be read" : "is not a valid settings file";
}

} // namespace

AppSettings::AppSettings(QObject* parent)
    : QObject(parent)
{
    if (QCoreApplication::organizationName().isEmpty())
        return;
    m_settings = std::make_unique<QSettings>();
    const QSettings::Status status = m_settings->status();
    m_usable = status == QSettings::NoError;
    if (!m_usable)
        qCWarning(lcSettings).noquote().nospace()
                << "Settings file " << m_settings->fileName() << ' ' << status_text(status)
                << "; using the defaults";
}

AppSettings::~AppSettings() = default;

bool AppSettings::dark_theme() const
{
    const std::optional<QString> theme = text(kThemeKey);
    if (!theme || *theme == kLight)
        return false;
    if (*theme == kDark)
        return true;
    qCWarning(lcSettings).noquote() << "Unknown theme" << *theme << "in the settings; using light";
    return false;
}

void AppSettings::set_dark_theme(bool dark)
{
    write(kThemeKey, dark ? kDark : kLight);
}

QString AppSettings::adapter() const
{
    return text(kAdapterKey).value_or(QString());
}

void AppSettings::set_adapter(const QString& name)
{
    write(kAdapterKey, name);
}

QStringList AppSettings::remote_sources(int most) const
{
    // One a line: a source name holds no line break.
    const QString all = text(kRemoteSourcesKey).value_or(QString());
    QStringList sources;
    for (int from = 0; from < all.size() && sources.size() < most;) {
        int end = all.indexOf(QLatin1Char('\n'), from);
        if (end < 0)
            end = all.size();
        if (end > from)
            sources << all.mid(from, end - from);
        from = end + 1;
    }
    return sources;
}

void AppSettings::set_remote_sources(const QStringList& sources)
{
    // Text, not a list: a list of one would come back as a plain value.
    write(kRemoteSourcesKey, sources.join(QLatin1Char('\n')));
}

std::optional<QSize> AppSettings::window_size() const
{
    const std::optional<QVariant> value = stored(kWindowSizeKey);
    if (!value)
        return std::nullopt;
    const QSize size = value->toSize();
    if (value->userType() != QMetaType::QSize || size.width() <= 0 || size.height() <= 0) {
        qCWarning(lcSettings).noquote()
                << "Settings value" << kWindowSizeKey << "is not a size; ignored";
        return std::nullopt;
    }
    return size;
}

void AppSettings::set_window_size(QSize size)
{
    write(kWindowSizeKey, size);
}

bool AppSettings::window_maximized() const
{
    return flag(kWindowMaximizedKey).value_or(false);
}

void AppSettings::set_window_maximized(bool maximized)
{
    write(kWindowMaximizedKey, maximized);
}

QList<int> AppSettings::column_widths() const
{
    const std::optional<QString> value = text(kColumnWidthsKey);
    QList<int> widths;
    if (!value)
        return widths;
    for (const QString& part : value->split(QLatin1Char(','))) {
        bool number = false;
        const int width = part.trimmed().toInt(&number);
        if (!number || width <= 0) {
            qCWarning(lcSettings).noquote()
                    << "Settings value" << kColumnWidthsKey << "is not a list of widths; ignored";
            return {};
        }
        widths.append(width);
    }
    return widths;
}

void AppSettings::set_column_widths(const QList<int>& widths)
{
    QStringList parts;
    for (const int width : widths)
        parts.append(QString::number(width));
    // Text, not a list: a list of one would come back as a plain value.
    write(kColumnWidthsKey, parts.join(QLatin1Char(',')));
}

bool AppSettings::ask_to_save_rows() const
{
    return flag(kAskToSaveRowsKey).value_or(true);
}

void AppSettings::set_ask_to_save_rows(bool ask)
{
    write(kAskToSaveRowsKey, ask);
}

QString AppSettings::tls_keylog() const
{
    return text(kTlsKeyLogKey).value_or(QString());
}

void AppSettings::set_tls_keylog(const QString& path)
{
    write(kTlsKeyLogKey, path);
}

std::optional<QString> AppSettings::attach(FitWid& form)
{
    std::optional<QString> refused;
    for (const FilterRow& row : kFilterRows) {
        auto* box = form.findChild<QCheckBox*>(QLatin1String(row.box));
        auto* field = form.findChild<QLineEdit*>(QLatin1String(row.field));
        if (box == nullptr || field == nullptr)
            continue;
        // A box the form ticked itself (the capture filter that leaves out a
        // remote session's own connections) stays as the form set it: a
        // remembered expression belongs to another session.
        if (!box->isChecked()) {
            if (const std::optional<QString> typed = text(text_key(row)))
                field->setText(*typed);
            if (const std::optional<bool> checked = flag(enabled_key(row))) {
                box->setChecked(*checked); // the form's slot reads the text now
                // The form refused the tick (a capture filter that no longer
                // compiles): remembered as shown.
                if (*checked && !box->isChecked()) {
                    write(enabled_key(row), false);
                    refused = field->text();
                }
            }
        }

        // The box as it ends up, not as the signal has it: the form unticks
        // a refused tick while the tick's signal is still being delivered,
        // so the untick reaches this write first and the stale tick last.
        connect(box, &QCheckBox::toggled, this,
                [this, box, key = enabled_key(row)] { write(key, box->isChecked()); });
        connect(field, &QLineEdit::textChanged, this,
                [this, key = text_key(row)](const QString& typed) { write(key, typed); });
    }
    return refused;
}

std::optional<QVariant> AppSettings::stored(const QString& key) const
{
    if (!m_usable || !m_settings->contains(key))
        return std::nullopt;
    return m_settings->value(key);
}

std::optional<QString> AppSettings::text(const QString& key) const
{
    const std::optional<QVariant> value = stored(key);
    if (!value)
        return std::nullopt;
    // The file stores text; anything else (a list, say) was not written here.
    if (value->userType() != QMetaType::QString) {
        qCWarning(lcSettings).noquote() << "Settings value" << key << "is not a text; ignored";
        return std::nullopt;
    }
    return value->toString();
}

std::optional<bool> AppSettings::flag(const QString& key) const
{
    const std::optional<QVariant> value = stored(key);
    if (!value)
        return std::nullopt;
    // A value set in this process is still a bool; one read from the file is
    // its text.
    if (value->userType() == QMetaType::Bool)
        return value->toBool();
    const QString text = value->userType() == QMetaType::QString ? value->toString() : QString();
    if (text == QLatin1String("true") || text == QLatin1String("false"))
        return text == QLatin1String("true");
    qCWarning(lcSettings).noquote() << "Settings value" << key << "is not true or false; ignored";
    return std::nullopt;
}

void AppSettings::write(const QString& key, const QVariant& value)
{
    if (m_settings == nullptr)
        return;
    if (!m_usable && m_settings->status() == QSettings::FormatError) {
        // What could be parsed of a garbled file was not in force; keep only
        // what this run has set.
        m_settings->clear();
        m_usable = true;
    }
    m_settings->setValue(key, value);
    m_settings->sync();
    // A garbled file keeps reporting FormatError after it was rewritten.
    if (m_settings->status() == QSettings::AccessError && !m_write_failed) {
        m_write_failed = true;
        qCWarning(lcSettings).noquote() << "Settings file" << m_settings->fileName()
                                        << "cannot be written; changes are not kept";
    }
}
