// SPDX-License-Identifier: GPL-2.0-or-later

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "capturemessages.h"
#include "cupdate.h"
#include "mainwindow.h"
#include "remotecapturedialog.h"
#include "sshcapturesource.h"
#include "testframes.h"
#include "testsshserver.h"

using Problem = SshCaptureSource::Problem;

Q_DECLARE_METATYPE(SshCaptureSource::Problem)

// Choosing a remote source in the window: the dialog, the listing of the
// remote interfaces, and a capture started from the adapter list's last
// item, against an OpenSSH server of the test's own.

namespace {

template <typename T> T* child(const QWidget& widget, const char* name)
{
    return widget.findChild<T*>(QLatin1String(name));
}

void fill(RemoteCaptureDialog& dialog, const QString& host, int port, const QString& user,
          const QString& interface, bool sudo)
{
    child<QLineEdit>(dialog, "host")->setText(host);
    child<QSpinBox>(dialog, "port")->setValue(port);
    child<QLineEdit>(dialog, "user")->setText(user);
    child<QComboBox>(dialog, "interface")->setEditText(interface);
    child<QCheckBox>(dialog, "sudo")->setChecked(sudo);
}

QPushButton* ok_button(const RemoteCaptureDialog& dialog)
{
    return dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

// What a label shows, as a person would select and copy it: the text itself
// when it is shown as plain text, what is left of it when taken for rich
// text.
QString shown(QLabel* label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setSelection(0, int(label->text().size()));
    return label->selectedText();
}

// Whether nothing in text would act on a layout: no control character but
// line breaks, no format character.
bool inert(const QString& text)
{
    for (const QChar c : text)
        if ((c.category() == QChar::Other_Control && c != QLatin1Char('\n'))
            || c.category() == QChar::Other_Format)
            return false;
    return true;
}

QString server_unavailable()
{
    QString why = TestSshServer::unavailable();
    if (why.isEmpty() && QStandardPaths::findExecutable(QStringLiteral("tcpdump")).isEmpty())
        why = QStringLiteral("needs tcpdump, which the server runs");
    return why;
}

} // namespace

class TstRemoteCapture : public QObject
{
    Q_OBJECT

private slots:
    void dialogMakesSource_data();
    void dialogMakesSource();
    void listsRemoteInterfaces_data();
    void listsRemoteInterfaces();
    void listingOfAHostileHost_data();
    void listingOfAHostileHost();
    void boxesShowWhatTheyWereGiven();
    void closedWhileListing();
    void lastItemAsksAndCaptures();
};

void TstRemoteCapture::dialogMakesSource_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("interface");
    QTest::addColumn<bool>("sudo");
    QTest::addColumn<QString>("source"); // empty: OK stays disabled
    QTest::newRow("host-only") << "server" << 22 << ""
                               << "eth0" << false << "ssh://server/eth0";
    QTest::newRow("everything") << "server.example.org" << 2222 << "admin"
                                << "eth0" << true
                                << "ssh://admin@server.example.org:2222/eth0?sudo";
    QTest::newRow("ipv6") << "::1" << 22 << ""
                          << "lo" << false << "ssh://[::1]/lo";
    QTest::newRow("no-host") << "" << 22 << ""
                             << "eth0" << false << "";
    QTest::newRow("no-interface") << "server" << 22 << ""
                                  << "" << false << "";
    QTest::newRow("host-as-option") << "-oProxyCommand=x" << 22 << ""
                                    << "lo" << false << "";
    QTest::newRow("user-with-space") << "server" << 22 << "a b"
                                     << "lo" << false << "";
    QTest::newRow("interface-as-option") << "server" << 22 << ""
                                         << "-w" << false << "";
}

void TstRemoteCapture::dialogMakesSource()
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, interface);
    QFETCH(bool, sudo);
    QFETCH(QString, source);
    RemoteCaptureDialog dialog;
    fill(dialog, host, port, user, interface, sudo);
    QCOMPARE(dialog.source(), source);
    QCOMPARE(ok_button(dialog)->isEnabled(), !source.isEmpty());
    if (source.isEmpty())
        return;
    // And back from the name, as a remembered source fills it.
    RemoteCaptureDialog again;
    again.set_source(source);
    QCOMPARE(again.source(), source);
}

void TstRemoteCapture::listsRemoteInterfaces_data()
{
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<Problem>("problem"); // None: listed
    QTest::newRow("listed") << true << Problem::None;
    QTest::newRow("unknown-host-key") << false << Problem::UnknownHostKey;
}

void TstRemoteCapture::listsRemoteInterfaces()
{
    QFETCH(bool, trusted);
    QFETCH(Problem, problem);
    const QString unavailable = server_unavailable();
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    TestSshServer server;
    QVERIFY(server.running());
    server.trust_host_key(trusted);
    RemoteCaptureDialog dialog;
    fill(dialog, QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("root"), QString(),
         false);
    auto* list = child<QPushButton>(dialog, "list");
    QVERIFY(list->isEnabled());
    QTest::mouseClick(list, Qt::LeftButton);
    QVERIFY(!list->isEnabled()); // while it lists
    QTRY_VERIFY_WITH_TIMEOUT(list->isEnabled(), 30000);
    const auto* interfaces = child<QComboBox>(dialog, "interface");
    const QString status = child<QLabel>(dialog, "status")->text();
    if (problem == Problem::None) {
        QVERIFY2(interfaces->findText(QStringLiteral("lo")) >= 0, qPrintable(status));
        QVERIFY(ok_button(dialog)->isEnabled());
    } else {
        QCOMPARE(interfaces->count(), 0);
        QVERIFY2(status.startsWith(SshCaptureSource::problem_text(problem, QString())),
                 qPrintable(status));
    }
}

// A remote tcpdump -D (a script of the test's, as the server's PATH finds
// it) that writes without end, or names an interface as markup: the
// listing ends, with each name once, and the dialog shows names and what
// was said as they are.
void TstRemoteCapture::listingOfAHostileHost_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("first"); // the first interfaces listed
    QTest::addColumn<bool>("listed");
    QTest::newRow("one-line-without-end")
            << QByteArray("yes '1.eth0 [Up, Running]'") << QStringList { "eth0" } << true;
    QTest::newRow("names-without-end")
            << QByteArray("i=0; while :; do i=$((i+1)); echo \"$i.e$i [Up]\"; done")
            << QStringList { "e1", "e2", "e3" } << true;
    QTest::newRow("errors-without-end")
            << QByteArray("yes \"$(printf 'tcpdump: \\033[2J\\342\\200\\256bad')\" >&2")
            << QStringList() << false;
    QTest::newRow("markup-name") << QByteArray("echo '1.<h1>eth0 [Up]'; echo '2.lo [Up]'")
                                 << QStringList { "<h1>eth0", "lo" } << true;
}

void TstRemoteCapture::listingOfAHostileHost()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, first);
    QFETCH(bool, listed);
    const QString unavailable = server_unavailable();
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    QTemporaryDir dir;
    QFile fake(dir.filePath(QStringLiteral("tcpdump")));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("#!/bin/sh\n" + script + '\n');
    fake.close();
    QVERIFY(fake.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    TestSshServer server(QStringLiteral("environment=\"PATH=%1:/usr/bin:/bin\"").arg(dir.path()));
    QVERIFY(server.running());

    RemoteCaptureDialog dialog;
    fill(dialog, QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("root"), QString(),
         false);
    auto* list = child<QPushButton>(dialog, "list");
    QTest::mouseClick(list, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(list->isEnabled(), 30000);
    auto* interfaces = child<QComboBox>(dialog, "interface");
    auto* status = child<QLabel>(dialog, "status");
    QVERIFY2(inert(status->text()), qPrintable(status->text()));
    QVERIFY2(status->text().count(QLatin1Char('\n')) <= 11, qPrintable(status->text()));
    QStringList names;
    for (int i = 0; i < interfaces->count(); ++i)
        names << interfaces->itemText(i);
    QCOMPARE(names.mid(0, first.size()), first);
    QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
    QVERIFY(names.size() < 5000);
    if (!listed) {
        QVERIFY2(status->text().startsWith(
                         SshCaptureSource::problem_text(Problem::Other, QString())),
                 qPrintable(status->text()));
        return;
    }
    // Chosen, a name makes the source shown.
    interfaces->setEditText(QString());
    interfaces->setEditText(names.first());
    QCOMPARE(shown(status), dialog.source());
    QVERIFY(dialog.source().endsWith(QLatin1Char('/') + first.first()));
}

// Message boxes that carry what a host, a file or its name said show it as
// it is, and stay small.
void TstRemoteCapture::boxesShowWhatTheyWereGiven()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("<h1>big.pcap"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("no capture") > 0);
    file.close();
    QStringList seen;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&seen] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            for (QLabel* label : box->findChildren<QLabel*>())
                if (label->text() == box->text())
                    seen << shown(label);
            box->accept();
        }
    });
    timer.start(20);
    MainWindow window;
    QTest::ignoreMessage(QtWarningMsg, "This plugin does not support propagateSizeHints()");
    QVERIFY(!window.open_capture_file(path));
    QCOMPARE(seen.size(), 1);
    QVERIFY2(seen.first().contains(path), qPrintable(seen.first()));

    // What a remote host said, at length, with escape sequences.
    QString said;
    for (int i = 0; i < 400; ++i)
        said += QStringLiteral("\x1b[2J line %1 of what was said\n").arg(i);
    QMessageBox box(QMessageBox::Warning, QStringLiteral("err"),
                    capture_failure_text(CUpdate::ReadError, said, 7));
    QVERIFY2(inert(box.text()), qPrintable(box.text()));
    QVERIFY(box.sizeHint().height() < 600);
}

// A dialog closed while ssh still lists: the listing ends with it, and
// reports to no dialog. The host never answers: ssh waits on a proxy that
// reads and says nothing, and that ends with ssh.
void TstRemoteCapture::closedWhileListing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("ssh_config"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write("Host *\n    ProxyCommand cat >/dev/null\n") > 0);
    file.close();
    const QByteArray saved = qgetenv("TARNLOOK_SSH_CONFIG");
    const auto restore = qScopeGuard([saved] { qputenv("TARNLOOK_SSH_CONFIG", saved); });
    qputenv("TARNLOOK_SSH_CONFIG", QFile::encodeName(config));

    auto dialog = std::make_unique<RemoteCaptureDialog>();
    fill(*dialog, QStringLiteral("silent.example"), 22, QString(), QString(), false);
    auto* list = child<QPushButton>(*dialog, "list");
    QTest::mouseClick(list, Qt::LeftButton);
    QVERIFY(!list->isEnabled()); // listing
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("Destroyed while process")));
    dialog.reset();
}

// "远程抓包..." asks where; the answer becomes an item of the list and the
// capture runs there.
void TstRemoteCapture::lastItemAsksAndCaptures()
{
    const QString unavailable = server_unavailable();
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    QString reason;
    if (!testframes::can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));
    TestSshServer server;
    QVERIFY(server.running());
    MainWindow window;
    auto* combo = child<QComboBox>(window, "comboBox");
    const int remote_item = combo->count() - 1;
    QCOMPARE(combo->itemText(remote_item), QStringLiteral("远程抓包..."));
    combo->setCurrentIndex(remote_item);

    bool asked = false;
    QTimer::singleShot(0, &window, [&] {
        auto* dialog = qobject_cast<RemoteCaptureDialog*>(QApplication::activeModalWidget());
        asked = dialog != nullptr;
        if (dialog == nullptr)
            return;
        fill(*dialog, QStringLiteral("127.0.0.1"), server.port(), QStringLiteral("root"),
             QStringLiteral("lo"), false);
        QTest::mouseClick(ok_button(*dialog), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>(window, "pushButton_2"), Qt::LeftButton);
    QVERIFY(asked);
    const QString source = QStringLiteral("ssh://root@127.0.0.1:%1/lo").arg(server.port());
    QCOMPARE(combo->currentText(), source);
    QCOMPARE(combo->currentIndex(), remote_item);
    QCOMPARE(combo->itemText(combo->count() - 1), QStringLiteral("远程抓包..."));
    QVERIFY(g_capture_thread != nullptr);
    QCOMPARE(g_capture_thread->adapter_name, source);

    auto* table = child<QTableWidget>(window, "tableWidget_2");
    for (int attempt = 0; attempt < 30; ++attempt) {
        testframes::exchange_on_loopback("through the window", "reply");
        if (QTest::qWaitFor([table] { return table->rowCount() > 0; }, 1000))
            break;
    }
    QVERIFY(table->rowCount() > 0);
    QTest::mouseClick(child<QPushButton>(window, "pushButton_7"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(g_capture_thread, static_cast<CUpdate*>(nullptr), 10000);

    // Asked again, it starts from that source; cancelled, the list shows it
    // again and nothing starts.
    combo->setCurrentIndex(combo->count() - 1);
    QString offered;
    QTimer::singleShot(0, &window, [&] {
        if (auto* dialog = qobject_cast<RemoteCaptureDialog*>(QApplication::activeModalWidget())) {
            offered = dialog->source();
            dialog->reject();
        }
    });
    QTest::mouseClick(child<QPushButton>(window, "pushButton_2"), Qt::LeftButton);
    QCOMPARE(offered, source);
    QCOMPARE(combo->currentText(), source);
    QCOMPARE(g_capture_thread, static_cast<CUpdate*>(nullptr));
}

QTEST_MAIN(TstRemoteCapture)
#include "tst_remotecapture.moc"
