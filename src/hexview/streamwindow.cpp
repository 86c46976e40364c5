// SPDX-License-Identifier: GPL-2.0-or-later

#include "streamwindow.h"

#include <algorithm>

#include <unistd.h>

#include <QLocale>

#include "qhexdocument.h"
#include "qhexview.h"
#include "qpiecebuffer.h"
#include "tcpfollow.h"

StreamWindow::StreamWindow(std::unique_ptr<TcpFollow> follow, std::function<bool(TcpFollow&)> grow,
                           QWidget* parent)
    : FollowWindow(std::move(follow), std::move(grow), tr("TCP流"), QStringLiteral("stream"),
                   parent)
{
    setUntitledName(
            tr("TCP流 %1 ⇄ %2").arg(this->follow().endpoint(0), this->follow().endpoint(1)));
    takeFrames();
    rebuild();
}

StreamWindow::~StreamWindow() = default;

void StreamWindow::takeNewBytes()
{
    takeFrames();
    if (m_buffer != nullptr)
        appendPieces();
}

void StreamWindow::rebuild()
{
    auto* buffer = new QPieceBuffer; // the document takes it over
    m_sources.clear();
    for (const StoreFile& file : follow().files())
        m_sources.push_back(buffer->addSource(::dup(file.fd)));
    // The runs of what is shown, counted so that the list is built without
    // regrowing.
    const std::vector<TcpFollow::Piece>& pieces = follow().pieces();
    buffer->reserveRuns(std::count_if(pieces.cbegin(), pieces.cend(), [this](const auto& piece) {
        return !piece.gap && wanted(static_cast<int>(piece.direction));
    }));
    m_buffer = buffer;
    m_pieces_shown = 0;
    m_chunks_shown = 0;
    m_chunk_pending = -1;
    m_missing_pending = 0;
    startDocument(buffer);
    appendPieces();
    // The document starts unmodified: what the store holds is not an edit.
    view()->document()->setUnmodified();
}

void StreamWindow::appendPieces()
{
    const std::vector<TcpFollow::Piece>& pieces = follow().pieces();
    const std::vector<TcpFollow::Chunk>& chunks = follow().chunks();
    if (m_pieces_shown >= pieces.size()) {
        updateSummary();
        return;
    }
    QHexDocument* document = view()->document();
    // New files of the store (a capture that went on into another one).
    for (std::size_t i = m_sources.size(); i < follow().files().size(); ++i)
        m_sources.push_back(m_buffer->addSource(::dup(follow().files()[i].fd)));

    qint64 run_begin = -1; // the coloured run being put together
    int run_direction = -1;
    const auto close_run = [&](qint64 end) {
        if (run_begin >= 0 && end > run_begin)
            addMark(run_begin, end, run_direction, QString());
        run_begin = -1;
    };
    for (; m_pieces_shown < pieces.size(); ++m_pieces_shown) {
        const TcpFollow::Piece& piece = pieces[m_pieces_shown];
        const int direction = static_cast<int>(piece.direction);
        if (m_chunks_shown < chunks.size() && chunks[m_chunks_shown].piece == m_pieces_shown) {
            // Its comment goes on the chunk's first byte shown, after a gap.
            m_chunk_pending = wanted(direction) ? static_cast<qint64>(m_chunks_shown) : -1;
            ++m_chunks_shown;
        }
        if (!wanted(direction))
            continue;
        if (piece.gap) {
            m_missing_pending += piece.length;
            continue;
        }
        const qint64 at = m_buffer->length();
        if (m_chunk_pending >= 0 || run_direction != direction) {
            close_run(at);
            run_begin = at;
            run_direction = direction;
        }
        QStringList comments;
        if (m_chunk_pending >= 0) {
            const TcpFollow::Chunk& chunk = chunks[static_cast<std::size_t>(m_chunk_pending)];
            comments << tr("第 %1 行, %2, %3 → %4, 序列号 %5")
                                .arg(chunk.row + 1)
                                .arg(timeText(chunk.seconds, chunk.nanoseconds),
                                     follow().endpoint(direction), follow().endpoint(1 - direction))
                                .arg(chunk.seq);
            m_chunk_pending = -1;
        }
        if (m_missing_pending > 0) {
            comments << tr("此前缺少 %1 字节 (未捕获)").arg(m_missing_pending);
            addMark(at, at + 1, kGapColour, QString());
            m_missing_pending = 0;
        }
        m_buffer->appendRun(m_sources[piece.file], piece.offset, piece.length);
        if (!comments.isEmpty())
            addMark(at, at + 1, kNoColour, comments.join(QLatin1Char('\n')));
    }
    close_run(m_buffer->length());
    if (m_missing_pending > 0 && m_buffer->length() > 0 && !growing()) {
        // Bytes missing at the end: marked on the last byte.
        const qint64 last = m_buffer->length() - 1;
        addMark(last, last + 1, kGapColour, tr("此后缺少 %1 字节 (未捕获)").arg(m_missing_pending));
        m_missing_pending = 0;
    }
    document->bufferGrew();
    updateSummary();
}

QString StreamWindow::summary() const
{
    const TcpReassembly& reassembly = follow().reassembly();
    const QLocale locale;
    return tr("%1 → %2: %3 字节; %2 → %1: %4 字节; %5 个分段, %6 次重传, %7 处缺失")
            .arg(follow().endpoint(0), follow().endpoint(1),
                 locale.toString(qulonglong(reassembly.bytes()[0])),
                 locale.toString(qulonglong(reassembly.bytes()[1])),
                 locale.toString(qlonglong(reassembly.segments())),
                 locale.toString(qlonglong(reassembly.retransmissions())),
                 locale.toString(qlonglong(reassembly.gaps())));
}
