// SPDX-License-Identifier: GPL-2.0-or-later

#include <cstdio>

#include <QComboBox>
#include <QDirIterator>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

#include "followstream.h"
#include "graphplot.h"
#include "graphwindow.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "remotecapturedialog.h"
#include "testframes.h"
#include "xtest.h"

// Random use of the whole program for a while: keys, clicks, menus, opening
// and saving files, captures on lo, hex edits, the find bar, followed
// streams, the remote dialog and closed windows, in both themes, in an
// order drawn from a seed. A crash, a sanitizer's report or a hang fails
// the test, which then prints the seed and the last steps; the same seed in
// TARNLOOK_SOAK_SEED draws the same steps again.
//
// The steps run in a child process, so that the parent can report a crash.
// Everything the program writes goes to a temporary folder (files, settings,
// capture stores); the only traffic is on 127.0.0.1.

namespace {

const char* const kChildVariable = "TARNLOOK_SOAK_CHILD";
constexpr int kReportedSteps = 40;

int soak_seconds()
{
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("TARNLOOK_SOAK_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : TARNLOOK_SOAK_DEFAULT_SECONDS;
}

const QStringList kKeys {
    "Ctrl+O",
    "Ctrl+S",
    "Ctrl+Shift+S",
    "Ctrl+Q",
    "Ctrl+W",
    "Ctrl+Z",
    "Ctrl+Shift+Z",
    "Ctrl+Y",
    "Ctrl+X",
    "Ctrl+C",
    "Ctrl+Shift+C",
    "Ctrl+V",
    "Ctrl+A",
    "Ctrl+F",
    "Ctrl+Alt+C",
    "F3",
    "Shift+F3",
    "Ctrl+G",
    "Ctrl+Alt+Shift+S",
    "Ctrl++",
    "Ctrl+-",
    "Escape",
    "Return",
    "Tab",
    "Shift+Tab",
    "Space",
    "Up",
    "Down",
    "Left",
    "Right",
    "PgDown",
    "PgUp",
    "Home",
    "End",
    "Ctrl+End",
    "Ctrl+Alt+G",
    "Ctrl+Alt+S",
    "Ctrl+Alt+Shift+T",
    "Ctrl+0",
    "+",
    "-",
    "D",
    "Delete",
    "Backspace",
    "Insert",
    "Shift+Right",
    "0",
    "5",
    "a",
    "f",
    "x",
    "|",
};

// The steps, drawn and carried out in the child.
class Soak
{
public:
    Soak(quint32 seed, const QString& folder)
        : m_random(seed)
        , m_folder(folder)
        , m_answerer([this](QWidget* modal) { answer(modal); })
    { }

    void run(int seconds)
    {
        QString reason;
        m_capture = testframes::can_capture_on_loopback(&reason);
        QElapsedTimer clock;
        clock.start();
        for (int step = 1; clock.elapsed() < seconds * 1000LL; ++step) {
            ensureMainWindow();
            randomStep(step);
            QCoreApplication::processEvents();
        }
        log(QStringLiteral("end: closing every window"));
        for (HexWindow* hex : m_window->findChildren<HexWindow*>())
            hex->view()->document()->setUnmodified();
        m_window.reset();
        const QList<QWidget*> left = QApplication::topLevelWidgets();
        for (QWidget* widget : left)
            if (auto* hex = qobject_cast<HexWindow*>(widget))
                hex->deleteLater();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

private:
    static void log(const QString& text)
    {
        std::printf("%s\n", qPrintable(text));
        std::fflush(stdout); // seen by the parent even after a crash
    }

    int pick(int count) { return count <= 0 ? 0 : int(m_random.bounded(quint32(count))); }

    void ensureMainWindow()
    {
        if (m_window != nullptr && m_window->isVisible())
            return;
        if (m_window != nullptr)
            log(QStringLiteral("main window closed: a new one"));
        for (HexWindow* hex : m_window ? m_window->findChildren<HexWindow*>() : QList<HexWindow*>())
            hex->view()->document()->setUnmodified();
        m_window.reset(); // one main window at a time, as in the program
        m_window = std::make_unique<MainWindow>();
        m_window->select_adapter(QStringLiteral("lo")); // never any other adapter
        m_window->findChild<QComboBox*>(QStringLiteral("comboBox"))->setEnabled(false);
        (void)xtest::activate(m_window.get());
        // Every other window starts in the other theme.
        if (++m_windows % 2 == 0) {
            log(QStringLiteral("   the other theme"));
            QTest::mouseClick(m_window->findChild<QPushButton*>(QStringLiteral("pushButton_9")),
                              Qt::LeftButton);
        }
    }

    // Ctrl+F and a pattern, then a search or a way out of the bar.
    void findStep(int step)
    {
        static const QStringList patterns { "soak", "reply", "127.0.0.1", "73 6F", "zz", "" };
        static const QStringList ends { "Return", "Shift+Return", "F3", "Shift+F3", "Escape" };
        const QString pattern = patterns.at(pick(patterns.size()));
        const QString end = ends.at(pick(ends.size()));
        log(QStringLiteral("%1: find \"%2\" then %3").arg(step).arg(pattern, end));
        xtest::type_keys(QStringLiteral("Ctrl+F"));
        if (QWidget* focus = QApplication::focusWidget())
            QTest::keyClicks(focus, pattern);
        xtest::type_keys(end);
    }

    // A row of the table made current, then followed with the shortcut; an
    // empty table gets the folder's capture file first, as "打开..." would
    // open it.
    void followStep(int step, QWidget* active)
    {
        auto* table = active->findChild<QTableWidget*>();
        if (table == nullptr || active != m_window.get())
            return;
        if (table->rowCount() == 0 && g_capture_thread == nullptr) {
            log(QStringLiteral("%1: open capture.pcap to follow").arg(step));
            if (!m_window->open_capture_file(
                        QDir(m_folder).filePath(QStringLiteral("capture.pcap"))))
                return;
            static_cast<void>(QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 5000));
        }
        if (m_window == nullptr || table->rowCount() == 0)
            return;
        const int row = pick(table->rowCount());
        log(QStringLiteral("%1: follow row %2").arg(step).arg(row));
        table->setCurrentCell(row, pick(table->columnCount()));
        table->setFocus();
        xtest::type_keys(QStringLiteral("Ctrl+Alt+Shift+T"));
    }

    // "远程抓包..." chosen with the keys, as a person reaches it; the dialog
    // is answered with this machine and a port nothing listens on, so that
    // nothing leaves 127.0.0.1. Then back to lo.
    void remoteStep(int step)
    {
        auto* combo = m_window->findChild<QComboBox*>(QStringLiteral("comboBox"));
        if (!m_window->isActiveWindow() || combo == nullptr)
            return;
        log(QStringLiteral("%1: remote capture dialog").arg(step));
        combo->setEnabled(true);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_End);
        if (m_window != nullptr) {
            m_window->select_adapter(QStringLiteral("lo"));
            combo->setEnabled(false);
        }
    }

    QList<QWidget*> windows() const
    {
        QList<QWidget*> shown;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget->isWindow() && !qobject_cast<QMenu*>(widget))
                shown.append(widget);
        return shown;
    }

    void randomStep(int step)
    {
        QWidget* active = QApplication::activeWindow();
        // A window just closed may still be the active one until the window
        // manager moves on (and be deleted in the next wait): no one can act
        // on it.
        if (active != nullptr && !active->isVisible())
            active = nullptr;
        const QString where = active == nullptr ? QStringLiteral("no window")
                                                : QLatin1String(active->metaObject()->className());
        if (auto* graph = qobject_cast<GraphWindow*>(active); graph != nullptr && pick(3) == 0) {
            graphStep(step, graph->plot());
            return;
        }
        switch (pick(active == nullptr ? 1 : 11)) {
        case 0: {
            const QList<QWidget*> shown = windows();
            if (shown.isEmpty())
                return;
            QWidget* window = shown.at(pick(shown.size()));
            log(QStringLiteral("%1: activate %2").arg(step).arg(window->metaObject()->className()));
            (void)xtest::activate(window);
            return;
        }
        case 1:
        case 2:
        case 3: {
            const QString key = kKeys.at(pick(kKeys.size()));
            log(QStringLiteral("%1: key %2 to %3").arg(step).arg(key, where));
            xtest::type_keys(key);
            return;
        }
        case 4: {
            QList<QAbstractButton*> buttons;
            for (QAbstractButton* button : active->findChildren<QAbstractButton*>())
                if (button->isVisible() && button->isEnabled() && !button->text().isEmpty()
                    && (m_capture || button->objectName() != QLatin1String("pushButton_2")))
                    buttons.append(button);
            if (buttons.isEmpty())
                return;
            QAbstractButton* button = buttons.at(pick(buttons.size()));
            log(QStringLiteral("%1: click %2 \"%3\" in %4")
                        .arg(step)
                        .arg(button->objectName(), button->text(), where));
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
        case 5: {
            auto* main = qobject_cast<QMainWindow*>(active);
            if (main == nullptr)
                return;
            QList<QAction*> actions;
            for (QAction* title : main->menuBar()->actions())
                if (title->menu() != nullptr)
                    for (QAction* action : title->menu()->actions())
                        if (!action->isSeparator() && action->isEnabled())
                            actions.append(action);
            if (actions.isEmpty())
                return;
            QAction* action = actions.at(pick(actions.size()));
            log(QStringLiteral("%1: menu %2 in %3").arg(step).arg(action->objectName(), where));
            (void)xtest::click_menu_item(main->menuBar(), action);
            return;
        }
        case 6: {
            auto* table = active->findChild<QTableWidget*>();
            if (table == nullptr) {
                viewStep(step, active->findChild<QTableView*>());
                return;
            }
            if (table->rowCount() == 0)
                return;
            const int row = pick(table->rowCount());
            const int column = pick(table->columnCount());
            QTableWidgetItem* item = table->item(row, column);
            if (item == nullptr)
                return;
            log(QStringLiteral("%1: click cell %2,%3").arg(step).arg(row).arg(column));
            table->scrollToItem(item);
            QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier,
                              table->visualItemRect(item).center());
            if (pick(3) == 0) { // the row's stream, its progress answered or not
                log(QStringLiteral("%1: follow row %2").arg(step).arg(row));
                xtest::type_keys(QStringLiteral("Ctrl+Alt+Shift+T"));
            }
            return;
        }
        case 8:
            findStep(step);
            return;
        case 9:
            followStep(step, active);
            return;
        case 10:
            if (active == m_window.get() && pick(2) == 0)
                remoteStep(step);
            return;
        default: {
            if (pick(2) == 0) {
                log(QStringLiteral("%1: close %2").arg(step).arg(where));
                active->close();
                return;
            }
            const QByteArray payload = "soak " + QByteArray::number(step);
            log(QStringLiteral("%1: traffic on 127.0.0.1").arg(step));
            testframes::exchange_on_loopback(payload, "reply");
            return;
        }
        }
    }

    // In a table of a model (the conversations): a click or a double
    // click on a row, or a click on a column's title, which sorts.
    void viewStep(int step, QTableView* view)
    {
        if (view == nullptr || !view->isVisible() || view->model()->columnCount() == 0)
            return;
        const int column = pick(view->model()->columnCount());
        if (view->model()->rowCount() == 0 || pick(3) == 0) {
            log(QStringLiteral("%1: click title %2").arg(step).arg(column));
            QHeaderView* header = view->horizontalHeader();
            QTest::mouseClick(
                    header->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(header->sectionViewportPosition(column) + 4, header->height() / 2));
            return;
        }
        const QModelIndex index = view->model()->index(pick(view->model()->rowCount()), column);
        view->scrollTo(index);
        const QPoint centre = view->visualRect(index).center();
        const bool twice = pick(2) == 0;
        log(QStringLiteral("%1: %2 row %3")
                    .arg(step)
                    .arg(twice ? "double-click" : "click")
                    .arg(index.row()));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
        if (twice)
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
    }

    // The mouse on a graph: the wheel, a drag or a click, somewhere on it.
    void graphStep(int step, GraphPlot* plot)
    {
        const QPoint at(pick(plot->width()), pick(plot->height()));
        switch (pick(3)) {
        case 0: {
            const int delta = pick(2) == 0 ? 120 : -120;
            log(QStringLiteral("%1: wheel %2 at %3,%4 of a graph")
                        .arg(step)
                        .arg(delta)
                        .arg(at.x())
                        .arg(at.y()));
            QWheelEvent wheel(at, plot->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                              pick(2) == 0 ? Qt::NoModifier : Qt::ControlModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(plot, &wheel);
            return;
        }
        case 1: {
            const QPoint to(pick(plot->width()), pick(plot->height()));
            log(QStringLiteral("%1: drag a graph from %2,%3 to %4,%5")
                        .arg(step)
                        .arg(at.x())
                        .arg(at.y())
                        .arg(to.x())
                        .arg(to.y()));
            QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, at);
            QMouseEvent move(QEvent::MouseMove, to, plot->mapToGlobal(to), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(plot, &move);
            QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, to);
            return;
        }
        default:
            log(QStringLiteral("%1: click a graph at %2,%3").arg(step).arg(at.x()).arg(at.y()));
            QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, at);
            return;
        }
    }

    void answer(QWidget* modal)
    {
        if (modal == m_last) { // refused the answer: give another way out
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            else
                modal->close();
            return;
        }
        m_last = modal;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            const QList<QAbstractButton*> buttons = box->buttons();
            if (buttons.isEmpty()) {
                box->close();
                return;
            }
            QAbstractButton* button = buttons.at(pick(buttons.size()));
            log(QStringLiteral("   box \"%1\": %2").arg(box->text().left(60), button->text()));
            button->click();
            return;
        }
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            QString path;
            if (pick(4) != 0) {
                if (dialog->acceptMode() == QFileDialog::AcceptSave) {
                    path = QDir(m_folder).filePath(QStringLiteral("saved-%1").arg(++m_saved));
                } else {
                    QStringList files;
                    QDirIterator it(m_folder, QDir::Files);
                    while (it.hasNext())
                        files.append(it.next());
                    files.sort();
                    if (!files.isEmpty())
                        path = files.at(pick(files.size()));
                }
            }
            log(QStringLiteral("   file dialog: %1")
                        .arg(path.isEmpty() ? QStringLiteral("cancel") : path));
            xtest::answer_file_dialog(dialog, path);
            return;
        }
        if (auto* remote = qobject_cast<RemoteCaptureDialog*>(modal)) {
            // This machine, a port nothing listens on: ssh is refused at once.
            remote->findChild<QLineEdit*>(QStringLiteral("host"))
                    ->setText(QStringLiteral("127.0.0.1"));
            remote->findChild<QSpinBox*>(QStringLiteral("port"))->setValue(1);
            remote->findChild<QComboBox*>(QStringLiteral("interface"))
                    ->setEditText(QStringLiteral("lo"));
            const int choice = pick(3);
            log(QStringLiteral("   remote dialog: %1")
                        .arg(QStringList { "list", "ok", "cancel" }.at(choice)));
            if (choice == 0)
                QTest::mouseClick(remote->findChild<QPushButton*>(QStringLiteral("list")),
                                  Qt::LeftButton); // answered again later: rejected
            else if (choice == 1)
                remote->accept();
            else
                remote->reject();
            return;
        }
        if (auto* input = qobject_cast<QInputDialog*>(modal)) {
            static const QStringList texts { "0x10", "5", "+3", "zz", "99999999" };
            const QString text = texts.at(pick(texts.size()));
            log(QStringLiteral("   input: %1").arg(text));
            input->setTextValue(text);
            input->accept();
            return;
        }
        log(QStringLiteral("   closed a %1").arg(modal->metaObject()->className()));
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }

    QRandomGenerator m_random;
    QString m_folder;
    std::unique_ptr<MainWindow> m_window;
    bool m_capture = false;
    int m_saved = 0;
    int m_windows = 0; // main windows made
    QPointer<QWidget> m_last;
    xtest::ModalAnswerer m_answerer;
};

} // namespace

class TstSoak : public QObject
{
    Q_OBJECT

private slots:
    void randomUse();
};

void TstSoak::randomUse()
{
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        QApplication::setQuitOnLastWindowClosed(false);
        // Every follow shows its progress dialog, for the steps to answer.
        set_follow_progress_delay(0);
        const quint32 seed = quint32(qEnvironmentVariableIntValue("TARNLOOK_SOAK_SEED"));
        Soak soak(seed, QDir::currentPath());
        soak.run(soak_seconds());
        return;
    }

    bool given = false;
    const quint32 seed = quint32(qEnvironmentVariableIntValue("TARNLOOK_SOAK_SEED", &given));
    const quint32 used = given ? seed : QRandomGenerator::global()->bounded(1U << 30);
    const int seconds = soak_seconds();

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QDir dir(folder.path());
    QVERIFY(dir.mkdir(QStringLiteral("runtime")) && dir.mkdir(QStringLiteral("config"))
            && dir.mkdir(QStringLiteral("files")));
    QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString files = dir.filePath(QStringLiteral("files"));
    testframes::Ipv4Packet packet;
    packet.payload = "soak file";
    QVERIFY(testframes::write_capture(files + QStringLiteral("/capture.pcap"), DLT_EN10MB,
                                      { testframes::ethernet(testframes::ipv4(packet)) }));

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kChildVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("TARNLOOK_SOAK_SEED"), QString::number(used));
    environment.insert(QStringLiteral("TARNLOOK_SOAK_SECONDS"), QString::number(seconds));
    environment.insert(QStringLiteral("TMPDIR"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("HOME"), dir.path());
    environment.insert(QStringLiteral("QTEST_DISABLE_STACK_DUMP"), QStringLiteral("1"));
    environment.insert(QStringLiteral("QTEST_FUNCTION_TIMEOUT"),
                       QString::number((seconds + 600) * 1000));
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(files);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("randomUse") });
    QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));

    QString failure;
    // Liveness: the steps stop drawing new ones after `seconds`.
    if (!child.waitForFinished((seconds + 120) * 1000)) {
        child.kill();
        child.waitForFinished();
        failure = QStringLiteral("hung");
    } else if (child.exitStatus() == QProcess::CrashExit) {
        failure = QStringLiteral("crashed");
    } else if (child.exitCode() != 0) {
        failure = QStringLiteral("failed with status %1").arg(child.exitCode());
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    for (const char* report :
         { "ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:" })
        if (failure.isEmpty() && output.contains(QLatin1String(report)))
            failure = QStringLiteral("reported \"%1\"").arg(QLatin1String(report));
    if (failure.isEmpty())
        return;
    // The steps are printed whole here: a failure message would be cut.
    // A sanitizer's report is kept whole too, with the steps before it.
    const QStringList lines = output.split(QLatin1Char('\n'));
    int end = lines.size();
    for (int i = 0; i < lines.size() && end == lines.size(); ++i)
        if (lines.at(i).contains(QLatin1String("==ERROR: "))
            || lines.at(i).contains(QLatin1String("runtime error:")))
            end = i;
    const int begin = qMax(0, end - kReportedSteps);
    std::fprintf(stderr, "Last lines of the random use:\n%s\n",
                 qPrintable(lines.mid(begin).join(QLatin1Char('\n'))));
    QFAIL(qPrintable(QStringLiteral("random use %1 (seed %2, %3 s); replay with "
                                    "TARNLOOK_SOAK_SEED=%2 TARNLOOK_SOAK_SECONDS=%3 "
                                    "ctest -R ui.soak")
                             .arg(failure)
                             .arg(used)
                             .arg(seconds)));
}

QTEST_MAIN(TstSoak)
#include "tst_soak.moc"
