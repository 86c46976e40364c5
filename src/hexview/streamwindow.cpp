// SPDX-License-Identifier: GPL-2.0-or-later

#include "streamwindow.h"

#include <algorithm>

#include <unistd.h>

#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include "popupwidth.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qhexview.h"
#include "qpiecebuffer.h"
#include "tcpfollow.h"

namespace {

// The colours of marks besides the two directions'.
constexpr int kGapColour = 2;
constexpr int kNoColour = -1;

// New bytes are taken this often while the capture runs.
constexpr int kGrowInterval = 250; // ms

QString time_text(std::int64_t seconds, std::int64_t nanoseconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("HH:mm:ss"))
            + QStringLiteral(".%1").arg(nanoseconds, 9, 10, QLatin1Char('0'));
}

} // namespace

StreamWindow::StreamWindow(std::unique_ptr<TcpFollow> follow, std::function<bool(TcpFollow&)> grow,
                           QWidget* parent)
    : HexWindow(parent)
    , m_follow(std::move(follow))
    , m_grow(std::move(grow))
    , m_choice(new QComboBox(this))
    , m_summary(new QLabel(this))
    , m_timer(new QTimer(this))
{
    const QString first = m_follow->endpoint(0);
    const QString second = m_follow->endpoint(1);
    setUntitledName(tr("TCP流 %1 ⇄ %2").arg(first, second));

    m_choice->setObjectName(QStringLiteral("streamChoice"));
    m_choice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_choice->addItem(tr("整个会话"));
    m_choice->addItem(QStringLiteral("%1 → %2").arg(first, second));
    m_choice->addItem(QStringLiteral("%1 → %2").arg(second, first));
    fitPopupToEntries(*m_choice);
    m_summary->setObjectName(QStringLiteral("streamSummary"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* bar = new QToolBar(tr("TCP流"), this);
    bar->setObjectName(QStringLiteral("streamToolBar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    auto* box = new QWidget(bar);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(2);
    auto* choice_row = new QHBoxLayout;
    choice_row->addWidget(new QLabel(tr("显示:"), box));
    choice_row->addWidget(m_choice);
    choice_row->addStretch(1);
    layout->addLayout(choice_row);
    // The counts on a line of their own, wrapped in a narrow window.
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary);
    bar->addWidget(box);
    addToolBar(Qt::TopToolBarArea, bar);

    connect(m_choice, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (!setShown(static_cast<Shown>(index)))
            m_choice->setCurrentIndex(static_cast<int>(m_shown));
    });
    if (m_grow) {
        takeNewBytes();
        connect(m_timer, &QTimer::timeout, this, &StreamWindow::takeNewBytes);
        m_timer->start(kGrowInterval);
    } else {
        m_follow->finish();
    }
    rebuild();
}

StreamWindow::~StreamWindow() = default;

StreamWindow::Shown StreamWindow::shown() const
{
    return m_shown;
}

bool StreamWindow::setShown(Shown shown)
{
    if (shown == m_shown)
        return true;
    if (askToKeepEdits() == QMessageBox::Cancel)
        return false;
    m_shown = shown;
    m_choice->setCurrentIndex(static_cast<int>(shown));
    rebuild();
    return true;
}

void StreamWindow::takeNewBytes()
{
    if (m_grow && !m_grow(*m_follow)) {
        m_grow = nullptr;
        m_timer->stop();
        m_follow->finish();
    }
    if (m_buffer != nullptr)
        appendPieces();
}

void StreamWindow::rebuild()
{
    auto* buffer = new QPieceBuffer; // the document takes it over
    m_sources.clear();
    for (const StoreFile& file : m_follow->files())
        m_sources.push_back(buffer->addSource(::dup(file.fd)));
    // The runs of what is shown, counted so that the list is built without
    // regrowing.
    const std::vector<TcpFollow::Piece>& pieces = m_follow->pieces();
    buffer->reserveRuns(std::count_if(pieces.cbegin(), pieces.cend(), [this](const auto& piece) {
        return !piece.gap && wanted(static_cast<int>(piece.direction));
    }));
    m_buffer = buffer;
    m_dark = isDark();
    m_pieces_shown = 0;
    m_chunks_shown = 0;
    m_chunk_pending = -1;
    m_missing_pending = 0;
    setDocument(new QHexDocument(buffer));
    appendPieces();
    // The document starts unmodified: what the store holds is not an edit.
    view()->document()->setUnmodified();
}

bool StreamWindow::wanted(int direction) const
{
    return m_shown == Shown::Conversation || (m_shown == Shown::FirstSender) == (direction == 0);
}

void StreamWindow::appendPieces()
{
    const std::vector<TcpFollow::Piece>& pieces = m_follow->pieces();
    const std::vector<TcpFollow::Chunk>& chunks = m_follow->chunks();
    if (m_pieces_shown >= pieces.size()) {
        updateSummary();
        return;
    }
    QHexDocument* document = view()->document();
    // New files of the store (a capture that went on into another one).
    for (std::size_t i = m_sources.size(); i < m_follow->files().size(); ++i)
        m_sources.push_back(m_buffer->addSource(::dup(m_follow->files()[i].fd)));

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
                                .arg(time_text(chunk.seconds, chunk.nanoseconds),
                                     m_follow->endpoint(direction),
                                     m_follow->endpoint(1 - direction))
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
    if (m_missing_pending > 0 && m_buffer->length() > 0 && !m_grow) {
        // Bytes missing at the end: marked on the last byte.
        const qint64 last = m_buffer->length() - 1;
        addMark(last, last + 1, kGapColour, tr("此后缺少 %1 字节 (未捕获)").arg(m_missing_pending));
        m_missing_pending = 0;
    }
    document->bufferGrew();
    updateSummary();
}

void StreamWindow::updateSummary()
{
    m_summary->setText(summary());
}

QString StreamWindow::summary() const
{
    const TcpReassembly& reassembly = m_follow->reassembly();
    const QLocale locale;
    return tr("%1 → %2: %3 字节; %2 → %1: %4 字节; %5 个分段, %6 次重传, %7 处缺失")
            .arg(m_follow->endpoint(0), m_follow->endpoint(1),
                 locale.toString(qulonglong(reassembly.bytes()[0])),
                 locale.toString(qulonglong(reassembly.bytes()[1])),
                 locale.toString(qlonglong(reassembly.segments())),
                 locale.toString(qlonglong(reassembly.retransmissions())),
                 locale.toString(qlonglong(reassembly.gaps())));
}

void StreamWindow::addMark(qint64 begin, qint64 end, int colour, const QString& comment)
{
    m_marks.push_back({ begin, end, colour, comment });
    const Mark& mark = m_marks.back();
    view()->document()->metadata()->addRange(mark.begin, mark.end, QColor(), colourOf(mark.colour),
                                             mark.comment);
}

QColor StreamWindow::colourOf(int colour) const
{
    // Pale on a light theme, deep on a dark one: the text stays readable.
    switch (colour) {
    case 0:
        return m_dark ? QColor(0x5a, 0x24, 0x24) : QColor(0xfb, 0xe3, 0xe3);
    case 1:
        return m_dark ? QColor(0x23, 0x33, 0x5c) : QColor(0xe0, 0xe8, 0xfb);
    case kGapColour:
        return m_dark ? QColor(0x6b, 0x5a, 0x12) : QColor(0xff, 0xe8, 0x80);
    default:
        return QColor();
    }
}

void StreamWindow::followTheme()
{
    // Room for the longest choice beside the arrow: some style sheets draw
    // the arrow over the text's end.
    m_choice->setMinimumWidth(0);
    m_choice->setMinimumWidth(m_choice->sizeHint().width()
                              + m_choice->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    // The theme's colours are known once the window is polished; another
    // theme lays the annotations again in its colours (not an edit).
    if (m_buffer == nullptr || isDark() == m_dark)
        return;
    m_dark = isDark();
    // In place: edits have moved the annotations with their bytes, and their
    // undo puts them back.
    view()->document()->metadata()->recolor([this](int id, const QHexMetadataRange& range) {
        const bool ours = id >= 0 && static_cast<std::size_t>(id) < m_marks.size();
        return ours ? qMakePair(QColor(), colourOf(m_marks[static_cast<std::size_t>(id)].colour))
                    : qMakePair(range.foreground, range.background);
    });
}

void StreamWindow::showEvent(QShowEvent* e)
{
    HexWindow::showEvent(e);
    followTheme();
}

void StreamWindow::changeEvent(QEvent* e)
{
    HexWindow::changeEvent(e);
    // Looked at once the new style has reached every widget.
    if (e->type() == QEvent::StyleChange || e->type() == QEvent::PaletteChange)
        QTimer::singleShot(0, this, &StreamWindow::followTheme);
}

bool StreamWindow::isDark() const
{
    return view()->palette().color(QPalette::Base).lightness() < 128;
}
