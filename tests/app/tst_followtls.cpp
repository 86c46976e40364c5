// SPDX-License-Identifier: GPL-2.0-or-later

#include <pcap/pcap.h>

#include <QAction>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "cupdate.h"
#include "followreading.h"
#include "followwindows.h"
#include "looprecorder.h"
#include "mainwindow.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qhexview.h"
#include "streamwindow.h"
#include "testframes.h"
#include "tlsstream.h"
#include "tlsstreamwindow.h"
#include "tlstraffic.h"

using namespace testframes;

// Following a row's TLS connection from the main window: decrypted with
// the key log, refused with the reason when it cannot be. The capture is
// made once: s_client fetching a file from s_server on lo, and a plain TCP
// connection beside it.

using followwindows::BoxCatcher;
using followwindows::bytes_of;

namespace {

const QByteArray kRequest = "GET /1k.bin HTTP/1.0\r\n\r\n";

} // namespace

class TstFollowTls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void decryptsTheRowsConnection_data();
    void decryptsTheRowsConnection();
    void refusesWhatCannotBeDecrypted_data();
    void refusesWhatCannotBeDecrypted();
    void keyLogIsReported();
    void tcpStreamWindowOffersTheDecryptedView();
    void progressShowsAndCancels_data();
    void progressShowsAndCancels();

private:
    QTemporaryDir m_dir;
    QString m_capture;
    QByteArray m_body;
    int m_tlsRows = 0; // the rows of the TLS connection come first
    int m_cbcRow = 0; // the first of the CBC connection, after the plain one
    std::unique_ptr<MainWindow> m_window;
};

void TstFollowTls::initTestCase()
{
    const QString missing = tlstraffic::missing_tools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));
    QString why;
    if (!tlstraffic::enter_namespace(&why))
        QSKIP(qPrintable(why));
    QVERIFY2(tlstraffic::make_certificate(m_dir.path(), &why), qPrintable(why));
    QVERIFY(tlstraffic::make_bodies(m_dir.path()));
    // A connection recorded on its own, and the keys its client logged.
    QByteArray keys;
    const auto record = [&](const QString& name, const QStringList& server,
                            const QStringList& suite) {
        const QString recorded = m_dir.filePath(name);
        LoopbackRecorder recorder(recorded, tlstraffic::kPort, 262144, 16 << 20);
        if (!recorder.error().isEmpty())
            return recorder.error();
        tlstraffic::Client client;
        client.options = QStringList { QStringLiteral("-connect"), QStringLiteral("127.0.0.1:443") }
                + suite;
        client.request = kRequest;
        QString why;
        if (!tlstraffic::serve_openssl(m_dir.path(), QStringLiteral("127.0.0.1"), server,
                                       { client }, &why))
            return why;
        if (recorder.stop() != 0)
            return QStringLiteral("the recorder failed");
        QFile log(m_dir.filePath(QStringLiteral("client-keys.log")));
        if (!log.open(QIODevice::ReadOnly))
            return log.errorString();
        keys += log.readAll();
        return QString();
    };
    const QString failed = record(QStringLiteral("tls.pcap"), {}, {});
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
    // A suite of TLS 1.2 that is not decrypted: CBC.
    const QStringList cbc { QStringLiteral("-tls1_2"), QStringLiteral("-cipher"),
                            QStringLiteral("AES128-SHA") };
    const QString cbcFailed = record(QStringLiteral("cbc.pcap"), cbc, cbc);
    QVERIFY2(cbcFailed.isEmpty(), qPrintable(cbcFailed));
    QFile body(m_dir.filePath(QStringLiteral("1k.bin")));
    QVERIFY(body.open(QIODevice::ReadOnly));
    m_body = body.readAll();
    // The recorded frames, then a plain TCP connection.
    QVector<QByteArray> frames;
    const auto append = [&](const QString& name) {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* file = pcap_open_offline(m_dir.filePath(name).toLocal8Bit().constData(), errbuf);
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        while (file != nullptr && pcap_next_ex(file, &header, &data) == 1)
            frames.append(QByteArray(reinterpret_cast<const char*>(data), int(header->caplen)));
        if (file != nullptr)
            pcap_close(file);
    };
    append(QStringLiteral("tls.pcap"));
    m_tlsRows = frames.size();
    Ipv4Packet plain;
    plain.seq = 1;
    plain.payload = "not TLS at all";
    frames.append(ethernet(ipv4(plain)));
    m_cbcRow = frames.size();
    append(QStringLiteral("cbc.pcap"));
    QVERIFY(frames.size() > m_cbcRow);
    m_capture = m_dir.filePath(QStringLiteral("capture.pcap"));
    QVERIFY(write_capture(m_capture, DLT_EN10MB, frames));
    QFile log(m_dir.filePath(QStringLiteral("keys.log")));
    QVERIFY(log.open(QIODevice::WriteOnly));
    QCOMPARE(log.write(keys), keys.size());
}

void TstFollowTls::init()
{
    m_window = std::make_unique<MainWindow>();
    QVERIFY(m_window->open_capture_file(m_capture));
    QVERIFY(QTest::qWaitFor([] { return g_capture_thread == nullptr; }, 10000));
}

void TstFollowTls::cleanup()
{
    m_window.reset();
}

void TstFollowTls::decryptsTheRowsConnection_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("shown");
    QTest::newRow("from-the-syn") << 0 << int(TlsStreamWindow::Shown::Conversation);
    QTest::newRow("client-only") << 5 << int(TlsStreamWindow::Shown::FirstSender);
    QTest::newRow("server-only") << -1 << int(TlsStreamWindow::Shown::SecondSender);
}

// The client's request and the file the server sent, as they were sent;
// the conversation holds the request, then the response ending with it.
void TstFollowTls::decryptsTheRowsConnection()
{
    QFETCH(int, row);
    QFETCH(int, shown);
    QVERIFY(m_window->load_tls_keylog(m_dir.filePath(QStringLiteral("keys.log"))));
    auto* window = qobject_cast<TlsStreamWindow*>(
            m_window->follow_tls_stream(row < 0 ? m_tlsRows - 1 : row));
    QVERIFY(window != nullptr);
    window->readAll();
    QVERIFY(window->setShown(static_cast<TlsStreamWindow::Shown>(shown)));
    const QByteArray bytes = bytes_of(*window);
    if (shown == int(TlsStreamWindow::Shown::FirstSender))
        QCOMPARE(bytes, kRequest);
    else
        QVERIFY2(bytes.endsWith(m_body)
                         && bytes.startsWith(shown == 0 ? kRequest + "HTTP/1.0 200"
                                                        : QByteArray("HTTP/1.0 200")),
                 bytes.left(60).constData());
    QVERIFY(!window->view()->document()->isModified());
    const TlsStream::Counts& counts = window->tls().counts();
    QCOMPARE(counts.failed + counts.missing + counts.no_key, std::uint64_t(0));
    QVERIFY(window->summary().contains(QStringLiteral("%1 字节明文").arg(kRequest.size())));
    // Each chunk begins with where its record came from.
    const QHexMetadata* metadata = window->view()->document()->metadata();
    const QString comment = metadata->comments(0, 0);
    QVERIFY2(comment.startsWith(QStringLiteral("第 "))
                     && comment.contains(QStringLiteral(", 记录 ")),
             qPrintable(comment));
    const int line = comment.mid(2, comment.indexOf(QLatin1Char(' '), 2) - 2).toInt();
    QVERIFY2(line > 3 && line <= m_tlsRows, qPrintable(comment));
}

void TstFollowTls::refusesWhatCannotBeDecrypted_data()
{
    QTest::addColumn<bool>("keys");
    QTest::addColumn<int>("row"); // -1: a row without a frame
    QTest::addColumn<QString>("reason");
    QTest::newRow("not-tls") << true << -2 << QStringLiteral("该连接不是TLS连接");
    QTest::newRow("no-secrets") << false << 0 << QStringLiteral("没有该连接的密钥");
    QTest::newRow("frame-gone") << true << -1 << QStringLiteral("该行的帧已不在存储中");
    QTest::newRow("cbc-suite") << true << -3
                               << QStringLiteral("该连接的密码套件 (0x002F) 无法解密");
}

void TstFollowTls::refusesWhatCannotBeDecrypted()
{
    QFETCH(bool, keys);
    QFETCH(int, row);
    QFETCH(QString, reason);
    if (keys)
        QVERIFY(m_window->load_tls_keylog(m_dir.filePath(QStringLiteral("keys.log"))));
    if (row == -1) {
        m_window->show_data_UI(QStringLiteral("00:00:00|TCP|10.0.0.1|1|10.0.0.2|2|1|41"));
        row = m_window->findChild<QTableWidget*>(QStringLiteral("tableWidget_2"))->rowCount() - 1;
    } else if (row == -2) {
        row = m_tlsRows;
    } else if (row == -3) {
        row = m_cbcRow;
    }
    BoxCatcher boxes;
    QCOMPARE(m_window->follow_tls_stream(row), nullptr);
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.first().contains(reason), qPrintable(boxes.texts.first()));
}

void TstFollowTls::keyLogIsReported()
{
    BoxCatcher boxes;
    QVERIFY(!m_window->load_tls_keylog(m_dir.filePath(QStringLiteral("none.log"))));
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(boxes.texts.first().contains(QStringLiteral("none.log")));
    QFile bad(m_dir.filePath(QStringLiteral("bad.log")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("CLIENT_RANDOM 00 11\nnot a line\n# fine\n");
    bad.close();
    QVERIFY(m_window->load_tls_keylog(bad.fileName()));
    QCOMPARE(m_window->statusBar()->currentMessage(),
             QStringLiteral("TLS密钥日志中有 2 行格式不对, 已跳过"));
}

// The TCP stream window of a TLS connection offers its decrypted view once
// the key log holds its secrets.
void TstFollowTls::tcpStreamWindowOffersTheDecryptedView()
{
    HexWindow* plain = m_window->follow_tcp_stream(m_tlsRows);
    QVERIFY(plain != nullptr);
    QCOMPARE(plain->findChild<QAction*>(QStringLiteral("actionDecryptTls")), nullptr);
    HexWindow* tcp = m_window->follow_tcp_stream(0);
    QVERIFY(tcp != nullptr);
    auto* decrypt = tcp->findChild<QAction*>(QStringLiteral("actionDecryptTls"));
    QVERIFY(decrypt != nullptr);
    QVERIFY(!decrypt->isEnabled());
    QVERIFY(m_window->load_tls_keylog(m_dir.filePath(QStringLiteral("keys.log"))));
    QVERIFY(decrypt->isEnabled());
    decrypt->trigger();
    TlsStreamWindow* tls = nullptr;
    QTRY_VERIFY((tls = m_window->findChild<TlsStreamWindow*>()) != nullptr);
    tls->readAll();
    QVERIFY(bytes_of(*tls).startsWith(kRequest));
}

void TstFollowTls::progressShowsAndCancels_data()
{
    QTest::addColumn<bool>("cancel"); // by the dialog's button
    QTest::newRow("runs-to-the-end") << false;
    QTest::newRow("cancel-button") << true;
}

// The frames are read as those of "追踪TCP流" are, in two passes (the
// follow, then where each frame lies): the dialog shows before the reading
// starts (delay 0), so that it is answered while it runs.
void TstFollowTls::progressShowsAndCancels()
{
    QFETCH(bool, cancel);
    QVERIFY(m_window->load_tls_keylog(m_dir.filePath(QStringLiteral("keys.log"))));
    m_window->statusBar()->clearMessage();
    set_follow_progress_delay(0);
    const auto restore = qScopeGuard([] { set_follow_progress_delay(400); });
    struct Answerer : QObject
    {
        bool cancel = false;
        QStringList shown;
        bool eventFilter(QObject* object, QEvent* event) override
        {
            auto* dialog = qobject_cast<QProgressDialog*>(object);
            if (dialog == nullptr || event->type() != QEvent::Show)
                return false;
            shown << QStringLiteral("%1|%2|%3")
                             .arg(dialog->windowTitle(), dialog->labelText())
                             .arg(dialog->maximum());
            if (cancel)
                QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
            return false;
        }
    } answerer;
    answerer.cancel = cancel;
    BoxCatcher boxes;
    qApp->installEventFilter(&answerer);
    HexWindow* window = m_window->follow_tls_stream(0);
    qApp->removeEventFilter(&answerer);

    QCOMPARE(answerer.shown,
             QStringList { QStringLiteral("追踪TLS流|正在读取该连接的 %1 帧…|%2")
                                   .arg(m_tlsRows)
                                   .arg(2 * m_tlsRows) });
    QCOMPARE(window != nullptr, !cancel);
    QCOMPARE(m_window->findChildren<TlsStreamWindow*>().size(), cancel ? 0 : 1);
    QVERIFY(m_window->findChildren<QProgressDialog*>().isEmpty());
    QCOMPARE(boxes.texts, QStringList());
    QCOMPARE(m_window->statusBar()->currentMessage(),
             cancel ? QStringLiteral("已取消追踪TLS流。") : QString());
}

QTEST_MAIN(TstFollowTls)
#include "tst_followtls.moc"
