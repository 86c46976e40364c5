// SPDX-License-Identifier: GPL-2.0-or-later

// Drives the real main window through a capture on lo and saves what a
// reader of the README should see: the window with rows (light and dark),
// the filter form and a hex window. Run by scripts/take-screenshots under
// Xvfb; needs the privilege to capture (root, or the tarnlook group).

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTableWidget>
#include <QtTest>

#include "cupdate.h"
#include "fitwid.h"
#include "mainwindow.h"
#include "qhexview.h"
#include "testframes.h"

namespace {

template <typename T> T* child(const QWidget& window, const char* name)
{
    return window.findChild<T*>(QLatin1String(name));
}

void click(const QWidget& window, const char* name)
{
    child<QAbstractButton>(window, name)->click();
}

bool save(QWidget& widget, const QDir& folder, const QString& name)
{
    QTest::qWait(300); // let the window settle its last repaint
    const QString path = folder.filePath(name);
    const bool saved = widget.grab().save(path);
    qInfo().noquote() << (saved ? "saved" : "could not save") << path;
    return saved;
}

// Requests and replies that look like what one would capture on a desktop.
const char* const kExchanges[][2] = {
    { "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: tarnlook-demo\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<h1>你好, Tarnlook</h1>" },
    { "POST /api/login HTTP/1.1\r\nContent-Type: application/json\r\n\r\n{\"user\":\"demo\"}",
      "HTTP/1.1 204 No Content\r\n\r\n" },
    { "EHLO tarnlook.invalid\r\n", "250-localhost Hello\r\n250 SIZE 10240000\r\n" },
    { "PING :tarnlook\r\n", "PONG :tarnlook\r\n" },
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    if (!folder.exists()) {
        qCritical("no such folder: %s", qPrintable(folder.path()));
        return 2;
    }

    MainWindow window;
    window.show();
    const int lo = g_adapter_names.indexOf(QStringLiteral("lo"));
    if (lo < 0) {
        qCritical("no adapter lo");
        return 1;
    }
    child<QComboBox>(window, "comboBox")->setCurrentIndex(lo);
    click(window, "pushButton_2");

    // Connections until the table shows a few of them.
    auto* table = child<QTableWidget>(window, "tableWidget_2");
    for (int round = 0; round < 20 && table->rowCount() < 12; ++round) {
        for (const auto& exchange : kExchanges)
            testframes::exchange_on_loopback(QByteArray(exchange[0]), QByteArray(exchange[1]));
        if (QTest::qWaitFor([table] { return table->rowCount() >= 12; }, 1500))
            break;
    }
    click(window, "pushButton_7");
    if (table->rowCount() == 0) {
        qCritical("nothing captured on lo: is this process allowed to capture?");
        return 1;
    }
    // The first row with a payload, shown below the table.
    for (int row = 0; row < table->rowCount(); ++row) {
        QTableWidgetItem* hex = table->item(row, 7);
        if (hex != nullptr && !hex->text().isEmpty()) {
            table->setCurrentItem(hex);
            emit table->itemClicked(hex);
            break;
        }
    }

    bool saved = save(window, folder, QStringLiteral("main-light.png"));
    click(window, "pushButton_9"); // the dark theme
    saved = save(window, folder, QStringLiteral("main-dark.png")) && saved;
    click(window, "pushButton_9");

    click(window, "pushButton_3");
    saved = save(*g_filter_form, folder, QStringLiteral("filter-form.png")) && saved;
    g_filter_form->hide();

    click(window, "pushButton_8");
    QHexView* hexWindow = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* view = qobject_cast<QHexView*>(widget))
            hexWindow = view;
    if (hexWindow != nullptr) {
        hexWindow->resize(720, 300);
        saved = save(*hexWindow, folder, QStringLiteral("hex-window.png")) && saved;
        delete hexWindow;
    }
    const bool stopped = QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 5000);
    return saved && hexWindow != nullptr && stopped ? 0 : 1;
}
