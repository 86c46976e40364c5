// SPDX-License-Identifier: GPL-2.0-or-later

#include "tlsstreamwindow.h"

#include <QLocale>
#include <QTimer>

#include "qhexdocument.h"
#include "qhexview.h"
#include "tcpfollow.h"
#include "tlsstream.h"
#include "tlsstreambuffer.h"

namespace {

// Bytes of records read per slice: a few milliseconds of work.
constexpr std::int64_t kSlice = std::int64_t(8) << 20;
// Read before the window is first shown, so that it paints with bytes.
constexpr std::int64_t kFirstSlice = std::int64_t(1) << 20;

} // namespace

TlsStreamWindow::TlsStreamWindow(std::unique_ptr<TcpFollow> follow, std::unique_ptr<TlsStream> tls,
                                 std::function<bool(TcpFollow&)> grow, Describe describe,
                                 QWidget* parent)
    : FollowWindow(std::move(follow), std::move(grow), tr("TLS流"), QStringLiteral("tlsStream"),
                   parent)
    , m_tls(std::move(tls))
    , m_describe(std::move(describe))
    , m_slices(new QTimer(this))
{
    setUntitledName(
            tr("TLS流 %1 ⇄ %2").arg(this->follow().endpoint(0), this->follow().endpoint(1)));
    connect(m_slices, &QTimer::timeout, this, &TlsStreamWindow::readSlice);
    m_slices->setInterval(0);
    takeFrames();
    m_tls->advance(kFirstSlice);
    rebuild();
    m_slices->start();
}

TlsStreamWindow::~TlsStreamWindow() = default;

bool TlsStreamWindow::reading() const
{
    return m_slices->isActive();
}

void TlsStreamWindow::readSlice()
{
    const bool all = m_tls->advance(kSlice);
    if (all && !growing()) {
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
    takeFrames();
    if (!m_slices->isActive())
        m_slices->start();
}

void TlsStreamWindow::rebuild()
{
    auto* buffer = new TlsStreamBuffer(*m_tls); // the document takes it over
    m_buffer = buffer;
    m_records_shown = 0;
    m_last_direction = -1;
    m_pending_failed = m_pending_missing = m_pending_no_key = 0;
    startDocument(buffer);
    appendRecords();
    view()->document()->setUnmodified();
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
                                .arg(timeText(origin.seconds, origin.nanoseconds),
                                     follow().endpoint(direction), follow().endpoint(1 - direction))
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
    updateSummary();
}

QString TlsStreamWindow::summary() const
{
    const TlsStream::Counts& counts = m_tls->counts();
    const QLocale locale;
    QString text = tr("%1 → %2: %3 个记录, %4 字节明文; %2 → %1: %5 个记录, %6 字节明文; "
                      "%7 个记录无法解密")
                           .arg(follow().endpoint(0), follow().endpoint(1),
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
