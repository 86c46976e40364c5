// SPDX-License-Identifier: GPL-2.0-or-later

#include "hexfindbar.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

#include "findbarcontrols.h"
#include "qhexcursor.h"
#include "qhexdocument.h"
#include "qhexview.h"

namespace {

constexpr int kProgressSteps = FindBarControls::kProgressSteps;

bool isHexPattern(const QString& text)
{
    int digits = 0;
    for (const QChar c : text) {
        if (c.isSpace())
            continue;
        const char latin = c.toLatin1();
        const bool digit = (latin >= '0' && latin <= '9') || (latin >= 'a' && latin <= 'f')
                || (latin >= 'A' && latin <= 'F');
        if (!digit)
            return false;
        ++digits;
    }
    return digits % 2 == 0;
}

} // namespace

HexFindBar::HexFindBar(QHexView* view, QWidget* parent)
    : QWidget(parent)
    , m_view(view)
    , m_edit(new QLineEdit(this))
    , m_hex(new QCheckBox(tr("十六进制"), this))
    , m_timer(new QTimer(this))
    , m_search(nullptr)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(new QLabel(tr("查找:"), this));
    m_edit->setObjectName(QStringLiteral("findPattern"));
    m_edit->setPlaceholderText(tr("文本 (UTF-8)"));
    layout->addWidget(m_edit, 1);
    givePatternRoom(*m_edit);
    m_hex->setObjectName(QStringLiteral("findHex"));
    layout->addWidget(m_hex);

    const FindBarControls controls = addFindBarControls(
            this, layout, { findWrapNotice(true), tr("十六进制格式错误: 需成对的数字") });
    m_message = controls.message;
    m_progress = controls.progress;
    QToolButton* previous = controls.previous;
    QToolButton* next = controls.next;
    QToolButton* close = controls.close;

    connect(previous, &QToolButton::clicked, this, &HexFindBar::findPrevious);
    connect(next, &QToolButton::clicked, this, &HexFindBar::findNext);
    connect(close, &QToolButton::clicked, this, [this] {
        cancel();
        emit closeRequested();
    });
    connect(m_hex, &QCheckBox::toggled, this, [this](bool hex) {
        m_edit->setPlaceholderText(hex ? tr("十六进制字节，如 4F 4B") : tr("文本 (UTF-8)"));
        setMessage(QString());
    });
    connect(m_edit, &QLineEdit::textEdited, this, [this] { setMessage(QString()); });

    m_timer->setInterval(0);
    connect(m_timer, &QTimer::timeout, this, &HexFindBar::runSteps);
}

void HexFindBar::activate()
{
    m_edit->setFocus();
    m_edit->selectAll();
}

void HexFindBar::findNext()
{
    find(HexSearch::Direction::Forward);
}

void HexFindBar::findPrevious()
{
    find(HexSearch::Direction::Backward);
}

bool HexFindBar::isSearching() const
{
    return m_search.status() == HexSearch::Status::Running;
}

QString HexFindBar::message() const
{
    return m_message->text();
}

QByteArray HexFindBar::pattern(QString* messageOut) const
{
    const QString text = m_edit->text();
    if (!m_hex->isChecked())
        return text.toUtf8();
    if (!isHexPattern(text)) {
        if (messageOut != nullptr)
            *messageOut = tr("十六进制格式错误: 需成对的数字");
        return {};
    }
    return QByteArray::fromHex(text.toLatin1());
}

void HexFindBar::cancel()
{
    if (!isSearching())
        return;
    m_search.cancel();
    end(tr("查找已取消"));
}

void HexFindBar::find(HexSearch::Direction direction)
{
    cancel();
    QHexDocument* document = m_view->document();
    QString refusal;
    const QByteArray bytes = pattern(&refusal);
    if (bytes.isEmpty() || document == nullptr) {
        end(refusal.isEmpty() ? tr("请输入要查找的内容") : refusal);
        return;
    }

    // From the byte after the start of a selection (the previous match,
    // say) forward, from the byte before it backward.
    const QHexCursor* cursor = document->cursor();
    const qint64 caret = cursor->hasSelection() ? cursor->selectionStart().offset()
                                                : cursor->position().offset();
    const bool forward = direction == HexSearch::Direction::Forward;
    const qint64 from = forward ? caret + (cursor->hasSelection() ? 1 : 0) : caret - 1;

    m_search = HexSearch(document);
    m_patternLength = bytes.size();
    m_forward = forward;
    m_search.start(bytes, from, direction);
    // An edit under a running search would move what it looks for.
    connect(document, &QHexDocument::documentChanged, this, &HexFindBar::cancel,
            Qt::UniqueConnection);
    setMessage(tr("正在查找..."));
    runSteps();
}

void HexFindBar::runSteps()
{
    QElapsedTimer slice;
    slice.start();
    while (m_search.step() == HexSearch::Status::Running) {
        if (slice.elapsed() >= m_slicems) {
            // Still going: show how far, and come back on the next turn.
            const qint64 total = qMax<qint64>(1, m_search.totalBytes());
            m_progress->setValue(
                    static_cast<int>(m_search.scannedBytes() * kProgressSteps / total));
            m_progress->show();
            m_timer->start();
            return;
        }
    }
    m_timer->stop();

    if (m_search.status() != HexSearch::Status::Found) {
        end(tr("未找到"));
        return;
    }
    QHexDocument* document = m_view->document();
    QHexCursor* cursor = document->cursor();
    const qint64 last = m_search.matchOffset() + m_patternLength - 1;
    const int bpl = qMax(1, int(document->bytesPerLine()));
    cursor->moveTo(m_search.matchOffset());
    // The second digit of the last byte, so that a one-byte match counts as
    // selected too.
    cursor->select(static_cast<quint64>(last / bpl), static_cast<int>(last % bpl), 0);
    end(m_search.wrapped() ? findWrapNotice(m_forward) : QString());
}

void HexFindBar::end(const QString& message)
{
    m_timer->stop();
    m_progress->hide();
    setMessage(message);
    emit finished();
}

void HexFindBar::setMessage(const QString& text)
{
    m_message->setText(text);
}

void HexFindBar::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Escape) {
        if (isSearching()) {
            cancel();
        } else {
            emit closeRequested();
        }
        return;
    }
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        if (e->modifiers().testFlag(Qt::ShiftModifier))
            findPrevious();
        else
            findNext();
        return;
    }
    QWidget::keyPressEvent(e);
}
