// SPDX-License-Identifier: GPL-2.0-or-later

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <QtTest>

#include "capturehelper.h"
#include "capturestore.h"
#include "cupdate.h"
#include "loopnamespace.h"
#include "tcpfollow.h"
#include "testframes.h"
#include "testsshserver.h"

// Frames are captured whole on every path. One transfer on the lo of a
// network namespace of the test's own, whose MTU of 65536 makes a full
// segment a frame of 65549 bytes, is captured at once directly, by the
// capture program and through ssh; each capture, followed, holds every byte
// as the test sent it.

namespace {

constexpr int kLoopbackMtu = 65536;
constexpr qsizetype kDownload = 3 << 20;
constexpr qsizetype kUpload = 500000;

QByteArray random_bytes(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

// Sends `out` and reads until the peer's end, at once.
QByteArray converse(int fd, const QByteArray& out)
{
    std::thread sender([fd, &out] {
        for (qsizetype sent = 0; sent < out.size();) {
            const ssize_t n = send(fd, out.constData() + sent, size_t(out.size() - sent), 0);
            if (n <= 0 && errno != EINTR)
                break;
            sent += std::max<ssize_t>(n, 0);
        }
        shutdown(fd, SHUT_WR);
    });
    QByteArray in;
    char buffer[1 << 16];
    for (ssize_t n = 0; (n = recv(fd, buffer, sizeof buffer, 0)) != 0;)
        if (n > 0)
            in.append(buffer, int(n));
        else if (errno != EINTR)
            break;
    sender.join();
    return in;
}

// One capture and the frames it stored, in capture order.
struct Capture
{
    QString name;
    std::unique_ptr<CaptureStore> store;
    std::vector<std::int64_t> frames; // filled on the test's thread
    std::unique_ptr<CUpdate> update; // a capture of the window's kind, or
    std::unique_ptr<CaptureHelper> helper; // the capture program's stream
    std::thread reader; // of that stream
    std::atomic<bool> stop { false };
    std::mutex mutex; // of frames, for the reader
    QString error;

    ~Capture()
    {
        stop = true;
        if (update) {
            update->stop_flag = true;
            update->wait();
        }
        if (reader.joinable())
            reader.join();
        if (helper)
            helper->finish();
    }

    std::vector<std::int64_t> stored()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        return frames;
    }
};

// The bytes each way of the connection whose SYN is the capture's first
// frame, or why there are none; a gap in them makes them differ.
QString follow(Capture& capture, QByteArray (&streams)[2])
{
    const std::vector<std::int64_t> frames = capture.stored();
    if (frames.empty())
        return QStringLiteral("no frames");
    std::vector<int> rows(frames.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i] = int(i);
    QString error;
    std::unique_ptr<TcpFollow> followed
            = TcpFollow::open(*capture.store, frames, rows, frames.front(), &error);
    if (followed == nullptr)
        return error;
    followed->finish();
    for (const TcpFollow::Piece& piece : followed->pieces()) {
        QByteArray bytes(qsizetype(piece.length), '\0');
        if (piece.gap) {
            bytes.fill('?');
        } else if (pread(followed->files()[piece.file].fd, bytes.data(), piece.length, piece.offset)
                   != ssize_t(piece.length)) {
            return QStringLiteral("unreadable piece");
        }
        streams[piece.direction] += bytes;
    }
    return QString();
}

} // namespace

class TstWholeFrames : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void followedWhole_data();
    void followedWhole();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TestSshServer> m_server;
    std::vector<std::unique_ptr<Capture>> m_captures;
    QString m_sshSkipped;
    QByteArray m_download;
    QByteArray m_upload;
};

void TstWholeFrames::initTestCase()
{
    QVERIFY(m_dir.isValid());
    bool refused = false;
    const QString lo = loopnamespace::enter({ kLoopbackMtu }, &refused);
    if (refused)
        QSKIP(qPrintable(lo));
    QVERIFY2(lo.isEmpty(), qPrintable(lo));
    QString reason;
    if (!testframes::can_capture_on_loopback(&reason))
        QSKIP(qPrintable(reason));

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && listen(listener, 1) == 0
            && getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    const auto close_listener = qScopeGuard([listener] { close(listener); });
    FilterSettings settings;
    settings.capture_filter_on = true;
    settings.capture_filter = QStringLiteral("tcp port %1").arg(ntohs(address.sin_port));

    m_sshSkipped = TestSshServer::unavailable();
    if (m_sshSkipped.isEmpty()
        && QStandardPaths::findExecutable(QStringLiteral("tcpdump")).isEmpty())
        m_sshSkipped = QStringLiteral("needs tcpdump, which the server runs");
    if (m_sshSkipped.isEmpty()) {
        m_server = std::make_unique<TestSshServer>();
        QVERIFY(m_server->running());
    }
    const QStringList sources { QStringLiteral("lo"), QStringLiteral("program"),
                                m_server ? m_server->source(QStringLiteral("lo")) : QString() };
    for (const QString& source : sources) {
        if (source.isEmpty())
            continue;
        auto capture = std::make_unique<Capture>();
        Capture& c = *capture;
        c.name = source;
        c.store = std::make_unique<CaptureStore>(m_dir.path());
        QVERIFY(c.store->isValid());
        if (source == QLatin1String("program")) {
            CaptureHelper::set_program(QStringLiteral(TARNLOOK_CAPTURE_PROGRAM));
            c.helper = std::make_unique<CaptureHelper>(c.stop);
            pcap_t* handle = c.helper->open(QStringLiteral("lo"), settings.capture_filter);
            CaptureHelper::set_program(QString());
            QVERIFY2(handle != nullptr, qPrintable(c.helper->reason()));
            c.reader = std::thread([&c, handle] {
                pcap_pkthdr* header = nullptr;
                const u_char* data = nullptr;
                while (pcap_next_ex(handle, &header, &data) == 1) {
                    const std::optional<std::int64_t> seq
                            = c.store->append(pcap_datalink(handle), *header, data);
                    const std::lock_guard<std::mutex> lock(c.mutex);
                    if (seq)
                        c.frames.push_back(*seq);
                }
                pcap_close(handle);
            });
        } else {
            c.update = std::make_unique<CUpdate>(settings);
            c.update->store = c.store.get();
            c.update->adapter_name = source;
            CUpdate* update = c.update.get();
            connect(update, &CUpdate::send_update, this, [&c, update] {
                if (const std::optional<std::int64_t> seq = update->take_stored_frame())
                    c.frames.push_back(*seq);
            });
            connect(update, &CUpdate::capture_failed, this,
                    [&c](int, const QString& detail) { c.error += detail; });
            connect(update, &CUpdate::open_failed, this,
                    [&c](const QString& detail) { c.error += detail; });
            c.update->start();
            QTRY_VERIFY2_WITH_TIMEOUT(update->frames_read.load() >= 0 || update->isFinished(),
                                      qPrintable(source), 30000);
            QVERIFY2(!update->isFinished(), qPrintable(source + QStringLiteral(": ") + c.error));
        }
        m_captures.push_back(std::move(capture));
    }

    m_download = random_bytes(kDownload, 1);
    m_upload = random_bytes(kUpload, 2);
    QByteArray downloaded;
    QByteArray uploaded;
    std::thread server([&] {
        const int accepted = accept(listener, nullptr, nullptr);
        uploaded = converse(accepted, m_download);
        close(accepted);
    });
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        downloaded = converse(client, m_upload);
    close(client);
    server.join();
    QVERIFY(downloaded == m_download && uploaded == m_upload);
}

void TstWholeFrames::followedWhole_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("direct") << QStringLiteral("lo");
    QTest::newRow("capture-program") << QStringLiteral("program");
    QTest::newRow("ssh") << QStringLiteral("ssh");
}

void TstWholeFrames::followedWhole()
{
    QFETCH(QString, source);
    if (source == QLatin1String("ssh") && !m_sshSkipped.isEmpty())
        QSKIP(qPrintable(m_sshSkipped));
    Capture* capture = nullptr;
    for (const std::unique_ptr<Capture>& c : m_captures)
        if (c->name == source || (source == QLatin1String("ssh") && c->name.startsWith(source)))
            capture = c.get();
    QVERIFY(capture != nullptr);
    Capture& chosen = *capture;
    // The capture may still be taking the last frames in.
    QByteArray streams[2];
    QString error;
    const auto complete = [&] {
        streams[0].clear();
        streams[1].clear();
        error = follow(chosen, streams);
        return error.isEmpty() && streams[0].size() >= kUpload && streams[1].size() >= kDownload;
    };
    QTRY_VERIFY_WITH_TIMEOUT(complete(), 20000);
    QVERIFY2(error.isEmpty() && chosen.error.isEmpty(), qPrintable(error + chosen.error));
    QCOMPARE(streams[0].size(), kUpload);
    QCOMPARE(streams[1].size(), kDownload);
    QVERIFY(streams[0] == m_upload);
    QVERIFY(streams[1] == m_download);
}

QTEST_GUILESS_MAIN(TstWholeFrames)
#include "tst_wholeframes.moc"
