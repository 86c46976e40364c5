// SPDX-License-Identifier: GPL-2.0-or-later

#include "translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QString>
#include <QTranslator>

namespace {

Q_LOGGING_CATEGORY(lcTranslation, "tarnlook.translation")

const char* const kTranslatorName = "tarnlook_translator";
const char* const kQtTranslatorName = "tarnlook_qt_translator";

// Removes the translator of that name that an earlier call installed.
void remove_translator(QCoreApplication& app, const char* name)
{
    auto* installed = app.findChild<QTranslator*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
    if (installed != nullptr) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
}

// Qt's own texts (standard buttons, file dialogs, the command line's help)
// in the Chinese of the program's own: Debian's qttranslations5-l10n. Without
// it they stay in English, which is said in the log.
void install_qt_chinese(QCoreApplication& app)
{
    auto* translator = new QTranslator(&app);
    translator->setObjectName(QLatin1String(kQtTranslatorName));
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder)
        || !QCoreApplication::installTranslator(translator)) {
        qCWarning(lcTranslation).noquote()
                << "Cannot load qtbase_zh_CN.qm from" << folder
                << "- Qt's own texts stay in English (install qttranslations5-l10n)";
        delete translator;
    }
}

} // namespace

// Outside any namespace, as Q_INIT_RESOURCE requires. A resource compiled
// into a static library is only linked in when something refers to it.
static void register_translation_resources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(tarnlook_translations);
        return true;
    }();
    Q_UNUSED(registered)
}

bool wants_english(const QLocale& locale)
{
    return locale.language() != QLocale::Chinese && locale.language() != QLocale::C;
}

bool install_translation(QCoreApplication& app, const QLocale& locale)
{
    // A second call replaces what the first one installed.
    remove_translator(app, kTranslatorName);
    remove_translator(app, kQtTranslatorName);
    if (!wants_english(locale)) {
        install_qt_chinese(app);
        return false;
    }

    register_translation_resources();
    auto* translator = new QTranslator(&app);
    translator->setObjectName(QLatin1String(kTranslatorName));
    const QString catalogue = QStringLiteral(":/i18n/tarnlook_en.qm");
    if (!translator->load(catalogue) || !QCoreApplication::installTranslator(translator)) {
        qCWarning(lcTranslation).noquote()
                << "Cannot load" << catalogue << "- the interface stays in Chinese";
        delete translator;
        return false;
    }
    return true;
}
