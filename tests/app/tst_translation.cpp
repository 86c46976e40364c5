// SPDX-License-Identifier: GPL-2.0-or-later

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVector>
#include <QXmlStreamReader>
#include <QtTest>

#include "cjktext.h"
#include "translation.h"

namespace {

struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type; // empty when finished
};

// The messages of a Qt Linguist catalogue, or an error.
QVector<Message> read_catalogue(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QVector<Message> messages;
    QString context;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringRef element = xml.name();
        if (element == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (element == QLatin1String("message")) {
            messages.append(Message { context, {}, {}, {} });
        } else if (element == QLatin1String("source") && !messages.isEmpty()) {
            messages.last().source = xml.readElementText();
        } else if (element == QLatin1String("translation") && !messages.isEmpty()) {
            messages.last().type = xml.attributes().value(QLatin1String("type")).toString();
            messages.last().translation = xml.readElementText();
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

QString describe(const Message& message)
{
    return message.context + QLatin1String(": \"") + message.source + QLatin1Char('"');
}

QStringList placeholders(const QString& text)
{
    static const QRegularExpression arg(QStringLiteral("%L?\\d+"));
    QStringList found;
    for (auto match = arg.globalMatch(text); match.hasNext();)
        found.append(match.next().captured());
    found.sort();
    return found;
}

} // namespace

class TstTranslation : public QObject
{
    Q_OBJECT

private slots:
    void localeChoosesLanguage_data();
    void localeChoosesLanguage();
    void qtTextsFollowLanguage_data();
    void qtTextsFollowLanguage();
    void catalogueCoversSources();
    void translationsFitTheirPlace();
};

void TstTranslation::localeChoosesLanguage_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<bool>("english");

    QTest::newRow("zh_CN") << QLocale(QLocale::Chinese, QLocale::China) << false;
    QTest::newRow("zh_TW") << QLocale(QStringLiteral("zh_TW")) << false;
    QTest::newRow("zh_HK") << QLocale(QStringLiteral("zh_HK")) << false;
    QTest::newRow("C") << QLocale::c() << false;
    QTest::newRow("POSIX") << QLocale(QStringLiteral("POSIX")) << false;
    QTest::newRow("C.UTF-8") << QLocale(QStringLiteral("C.UTF-8")) << false;
    QTest::newRow("en_US") << QLocale(QStringLiteral("en_US")) << true;
    QTest::newRow("en_GB") << QLocale(QStringLiteral("en_GB")) << true;
    QTest::newRow("de_DE") << QLocale(QStringLiteral("de_DE")) << true;
    QTest::newRow("fr") << QLocale(QStringLiteral("fr")) << true;
    QTest::newRow("ja_JP") << QLocale(QStringLiteral("ja_JP")) << true;
}

void TstTranslation::localeChoosesLanguage()
{
    QFETCH(QLocale, locale);
    QFETCH(bool, english);

    QString error;
    const QVector<Message> messages = read_catalogue(QStringLiteral(TARNLOOK_TRANSLATIONS), &error);
    QVERIFY2(error.isEmpty(), qUtf8Printable(error));
    QVERIFY(!messages.isEmpty());

    // Starts from the Chinese texts again, whatever the row installed.
    const auto restore = qScopeGuard([] { install_translation(*QCoreApplication::instance(), QLocale::c()); });
    QCOMPARE(wants_english(locale), english);
    QCOMPARE(install_translation(*QCoreApplication::instance(), locale), english);
    // The program, not just the catalogue in the tree: what is compiled in
    // answers with the committed translation, or leaves the source text.
    for (const Message& message : messages) {
        const QString shown = QCoreApplication::translate(message.context.toUtf8().constData(),
                                                          message.source.toUtf8().constData());
        QVERIFY2(shown == (english ? message.translation : message.source),
                 qUtf8Printable(describe(message) + QLatin1String(" shows \"") + shown
                                + QLatin1Char('"')));
    }
}

void TstTranslation::qtTextsFollowLanguage_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("cancel"); // a standard button
    QTest::addColumn<QString>("lookIn"); // the file dialog
    QTest::newRow("zh_CN") << QLocale(QLocale::Chinese, QLocale::China) << "取消"
                           << "查找范围：";
    QTest::newRow("zh_TW") << QLocale(QStringLiteral("zh_TW")) << "取消"
                           << "查找范围：";
    QTest::newRow("C") << QLocale::c() << "取消"
                       << "查找范围：";
    QTest::newRow("en_US") << QLocale(QStringLiteral("en_US")) << "Cancel"
                           << "Look in:";
    QTest::newRow("de_DE") << QLocale(QStringLiteral("de_DE")) << "Cancel"
                           << "Look in:";
}

void TstTranslation::qtTextsFollowLanguage()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, cancel);
    QFETCH(QString, lookIn);

    // Qt's own dialogs speak the program's language: Chinese from Debian's
    // qttranslations5-l10n, English as Qt is written.
    const auto restore
            = qScopeGuard([] { install_translation(*QCoreApplication::instance(), QLocale::c()); });
    install_translation(*QCoreApplication::instance(), locale);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), lookIn);
    // Once only, whatever was installed before.
    install_translation(*QCoreApplication::instance(), locale);
    install_translation(*QCoreApplication::instance(), QLocale::c());
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    install_translation(*QCoreApplication::instance(), QLocale(QStringLiteral("en_US")));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

void TstTranslation::catalogueCoversSources()
{
    // lupdate as `make translations` runs it, but keeping what vanished,
    // over a copy of the committed catalogue: every text of the sources and
    // forms must be in it, translated, and nothing else.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString copy = dir.filePath(QStringLiteral("tarnlook_en.ts"));
    QVERIFY(QFile::copy(QStringLiteral(TARNLOOK_TRANSLATIONS), copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList options
            = QStringLiteral(TARNLOOK_LUPDATE_OPTIONS).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    lupdate.start(QStringLiteral(TARNLOOK_LUPDATE),
                  options
                          + QStringList { QStringLiteral(TARNLOOK_SOURCE_DIR "/src"),
                                          QStringLiteral("-ts"), copy });
    QVERIFY2(lupdate.waitForFinished(120000), qUtf8Printable(lupdate.errorString()));
    const QString output = QString::fromLocal8Bit(lupdate.readAll());
    QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
             qUtf8Printable(output));

    QString error;
    const QVector<Message> messages = read_catalogue(copy, &error);
    QVERIFY2(error.isEmpty(), qUtf8Printable(error));
    QVERIFY2(!messages.isEmpty(), qUtf8Printable(output));
    QStringList problems;
    for (const Message& message : messages) {
        if (message.type == QLatin1String("unfinished"))
            problems.append(QLatin1String("not translated: ") + describe(message));
        else if (!message.type.isEmpty()) // vanished, obsolete
            problems.append(QLatin1String("no longer in the sources: ") + describe(message));
        else if (message.translation.isEmpty())
            problems.append(QLatin1String("empty translation: ") + describe(message));
    }
    QVERIFY2(problems.isEmpty(),
             qUtf8Printable(problems.join(QLatin1Char('\n'))
                            + QLatin1String("\nRun `make translations`, translate what is new "
                                            "in translations/tarnlook_en.ts and commit it.")));
}

void TstTranslation::translationsFitTheirPlace()
{
    QString error;
    const QVector<Message> messages = read_catalogue(QStringLiteral(TARNLOOK_TRANSLATIONS), &error);
    QVERIFY2(error.isEmpty(), qUtf8Printable(error));
    QVERIFY(!messages.isEmpty());
    QStringList problems;
    for (const Message& message : messages) {
        const QString& english = message.translation;
        if (cjktext::has_cjk(english))
            problems.append(QLatin1String("not English: ") + describe(message));
        // Pieces are joined into one text: their line breaks are layout.
        if (english.count(QLatin1Char('\n')) != message.source.count(QLatin1Char('\n')))
            problems.append(QLatin1String("other line breaks: ") + describe(message));
        if (placeholders(english) != placeholders(message.source))
            problems.append(QLatin1String("other placeholders: ") + describe(message));
    }
    QVERIFY2(problems.isEmpty(), qUtf8Printable(problems.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TstTranslation)
#include "tst_translation.moc"
