// SPDX-License-Identifier: GPL-2.0-or-later

#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "filtersettings.h"
#include "fitwid.h"
#include "testwidgets.h"

using testwidgets::click_check_box;

namespace {

template <typename T> T* child(const QWidget& form, const QString& name)
{
    return form.findChild<T*>(name);
}

// The switch and list a row's check box writes.
struct Row
{
    bool FilterSettings::*enabled;
    QStringList FilterSettings::*list;
};

Row row_of(const QString& box)
{
    if (box == QLatin1String("checkBox"))
        return { &FilterSettings::include_ip_enabled, &FilterSettings::include_ips };
    if (box == QLatin1String("checkBox_2"))
        return { &FilterSettings::include_port_enabled, &FilterSettings::include_ports };
    if (box == QLatin1String("checkBox_4"))
        return { &FilterSettings::exclude_ip_enabled, &FilterSettings::exclude_ips };
    return { &FilterSettings::exclude_port_enabled, &FilterSettings::exclude_ports };
}

// Whether the field shows text in the colour of a warning: some pixels
// clearly red.
bool shows_red(QLineEdit& field)
{
    const QImage image = field.grab().toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 110 && c.blue() < 110)
                return true;
        }
    }
    return false;
}

} // namespace

class TstFitWid : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void form_data();
    void form();
    void toggleWritesRow_data();
    void toggleWritesRow();
    void tickedListFollowsText_data();
    void tickedListFollowsText();
    void dataFlagRowChangesNothing();
    void confirmAndCloseHideKeepingState();
    void explanationBox();
    void longListKeptWhole();
    void unusableEntriesMarked_data();
    void unusableEntriesMarked();
    void captureFilterTick_data();
    void captureFilterTick();
    void tickedCaptureFilterFollowsText();
    void remoteSessionExcluded_data();
    void remoteSessionExcluded();

private:
    FilterSettings m_saved;
    QByteArray m_sshConnection = qgetenv("SSH_CONNECTION");
    QByteArray m_display = qgetenv("DISPLAY");
};

void TstFitWid::init()
{
    // Whatever session runs the tests, the form starts as in a local one.
    qunsetenv("SSH_CONNECTION");
    qunsetenv("DISPLAY");
    m_saved = g_filter_settings;
    g_filter_settings = FilterSettings {};
}

void TstFitWid::cleanup()
{
    g_filter_settings = m_saved;
    for (const auto& [name, value] :
         { std::pair { "SSH_CONNECTION", m_sshConnection }, std::pair { "DISPLAY", m_display } }) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
}

void TstFitWid::form_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("rowSpan");
    QTest::addColumn<QString>("text");

    auto add = [](const char* name, const char* cls, int r, int c, int span, const char* text) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls) << r << c
                            << span << QString::fromUtf8(text);
    };
    add("checkBox", "QCheckBox", 0, 0, 1, "包含IP");
    add("lineEdit", "QLineEdit", 0, 1, 1, "127.0.1.1|192.168.0.1");
    add("pushButton", "QPushButton", 0, 2, 2, "说明");
    add("checkBox_2", "QCheckBox", 1, 0, 1, "包含端口");
    add("lineEdit_2", "QLineEdit", 1, 1, 1, "80|8888");
    add("checkBox_3", "QCheckBox", 2, 0, 1, "数据标志");
    add("lineEdit_3", "QLineEdit", 2, 1, 1, "HTTP");
    add("checkBox_4", "QCheckBox", 3, 0, 1, "不含IP");
    add("lineEdit_4", "QLineEdit", 3, 1, 1, "127.0.1.1|192.168.0.1.1");
    add("pushButton_2", "QPushButton", 3, 2, 2, "确认");
    add("checkBox_5", "QCheckBox", 4, 0, 1, "不含端口");
    add("lineEdit_5", "QLineEdit", 4, 1, 1, "443");
    add("checkBox_6", "QCheckBox", 5, 0, 1, "捕获过滤");
    add("lineEdit_6", "QLineEdit", 5, 1, 1, "tcp port 443 and host 10.0.0.1");
}

void TstFitWid::form()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, rowSpan);
    QFETCH(QString, text);

    FitWid form;
    QCOMPARE(form.objectName(), QStringLiteral("FitWid"));
    QCOMPARE(form.windowTitle(),
             QStringLiteral("过滤规则 (用于之后的抓包和打开的文件, 也可应用到已显示的行)"));
    QCOMPARE(form.size(), QSize(517, 200));
    QVERIFY(form.isWindow());

    auto* layout = child<QGridLayout>(form, QStringLiteral("gridLayout"));
    QVERIFY(layout != nullptr);
    QCOMPARE(form.layout(), layout);
    auto* widget = child<QWidget>(form, name);
    QVERIFY(widget != nullptr);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->property("text").toString(), text);
    int r = -1, c = -1, rs = -1, cs = -1;
    layout->getItemPosition(layout->indexOf(widget), &r, &c, &rs, &cs);
    QCOMPARE(QVector<int>({ r, c, rs, cs }), QVector<int>({ row, column, rowSpan, 1 }));
    if (auto* box = qobject_cast<QCheckBox*>(widget))
        QVERIFY(!box->isChecked());
}

void TstFitWid::toggleWritesRow_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("include-ip-initial-text")
            << "checkBox"
            << "lineEdit" << QString()
            << QStringList { QStringLiteral("127.0.1.1"), QStringLiteral("192.168.0.1") };
    QTest::newRow("include-port-initial-text")
            << "checkBox_2"
            << "lineEdit_2" << QString()
            << QStringList { QStringLiteral("80"), QStringLiteral("8888") };
    QTest::newRow("exclude-ip-initial-text")
            << "checkBox_4"
            << "lineEdit_4" << QString()
            << QStringList { QStringLiteral("127.0.1.1"), QStringLiteral("192.168.0.1.1") };
    QTest::newRow("exclude-port-initial-text")
            << "checkBox_5"
            << "lineEdit_5" << QString() << QStringList { QStringLiteral("443") };
    QTest::newRow("empty-text") << "checkBox"
                                << "lineEdit"
                                << "" << QStringList { QString() };
    QTest::newRow("empty-part-and-blanks")
            << "checkBox_2"
            << "lineEdit_2"
            << " 80||443 "
            << QStringList { QStringLiteral(" 80"), QString(), QStringLiteral("443 ") };
    QTest::newRow("case-kept") << "checkBox_4"
                               << "lineEdit_4"
                               << "Host|host"
                               << QStringList { QStringLiteral("Host"), QStringLiteral("host") };
}

void TstFitWid::toggleWritesRow()
{
    QFETCH(QString, box);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QStringList, entries);

    FitWid form;
    if (!text.isNull())
        child<QLineEdit>(form, field)->setText(text);
    auto* check = child<QCheckBox>(form, box);
    const Row row = row_of(box);

    click_check_box(check);
    QVERIFY(check->isChecked());
    QVERIFY(g_filter_settings.*row.enabled);
    QCOMPARE(g_filter_settings.*row.list, entries);

    // Unchecking turns the switch off and reads the text again.
    child<QLineEdit>(form, field)->setText(QStringLiteral("1|2"));
    click_check_box(check);
    QVERIFY(!(g_filter_settings.*row.enabled));
    QCOMPARE(g_filter_settings.*row.list,
             (QStringList { QStringLiteral("1"), QStringLiteral("2") }));

    // The other rows are left alone.
    FilterSettings others = g_filter_settings;
    others.*row.list = QStringList();
    QVERIFY(others == FilterSettings {});
}

void TstFitWid::tickedListFollowsText_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("field");
    QTest::newRow("include-ips") << "checkBox"
                                 << "lineEdit";
    QTest::newRow("include-ports") << "checkBox_2"
                                   << "lineEdit_2";
    QTest::newRow("exclude-ips") << "checkBox_4"
                                 << "lineEdit_4";
    QTest::newRow("exclude-ports") << "checkBox_5"
                                   << "lineEdit_5";
}

void TstFitWid::tickedListFollowsText()
{
    QFETCH(QString, box);
    QFETCH(QString, field);
    FitWid form;
    auto* edit = child<QLineEdit>(form, field);
    auto* check = child<QCheckBox>(form, box);
    const Row row = row_of(box);

    edit->setText(QStringLiteral("8000|8001"));
    click_check_box(check);
    // Typed while ticked: in force key by key, as the field shows it.
    QTest::keyClick(edit, Qt::Key_Home);
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(edit, Qt::Key_Delete);
    QCOMPARE(edit->text(), QStringLiteral("8001"));
    QVERIFY(g_filter_settings.*row.enabled);
    QCOMPARE(g_filter_settings.*row.list, QStringList { QStringLiteral("8001") });
    QTest::keyClicks(edit, QStringLiteral("|"));
    QCOMPARE(g_filter_settings.*row.list, (QStringList { QString(), QStringLiteral("8001") }));

    // Unticked, the switch is off and the list no longer moves.
    click_check_box(check);
    QVERIFY(!(g_filter_settings.*row.enabled));
    const QStringList unticked = g_filter_settings.*row.list;
    edit->setText(QStringLiteral("1"));
    QCOMPARE(g_filter_settings.*row.list, unticked);
    click_check_box(check);
    QCOMPARE(g_filter_settings.*row.list, QStringList { QStringLiteral("1") });

    // The other rows are left alone.
    FilterSettings others = g_filter_settings;
    others.*row.enabled = false;
    others.*row.list = QStringList();
    QVERIFY(others == FilterSettings {});
}

void TstFitWid::dataFlagRowChangesNothing()
{
    FitWid form;
    auto* flag = child<QCheckBox>(form, QStringLiteral("checkBox_3"));
    click_check_box(flag);
    QVERIFY(flag->isChecked());
    QVERIFY(g_filter_settings == FilterSettings {});
}

void TstFitWid::confirmAndCloseHideKeepingState()
{
    FitWid form;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* box = child<QCheckBox>(form, QStringLiteral("checkBox_5"));
    auto* field = child<QLineEdit>(form, QStringLiteral("lineEdit_5"));
    click_check_box(box);
    field->setText(QStringLiteral("22|443"));

    QTest::mouseClick(child<QPushButton>(form, QStringLiteral("pushButton_2")), Qt::LeftButton);
    QVERIFY(form.isHidden());
    form.show();
    QVERIFY(box->isChecked());
    QCOMPARE(field->text(), QStringLiteral("22|443"));

    QVERIFY(form.close()); // the title bar's close: hidden, not destroyed
    QVERIFY(form.isHidden());
    QVERIFY(!form.testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(box->isChecked());
    // Hiding changes nothing: the settings hold what the form shows.
    QVERIFY(g_filter_settings.exclude_port_enabled);
    QCOMPARE(g_filter_settings.exclude_ports,
             (QStringList { QStringLiteral("22"), QStringLiteral("443") }));
}

void TstFitWid::explanationBox()
{
    FitWid form;
    QString title;
    QString text;
    QList<QAbstractButton*> buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons();
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        box->accept();
    });
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QTest::mouseClick(child<QPushButton>(form, QStringLiteral("pushButton")), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("说明"));
    QCOMPARE(text, QStringLiteral("多组数据以 | 分割，开始抓包前设置，否则无效。标志暂无功能"));
    QCOMPARE(buttons.size(), 1);
    QVERIFY(g_filter_settings == FilterSettings {});
}

void TstFitWid::longListKeptWhole()
{
    FitWid form;
    auto* ports = child<QLineEdit>(form, QStringLiteral("lineEdit_2"));
    QStringList typed;
    for (int port = 10000; port < 110000; ++port)
        typed.append(QString::number(port)); // 100,000 entries, 600,000 characters
    QApplication::clipboard()->setText(typed.join(QLatin1Char('|')));
    ports->clear();
    ports->paste();

    QTest::mouseClick(child<QCheckBox>(form, QStringLiteral("checkBox_2")), Qt::LeftButton);
    QCOMPARE(g_filter_settings.include_ports.size(), typed.size());
    QCOMPARE(g_filter_settings.include_ports, typed);
    // Those above 65535 are no ports: the first are named, all counted.
    QVERIFY2(ports->toolTip().contains(QStringLiteral("“65536”")), qPrintable(ports->toolTip()));
    QVERIFY(!ports->toolTip().contains(QStringLiteral("“65535”")));
    QVERIFY2(ports->toolTip().contains(QString::number(110000 - 65536)),
             qPrintable(ports->toolTip()));
}

void TstFitWid::unusableEntriesMarked_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("named");

    QTest::newRow("initial-exclude-ips")
            << "lineEdit_4"
            << "checkBox_4" << QString() << QStringList { "192.168.0.1.1" };
    QTest::newRow("initial-include-ips") << "lineEdit"
                                         << "checkBox" << QString() << QStringList();
    QTest::newRow("port-blank-and-comma") << "lineEdit_5"
                                          << "checkBox_5"
                                          << "80 |80,443|22" << QStringList { "80 ", "80,443" };
    QTest::newRow("ipv6-addresses") << "lineEdit"
                                    << "checkBox"
                                    << "::1|2001:DB8::2|::1::2" << QStringList { "::1::2" };
    QTest::newRow("address-in-ports") << "lineEdit_2"
                                      << "checkBox_2"
                                      << "80|10.0.0.1" << QStringList { "10.0.0.1" };
}

void TstFitWid::unusableEntriesMarked()
{
    QFETCH(QString, field);
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QStringList, named);

    FitWid form;
    auto* edit = child<QLineEdit>(form, field);
    if (!text.isNull())
        edit->setText(text);
    const QString typed = edit->text();
    QCOMPARE(shows_red(*edit), !named.isEmpty());
    for (const QString& entry : named)
        QVERIFY2(edit->toolTip().contains(QStringLiteral("“%1”").arg(entry)),
                 qPrintable(edit->toolTip()));
    QCOMPARE(edit->toolTip().isEmpty(), named.isEmpty());

    // Marked entries are still used as typed.
    QTest::mouseClick(child<QCheckBox>(form, box), Qt::LeftButton);
    QCOMPARE(g_filter_settings.*row_of(box).list, typed.split(QLatin1Char('|')));

    // Corrected, the mark goes.
    edit->setText(field.endsWith(QLatin1String("_2")) || field.endsWith(QLatin1String("_5"))
                          ? QStringLiteral("80|443")
                          : QStringLiteral("10.0.0.1|::1"));
    QVERIFY(!shows_red(*edit));
    QCOMPARE(edit->toolTip(), QString());
}

void TstFitWid::captureFilterTick_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("reason"); // part of libpcap's text; empty: accepted
    QTest::newRow("initial-text") << QString() << QString();
    QTest::newRow("ipv6") << "ip6 and tcp port 80" << QString();
    QTest::newRow("empty") << "" << QString();
    QTest::newRow("typo") << "tcp prot 443"
                          << "syntax error";
    QTest::newRow("port-out-of-range") << "port 99999"
                                       << "99999";
}

void TstFitWid::captureFilterTick()
{
    QFETCH(QString, expression);
    QFETCH(QString, reason);

    FitWid form;
    auto* box = child<QCheckBox>(form, QStringLiteral("checkBox_6"));
    auto* field = child<QLineEdit>(form, QStringLiteral("lineEdit_6"));
    auto* error = child<QLabel>(form, QStringLiteral("label"));
    QVERIFY(!error->isVisibleTo(&form));
    if (!expression.isNull())
        field->setText(expression);
    const QString typed = field->text();

    QTest::mouseClick(box, Qt::LeftButton);
    if (reason.isEmpty()) {
        QVERIFY(box->isChecked());
        QVERIFY(g_filter_settings.capture_filter_on);
        QCOMPARE(g_filter_settings.capture_filter, typed);
        QVERIFY(!error->isVisibleTo(&form));
        // Unticking switches it off; the next tick reads the text again.
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!g_filter_settings.capture_filter_on);
        field->setText(QStringLiteral("tcp"));
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(g_filter_settings.capture_filter, QStringLiteral("tcp"));
    } else {
        // Caught before the capture: the box stays unticked, the reason
        // stands beside it until the expression is edited.
        QVERIFY(!box->isChecked());
        QVERIFY(!g_filter_settings.capture_filter_on);
        QVERIFY(error->isVisibleTo(&form));
        QVERIFY2(error->text().contains(reason), qPrintable(error->text()));
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClick(field, Qt::Key_Backspace);
        QVERIFY(!error->isVisibleTo(&form));
    }
    // The lists are left alone.
    FilterSettings lists = g_filter_settings;
    lists.capture_filter_on = false;
    lists.capture_filter.clear();
    QVERIFY(lists == FilterSettings {});
}

void TstFitWid::tickedCaptureFilterFollowsText()
{
    FitWid form;
    auto* box = child<QCheckBox>(form, QStringLiteral("checkBox_6"));
    auto* field = child<QLineEdit>(form, QStringLiteral("lineEdit_6"));
    auto* error = child<QLabel>(form, QStringLiteral("label"));
    field->setText(QStringLiteral("tcp port 443"));
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(g_filter_settings.capture_filter_on);

    // What the field shows is in force while typing; checked when the edit
    // is done. A failed check keeps the box ticked, so that the next start
    // refuses the expression rather than capturing everything.
    QTest::keyClick(field, Qt::Key_Home);
    QTest::keyClick(field, Qt::Key_Right);
    QTest::keyClick(field, Qt::Key_Right);
    QTest::keyClick(field, Qt::Key_Right);
    QTest::keyClicks(field, QStringLiteral(" prot 80 or"));
    QCOMPARE(g_filter_settings.capture_filter, QStringLiteral("tcp prot 80 or port 443"));
    QVERIFY(!error->isVisibleTo(&form));
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(box->isChecked());
    QVERIFY(g_filter_settings.capture_filter_on);
    QCOMPARE(g_filter_settings.capture_filter, field->text());
    QVERIFY(error->isVisibleTo(&form));
    QVERIFY2(error->text().contains(QLatin1String("syntax error")), qPrintable(error->text()));

    field->setText(QStringLiteral("tcp port 80"));
    QVERIFY(!error->isVisibleTo(&form));
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(!error->isVisibleTo(&form));
    QVERIFY(g_filter_settings.capture_filter_on);
    QCOMPARE(g_filter_settings.capture_filter, QStringLiteral("tcp port 80"));

    // Unticked, the text is no longer taken.
    QTest::mouseClick(box, Qt::LeftButton);
    field->setText(QStringLiteral("udp"));
    QVERIFY(!g_filter_settings.capture_filter_on);
    QCOMPARE(g_filter_settings.capture_filter, QStringLiteral("tcp port 80"));
}

void TstFitWid::remoteSessionExcluded_data()
{
    QTest::addColumn<QByteArray>("ssh");
    QTest::addColumn<QByteArray>("display");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("ssh-x") << QByteArray("192.168.0.1 51000 10.0.0.5 22")
                           << QByteArray("localhost:10.0") << true;
    QTest::newRow("tcp-display") << QByteArray() << QByteArray("127.0.0.1:10") << true;
    QTest::newRow("local-display") << QByteArray() << QByteArray(":0") << false;
}

void TstFitWid::remoteSessionExcluded()
{
    QFETCH(QByteArray, ssh);
    QFETCH(QByteArray, display);
    QFETCH(bool, ticked);
    if (!ssh.isEmpty())
        qputenv("SSH_CONNECTION", ssh);
    if (!display.isEmpty())
        qputenv("DISPLAY", display);

    FitWid form;
    auto* box = child<QCheckBox>(form, QStringLiteral("checkBox_6"));
    auto* field = child<QLineEdit>(form, QStringLiteral("lineEdit_6"));
    QCOMPARE(box->isChecked(), ticked);
    QCOMPARE(g_filter_settings.capture_filter_on, ticked);
    if (!ticked) {
        QCOMPARE(field->text(), QStringLiteral("tcp port 443 and host 10.0.0.1"));
        return;
    }
    QCOMPARE(g_filter_settings.capture_filter, field->text());
    if (!ssh.isEmpty()) // names the session's client and its port
        QVERIFY2(field->text().contains(QStringLiteral("51000"))
                         && field->text().contains(QStringLiteral("192.168.0.1")),
                 qPrintable(field->text()));
    if (!display.isEmpty()) // port 6000 + display number
        QVERIFY2(field->text().contains(QStringLiteral("6010")), qPrintable(field->text()));

    QTest::mouseClick(box, Qt::LeftButton); // the user can untick it
    QVERIFY(!g_filter_settings.capture_filter_on);
}

QTEST_MAIN(TstFitWid)
#include "tst_fitwid.moc"
