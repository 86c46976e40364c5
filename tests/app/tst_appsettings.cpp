// SPDX-License-Identifier: GPL-2.0-or-later

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

#include "appsettings.h"
#include "filtersettings.h"
#include "fitwid.h"
#include "mainwindow.h"

namespace {

template <typename T> T* child(const QWidget& window, const char* name)
{
    return window.findChild<T*>(QLatin1String(name));
}

// Where QSettings keeps this test's file: test mode, never the user's.
QString settings_file()
{
    return QSettings().fileName();
}

void remove_settings_file()
{
    const QString path = settings_file();
    QDir(path).removeRecursively();
    QFile::remove(path);
}

void write_settings_file(const QByteArray& content)
{
    QDir().mkpath(QFileInfo(settings_file()).path());
    QFile file(settings_file());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// Makes the next reader parse the file from disk, as a new process does:
// QSettings keeps the values of a file it read or wrote while it is unchanged.
void touch_settings_file()
{
    QFile file(settings_file());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(3600),
                             QFileDevice::FileModificationTime));
}

// The state a window starts in when nothing is remembered.
void verify_defaults(const MainWindow& window)
{
    QCOMPARE(child<QPushButton>(window, "pushButton_9")->text(), QStringLiteral("黑色主题"));
    QCOMPARE(child<QComboBox>(window, "comboBox")->currentIndex(),
             g_adapter_names.isEmpty() ? -1 : 0);
    QCOMPARE(child<QLineEdit>(*g_filter_form, "lineEdit_2")->text(), QStringLiteral("80|8888"));
    QVERIFY(!child<QCheckBox>(*g_filter_form, "checkBox_2")->isChecked());
    QVERIFY(g_filter_settings == FilterSettings());
}

} // namespace

class TstAppSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void restartKeepsChoices_data();
    void restartKeepsChoices();
    void remoteSourcesRemembered();
    void longRemoteListReadToItsFifth();
    void editedListApplies();
    void refusedCaptureFilterRememberedOff();
    void captureFilterRemembered_data();
    void captureFilterRemembered();
    void badFileGivesDefaults_data();
    void badFileGivesDefaults();
    void windowPlacementRemembered();
};

void TstAppSettings::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnlook"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_appsettings"));
    QVERIFY(settings_file().contains(QLatin1String("/.qttest/")));
}

void TstAppSettings::init()
{
    remove_settings_file();
}

void TstAppSettings::cleanup()
{
    remove_settings_file();
    g_filter_settings = FilterSettings();
    g_adapter_names.clear();
}

void TstAppSettings::restartKeepsChoices_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("plain") << QStringLiteral("443");
    QTest::newRow("pipes-and-spaces") << QStringLiteral(" 80 | 8888 |");
    QTest::newRow("empty") << QString();
    QTest::newRow("ini-specials") << QStringLiteral("a,b;c=d #e [f] \"g\" \\h");
    QTest::newRow("variant-lookalike") << QStringLiteral("@Variant(x)");
    QTest::newRow("non-ascii") << QStringLiteral("端口|ü");
}

void TstAppSettings::restartKeepsChoices()
{
    QFETCH(QString, typed);
    FilterSettings chosen;
    QString darkSheet;
    int adapter = -1;
    {
        MainWindow window;
        auto* combo = child<QComboBox>(window, "comboBox");
        // Not the first, when there are two; not "远程抓包...", the last.
        adapter = std::max(0, combo->count() - 2);
        combo->setCurrentIndex(adapter);
        emit combo->activated(adapter);
        QTest::mouseClick(child<QPushButton>(window, "pushButton_9"), Qt::LeftButton);
        darkSheet = qApp->styleSheet();
        child<QLineEdit>(*g_filter_form, "lineEdit_2")->setText(typed);
        QTest::mouseClick(child<QCheckBox>(*g_filter_form, "checkBox_2"), Qt::LeftButton);
        chosen = g_filter_settings;
        QVERIFY(chosen.include_port_enabled);
        // On disk while the window is still open: a crash would lose nothing.
        QFile file(settings_file());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("theme=dark"));
    }
    g_filter_settings = FilterSettings(); // as in a new process
    g_adapter_names.clear();
    qApp->setStyleSheet(QString());
    touch_settings_file();
    QCOMPARE(QSettings().value(QStringLiteral("filter/include_ports/enabled")).userType(),
             int(QMetaType::QString)); // parsed from the file, not remembered

    MainWindow window;
    QCOMPARE(child<QComboBox>(window, "comboBox")->currentIndex(), adapter);
    QCOMPARE(child<QPushButton>(window, "pushButton_9")->text(), QStringLiteral("亮色主题"));
    QCOMPARE(qApp->styleSheet(), darkSheet);
    QCOMPARE(child<QLineEdit>(*g_filter_form, "lineEdit_2")->text(), typed);
    QVERIFY(child<QCheckBox>(*g_filter_form, "checkBox_2")->isChecked());
    QVERIFY(!child<QCheckBox>(*g_filter_form, "checkBox")->isChecked());
    QVERIFY(g_filter_settings == chosen);
}

// The remote sources used last come back, most recent first, after the
// adapters and before "远程抓包..."; the last one chosen is chosen again.
void TstAppSettings::remoteSourcesRemembered()
{
    const QStringList used { QStringLiteral("ssh://admin@server.example.org/eth0"),
                             QStringLiteral("ssh://[::1]:2222/lo?sudo"),
                             QStringLiteral("ssh://admin@server.example.org/eth0") };
    int adapters = 0;
    {
        MainWindow window;
        adapters = child<QComboBox>(window, "comboBox")->count() - 1;
        for (const QString& source : used)
            QVERIFY(window.select_adapter(source));
        QVERIFY(!window.select_adapter(QStringLiteral("ssh://-oProxyCommand=x/lo")));
    }
    g_adapter_names.clear();
    touch_settings_file();

    MainWindow window;
    const auto* combo = child<QComboBox>(window, "comboBox");
    QCOMPARE(combo->count(), adapters + 3);
    QCOMPARE(g_adapter_names.mid(adapters), QStringList({ used.at(0), used.at(1), QString() }));
    QCOMPARE(combo->itemText(adapters), used.at(0));
    QCOMPARE(combo->itemText(adapters + 2), QStringLiteral("远程抓包..."));
    QCOMPARE(combo->currentIndex(), adapters);
}

// A settings file with 80,000 remote sources: the window lists the first
// five, as many as it remembers.
void TstAppSettings::longRemoteListReadToItsFifth()
{
    QStringList sources;
    for (int i = 0; i < 80000; ++i)
        sources << QStringLiteral("ssh://host%1/eth0").arg(i);
    AppSettings().set_remote_sources(sources);
    touch_settings_file();
    MainWindow window;
    const auto* combo = child<QComboBox>(window, "comboBox");
    const int remote = g_adapter_names.indexOf(sources.first());
    QVERIFY(remote >= 0);
    QCOMPARE(g_adapter_names.mid(remote), sources.mid(0, 5) + QStringList { QString() });
    QCOMPARE(combo->count(), g_adapter_names.size());
}

void TstAppSettings::editedListApplies()
{
    {
        MainWindow window;
        QTest::mouseClick(child<QCheckBox>(*g_filter_form, "checkBox_4"), Qt::LeftButton);
        // Edited while the box stays checked: in force at once.
        child<QLineEdit>(*g_filter_form, "lineEdit_4")->setText(QStringLiteral("10.0.0.1"));
        QCOMPARE(g_filter_settings.exclude_ips, QStringList({ QStringLiteral("10.0.0.1") }));
    }
    g_filter_settings = FilterSettings();
    touch_settings_file();
    MainWindow window;
    QVERIFY(g_filter_settings.exclude_ip_enabled);
    QCOMPARE(g_filter_settings.exclude_ips, QStringList({ QStringLiteral("10.0.0.1") }));
}

void TstAppSettings::refusedCaptureFilterRememberedOff()
{
    const QString enabledKey = QStringLiteral("filter/capture_filter/enabled");
    const QByteArray bad = "tcp prot 80";
    {
        // Refused when ticked: unticked on screen and in the file.
        MainWindow window;
        child<QLineEdit>(*g_filter_form, "lineEdit_6")->setText(QString::fromLatin1(bad));
        QTest::mouseClick(child<QCheckBox>(*g_filter_form, "checkBox_6"), Qt::LeftButton);
        QVERIFY(!child<QCheckBox>(*g_filter_form, "checkBox_6")->isChecked());
        QCOMPARE(QSettings().value(enabledKey).toString(), QStringLiteral("false"));
        QVERIFY(window.statusBar()->currentMessage().isEmpty());
    }

    // Remembered ticked, say by a libpcap that took it: left off at start,
    // and the user is told in the window and in the form.
    g_filter_settings = FilterSettings();
    write_settings_file("[filter]\ncapture_filter\\enabled=true\ncapture_filter\\text=" + bad
                        + '\n');
    touch_settings_file();
    MainWindow window;
    QVERIFY(!child<QCheckBox>(*g_filter_form, "checkBox_6")->isChecked());
    QVERIFY(!g_filter_settings.capture_filter_on);
    const QString told = window.statusBar()->currentMessage();
    QVERIFY2(told.contains(QStringLiteral("上次的捕获过滤表达式已无法使用"))
                     && told.contains(QString::fromLatin1(bad))
                     && told.contains(QLatin1String("syntax error")),
             qPrintable(told));
    auto* reason = child<QLabel>(*g_filter_form, "label");
    QVERIFY(reason->isVisibleTo(g_filter_form));
    QVERIFY2(reason->text().contains(QLatin1String("syntax error")), qPrintable(reason->text()));
    QCOMPARE(QSettings().value(enabledKey).toString(), QStringLiteral("false"));
    // Nothing of the window is pushed out of sight by the notice.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QWidget* central = window.centralWidget();
    for (const QWidget* widget :
         central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(central->rect().contains(widget->geometry()), qPrintable(widget->objectName()));
}

void TstAppSettings::captureFilterRemembered_data()
{
    QTest::addColumn<QByteArray>("ssh"); // SSH_CONNECTION of the second start
    QTest::addColumn<bool>("remembered");
    QTest::newRow("local") << QByteArray() << true;
    // The form's own expression for this session wins over one remembered
    // from another session.
    QTest::newRow("remote-session") << QByteArray("127.0.0.9 50000 127.0.0.1 22") << false;
}

void TstAppSettings::captureFilterRemembered()
{
    QFETCH(QByteArray, ssh);
    QFETCH(bool, remembered);
    const QByteArray oldSsh = qgetenv("SSH_CONNECTION");
    const QByteArray oldDisplay = qgetenv("DISPLAY");
    const auto restore = qScopeGuard([&] {
        qputenv("SSH_CONNECTION", oldSsh);
        qputenv("DISPLAY", oldDisplay);
    });
    qunsetenv("SSH_CONNECTION");
    qunsetenv("DISPLAY");
    const QString expression = QStringLiteral("tcp port 8443");
    {
        MainWindow window;
        child<QLineEdit>(*g_filter_form, "lineEdit_6")->setText(expression);
        QTest::mouseClick(child<QCheckBox>(*g_filter_form, "checkBox_6"), Qt::LeftButton);
        QVERIFY(g_filter_settings.capture_filter_on);
    }
    g_filter_settings = FilterSettings();
    touch_settings_file();
    if (!ssh.isEmpty())
        qputenv("SSH_CONNECTION", ssh);
    MainWindow window;
    QVERIFY(g_filter_settings.capture_filter_on);
    QCOMPARE(g_filter_settings.capture_filter == expression, remembered);
    QCOMPARE(child<QLineEdit>(*g_filter_form, "lineEdit_6")->text(),
             g_filter_settings.capture_filter);
}

void TstAppSettings::badFileGivesDefaults_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: the file is a folder
    QTest::addColumn<QString>("warning");
    // Valid lines as well, which must not apply either.
    QTest::newRow("garbled") << QByteArray("theme=dark\n[filter]\ninclude_ports\\enabled=true\n"
                                           "this line is no setting\n[broken\n")
                             << QStringLiteral("is not a valid settings file");
    QTest::newRow("unreadable") << QByteArray() << QStringLiteral("cannot be read");
    QTest::newRow("wrong-types") << QByteArray("theme=purple\n[filter]\n"
                                               "include_ports\\enabled=maybe\n"
                                               "include_ports\\text=1, 2\n")
                                 << QStringLiteral("include_ports.*is not a text");
}

void TstAppSettings::badFileGivesDefaults()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, warning);
    if (content.isEmpty())
        QVERIFY(QDir().mkpath(settings_file()));
    else
        write_settings_file(content);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
    if (QTest::currentDataTag() == QLatin1String("wrong-types")) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Unknown theme")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not true or false")));
    }
    MainWindow window;
    verify_defaults(window);

    // A change is still taken, and kept if the file can be written.
    if (content.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot be written")));
    QTest::mouseClick(child<QCheckBox>(*g_filter_form, "checkBox_5"), Qt::LeftButton);
    QVERIFY(g_filter_settings.exclude_port_enabled);
    if (content.isEmpty())
        return;
    QSettings written;
    QCOMPARE(written.status(), QSettings::NoError);
    QCOMPARE(written.value(QStringLiteral("filter/exclude_ports/enabled")).toString(),
             QStringLiteral("true"));
    if (QTest::currentDataTag() == QLatin1String("garbled"))
        QVERIFY(!written.contains(QStringLiteral("theme"))); // what it held is not revived
}

void TstAppSettings::windowPlacementRemembered()
{
    QList<int> widths;
    int height = 0;
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // Within the 800 x 600 screen of this platform, which the window is
        // fitted into at start.
        height = window.minimumHeight() + 37;
        window.resize(window.minimumWidth(), height);
        QTRY_COMPARE(window.height(), height);
        QHeaderView* header = child<QTableWidget>(window, "tableWidget_2")->horizontalHeader();
        for (int column = 0; column < header->count(); ++column) {
            widths.append(40 + 7 * column);
            header->resizeSection(column, widths.last());
        }
        QVERIFY(window.close()); // remembered as it closes
        header->resizeSection(0, 300); // hidden: not what the user saw
    }
    touch_settings_file();
    {
        MainWindow window;
        QCOMPARE(window.size(), QSize(window.minimumWidth(), height));
        QVERIFY(!(window.windowState() & Qt::WindowMaximized));
        QHeaderView* header = child<QTableWidget>(window, "tableWidget_2")->horizontalHeader();
        for (int column = 0; column < header->count(); ++column)
            QCOMPARE(header->sectionSize(column), widths.at(column));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.showMaximized();
        QTRY_VERIFY(window.isMaximized());
    } // destroyed while shown, as when a signal ends the program
    touch_settings_file();
    MainWindow window;
    QVERIFY(window.windowState() & Qt::WindowMaximized);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.isMaximized());
    // Back from maximised: the size it had before.
    window.showNormal();
    QTRY_COMPARE(window.size(), QSize(window.minimumWidth(), height));
}

QTEST_MAIN(TstAppSettings)
#include "tst_appsettings.moc"
