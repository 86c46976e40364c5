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

std::vector<std::int64_t> frames_of(const PacketRows& rows, const std::vector<int>& numbers,
                                    std::size_t from)
{
    std::vector<std::int64_t> frames;
    frames.reserve(numbers.size() - from);
    for (std::size_t i = from; i < numbers.size(); ++i)
        frames.push_back(rows.frame(numbers[i]).value_or(-1));
    return frames;
}

// Where each frame of the followed pair lies in the store's files, with its
// row and time: a piece of the follow names the frame it came from by its
// place. 24 bytes a frame.
class FrameOrigins
{
public:
    void add(const CaptureStore& store, const std::vector<std::int64_t>& frames,
             const std::vector<int>& rows)
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
        std::size_t at = 0;
        store.read_frames(
                kept,
                [&](const StoredFrame& head, const StoredFramePlace& place) {
                    const QByteArray& name = files[static_cast<std::size_t>(place.file)].name;
                    m_frames.push_back({ std::uint64_t(file_number(name)) << kFileBits
                                                 | std::uint64_t(place.offset),
                                         head.seconds, kept_rows[at++],
                                         static_cast<std::int32_t>(head.nanoseconds) });
                    return true;
                },
                &files, 0);
        for (const StoreFile& file : files)
            ::close(file.fd);
        std::sort(m_frames.begin(), m_frames.end(),
                  [](const Frame& a, const Frame& b) { return a.place < b.place; });
    }

    TlsStreamWindow::Origin origin(const TcpFollow& follow, std::uint64_t piece) const
    {
        if (piece >= follow.pieces().size())
            return {};
        const TcpFollow::Piece& p = follow.pieces()[piece];
        const std::uint64_t place = std::uint64_t(file_number(follow.files()[p.file].name))
                        << kFileBits
                | std::uint64_t(p.offset);
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
                                  const std::function<bool()>& capturing, const TlsKeyLogs& keys)
{
    const auto refuse = [parent](const QString& why) -> HexWindow* {
        QMessageBox::information(parent, QCoreApplication::translate("FollowTls", "追踪TLS流"),
                                 why);
        return nullptr;
    };
    if (row < 0 || row >= rows.count())
        return refuse(QCoreApplication::translate("FollowTls", "请先选择一行。"));
    const std::optional<std::int64_t> frame = rows.frame(row);
    if (store == nullptr || !frame || !store->contains(*frame))
        return refuse(QCoreApplication::translate("FollowTls",
                                                  "该行的帧已不在存储中, 无法追踪其TLS流。"));
    const TcpPairIndex& pairs = rows.pairs();
    const int pair = pairs.pair_of(row);
    const std::vector<int>& numbers = pairs.rows(pair);
    const std::vector<std::int64_t> frames = frames_of(rows, numbers, 0);
    QString error;
    std::unique_ptr<TcpFollow> follow = TcpFollow::open(*store, frames, numbers, *frame, &error);
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

    auto origins = std::make_shared<FrameOrigins>();
    origins->add(*store, frames, numbers);
    std::function<bool(TcpFollow&)> grow;
    if (growing) {
        grow = [&rows, store, pair, generation = pairs.generation(), seen = numbers.size(),
                capturing, origins](TcpFollow& follow) mutable {
            const TcpPairIndex& index = rows.pairs();
            if (index.generation() != generation)
                return false;
            const std::vector<int>& now = index.rows(pair);
            const bool more = now.size() > seen;
            if (more) {
                const std::vector<int> added(now.cbegin() + static_cast<std::ptrdiff_t>(seen),
                                             now.cend());
                const std::vector<std::int64_t> added_frames = frames_of(rows, now, seen);
                follow.add(*store, added_frames, added);
                origins->add(*store, added_frames, added);
                seen = now.size();
            }
            return !follow.ended() && (more || capturing());
        };
    }
    const TcpFollow* followed = follow.get();
    auto* window = new TlsStreamWindow(
            std::move(follow), std::move(tls), std::move(grow),
            [origins, followed](std::uint64_t piece) { return origins->origin(*followed, piece); },
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
