// SPDX-License-Identifier: GPL-2.0-or-later

#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>
#include <QtTest>

#include "fitwid.h"
#include "mainwindow.h"

namespace {

QString read_text(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

// The style sheet as the installed package ships it: the independent oracle
// for what the program compiled in.
QString package_sheet(const char* theme)
{
    return read_text(
            QStringLiteral(TARNLOOK_QDARKSTYLE_DIR "/%1/%1style.qss").arg(QLatin1String(theme)));
}

int window_lightness(QWidget& widget)
{
    widget.ensurePolished();
    return widget.palette().color(QPalette::Window).lightness();
}

} // namespace

class TstThemes : public QObject
{
    Q_OBJECT

private slots:
    void sheetsAndIconsCompiledIn_data();
    void sheetsAndIconsCompiledIn();
    void themeButtonSwitchesEveryWindow();
    void missingThemeIsWarned();
    void explanationBox();
};

void TstThemes::sheetsAndIconsCompiledIn_data()
{
    QTest::addColumn<QString>("theme");
    QTest::newRow("dark") << QStringLiteral("dark");
    QTest::newRow("light") << QStringLiteral("light");
}

void TstThemes::sheetsAndIconsCompiledIn()
{
    QFETCH(QString, theme);
    const QString sheet = read_text(QStringLiteral(":/qdarkstyle/%1/style.qss").arg(theme));
    QVERIFY(!sheet.isEmpty());
    QCOMPARE(sheet, package_sheet(theme == QLatin1String("dark") ? "dark" : "light"));

    // Every icon the sheet names is a resource of its own theme, and an image.
    const QRegularExpression url(QStringLiteral("url\\(\"?([^\")]+)\"?\\)"));
    int references = 0;
    for (auto it = url.globalMatch(sheet); it.hasNext(); ++references) {
        const QString path = it.next().captured(1);
        QVERIFY2(path.startsWith(QStringLiteral(":/qss_icons/%1/rc/").arg(theme)),
                 qPrintable(path));
        QVERIFY2(!QImage(path).isNull(), qPrintable(path));
    }
    QVERIFY(references > 0);
}

void TstThemes::themeButtonSwitchesEveryWindow()
{
    MainWindow window;
    const QString light = package_sheet("light");
    const QString dark = package_sheet("dark");
    QCOMPARE(qApp->styleSheet(), light); // the light theme from the start
    QVERIFY(window_lightness(*g_filter_form) > 128);

    auto* button = window.findChild<QPushButton*>(QStringLiteral("pushButton_9"));
    QCOMPARE(button->text(), QStringLiteral("黑色主题"));
    const QStringList texts = { QStringLiteral("亮色主题"), QStringLiteral("黑色主题"),
                                QStringLiteral("亮色主题") };
    const QStringList sheets = { dark, light, dark };
    for (int click = 0; click < 3; ++click) {
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->text(), texts.at(click));
        QCOMPARE(qApp->styleSheet(), sheets.at(click));
        // The filter form follows without being told.
        const bool isDark = click != 1;
        QCOMPARE(window_lightness(*g_filter_form) < 128, isDark);
    }
    window.load_theme(2);
    QCOMPARE(qApp->styleSheet(), light);
}

void TstThemes::missingThemeIsWarned()
{
    MainWindow window; // the bundles are registered from here on
    Q_CLEANUP_RESOURCE(qdarkstyle_dark);
    const auto restore = qScopeGuard([] { Q_INIT_RESOURCE(qdarkstyle_dark); });

    QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral("^Theme not found: :/qdarkstyle/dark/")));
    window.load_theme(1);
    QVERIFY(!qApp->styleSheet().contains(QLatin1Char('{'))); // no rule: the platform's look
    QVERIFY(window_lightness(*g_filter_form) > 128);
    window.load_theme(2);
    QCOMPARE(qApp->styleSheet(), package_sheet("light"));
    MainWindow second; // restyled along with the first, without a crash
    QCOMPARE(qApp->styleSheet(), package_sheet("light"));
}

void TstThemes::explanationBox()
{
    MainWindow window;
    QString title;
    QString text;
    int buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box->parentWidget(), &window);
        box->accept();
    });
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton_10")),
                      Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("说明"));
    QCOMPARE(text,
             QStringLiteral("本软件基于libpcap开发,抓包由tarnlook-capture完成: "
                            "安装tarnlook软件包, 用 sudo usermod -aG tarnlook $USER "
                            "加入tarnlook组并重新登录即可, 无需以root身份运行本窗口\n"
                            "网卡的选择,一般选择连接互联网的网卡,可使用终端命令 "
                            "ip addr查看自己所使用的网卡。"
                            "暂时只支持tcp协议的,如需更多功能可以选择wireshark。\n\n"
                            "请勿用于非法用途,否则责任自负"));
    QCOMPARE(buttons, 1);
}

QTEST_MAIN(TstThemes)
#include "tst_themes.moc"
