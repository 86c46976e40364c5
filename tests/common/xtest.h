// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// Driving windows on a real X server the way a person does: activating a
// window so that its shortcuts fire, opening menus with the mouse, answering
// the modal boxes and dialogs that come up, and running one table row in a
// process of its own, so that a crash or a hang fails that row alone.

#include <functional>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace xtest {

constexpr int kRowSeconds = 120; // liveness bound of one row's process
const char* const kRowVariable = "TARNLOOK_XTEST_ROW";

// True in the process that runs a single row.
inline bool in_row_process()
{
    return qEnvironmentVariableIsSet(kRowVariable);
}

// Runs the current function's current row in a child process (this program,
// called with "function:tag"). Returns why it failed, or nothing; sets
// skipped to the child's reason when the row skipped.
inline QString run_row_process(QString* skipped)
{
    const QString row = QStringLiteral("%1:%2").arg(QLatin1String(QTest::currentTestFunction()),
                                                    QLatin1String(QTest::currentDataTag()));
    // The child's temporary files go in here, gone with it even after a crash.
    const QTemporaryDir folder;
    if (!folder.isValid())
        return QStringLiteral("no temporary folder for %1").arg(row);
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kRowVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("TMPDIR"), folder.path());
    // A crash is reported by its row; a debugger walking an endless
    // recursion would take minutes.
    environment.insert(QStringLiteral("QTEST_DISABLE_STACK_DUMP"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), { row });
    if (!child.waitForStarted())
        return QStringLiteral("cannot start %1: %2").arg(row, child.errorString());
    QString failure;
    if (!child.waitForFinished(kRowSeconds * 1000)) {
        child.kill();
        child.waitForFinished();
        failure = QStringLiteral("hung: no end within %1 s").arg(kRowSeconds);
    } else if (child.exitStatus() == QProcess::CrashExit) {
        failure = QStringLiteral("crashed");
    } else if (child.exitCode() != 0) {
        failure = QStringLiteral("failed (exit status %1)").arg(child.exitCode());
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (failure.isEmpty()) {
        const QLatin1String mark("\nSKIP   : ");
        const int skip = output.indexOf(mark);
        if (skip >= 0)
            *skipped = output.mid(skip + mark.size())
                               .section(QLatin1Char('\n'), 0, 0)
                               .section(QStringLiteral(") "), 1); // after the row's name
        return {};
    }
    return QStringLiteral("row %1 %2; its output:\n%3").arg(row, failure, output);
}

// In the parent, runs the row in a child and returns; the child goes on.
#define XTEST_ROW_IN_OWN_PROCESS()                                                                 \
    do {                                                                                           \
        if (!xtest::in_row_process()) {                                                            \
            QString skipped;                                                                       \
            const QString failure = xtest::run_row_process(&skipped);                              \
            QVERIFY2(failure.isEmpty(), qPrintable(failure));                                      \
            if (!skipped.isEmpty())                                                                \
                QSKIP(qPrintable(skipped));                                                        \
            return;                                                                                \
        }                                                                                          \
    } while (false)

// Shows the window and makes it the active one, as a click on it would.
[[nodiscard]] inline bool activate(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    return QTest::qWaitForWindowActive(window);
}

// A key sequence ("Ctrl+Shift+Z") typed into the active window.
inline void type_keys(const QString& keys)
{
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr)
        target = QApplication::activeWindow();
    if (target != nullptr)
        QTest::keySequence(target, QKeySequence(keys));
}

// Opens the menu of the menu bar that holds the action, with the mouse, and
// clicks the action. False when the action is in none of its menus.
[[nodiscard]] inline bool click_menu_item(QMenuBar* bar, QAction* action)
{
    for (QAction* title : bar->actions()) {
        QMenu* menu = title->menu();
        if (menu == nullptr || !menu->actions().contains(action))
            continue;
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->actionGeometry(title).center());
        // The wait runs deferred deletions: the action may go with its window.
        const QPointer<QAction> wanted = action;
        if (!QTest::qWaitForWindowExposed(menu) || wanted.isNull())
            return false;
        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                          menu->actionGeometry(action).center());
        return true;
    }
    return false;
}

// What to do with a message box: press its first button of this role.
// Button texts come and go; roles stay.
inline bool press_role(QMessageBox* box, QMessageBox::ButtonRole role)
{
    for (QAbstractButton* button : box->buttons()) {
        if (box->buttonRole(button) == role) {
            button->click();
            return true;
        }
    }
    return false;
}

// Watches for modal windows and hands the one on top to the handler, from
// the event loop (modal boxes run their own), every 50 ms while it is open.
class ModalAnswerer : public QObject
{
public:
    // The handler gets the modal window; it must close it. With popups, it
    // gets popup menus too (which it may leave open: a menu the test itself
    // opened, say).
    explicit ModalAnswerer(std::function<void(QWidget*)> handler, bool popups = false)
        : m_handler(std::move(handler))
        , m_popups(popups)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            // A popup menu (a context menu's) comes first: it runs on top.
            QWidget* modal = m_popups ? QApplication::activePopupWidget() : nullptr;
            if (modal == nullptr)
                modal = QApplication::activeModalWidget();
            if (modal == nullptr || modal == m_answering || !modal->isVisible())
                return;
            m_answering = modal;
            m_handler(modal);
            m_answering = nullptr;
        });
        m_timer.start(50);
    }

private:
    std::function<void(QWidget*)> m_handler;
    bool m_popups;
    QTimer m_timer;
    QWidget* m_answering = nullptr;
};

// Chooses the path in a (non-native) file dialog and accepts it; rejects it
// when the path is empty.
inline void answer_file_dialog(QFileDialog* dialog, const QString& path)
{
    if (path.isEmpty()) {
        dialog->reject();
        return;
    }
    // Into the name field, as typed: selectFile alone loses the name now
    // and then while the dialog is still reading its folder.
    dialog->selectFile(path);
    if (auto* name = dialog->findChild<QLineEdit*>())
        name->setText(path);
    static_cast<QDialog*>(dialog)->accept(); // public in the base
}

} // namespace xtest
