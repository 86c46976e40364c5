// SPDX-License-Identifier: GPL-2.0-or-later

#include <functional>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <qcustomplot.h>

#include "cjktext.h"
#include "cupdate.h"
#include "fitwid.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "testframes.h"
#include "translation.h"

namespace {

void add_header_texts(const QAbstractItemModel& model, Qt::Orientation orientation, int count,
                      QStringList& texts)
{
    for (int section = 0; section < count; ++section) {
        for (const int role : { Qt::DisplayRole, Qt::ToolTipRole })
            texts.append(model.headerData(section, orientation, role).toString());
    }
}

// Every text a user can meet in a window: its title, and the texts, place
// holders, tool tips, list items, table headers and actions of its widgets,
// hidden ones included.
QStringList visible_texts(QWidget& window)
{
    QStringList texts { window.windowTitle() };
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(&window);
    for (QWidget* widget : std::as_const(widgets)) {
        texts << widget->toolTip() << widget->statusTip() << widget->whatsThis();
        if (widget->isWindow())
            texts.append(widget->windowTitle());
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            texts.append(button->text());
        if (auto* label = qobject_cast<QLabel*>(widget))
            texts.append(label->text());
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            texts << edit->text() << edit->placeholderText();
        if (auto* edit = qobject_cast<QTextEdit*>(widget))
            texts << edit->toPlainText() << edit->placeholderText();
        if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
            texts << edit->toPlainText() << edit->placeholderText();
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            texts.append(combo->placeholderText());
            for (int item = 0; item < combo->count(); ++item)
                texts.append(combo->itemText(item));
        }
        if (auto* box = qobject_cast<QGroupBox*>(widget))
            texts.append(box->title());
        if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
            for (int tab = 0; tab < tabs->count(); ++tab)
                texts << tabs->tabText(tab) << tabs->tabToolTip(tab);
        }
        if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
            const QAbstractItemModel& model = *view->model();
            add_header_texts(model, Qt::Horizontal, model.columnCount(), texts);
            add_header_texts(model, Qt::Vertical, model.rowCount(), texts);
        }
        if (auto* box = qobject_cast<QMessageBox*>(widget))
            texts << box->text() << box->informativeText() << box->detailedText();
        if (auto* plot = qobject_cast<QCustomPlot*>(widget)) { // axes and legend
            for (const QCPAxis* axis : plot->axisRect()->axes())
                texts.append(axis->label());
            for (int i = 0; i < plot->plottableCount(); ++i)
                texts.append(plot->plottable(i)->name());
        }
    }
    // Menus, menu bars and tool bars show actions.
    for (const QAction* action : window.findChildren<QAction*>())
        texts << action->text() << action->iconText() << action->toolTip() << action->statusTip();
    texts.removeAll(QString());
    return texts;
}

// Does what triggers a modal message box and returns the texts of the box,
// which it then closes; an empty list when no box came.
QStringList texts_of_box(const std::function<void()>& trigger)
{
    QStringList texts;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !texts.isEmpty())
            return;
        texts = visible_texts(*box);
        box->accept();
    });
    poll.start(20);
    // The offscreen platform's note on showing a dialog.
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    trigger();
    [&] { QTRY_VERIFY_WITH_TIMEOUT(!texts.isEmpty(), 10000); }();
    return texts;
}

void click(const QWidget& window, const char* name)
{
    QTest::mouseClick(window.findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
}

} // namespace

class TstEnglishUi : public QObject
{
    Q_OBJECT

private slots:
    void noChineseInEnglish_data();
    void noChineseInEnglish();
};

void TstEnglishUi::noChineseInEnglish_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("english");
    QTest::addColumn<bool>("chinese");

    const QStringList parts { QStringLiteral("main-window"),     QStringLiteral("filter-form"),
                              QStringLiteral("hex-window"),      QStringLiteral("explanation-box"),
                              QStringLiteral("filter-help-box"), QStringLiteral("open-error-box"),
                              QStringLiteral("unsaved-rows-box"), QStringLiteral("traffic-graph"),
                              QStringLiteral("time-sequence") };
    // The Chinese locales prove that each part's texts are seen at all; in
    // the error box, whose own texts are English, through Qt's buttons.
    const QVector<QPair<QString, bool>> locales { { QStringLiteral("en_US"), true },
                                                  { QStringLiteral("de_DE"), true },
                                                  { QStringLiteral("zh_CN"), false },
                                                  { QStringLiteral("C"), false } };
    for (const auto& [name, english] : locales) {
        for (const QString& part : parts) {
            QTest::addRow("%s-%s", qPrintable(name), qPrintable(part))
                    << QLocale(name) << part << english << !english;
        }
    }
}

void TstEnglishUi::noChineseInEnglish()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, part);
    QFETCH(bool, english);
    QFETCH(bool, chinese);

    const auto restore = qScopeGuard([] { install_translation(*qApp, QLocale::c()); });
    QCOMPARE(install_translation(*qApp, locale), english);
    MainWindow window;
    window.show();

    QStringList texts;
    if (part == QLatin1String("main-window")) {
        texts = visible_texts(window);
    } else if (part == QLatin1String("filter-form")) {
        texts = visible_texts(*g_filter_form);
    } else if (part == QLatin1String("hex-window")) {
        const QWidgetList before = QApplication::topLevelWidgets();
        click(window, "pushButton_8");
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (!before.contains(top)) {
                texts += visible_texts(*top);
                top->close();
            }
        }
    } else if (part == QLatin1String("explanation-box")) {
        texts = texts_of_box([&] { click(window, "pushButton_10"); });
    } else if (part == QLatin1String("unsaved-rows-box")) {
        window.show_data_UI(QStringLiteral("00:00:00|TCP|1.1.1.1|1|2.2.2.2|80|1|41"));
        texts = texts_of_box([&] { window.close(); }); // answered: stays open
    } else if (part == QLatin1String("filter-help-box")) {
        texts = texts_of_box([] { click(*g_filter_form, "pushButton"); });
    } else if (part == QLatin1String("open-error-box")) {
        auto* combo = window.findChild<QComboBox*>(QStringLiteral("comboBox"));
        combo->addItem(QStringLiteral("gone"));
        g_adapter_names.append(QStringLiteral("file:///nonexistent/tarnlook.pcap"));
        const auto forget = qScopeGuard([] { g_adapter_names.removeLast(); });
        combo->setCurrentIndex(combo->count() - 1);
        texts = texts_of_box([&] { click(window, "pushButton_2"); });
        QTRY_COMPARE(g_capture_thread, nullptr);
    } else if (part == QLatin1String("traffic-graph") || part == QLatin1String("time-sequence")) {
        // A connection's SYN, in a file opened in the window.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("syn.pcap"));
        testframes::Ipv4Packet syn;
        syn.tcp_flags = 0x02;
        QVERIFY(testframes::write_capture(file, DLT_EN10MB,
                                          { testframes::ethernet(testframes::ipv4(syn)) }));
        QVERIFY(window.open_capture_file(file));
        QTRY_COMPARE(g_capture_thread, nullptr);
        QWidget* from = &window;
        if (part == QLatin1String("time-sequence"))
            from = window.follow_tcp_stream(0);
        QVERIFY(from != nullptr);
        const QString name = part == QLatin1String("traffic-graph")
                ? QStringLiteral("actionTrafficGraph")
                : QStringLiteral("actionTimeSequence");
        const QWidgetList before = from->findChildren<QWidget*>();
        from->findChild<QAction*>(name)->trigger();
        for (QWidget* graph : from->findChildren<QWidget*>())
            if (graph->isWindow() && !before.contains(graph))
                texts += visible_texts(*graph);
    }
    QVERIFY2(!texts.isEmpty(), "no texts found");

    const QStringList withCjk = cjktext::with_cjk(texts);
    if (chinese)
        QVERIFY2(!withCjk.isEmpty(), qUtf8Printable(texts.join(QLatin1String(" | "))));
    else
        QVERIFY2(withCjk.isEmpty(), qUtf8Printable(withCjk.join(QLatin1String(" | "))));
}

QTEST_MAIN(TstEnglishUi)
#include "tst_englishui.moc"
