// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlsstreamwindow.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QLocale>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qhexview.h"
#include "tcpfollow.h"
#include "tlsstream.h"
#include "tlsstreambuffer.h"

namespace {

constexpr int kGapColour = 2;
constexpr int kNoColour = -1;
constexpr int kGrowInterval = 250; // ms
// Bytes of records read per slice: a few milliseconds of work.
constexpr std::int64_t kSlice = std::int64_t(8) << 20;
// Read before the window is first shown, so that it paints with bytes.
constexpr std::int64_t kFirstSlice = std::int64_t(1) << 20;

QString time_text(std::int64_t seconds, std::int64_t nanoseconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("HH:mm:ss"))
            + QStringLiteral(".%1").arg(nanoseconds, 9, 10, QLatin1Char('0'));
}

} // namespace

TlsStreamWindow::TlsStreamWindow(std::unique_ptr<TcpFollow> follow, std::unique_ptr<TlsStream> tls,
                                 std::function<bool(TcpFollow&)> grow, Describe describe,
                                 QWidget* parent)
    : HexWindow(parent)
    , m_follow(std::move(follow))
    , m_tls(std::move(tls))
    , m_grow(std::move(grow))
    , m_describe(std::move(describe))
    , m_choice(new QComboBox(this))
    , m_summary(new QLabel(this))
    , m_timer(new QTimer(this))
    , m_slices(new QTimer(this))
{
    const QString first = m_follow->endpoint(0);
    const QString second = m_follow->endpoint(1);
    setUntitledName(tr("TLS流 %1 ⇄ %2").arg(first, second));

    m_choice->setObjectName(QStringLiteral("tlsStreamChoice"));
    m_choice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_choice->addItem(tr("整个会话"));
    m_choice->addItem(QStringLiteral("%1 → %2").arg(first, second));
    m_choice->addItem(QStringLiteral("%1 → %2").arg(second, first));
    m_summary->setObjectName(QStringLiteral("tlsStreamSummary"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->setWordWrap(true);
    auto* bar = new QToolBar(tr("TLS流"), this);
    bar->setObjectName(QStringLiteral("tlsStreamToolBar"));
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
    layout->addWidget(m_summary);
    bar->addWidget(box);
    addToolBar(Qt::TopToolBarArea, bar);

    connect(m_choice, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (!setShown(static_cast<Shown>(index)))
            m_choice->setCurrentIndex(static_cast<int>(m_shown));
    });
    connect(m_slices, &QTimer::timeout, this, &TlsStreamWindow::readSlice);
    m_slices->setInterval(0);
    if (m_grow) {
        connect(m_timer, &QTimer::timeout, this, &TlsStreamWindow::takeNewBytes);
        m_timer->start(kGrowInterval);
        m_grow(*m_follow);
    } else {
        m_follow->finish();
    }
    m_tls->advance(kFirstSlice);
    rebuild();
    m_slices->start();
}

TlsStreamWindow::~TlsStreamWindow() = default;

bool TlsStreamWindow::setShown(Shown shown)
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

bool TlsStreamWindow::reading() const
{
    return m_slices->isActive();
}

void TlsStreamWindow::readSlice()
{
    const bool all = m_tls->advance(kSlice);
    if (all && !m_grow) {
        m_tls->finish();
        m_slices->stop();
    } else if (all) {
        m_slices->stop(); // the growth timer starts it again
    }
    appendRecords();
}

void TlsStreamWindow::readAll()
{
    while (m_slices->isActive())
        readSlice();
}

void TlsStreamWindow::takeNewBytes()
{
    if (m_grow && !m_grow(*m_follow)) {
        m_grow = nullptr;
        m_timer->stop();
        m_follow->finish();
    }
    if (!m_slices->isActive())
        m_slices->start();
}

void TlsStreamWindow::rebuild()
{
    auto* buffer = new TlsStreamBuffer(*m_tls); // the document takes it over
    m_buffer = buffer;
    m_dark = isDark();
    m_records_shown = 0;
    m_last_direction = -1;
    m_marks.clear();
    m_pending_failed = m_pending_missing = m_pending_no_key = 0;
    setDocument(new QHexDocument(buffer));
    appendRecords();
    view()->document()->setUnmodified();
}

bool TlsStreamWindow::wanted(int direction) const
{
    return m_shown == Shown::Conversation || (m_shown == Shown::FirstSender) == (direction == 0);
}

void TlsStreamWindow::appendRecords()
{
    const std::vector<TlsStream::Record>& records = m_tls->records();
    QHexDocument* document = view()->document();
    const bool grew = m_records_shown < records.size();
    for (; m_records_shown < records.size(); ++m_records_shown) {
        const TlsStream::Record& record = records[m_records_shown];
        const int direction = record.direction;
        if (!wanted(direction))
            continue;
        switch (record.status) {
        case TlsStream::Status::Failed:
            ++m_pending_failed;
            continue;
        case TlsStream::Status::Missing:
            ++m_pending_missing;
            continue;
        case TlsStream::Status::Lost:
            m_pending_missing += record.seq;
            continue;
        case TlsStream::Status::NoKey:
            ++m_pending_no_key;
            continue;
        case TlsStream::Status::Decrypted:
            break;
        }
        if (record.content_length == 0)
            continue;
        const qint64 at = m_buffer->length();
        m_buffer->appendRecord(m_records_shown);
        const qint64 end = m_buffer->length();
        QStringList comments;
        if (direction != m_last_direction) {
            const Origin origin = m_describe ? m_describe(record.last_piece) : Origin();
            comments << tr("第 %1 行, %2, %3 → %4, 记录 %5")
                                .arg(origin.row + 1)
                                .arg(time_text(origin.seconds, origin.nanoseconds),
                                     m_follow->endpoint(direction),
                                     m_follow->endpoint(1 - direction))
                                .arg(record.seq);
            m_last_direction = direction;
        }
        if (m_pending_failed + m_pending_missing + m_pending_no_key > 0) {
            QStringList why;
            if (m_pending_failed > 0)
                why << tr("%1 个记录校验失败").arg(m_pending_failed);
            if (m_pending_missing > 0)
                why << tr("%1 个记录未完整捕获").arg(m_pending_missing);
            if (m_pending_no_key > 0)
                why << tr("%1 个记录没有密钥").arg(m_pending_no_key);
            comments << tr("此前有记录无法解密: %1").arg(why.join(QStringLiteral(", ")));
            addMark(at, at + 1, kGapColour, QString());
            m_pending_failed = m_pending_missing = m_pending_no_key = 0;
        }
        addMark(at, end, direction, QString());
        if (!comments.isEmpty())
            addMark(at, at + 1, kNoColour, comments.join(QLatin1Char('\n')));
    }
    if (grew)
        document->bufferGrew();
    m_summary->setText(summary());
}

QString TlsStreamWindow::summary() const
{
    const TlsStream::Counts& counts = m_tls->counts();
    const QLocale locale;
    QString text = tr("%1 → %2: %3 个记录, %4 字节明文; %2 → %1: %5 个记录, %6 字节明文; "
                      "%7 个记录无法解密")
                           .arg(m_follow->endpoint(0), m_follow->endpoint(1),
                                locale.toString(qulonglong(counts.records[0])),
                                locale.toString(qulonglong(counts.bytes[0])),
                                locale.toString(qulonglong(counts.records[1])),
                                locale.toString(qulonglong(counts.bytes[1])),
                                locale.toString(qulonglong(counts.failed + counts.missing
                                                           + counts.no_key)));
    if (reading())
        text += tr(" (读取中...)");
    return text;
}

void TlsStreamWindow::addMark(qint64 begin, qint64 end, int colour, const QString& comment)
{
    m_marks.push_back({ begin, end, colour, comment });
    view()->document()->metadata()->addRange(begin, end, QColor(), colourOf(colour), comment);
}

QColor TlsStreamWindow::colourOf(int colour) const
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

void TlsStreamWindow::followTheme()
{
    m_choice->setMinimumWidth(0);
    m_choice->setMinimumWidth(m_choice->sizeHint().width()
                              + m_choice->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    if (m_buffer == nullptr || isDark() == m_dark)
        return;
    m_dark = isDark();
    QHexMetadata* metadata = view()->document()->metadata();
    metadata->clear();
    for (const Mark& mark : m_marks)
        metadata->addRange(mark.begin, mark.end, QColor(), colourOf(mark.colour), mark.comment);
}

void TlsStreamWindow::showEvent(QShowEvent* e)
{
    HexWindow::showEvent(e);
    followTheme();
}

void TlsStreamWindow::changeEvent(QEvent* e)
{
    HexWindow::changeEvent(e);
    if (e->type() == QEvent::StyleChange || e->type() == QEvent::PaletteChange)
        QTimer::singleShot(0, this, &TlsStreamWindow::followTheme);
}

bool TlsStreamWindow::isDark() const
{
    return view()->palette().color(QPalette::Base).lightness() < 128;
}
