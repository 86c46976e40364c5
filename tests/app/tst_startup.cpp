// SPDX-License-Identifier: GPL-2.0-or-later

#include <cstdio>

#include <QLoggingCategory>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include "startup.h"

// What the program settles before its window exists: which messages show,
// and what happens without a display.

namespace {

const char* const kDisplayVariables[] = { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" };

// Argument of this program that makes it, instead of testing, apply the
// program's logging rules and print which categories are enabled: the
// rules from the environment are read once per process.
const char kPrintLogging[] = "--print-logging";

int print_logging(int argc, char* argv[])
{
    startup::set_default_logging_rules();
    QCoreApplication app(argc, argv);
    const QLoggingCategory window("tarnlook.app");
    const QLoggingCategory capture("tarnlook.capture");
    std::printf("app.debug=%d capture.debug=%d app.warning=%d\n", window.isDebugEnabled(),
                capture.isDebugEnabled(), window.isWarningEnabled());
    return 0;
}

// The environment of the tests, less what tells a program where its
// windows go and which messages it shows.
QProcessEnvironment bare_environment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : kDisplayVariables)
        environment.remove(QLatin1String(variable));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.remove(QStringLiteral("QT_LOGGING_CONF"));
    return environment;
}

} // namespace

class TstStartup : public QObject
{
    Q_OBJECT

private slots:
    void missingDisplay_data();
    void missingDisplay();
    void programWithoutDisplaySaysSoAndFails();
    void debugLinesOnlyOnRequest_data();
    void debugLinesOnlyOnRequest();
};

void TstStartup::missingDisplay_data()
{
    QTest::addColumn<QString>("variable"); // the one set; empty: none
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("arguments"); // after the program's name
    QTest::addColumn<bool>("missing");

    const QStringList none;
    QTest::newRow("nothing") << ""
                             << "" << none << true;
    QTest::newRow("empty-display") << "DISPLAY"
                                   << "" << none << true;
    QTest::newRow("x11") << "DISPLAY"
                         << ":0" << none << false;
    QTest::newRow("wayland") << "WAYLAND_DISPLAY"
                             << "wayland-0" << none << false;
    QTest::newRow("platform-variable") << "QT_QPA_PLATFORM"
                                       << "offscreen" << none << false;
    QTest::newRow("platform-argument") << ""
                                       << "" << QStringList { "-platform", "xcb" } << false;
    QTest::newRow("platform-argument-two-dashes")
            << ""
            << "" << QStringList { "--platform", "offscreen" } << false;
    QTest::newRow("other-arguments") << ""
                                     << "" << QStringList { "-style", "fusion" } << true;
}

void TstStartup::missingDisplay()
{
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(QStringList, arguments);
    QFETCH(bool, missing);

    QHash<QByteArray, QByteArray> saved;
    for (const char* name : kDisplayVariables) {
        if (qEnvironmentVariableIsSet(name))
            saved.insert(name, qgetenv(name));
        qunsetenv(name);
    }
    const auto restore = qScopeGuard([&saved] {
        for (const char* name : kDisplayVariables) {
            if (saved.contains(name))
                qputenv(name, saved.value(name));
            else
                qunsetenv(name);
        }
    });
    if (!variable.isEmpty())
        qputenv(variable.toLatin1().constData(), value.toLatin1());

    QVector<QByteArray> bytes { "tarnlook" };
    for (const QString& argument : arguments)
        bytes.append(argument.toLocal8Bit());
    QVector<const char*> argv;
    for (const QByteArray& argument : bytes)
        argv.append(argument.constData());

    const QString message = startup::missing_display_message(argv.size(), argv.constData());
    QCOMPARE(!message.isEmpty(), missing);
    if (missing) {
        QVERIFY(!message.contains(QLatin1Char('\n')));
        QVERIFY(message.contains(QLatin1String("QT_QPA_PLATFORM=offscreen")));
    }
}

void TstStartup::programWithoutDisplaySaysSoAndFails()
{
    QProcess program;
    program.setProcessEnvironment(bare_environment());
    program.start(QStringLiteral(TARNLOOK_PROGRAM), QStringList());
    QVERIFY2(program.waitForFinished(30000), "the program went on without a display");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY(program.exitCode() != 0);
    QCOMPARE(program.readAllStandardOutput(), QByteArray());
    // One line, naming what is missing and the way out, instead of Qt's
    // list of platform plugins.
    const QString error = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(error.endsWith(QLatin1Char('\n')) && error.count(QLatin1Char('\n')) == 1,
             qPrintable(error));
    QVERIFY2(error.contains(QLatin1String("DISPLAY")), qPrintable(error));
    QVERIFY2(error.contains(QLatin1String("QT_QPA_PLATFORM=offscreen")), qPrintable(error));
}

void TstStartup::debugLinesOnlyOnRequest_data()
{
    QTest::addColumn<QString>("rules"); // QT_LOGGING_RULES; null: unset
    QTest::addColumn<QString>("enabled");

    QTest::newRow("default") << QString() << "app.debug=0 capture.debug=0 app.warning=1";
    QTest::newRow("all-asked-for") << "tarnlook.*.debug=true"
                                   << "app.debug=1 capture.debug=1 app.warning=1";
    QTest::newRow("one-asked-for") << "tarnlook.capture.debug=true"
                                   << "app.debug=0 capture.debug=1 app.warning=1";
}

void TstStartup::debugLinesOnlyOnRequest()
{
    QFETCH(QString, rules);
    QFETCH(QString, enabled);

    QProcessEnvironment environment = bare_environment();
    if (!rules.isNull())
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), rules);
    QProcess self;
    self.setProcessEnvironment(environment);
    self.start(QCoreApplication::applicationFilePath(), { QLatin1String(kPrintLogging) });
    QVERIFY(self.waitForFinished(30000));
    QCOMPARE(self.exitCode(), 0);
    QCOMPARE(QString::fromLatin1(self.readAllStandardOutput()).trimmed(), enabled);
}

int main(int argc, char* argv[])
{
    if (argc == 2 && qstrcmp(argv[1], kPrintLogging) == 0)
        return print_logging(argc, argv);
    QCoreApplication app(argc, argv);
    TstStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
