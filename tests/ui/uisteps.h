// SPDX-License-Identifier: GPL-2.0-or-later

#pragma once

// A person's steps, written as text in test tables and carried out on the
// active window of a real X server:
//
//   key:Ctrl+Z       the key sequence to the active window's focus widget
//   text:41          characters typed into it
//   menu:actionUndo  the action, clicked in its menu of the active window
//   click:Name       the widget of the active window, clicked (a check box
//                    on its box)
//   cell:ROW,COLUMN  the cell of the active window's table, clicked
//   clipboard:TEXT   the text put on the clipboard, as another program would
//   activate:Name    the visible top-level window of that class or object
//                    name becomes the active one
//   answer:ROLE      the next modal box is answered with a button of this
//                    role: accept, reject, destructive, yes, no; "file:NAME"
//                    chooses NAME in the temporary folder in a file dialog,
//                    "input:TEXT" enters TEXT in an input dialog
//
// Steps are separated by ";". A modal window that no answer was queued for
// is rejected, and counted like every other one.

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "testwidgets.h"
#include "xtest.h"

namespace uisteps {

class Driver
{
public:
    Driver()
        : m_answerer([this](QWidget* modal) { answer(modal); }, true)
    { }

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // Message boxes and file dialogs seen so far.
    int boxes = 0;
    int fileDialogs = 0;

    // Carries the steps out; false, with the failing step, when one cannot be.
    [[nodiscard]] bool run(const QString& steps, QString* failure)
    {
        for (const QString& step : steps.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (!runStep(step)) {
                *failure = QStringLiteral("step \"%1\" could not be carried out").arg(step);
                return false;
            }
            QCoreApplication::processEvents();
        }
        return true;
    }

    static QWidget* topLevel(const QString& name)
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible()
                && (widget->objectName() == name
                    || QLatin1String(widget->metaObject()->className()) == name))
                return widget;
        return nullptr;
    }

private:
    bool runStep(const QString& step)
    {
        const int colon = step.indexOf(QLatin1Char(':'));
        const QString verb = step.left(colon);
        const QString argument = step.mid(colon + 1);
        QWidget* window = QApplication::activeWindow();
        if (verb == QLatin1String("answer")) {
            m_answers.append(argument);
            return true;
        }
        if (verb == QLatin1String("clipboard")) {
            QGuiApplication::clipboard()->setText(argument);
            return true;
        }
        if (verb == QLatin1String("activate")) {
            QWidget* target = topLevel(argument);
            return target != nullptr && xtest::activate(target);
        }
        if (window == nullptr)
            return false;
        if (verb == QLatin1String("key")) {
            xtest::type_keys(argument);
            return true;
        }
        if (verb == QLatin1String("text")) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClicks(focus != nullptr ? focus : window, argument);
            return true;
        }
        if (verb == QLatin1String("menu")) {
            auto* main = qobject_cast<QMainWindow*>(window);
            auto* action = window->findChild<QAction*>(argument);
            return main != nullptr && action != nullptr
                    && xtest::click_menu_item(main->menuBar(), action);
        }
        if (verb == QLatin1String("click")) {
            auto* widget = window->findChild<QWidget*>(argument);
            if (widget == nullptr || !widget->isVisible())
                return false;
            if (auto* box = qobject_cast<QCheckBox*>(widget))
                testwidgets::click_check_box(box);
            else
                QTest::mouseClick(widget, Qt::LeftButton);
            return true;
        }
        if (verb == QLatin1String("rightclick") || verb == QLatin1String("cell")) {
            // "ROW,COLUMN" of the window's table, scrolled to.
            auto* table = window->findChild<QTableWidget*>();
            QTableWidgetItem* item = table == nullptr
                    ? nullptr
                    : table->item(argument.section(QLatin1Char(','), 0, 0).toInt(),
                                  argument.section(QLatin1Char(','), 1, 1).toInt());
            if (item == nullptr)
                return false;
            table->scrollToItem(item);
            const QPoint centre = table->visualItemRect(item).center();
            if (verb == QLatin1String("cell")) {
                QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
                return true;
            }
            // Through the window, as the window system delivers a click: the
            // press opens the context menu.
            QTest::mouseClick(window->windowHandle(), Qt::RightButton, Qt::NoModifier,
                              table->viewport()->mapTo(window, centre));
            return true;
        }
        return false;
    }

    void answer(QWidget* modal)
    {
        if (auto* menu = qobject_cast<QMenu*>(modal)) {
            // "menu:NAME" picks the item of the action so named, with the
            // mouse; a menu opened by a step is that step's.
            if (m_answers.isEmpty() || !m_answers.first().startsWith(QLatin1String("menu:")))
                return;
            const QString name = m_answers.takeFirst().mid(5);
            for (QAction* action : menu->actions()) {
                if (action->objectName() == name) {
                    // Once this answer has returned: an action that opens a
                    // box of its own is answered by the next round, which
                    // does not come while this one runs.
                    const QPoint at = menu->actionGeometry(action).center();
                    QTimer::singleShot(0, menu, [menu, at] {
                        QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, at);
                    });
                    return;
                }
            }
            menu->close();
            return;
        }
        // A file dialog may still be reading its folder and refuse the first
        // answer: the same one again, not counted twice.
        const bool again = modal == m_last;
        const QString answer
                = again ? m_lastAnswer : (m_answers.isEmpty() ? QString() : m_answers.takeFirst());
        if (!again) {
            m_last = modal;
            m_lastAnswer = answer;
            boxes += qobject_cast<QMessageBox*>(modal) != nullptr ? 1 : 0;
            fileDialogs += qobject_cast<QFileDialog*>(modal) != nullptr ? 1 : 0;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            static const QMap<QString, QMessageBox::ButtonRole> roles {
                { QStringLiteral("accept"), QMessageBox::AcceptRole },
                { QStringLiteral("reject"), QMessageBox::RejectRole },
                { QStringLiteral("destructive"), QMessageBox::DestructiveRole },
                { QStringLiteral("yes"), QMessageBox::YesRole },
                { QStringLiteral("no"), QMessageBox::NoRole },
            };
            if (roles.contains(answer) && xtest::press_role(box, roles.value(answer)))
                return;
            // Unasked for: Escape, as a person would, or any way out.
            QTest::keyClick(box, Qt::Key_Escape);
            if (box->isVisible() && !box->buttons().isEmpty())
                box->buttons().constLast()->click();
            return;
        }
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            xtest::answer_file_dialog(
                    dialog,
                    answer.startsWith(QLatin1String("file:")) ? path(answer.mid(5)) : QString());
            return;
        }
        if (auto* input = qobject_cast<QInputDialog*>(modal)) {
            if (!answer.startsWith(QLatin1String("input:"))) {
                input->reject();
                return;
            }
            input->setTextValue(answer.mid(6));
            input->accept();
            return;
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }

    QTemporaryDir m_dir;
    QStringList m_answers;
    QPointer<QWidget> m_last;
    QString m_lastAnswer;
    xtest::ModalAnswerer m_answerer;
};

} // namespace uisteps
