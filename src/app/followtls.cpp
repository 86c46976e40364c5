// SPDX-License-Identifier: GPL-2.0-or-later

#include "followtls.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include <unistd.h>

#include <QAction>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTableWidget>
#include <QToolBar>

#include "capturestore.h"
#include "followreading.h"
#include "packetrows.h"
#include "streamwindow.h"
#include "tcpfollow.h"
#include "tlskeylogs.h"
#include "tlsstream.h"
#include "tlsstreamwindow.h"

namespace {

// Bytes read of a connection to tell whether it is TLS and whose.
constexpr std::int64_t kHelloBytes = 1 << 16;
constexpr int kFileBits = 48;
// Frames between two looks at a follow's progress.
constexpr std::size_t kProgressStep = 4096;

// Where each frame of the followed pair lies in the store's files, with its
// row and time: a piece of the follow names the frame it came from by its
// place. 24 bytes a frame.
class FrameOrigins
{
public:
    // Reads the frames' places (on any thread), counting them in progress
    // from `counted` on; stops early at its cancel.
    void add(const CaptureStore& store, const std::vector<std::int64_t>& frames,
             const std::vector<int>& rows, TcpFollow::Progress& progress, std::size_t counted)
    {
        std::vector<std::int64_t> kept;
        std::vector<int> kept_rows;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (frames[i] >= 0 && store.contains(frames[i])) {
                kept.push_back(frames[i]);
                kept_rows.push_back(i < rows.size() ? rows[i] : -1);
            }
        }
        std::vector<StoreFile> files;
        std::vector<Frame> added;
        added.reserve(kept.size());
        std::size_t at = 0;
        store.read_frames(
                kept,
                [&](const StoredFrame& head, const StoredFramePlace& place) {
                    if (at % kProgressStep == 0) {
                        progress.frames.store(counted + frames.size() * at / kept.size(),
                                              std::memory_order_relaxed);
                        if (progress.cancel.load(std::memory_order_relaxed))
                            return false;
                    }
                    const QByteArray& name = files[static_cast<std::size_t>(place.file)].name;
                    added.push_back({ place_of(name, place.offset), head.seconds, kept_rows[at++],
                                      static_cast<std::int32_t>(head.nanoseconds) });
                    return true;
                },
                &files, 0);
        for (const StoreFile& file : files)
            ::close(file.fd);
        take(std::move(added));
    }
    // The frames a growth read, on the interface thread.
    void add(const TcpFollow::Frames& frames)
    {
        std::vector<Frame> added;
        added.reserve(frames.count());
        frames.visit([&](const StoreFile& file, std::int64_t offset, int row, std::int64_t seconds,
                         std::int64_t nanoseconds) {
            added.push_back({ place_of(file.name, offset), seconds, row,
                              static_cast<std::int32_t>(nanoseconds) });
        });
        take(std::move(added));
    }

    TlsStreamWindow::Origin origin(const TcpFollow& follow, std::uint64_t piece) const
    {
        if (piece >= follow.pieces().size())
            return {};
        const TcpFollow::Piece& p = follow.pieces()[piece];
        const std::uint64_t place = place_of(follow.files()[p.file].name, p.offset);
        auto after
                = std::upper_bound(m_frames.begin(), m_frames.end(), place,
                                   [](std::uint64_t at, const Frame& f) { return at < f.place; });
        if (after == m_frames.begin())
            return {};
        --after;
        return { after->row, after->seconds, after->nanoseconds };
    }

private:
    struct Frame
    {
        std::uint64_t place;
        std::int64_t seconds;
        std::int32_t row;
        std::int32_t nanoseconds;
    };
    static bool before(const Frame& a, const Frame& b) { return a.place < b.place; }
    std::uint64_t place_of(const QByteArray& name, std::int64_t offset) const
    {
        return std::uint64_t(file_number(name)) << kFileBits | std::uint64_t(offset);
    }
    // Frames of a capture come in the order of their places: those of a
    // growth join the end without a sort.
    void take(std::vector<Frame> added)
    {
        if (!std::is_sorted(added.begin(), added.end(), before))
            std::sort(added.begin(), added.end(), before);
        const auto middle = static_cast<std::ptrdiff_t>(m_frames.size());
        m_frames.insert(m_frames.end(), added.begin(), added.end());
        if (middle > 0 && !added.empty() && before(added.front(), m_frames[middle - 1]))
            std::inplace_merge(m_frames.begin(), m_frames.begin() + middle, m_frames.end(), before);
    }
    int file_number(const QByteArray& name) const
    {
        const auto known = std::find(m_names.begin(), m_names.end(), name);
        if (known != m_names.end())
            return static_cast<int>(known - m_names.begin());
        m_names.push_back(name);
        return static_cast<int>(m_names.size()) - 1;
    }

    mutable std::vector<QByteArray> m_names;
    std::vector<Frame> m_frames;
};

} // namespace

HexWindow* open_tls_stream_window(QWidget* parent, const PacketRows& rows,
                                  const CaptureStore* store, int row,
                                  const std::function<bool()>& capturing, const TlsKeyLogs& keys,
                                  bool* cancelled)
{
    const auto refuse = [parent](const QString& why) -> HexWindow* {
        QMessageBox::information(parent, QCoreApplication::translate("FollowTls", "追踪TLS流"),
                                 why);
        return nullptr;
    };
    QString error;
    const std::optional<FollowedRows> followed = rows_to_follow(
            rows, store, row,
            QCoreApplication::translate("FollowTls", "该行的帧已不在存储中, 无法追踪其TLS流。"),
            &error);
    if (!followed)
        return refuse(error);
    const std::vector<std::int64_t>& frames = followed->frames;
    const std::vector<int>& numbers = followed->rows;
    // Two passes over the frames: the follow, then where they lie.
    TcpFollow::Progress progress;
    std::unique_ptr<TcpFollow> follow;
    auto origins = std::make_shared<FrameOrigins>();
    const bool done = follow_in_background(
            parent, QCoreApplication::translate("FollowTls", "追踪TLS流"), frames.size(),
            2 * frames.size(), progress, [&] {
                follow = TcpFollow::open(*store, frames, numbers, followed->frame, &error,
                                         &progress);
                if (follow != nullptr)
                    origins->add(*store, frames, numbers, progress, frames.size());
            });
    if (cancelled != nullptr)
        *cancelled = !done;
    if (!done)
        return nullptr;
    if (follow == nullptr)
        return refuse(error);
    const bool growing = !follow->ended() && capturing();
    if (!growing)
        follow->finish();
    auto tls = std::make_unique<TlsStream>(
            *follow,
            [&keys](const std::array<std::uint8_t, 32>& random) { return keys.find(random); });
    // Up to the hellos: whether it is TLS, and whose.
    for (bool all = false; !all && tls->kind() != TlsStream::Kind::NotTls && !tls->client_hello()
         && tls->counts().records[0] + tls->counts().records[1] < 64;)
        all = tls->advance(1);
    if (tls->kind() != TlsStream::Kind::Tls || !tls->client_hello())
        return refuse(QCoreApplication::translate(
                "FollowTls", "该连接不是TLS连接 (或其ClientHello未被捕获), 无法解密。"));
    if (!keys.contains(tls->client_hello()->random))
        return refuse(QCoreApplication::translate(
                "FollowTls",
                "已加载的TLS密钥日志中没有该连接的密钥。请用 \"文件\" 菜单的 \"TLS密钥日志...\" "
                "加载写下它的密钥日志 (SSLKEYLOGFILE)。"));
    // Up to the server's hello: a suite not decrypted here (the CBC suites
    // of TLS 1.2) would give a window of records that all fail.
    for (bool all = false;
         !all && !tls->server_hello() && tls->counts().records[0] + tls->counts().records[1] < 64;)
        all = tls->advance(1);
    if (tls->server_hello() && !tls->server_hello()->retry && tls->suite() == nullptr)
        return refuse(QCoreApplication::translate(
                              "FollowTls",
                              "该连接的密码套件 (0x%1) 无法解密: 只能解密TLS 1.3的套件和TLS "
                              "1.2的AES-GCM与ChaCha20-Poly1305套件。")
                              .arg(QString::number(tls->server_hello()->suite, 16)
                                           .rightJustified(4, QLatin1Char('0'))
                                           .toUpper()));

    std::function<bool(TcpFollow&)> grow;
    if (growing) {
        grow = FollowGrowth::callback(std::make_shared<FollowGrowth>(
                rows, *store, followed->pair, numbers.size(), capturing,
                [origins](const TcpFollow::Frames& read) { origins->add(read); }));
    }
    const TcpFollow* reading = follow.get();
    auto* window = new TlsStreamWindow(
            std::move(follow), std::move(tls), std::move(grow),
            [origins, reading](std::uint64_t piece) { return origins->origin(*reading, piece); },
            parent);
    window->setWindowFlag(Qt::Window);
    window->show();
    return window;
}

void add_follow_tls_action(QTableWidget* table, QWidget* window,
                           const std::function<void(int)>& follow)
{
    auto* action = new QAction(QCoreApplication::translate("FollowTls", "追踪TLS流"), window);
    action->setObjectName(QStringLiteral("actionFollowTlsStream"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_S));
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    // The table's context menu shows the table's actions beside its own.
    table->addAction(action);
    QObject::connect(action, &QAction::triggered, window,
                     [table, follow] { follow(table->currentRow()); });
}

void offer_tls_view(HexWindow* window, const TlsKeyLogs& keys, const std::function<void()>& open)
{
    auto* stream = qobject_cast<StreamWindow*>(window);
    auto* bar = stream != nullptr ? stream->findChild<QToolBar*>(QStringLiteral("streamToolBar"))
                                  : nullptr;
    if (bar == nullptr)
        return;
    TlsStream tls(stream->follow(), {});
    tls.advance(kHelloBytes);
    if (tls.kind() != TlsStream::Kind::Tls || !tls.client_hello())
        return;
    auto* action = new QAction(QCoreApplication::translate("FollowTls", "解密TLS流"), bar);
    action->setObjectName(QStringLiteral("actionDecryptTls"));
    bar->addAction(action);
    QObject::connect(action, &QAction::triggered, stream, open);
    const std::array<std::uint8_t, 32> random = tls.client_hello()->random;
    const auto enable = [action, &keys, random] {
        const bool known = keys.contains(random);
        action->setEnabled(known);
        action->setToolTip(
                known ? QCoreApplication::translate("FollowTls", "用密钥日志中的密钥解密该连接")
                      : QCoreApplication::translate("FollowTls",
                                                    "已加载的TLS密钥日志中没有该连接的密钥"));
    };
    enable();
    QObject::connect(&keys, &TlsKeyLogs::changed, action, enable);
}
