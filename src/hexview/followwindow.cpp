// SPDX-License-Identifier: GPL-2.0-or-later

#include "followwindow.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include "popupwidth.h"
#include "qhexdocument.h"
#include "qhexmetadata.h"
#include "qhexview.h"
#include "tcpfollow.h"

namespace {

// New bytes are taken this often while the capture runs.
constexpr int kGrowInterval = 250; // ms

} // namespace

FollowWindow::FollowWindow(std::unique_ptr<TcpFollow> follow, std::function<bool(TcpFollow&)> grow,
                           const QString& title, const QString& name, QWidget* parent)
    : HexWindow(parent)
    , m_follow(std::move(follow))
    , m_grow(std::move(grow))
    , m_choice(new QComboBox(this))
    , m_summary(new QLabel(this))
    , m_growth(new QTimer(this))
{
    const QString first = m_follow->endpoint(0);
    const QString second = m_follow->endpoint(1);
    m_choice->setObjectName(name + QStringLiteral("Choice"));
    m_choice->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_choice->addItem(tr("整个会话"));
    m_choice->addItem(QStringLiteral("%1 → %2").arg(first, second));
    m_choice->addItem(QStringLiteral("%1 → %2").arg(second, first));
    fitPopupToEntries(*m_choice);
    m_summary->setObjectName(name + QStringLiteral("Summary"));
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* bar = new QToolBar(title, this);
    bar->setObjectName(name + QStringLiteral("ToolBar"));
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
    connect(m_growth, &QTimer::timeout, this, &FollowWindow::takeNewBytes);
    if (m_grow)
        m_growth->start(kGrowInterval);
    else
        m_follow->finish();
}

FollowWindow::~FollowWindow() = default;

bool FollowWindow::setShown(Shown shown)
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

void FollowWindow::startDocument(QHexBuffer* buffer)
{
    m_started = true;
    m_dark = isDark();
    m_mark_colours.clear();
    setDocument(new QHexDocument(buffer));
}

bool FollowWindow::wanted(int direction) const
{
    return m_shown == Shown::Conversation || (m_shown == Shown::FirstSender) == (direction == 0);
}

void FollowWindow::addMark(qint64 begin, qint64 end, int colour, const QString& comment)
{
    m_mark_colours.push_back(static_cast<std::int8_t>(colour));
    view()->document()->metadata()->addRange(begin, end, QColor(), colourOf(colour), comment);
}

void FollowWindow::updateSummary()
{
    m_summary->setText(summary());
}

void FollowWindow::takeFrames()
{
    if (m_grow && !m_grow(*m_follow)) {
        m_grow = nullptr;
        m_growth->stop();
        m_follow->finish();
    }
}

QString FollowWindow::timeText(std::int64_t seconds, std::int64_t nanoseconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("HH:mm:ss"))
            + QStringLiteral(".%1").arg(nanoseconds, 9, 10, QLatin1Char('0'));
}

QColor FollowWindow::colourOf(int colour) const
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

void FollowWindow::followTheme()
{
    // Room for the longest choice beside the arrow: some style sheets draw
    // the arrow over the text's end.
    m_choice->setMinimumWidth(0);
    m_choice->setMinimumWidth(m_choice->sizeHint().width()
                              + m_choice->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    // The theme's colours are known once the window is polished; another
    // theme lays the annotations again in its colours (not an edit).
    if (!m_started || isDark() == m_dark)
        return;
    m_dark = isDark();
    // In place: edits have moved the annotations with their bytes, and their
    // undo puts them back.
    view()->document()->metadata()->recolor([this](int id, const QHexMetadataRange& range) {
        const bool ours = id >= 0 && static_cast<std::size_t>(id) < m_mark_colours.size();
        return ours ? qMakePair(QColor(), colourOf(m_mark_colours[static_cast<std::size_t>(id)]))
                    : qMakePair(range.foreground, range.background);
    });
}

void FollowWindow::showEvent(QShowEvent* e)
{
    HexWindow::showEvent(e);
    followTheme();
}

void FollowWindow::changeEvent(QEvent* e)
{
    HexWindow::changeEvent(e);
    // Looked at once the new style has reached every widget.
    if (e->type() == QEvent::StyleChange || e->type() == QEvent::PaletteChange)
        QTimer::singleShot(0, this, &FollowWindow::followTheme);
}

bool FollowWindow::isDark() const
{
    return view()->palette().color(QPalette::Base).lightness() < 128;
}
