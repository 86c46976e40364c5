// SPDX-License-Identifier: GPL-2.0-or-later

#include <QImage>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

#include "cjktext.h"
#include "graphplot.h"
#include "graphwindow.h"
#include "mainwindow.h"
#include "streamwindow.h"
#include "testframes.h"
#include "timesequencewindow.h"
#include "trafficgraphwindow.h"
#include "translation.h"
#include "uisteps.h"

namespace {

// A connection of six rows a second apart: a sender's segments of 100 bytes
// (relative sequence numbers 1, 101 and 201 at seconds 0, 2 and 4), the
// other side acknowledging each a second later with a window of 300.
QVector<QByteArray> frames()
{
    QVector<QByteArray> frames;
    for (int i = 0; i < 6; ++i) {
        testframes::Ipv4Packet packet;
        const bool forth = i % 2 == 0;
        packet.src_port = forth ? 40000 : 80;
        packet.dst_port = forth ? 80 : 40000;
        if (!forth)
            std::swap(packet.src, packet.dst);
        packet.seq = forth ? 1000 + 50 * i : 7000;
        packet.ack = forth ? 7000 : 1050 + 50 * i;
        packet.tcp_flags = forth ? 0x18 : 0x10;
        packet.window = 300;
        packet.payload = forth ? QByteArray(100, 'g') : QByteArray();
        frames.append(testframes::ethernet(testframes::ipv4(packet)));
    }
    return frames;
}

GraphWindow* active_graph()
{
    return qobject_cast<GraphWindow*>(QApplication::activeWindow());
}

// The graph window open, active or not (at most one is).
GraphWindow* open_graph(const QWidget& main)
{
    for (GraphWindow* graph : main.findChildren<GraphWindow*>())
        if (graph->isVisible())
            return graph;
    return nullptr;
}

// The graph's own steps, besides those of uisteps: the wheel turned over
// the plot's middle ("wheel:up", "wheel:down", "wheel:ctrl-up"), a drag by
// pixels ("drag:DX,DY"), a click on the point at KEY,VALUE ("point:K,V").
bool run_graph_step(const QString& step, GraphWindow* graph)
{
    if (graph == nullptr || !graph->isVisible())
        return false;
    GraphPlot* plot = graph->plot();
    plot->replot(QCustomPlot::rpImmediateRefresh);
    const QString argument = step.section(QLatin1Char(':'), 1);
    const QPoint middle = plot->axisRect()->rect().center();
    if (step.startsWith(QLatin1String("wheel:"))) {
        const int delta = argument.endsWith(QLatin1String("up")) ? 120 : -120;
        const Qt::KeyboardModifiers modifiers
                = argument.startsWith(QLatin1String("ctrl")) ? Qt::ControlModifier : Qt::NoModifier;
        QWheelEvent wheel(middle, plot->mapToGlobal(middle), QPoint(), QPoint(0, delta),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(plot, &wheel);
        return true;
    }
    if (step.startsWith(QLatin1String("drag:"))) {
        const QPoint to = middle
                + QPoint(argument.section(QLatin1Char(','), 0, 0).toInt(),
                         argument.section(QLatin1Char(','), 1, 1).toInt());
        QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, middle);
        QMouseEvent move(QEvent::MouseMove, to, plot->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(plot, &move);
        QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, to);
        return true;
    }
    if (step.startsWith(QLatin1String("point:"))) {
        const QPoint at(
                int(plot->xAxis->coordToPixel(argument.section(QLatin1Char(','), 0, 0).toDouble())),
                int(plot->yAxis->coordToPixel(
                        argument.section(QLatin1Char(','), 1, 1).toDouble())));
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, at);
        return true;
    }
    return false;
}

} // namespace

// The graph windows used with keys, menus and the mouse on the active window
// of a real X server, in both themes and both languages, with what a person
// sees afterwards.
class TstGraphKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void steps_data();
    void steps();
};

void TstGraphKeys::initTestCase()
{
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
}

void TstGraphKeys::steps_data()
{
    QTest::addColumn<int>("theme");
    QTest::addColumn<QString>("language");
    // What is open before the steps: the traffic graph, the stream window,
    // or the stream window's time sequence (active); or nothing.
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("checks"); // separated by "|"

    struct Row
    {
        const char* name;
        const char* start;
        const char* steps;
        const char* checks;
    };
    // Ranges are told against everything shown: "in" and "out" zoomed,
    // "left", "right", "up" and "down" moved, "all" following the data.
    static const Row table[] = {
        { "traffic-by-shortcut", "", "key:Ctrl+Alt+G", "window=trafficGraphWindow|range=all" },
        { "traffic-by-menu", "", "menu:actionTrafficGraph", "window=trafficGraphWindow" },
        { "sequence-by-shortcut", "stream", "key:Ctrl+Alt+S", "window=timeSequenceWindow" },
        { "sequence-by-menu", "stream", "menu:actionTimeSequence", "window=timeSequenceWindow" },
        { "plus-zooms-in", "traffic", "key:+", "range=in" },
        { "minus-zooms-out", "traffic", "key:-", "range=out" },
        { "ctrl-plus-zooms-in", "sequence", "key:Ctrl++", "range=in" },
        { "menu-zooms-out", "sequence", "menu:actionZoomOut", "range=out" },
        { "arrow-pans-right", "traffic", "key:Right", "range=right" },
        { "arrow-pans-up", "sequence", "key:Up", "range=up" },
        { "home-shows-all", "traffic", "key:+;key:Left;key:Home", "range=all" },
        { "ctrl-0-shows-all", "sequence", "key:-;key:Ctrl+0", "range=all" },
        { "wheel-zooms-in", "traffic", "wheel:up", "range=in" },
        { "wheel-zooms-out", "sequence", "wheel:down", "range=out" },
        { "ctrl-wheel-zooms-time", "sequence", "wheel:ctrl-up", "range=in|values=kept" },
        { "drag-pans", "traffic", "drag:-100,0", "range=right" },
        { "click-chooses-row", "traffic", "point:2.5,1", "row=2" },
        { "click-chooses-segment", "sequence", "point:2,170", "row=2" },
        { "click-chooses-acknowledgement", "sequence", "point:1.5,101", "row=1" },
        { "d-switches-direction", "sequence", "key:D", "direction=1" },
        { "d-twice-switches-back", "sequence", "key:D;key:D", "direction=0" },
        { "choice-switches-direction", "sequence", "click:directionChoice;key:Down;key:Return",
          "direction=1" },
        { "save-picture", "traffic", "answer:file:graph.png;key:Ctrl+S", "picture=graph.png" },
        { "save-picture-by-menu", "sequence", "answer:file:graph.pdf;menu:actionSavePicture",
          "picture=graph.pdf" },
        { "close-by-shortcut", "traffic", "key:Ctrl+W", "closed" },
        { "shortcut-again-opens-no-other", "traffic", "activate:MainWindow;key:Ctrl+Alt+G",
          "graphs=1" },
    };
    // The ways to open the graphs in both themes, the others in one each,
    // by turns.
    int turn = 0;
    for (const Row& row : table) {
        const bool opening = QByteArray(row.name).contains("-by-");
        for (const int theme : { 1, 0 }) {
            if (opening || theme == turn % 2)
                QTest::addRow("%s/%s", row.name, theme == 1 ? "dark" : "light")
                        << theme << QStringLiteral("zh") << row.start << row.steps << row.checks;
        }
        ++turn;
    }
    // English: the windows as opened, and what they say.
    QTest::addRow("traffic-in-english") << 0 << QStringLiteral("en") << QStringLiteral("traffic")
                                        << QString() << QStringLiteral("english");
    QTest::addRow("sequence-in-english") << 1 << QStringLiteral("en") << QStringLiteral("sequence")
                                         << QString() << QStringLiteral("english");
}

void TstGraphKeys::steps()
{
    XTEST_ROW_IN_OWN_PROCESS();
    QFETCH(int, theme);
    QFETCH(QString, language);
    QFETCH(QString, start);
    QFETCH(QString, steps);
    QFETCH(QString, checks);

    if (language == QLatin1String("en"))
        QVERIFY(install_translation(*qApp, QLocale(QStringLiteral("en_US"))));
    uisteps::Driver driver;
    const QString file = driver.path(QStringLiteral("connection.pcap"));
    QVERIFY(testframes::write_capture(file, DLT_EN10MB, frames()));
    MainWindow window;
    QVERIFY(xtest::activate(&window));
    MainWindow::load_theme(0);
    if (theme == 1)
        QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("pushButton_9")),
                          Qt::LeftButton);
    QVERIFY(window.open_capture_file(file));
    auto* table = window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"));
    QTRY_COMPARE(table->rowCount(), 6);
    QTRY_VERIFY(window.findChild<QWidget*>(QStringLiteral("pushButton_2"))->isEnabled());
    QString failure;
    if (start == QLatin1String("stream") || start == QLatin1String("sequence")) {
        QVERIFY2(driver.run(QStringLiteral("cell:0,7;key:Ctrl+Alt+Shift+T"), &failure),
                 qPrintable(failure));
        QTRY_VERIFY(uisteps::Driver::topLevel(QStringLiteral("StreamWindow")) != nullptr);
        QVERIFY(driver.run(QStringLiteral("activate:StreamWindow"), &failure));
    }
    if (start == QLatin1String("traffic"))
        QVERIFY(driver.run(QStringLiteral("key:Ctrl+Alt+G"), &failure));
    else if (start == QLatin1String("sequence"))
        QVERIFY(driver.run(QStringLiteral("key:Ctrl+Alt+S"), &failure));
    if (start == QLatin1String("traffic") || start == QLatin1String("sequence")) {
        QTRY_VERIFY(window.findChild<GraphWindow*>() != nullptr);
        QVERIFY(xtest::activate(window.findChild<GraphWindow*>()));
    }
    // Every bar and step in sight: the ranges of everything shown.
    QCPRange all_x;
    QCPRange all_y;
    if (GraphWindow* graph = open_graph(window)) {
        QTRY_VERIFY(graph->plot()->isVisible());
        graph->plot()->showAll();
        all_x = graph->plot()->xAxis->range();
        all_y = graph->plot()->yAxis->range();
    }

    // Keys go to the graph, made active again when the window manager
    // moved on meanwhile (as a person clicks a window to type into it),
    // unless the steps choose the window themselves.
    const bool own_window = !steps.contains(QLatin1String("activate:"));
    for (const QString& step : steps.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        GraphWindow* graph = open_graph(window);
        if (own_window && graph != nullptr && step.startsWith(QLatin1String("key:"))
            && QApplication::activeWindow() != graph)
            QVERIFY(xtest::activate(graph));
        const bool own = run_graph_step(step, graph);
        QVERIFY2(own || driver.run(step, &failure), qPrintable(failure));
        QCoreApplication::processEvents();
    }

    for (const QString& check : checks.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const QString name = check.section(QLatin1Char('='), 0, 0);
        const QString value = check.section(QLatin1Char('='), 1);
        if (name == QLatin1String("window")) {
            QTRY_VERIFY(active_graph() != nullptr);
            const QPointer<GraphWindow> active = active_graph();
            QCOMPARE(active->objectName(), value);
            QTRY_COMPARE(active->plot()->coloursAreDark(), theme == 1);
        } else if (name == QLatin1String("range")) {
            QVERIFY(open_graph(window) != nullptr);
            GraphPlot* plot = open_graph(window)->plot();
            const QCPRange x = plot->xAxis->range();
            const QCPRange y = plot->yAxis->range();
            if (value == QLatin1String("all")) {
                QVERIFY(plot->followsData());
                plot->showAll();
                QCOMPARE(plot->xAxis->range(), x);
            } else if (value == QLatin1String("in") || value == QLatin1String("out")) {
                QCOMPARE(x.size() < all_x.size(), value == QLatin1String("in"));
                QVERIFY(!plot->followsData());
            } else {
                const double moved_x = x.center() - all_x.center();
                const double moved_y = y.center() - all_y.center();
                QCOMPARE(x.size(), all_x.size());
                if (value == QLatin1String("right") || value == QLatin1String("left"))
                    QCOMPARE(moved_x > 0, value == QLatin1String("right"));
                else
                    QCOMPARE(moved_y > 0, value == QLatin1String("up"));
            }
        } else if (name == QLatin1String("values")) {
            QVERIFY(open_graph(window) != nullptr);
            QCOMPARE(open_graph(window)->plot()->yAxis->range(), all_y);
        } else if (name == QLatin1String("row")) {
            QVERIFY(open_graph(window) != nullptr);
            QCOMPARE(open_graph(window)->chosenRow(), value.toInt());
            QCOMPARE(table->currentRow(), value.toInt());
        } else if (name == QLatin1String("direction")) {
            auto* sequence = window.findChild<TimeSequenceWindow*>();
            QVERIFY(sequence != nullptr);
            QTRY_COMPARE(sequence->direction(), value.toInt());
        } else if (name == QLatin1String("picture")) {
            QTRY_VERIFY(QFileInfo(driver.path(value)).size() > 0);
            if (value.endsWith(QLatin1String(".png")))
                QVERIFY(!QImage(driver.path(value)).isNull());
            QCOMPARE(driver.fileDialogs, 1);
        } else if (name == QLatin1String("closed")) {
            QTRY_COMPARE(window.findChildren<GraphWindow*>().size(), 0);
        } else if (name == QLatin1String("graphs")) {
            QCOMPARE(window.findChildren<GraphWindow*>().size(), value.toInt());
        } else if (name == QLatin1String("english")) {
            GraphWindow* shown = open_graph(window);
            QVERIFY(shown != nullptr);
            QStringList texts { shown->windowTitle(), shown->statusBar()->currentMessage() };
            for (const QAction* action : shown->findChildren<QAction*>())
                texts << action->text();
            for (const QCPAxis* axis : shown->plot()->axisRect()->axes())
                texts << axis->label();
            for (int i = 0; i < shown->plot()->plottableCount(); ++i)
                texts << shown->plot()->plottable(i)->name();
            for (const QLabel* label : shown->findChildren<QLabel*>())
                texts << label->text();
            texts.removeAll(QString());
            QVERIFY(texts.size() > 5);
            QVERIFY2(cjktext::with_cjk(texts).isEmpty(),
                     qUtf8Printable(cjktext::with_cjk(texts).join(QLatin1String(" | "))));
        } else {
            QFAIL(qPrintable(QStringLiteral("no such check: ") + check));
        }
    }
    qDeleteAll(window.findChildren<HexWindow*>());
}

QTEST_MAIN(TstGraphKeys)
#include "tst_graphkeys.moc"
