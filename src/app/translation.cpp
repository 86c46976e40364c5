#include "translation.h"

#include <QCoreApplication>
#include <QLocale>
#include <QLoggingCategory>
#include <QString>
#include <QTranslator>

namespace {

Q_LOGGING_CATEGORY(lcTranslation, "tarnlook.translation")

const char* const kTranslatorName = "tarnlook_translator";

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
    auto* installed = app.findChild<QTranslator*>(QLatin1String(kTranslatorName),
                                                  Qt::FindDirectChildrenOnly);
    if (installed != nullptr) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
    }
    if (!wants_english(locale))
        return false;

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
