// SPDX-License-Identifier: GPL-2.0-or-later

#include <csignal>
#include <functional>
#include <vector>

#include <pcap/pcap.h>

#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "appsettings.h"
#include "cupdate.h"
#include "hexwindow.h"
#include "mainwindow.h"
#include "qhexdocument.h"
#include "qhexview.h"
#include "quitsignals.h"
#include "testframes.h"

namespace {

using Step = std::function<void(QWidget*)>;

// A dialog that fixes its own size makes the offscreen platform say that it
// cannot pass size hints on, once or more per dialog: the platform's remark,
// not this program's; everything else goes to the test's own handler.
QtMessageHandler g_test_handler = nullptr;

void drop_size_hint_remarks(QtMsgType type, const QMessageLogContext& context,
                            const QString& message)
{
    if (message != QLatin1String("This plugin does not support propagateSizeHints()"))
        g_test_handler(type, context, message);
}

// Answers the modal dialogs as they open, with one step each, in order, and
// notes the text of every message box; one more than there are steps is
// refused (Escape) and noted as unexpected.
class Responder
{
public:
    explicit Responder(std::vector<Step> steps)
        : m_steps(std::move(steps))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { answer(); });
        m_timer.start(20);
    }

    QStringList boxes; // texts of the message boxes, in order
    bool rowsBoxHadCheckBox = false;
    int unexpected = 0;

private:
    void answer()
    {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || dialog == m_last)
            return;
        m_last = dialog;
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            boxes.append(box->text());
            rowsBoxHadCheckBox = rowsBoxHadCheckBox || box->checkBox() != nullptr;
        }
        if (m_next < m_steps.size()) {
            m_steps[m_next++](dialog);
        } else {
            ++unexpected;
            QTest::keyClick(dialog, Qt::Key_Escape);
        }
    }

    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QPointer<QWidget> m_last;
    QTimer m_timer;
};

Step click(QMessageBox::StandardButton which, bool neverAgain = false)
{
    return [which, neverAgain](QWidget* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        QVERIFY(box != nullptr);
        if (neverAgain)
            box->checkBox()->setChecked(true);
        box->button(which)->click();
    };
}

Step save_as(const QString& path)
{
    return [path](QWidget* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        QVERIFY(files != nullptr);
        // As a user who types the name into the field that has the focus and
        // presses Save, until the dialog takes it (it reads the folder
        // first, and may clear the name when it has).
        auto* press = new QTimer(files); // goes with the dialog
        QObject::connect(press, &QTimer::timeout, files, [files, path] {
            if (auto* field = qobject_cast<QLineEdit*>(files->focusWidget()))
                field->setText(path);
            static_cast<QDialog*>(files)->accept();
        });
        press->start(50);
    };
}

const Step cancelDialog = [](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); };
const Step acceptBox = [](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->accept(); };

void add_live_rows(MainWindow& window, int count)
{
    for (int i = 0; i < count; ++i)
        window.show_data_UI(QStringLiteral("00:00:00|TCP|1.1.1.1|%1|2.2.2.2|80|1|41").arg(i));
}

int row_count(const MainWindow& window)
{
    return window.findChild<QTableWidget*>(QStringLiteral("tableWidget_2"))->rowCount();
}

// Frames in a capture file, as libpcap reads them; -1 when it cannot.
int frames_in(const QString& path)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(path.toLocal8Bit().constData(), errbuf);
    if (file == nullptr)
        return -1;
    int frames = 0;
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (pcap_next_ex(file, &header, &data) == 1)
        ++frames;
    pcap_close(file);
    return frames;
}

QString settings_file()
{
    return QSettings().fileName();
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Step>)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

class TstUnsavedRows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void asksOnlyAboutUnsavedRows_data();
    void asksOnlyAboutUnsavedRows();
    void answers_data();
    void answers();
    void neverAskAgain_data();
    void neverAskAgain();
    void runningCaptureStoppedThenSaved();
    void openingAsksFirst_data();
    void openingAsksFirst();
    void hexWindowsAskFirst_data();
    void hexWindowsAskFirst();
    void quitSignalAsksNothing_data();
    void quitSignalAsksNothing();

private:
    QTemporaryDir m_dir;
};

void TstUnsavedRows::initTestCase()
{
    // "不再询问" is kept in the settings: in test mode, never the user's.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Tarnlook"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_unsavedrows"));
    QVERIFY(settings_file().contains(QLatin1String("/.qttest/")));
    QVERIFY(m_dir.isValid());
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    g_test_handler = qInstallMessageHandler(drop_size_hint_remarks);
}

void TstUnsavedRows::init()
{
    QFile::remove(settings_file());
}

void TstUnsavedRows::cleanup()
{
    QFile::remove(settings_file());
    g_adapter_names.clear();
}

void TstUnsavedRows::asksOnlyAboutUnsavedRows_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("unsaved"); // 0: closing does not ask
    const auto steps = [](const char* list) {
        return QString::fromLatin1(list).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    };
    QTest::newRow("nothing") << steps("") << 0;
    QTest::newRow("captured") << steps("row row row") << 3;
    QTest::newRow("from-file") << steps("file") << 0;
    QTest::newRow("saved") << steps("row row save") << 0;
    QTest::newRow("row-after-save") << steps("row save row") << 1;
    QTest::newRow("cleared") << steps("row clear") << 0;
    QTest::newRow("captured-after-clear") << steps("row clear row row") << 2;
    QTest::newRow("file-then-captured") << steps("file row") << 1;
    // The file replaces the captured row, once the user let it go.
    QTest::newRow("captured-then-file") << steps("row file") << 0;
}

void TstUnsavedRows::asksOnlyAboutUnsavedRows()
{
    QFETCH(QStringList, steps);
    QFETCH(int, unsaved);

    const QString capture = m_dir.filePath(QStringLiteral("two.pcap"));
    testframes::Ipv4Packet packet;
    packet.payload = "AB";
    const QByteArray frame = testframes::ethernet(testframes::ipv4(packet));
    QVERIFY(testframes::write_capture(capture, DLT_EN10MB, { frame, frame }));

    MainWindow window;
    window.show();
    for (const QString& step : std::as_const(steps)) {
        if (step == QLatin1String("row")) {
            add_live_rows(window, 1);
        } else if (step == QLatin1String("file")) {
            Responder discard({ click(QMessageBox::Discard) });
            QVERIFY(window.open_capture_file(capture));
            QTRY_COMPARE(g_capture_thread, nullptr);
            QCOMPARE(row_count(window), 2);
        } else if (step == QLatin1String("save")) {
            QVERIFY(window.save_capture_file(m_dir.filePath(QStringLiteral("saved.pcap"))));
        } else if (step == QLatin1String("clear")) {
            window.findChild<QPushButton*>(QStringLiteral("pushButton"))->click();
        }
    }

    Responder responder({ click(QMessageBox::Cancel) });
    QCOMPARE(window.close(), unsaved == 0);
    QCOMPARE(responder.boxes.size(), unsaved == 0 ? 0 : 1);
    if (unsaved > 0) {
        QVERIFY2(responder.boxes.first().contains(QString::number(unsaved)),
                 qPrintable(responder.boxes.first()));
        QVERIFY(responder.rowsBoxHadCheckBox);
        QVERIFY(window.isVisible());
    }
}

void TstUnsavedRows::answers_data()
{
    const QString saved = m_dir.filePath(QStringLiteral("answer.pcap"));
    // A file that cannot be replaced, even by root (it asks first).
    const QString unwritable = QStringLiteral("/proc/version");
    QTest::addColumn<std::vector<Step>>("steps");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("written"); // a file the close leaves, if any
    QTest::newRow("cancel") << std::vector<Step> { click(QMessageBox::Cancel) } << false
                            << QString();
    QTest::newRow("discard") << std::vector<Step> { click(QMessageBox::Discard) } << true
                             << QString();
    QTest::newRow("save") << std::vector<Step> { click(QMessageBox::Save), save_as(saved) } << true
                          << saved;
    QTest::newRow("save-dialog-cancelled")
            << std::vector<Step> { click(QMessageBox::Save), cancelDialog } << false << QString();
    QTest::newRow("save-fails") << std::vector<Step> {
        click(QMessageBox::Save), save_as(unwritable), click(QMessageBox::Yes), acceptBox
    } << false << QString();
}

void TstUnsavedRows::answers()
{
    QFETCH(std::vector<Step>, steps);
    QFETCH(bool, closes);
    QFETCH(QString, written);

    MainWindow window;
    window.show();
    add_live_rows(window, 2);
    {
        Responder responder(std::move(steps));
        QCOMPARE(window.close(), closes);
        QCOMPARE(responder.unexpected, 0);
    }
    QCOMPARE(window.isVisible(), !closes);
    QCOMPARE(row_count(window), 2);
    if (!written.isEmpty())
        QCOMPARE(frames_in(written), 0); // the rows came without frames
    // The question comes again at the next close unless the rows went.
    Responder again({ click(QMessageBox::Discard) });
    if (!closes) {
        QVERIFY(window.close());
        QCOMPARE(again.boxes.size(), 1);
    }
}

void TstUnsavedRows::neverAskAgain_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("asksNextTime");
    QTest::newRow("discard") << QMessageBox::Discard << false;
    QTest::newRow("cancel") << QMessageBox::Cancel << true; // no answer given
}

void TstUnsavedRows::neverAskAgain()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, asksNextTime);
    {
        MainWindow window;
        window.show();
        add_live_rows(window, 1);
        Responder responder({ click(answer, true) });
        QCOMPARE(window.close(), answer != QMessageBox::Cancel);
        QCOMPARE(responder.boxes.size(), 1);
    }
    QCOMPARE(AppSettings().ask_to_save_rows(), asksNextTime);

    // As at the next start.
    MainWindow window;
    window.show();
    add_live_rows(window, 1);
    Responder responder({ click(QMessageBox::Discard) });
    QVERIFY(window.close());
    QCOMPARE(responder.boxes.size(), asksNextTime ? 1 : 0);
}

void TstUnsavedRows::runningCaptureStoppedThenSaved()
{
    QString reason;
    if (!testframes::can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));
    const QString path = m_dir.filePath(QStringLiteral("live.pcap"));

    MainWindow window;
    window.show();
    QVERIFY(window.select_adapter(QStringLiteral("lo")));
    window.start_capture();
    QVERIFY(g_capture_thread != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(g_capture_thread->pcap_handle != nullptr, 10000);
    QVERIFY(testframes::exchange_on_loopback("unsaved rows", "reply") != 0);
    QTRY_VERIFY_WITH_TIMEOUT(row_count(window) > 0, 10000);

    // When the question comes, the capture has stopped and every row it sent
    // is in the table: the count asked about is the count saved.
    bool stopped = false;
    int rows = -1;
    const Step question = [&](QWidget* dialog) {
        stopped = g_capture_thread == nullptr
                && !window.findChild<QPushButton*>(QStringLiteral("pushButton_7"))->isEnabled();
        rows = row_count(window);
        click(QMessageBox::Save)(dialog);
    };
    Responder responder({ question, save_as(path) });
    QVERIFY(window.close());
    QVERIFY(stopped);
    QCOMPARE(row_count(window), rows);
    QVERIFY2(responder.boxes.value(0).contains(QString::number(rows)),
             qPrintable(responder.boxes.value(0)));
    QCOMPARE(frames_in(path), rows);
}

void TstUnsavedRows::openingAsksFirst_data()
{
    const QString saved = m_dir.filePath(QStringLiteral("before-open.pcap"));
    QTest::addColumn<std::vector<Step>>("steps");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<QString>("written"); // a file the answer leaves, if any
    QTest::newRow("cancel") << std::vector<Step> { click(QMessageBox::Cancel) } << false
                            << QString();
    QTest::newRow("discard") << std::vector<Step> { click(QMessageBox::Discard) } << true
                             << QString();
    QTest::newRow("save") << std::vector<Step> { click(QMessageBox::Save), save_as(saved) } << true
                          << saved;
    QTest::newRow("save-dialog-cancelled")
            << std::vector<Step> { click(QMessageBox::Save), cancelDialog } << false << QString();
}

void TstUnsavedRows::openingAsksFirst()
{
    QFETCH(std::vector<Step>, steps);
    QFETCH(bool, opens);
    QFETCH(QString, written);

    const QString capture = m_dir.filePath(QStringLiteral("open.pcap"));
    testframes::Ipv4Packet packet;
    const QByteArray frame = testframes::ethernet(testframes::ipv4(packet));
    QVERIFY(testframes::write_capture(capture, DLT_EN10MB, { frame, frame }));
    MainWindow window;
    window.show();
    add_live_rows(window, 3);
    {
        Responder responder(std::move(steps));
        QCOMPARE(window.open_capture_file(capture), opens);
        QCOMPARE(responder.unexpected, 0);
        QCOMPARE(responder.boxes.size(), 1);
        QVERIFY2(responder.boxes.first().contains(QLatin1Char('3')),
                 qPrintable(responder.boxes.first()));
    }
    QTRY_COMPARE(g_capture_thread, nullptr);
    QCOMPARE(row_count(window), opens ? 2 : 3);
    if (!written.isEmpty())
        QVERIFY(QFile::exists(written));
    // Closing asks again only about rows still unsaved.
    Responder again({ click(QMessageBox::Discard) });
    QVERIFY(window.close());
    QCOMPARE(again.boxes.size(), opens ? 0 : 1);
}

void TstUnsavedRows::hexWindowsAskFirst_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("hexAnswer");
    QTest::addColumn<int>("boxes");
    // Kept by its user: the main window stays, and nothing asks about rows.
    QTest::newRow("hex-cancel") << QMessageBox::Cancel << 1;
    // Then the rows are asked about.
    QTest::newRow("hex-discard") << QMessageBox::Discard << 2;
}

void TstUnsavedRows::hexWindowsAskFirst()
{
    QFETCH(QMessageBox::StandardButton, hexAnswer);
    QFETCH(int, boxes);
    const QString path = m_dir.filePath(QStringLiteral("data.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("ABCD") == 4);
    file.close();

    MainWindow window;
    window.show();
    add_live_rows(window, 1);
    QPointer<HexWindow> hex = HexWindow::openFileWindow(path);
    QVERIFY(hex);
    hex->view()->document()->replace(0, QByteArray("Z"));

    Responder responder({ click(hexAnswer), click(QMessageBox::Cancel) });
    QVERIFY(!window.close());
    QCOMPARE(responder.boxes.size(), boxes);
    QVERIFY(window.isVisible());
    if (hexAnswer == QMessageBox::Cancel) {
        QVERIFY(!responder.rowsBoxHadCheckBox); // the hex window's own question only
        delete hex.data(); // its unsaved changes go with it
    } else {
        QVERIFY(responder.rowsBoxHadCheckBox);
        QTRY_VERIFY(hex.isNull());
    }
}

void TstUnsavedRows::quitSignalAsksNothing_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TstUnsavedRows::quitSignalAsksNothing()
{
    QFETCH(int, signal);
    QuitSignals quitSignals;
    MainWindow window;
    window.show();
    add_live_rows(window, 3);

    Responder responder({});
    QTimer bound; // a liveness bound only
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    bound.start(10000);
    QTimer::singleShot(0, &bound, [signal] { ::raise(signal); });
    // The program's own loop, which the signal ends.
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(responder.boxes.size(), 0);
    QCOMPARE(responder.unexpected, 0);
    QCOMPARE(row_count(window), 3);
}

QTEST_MAIN(TstUnsavedRows)
#include "tst_unsavedrows.moc"
