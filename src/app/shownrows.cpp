// SPDX-License-Identifier: GPL-2.0-or-later

#include "shownrows.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>

#include "capturefilter.h"
#include "filtersettings.h"
#include "packetrows.h"

namespace {

// How long the counts in the title may lag behind rows that arrive.
constexpr int kCountsDelayMs = 250;

constexpr signed char kUnknown = -1;

bool any_list(const FilterSettings& settings)
{
    return settings.include_ip_enabled || settings.include_port_enabled
            || settings.exclude_ip_enabled || settings.exclude_port_enabled;
}

} // namespace

ShownRows::ShownRows(QTableWidget* table, const PacketRows& rows, QWidget* window)
    : QObject(table)
    , m_table(table)
    , m_rows(rows)
    , m_window(window)
    , m_own_title(window->windowTitle())
{
    // Titles set while narrowed (a capture's start and stop) come back when
    // every row is shown again.
    connect(window, &QWidget::windowTitleChanged, this, [this](const QString& title) {
        if (title == m_counts_title)
            return;
        m_own_title = title;
        if (narrowed())
            m_counts_timer.start(0);
    });
    m_counts_timer.setSingleShot(true);
    connect(&m_counts_timer, &QTimer::timeout, this, &ShownRows::show_counts);
    connect(table->model(), &QAbstractItemModel::rowsInserted, this, [this] {
        if (narrowed() && !m_counts_timer.isActive())
            m_counts_timer.start(kCountsDelayMs);
    });
    // Cleared: nothing is hidden any more, and the lists narrow no more.
    connect(table->model(), &QAbstractItemModel::rowsRemoved, this, [this] {
        if (m_table->rowCount() > 0)
            return;
        m_judged = 0;
        const bool was_narrowed = narrowed();
        m_hidden = 0;
        stop_narrowing(); // the rows a choice kept are gone too
        if (was_narrowed)
            show_counts();
    });
}

ShownRows::~ShownRows() = default;

void ShownRows::stop_narrowing()
{
    m_verdicts.clear();
    if (!narrowing())
        return;
    m_lists.reset();
    m_keep = nullptr;
    emit narrowing_changed();
}

// The lists look at addresses and ports alone, both ways round: one verdict
// per address and port pair. Rows not in a pair are judged one by one.
bool ShownRows::passes(int row)
{
    if (m_keep && !m_keep(row))
        return false;
    if (m_lists == nullptr)
        return true;
    const int pair = m_rows.pairs().pair_of(row);
    const auto index = static_cast<std::size_t>(pair);
    if (pair >= 0 && index < m_verdicts.size() && m_verdicts[index] != kUnknown)
        return m_verdicts[index] == 1;
    // What the row keeps is a record line with the payload's hex text or
    // without it: the lists do not look there.
    const std::string_view text = m_rows.kept_text(row);
    const bool pass = filter_accepts(*m_lists,
                                     QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    if (pair >= 0) {
        if (index >= m_verdicts.size())
            m_verdicts.resize(index + 1, kUnknown);
        m_verdicts[index] = pass ? 1 : 0;
    }
    return pass;
}

int ShownRows::narrow(const FilterSettings& settings, std::function<bool(int row)> keep)
{
    const int rows = std::min(m_table->rowCount(), m_rows.count());
    const bool all = !any_list(settings);
    const bool was_narrowing = narrowing();
    m_verdicts.clear();
    m_judged = rows;
    m_keep = std::move(keep);
    if (all) {
        m_lists.reset();
    } else {
        m_lists = std::make_unique<FilterSettings>(settings);
        m_lists->capture_filter_on = false; // rows, not frames
    }
    if (was_narrowing != narrowing())
        emit narrowing_changed();
    if (all && !m_keep && m_hidden == 0)
        return rows;

    // Hiding a row makes a header that paints recompute every section's
    // place, once per row: without its updates the whole costs what one
    // row does.
    QHeaderView* header = m_table->verticalHeader();
    const bool updates = header->updatesEnabled();
    header->setUpdatesEnabled(false);
    int hidden = 0;
    for (int row = 0; row < rows; ++row) {
        const bool pass = passes(row);
        if (m_table->isRowHidden(row) == pass)
            m_table->setRowHidden(row, !pass);
        hidden += pass ? 0 : 1;
    }
    header->setUpdatesEnabled(updates);
    m_hidden = hidden;
    show_counts();
    return rows - hidden;
}

void ShownRows::arrived(int row)
{
    if (!narrowing() || row < m_judged || row >= m_table->rowCount() || row >= m_rows.count()) {
        m_judged = std::max(m_judged, row + 1);
        return;
    }
    m_judged = row + 1;
    if (passes(row))
        return;
    m_table->setRowHidden(row, true);
    ++m_hidden;
    // The counts come a moment later, as for rows that are shown.
    if (!m_counts_timer.isActive())
        m_counts_timer.start(kCountsDelayMs);
}

int ShownRows::shown() const
{
    return total() - m_hidden;
}

int ShownRows::total() const
{
    return m_table->rowCount();
}

void ShownRows::show_counts()
{
    m_counts_timer.stop();
    if (!narrowed()) {
        const bool was_narrowed = !m_counts_title.isEmpty();
        m_counts_title.clear();
        m_window->setWindowTitle(m_own_title);
        // The row the user was on stays in sight among all the others, once
        // the table has laid them out (its scroll range is still that of
        // the shown rows until it does).
        const QModelIndex current = m_table->currentIndex();
        if (was_narrowed && current.isValid()) {
            m_table->doItemsLayout();
            m_table->scrollTo(current, QAbstractItemView::PositionAtCenter);
        }
        return;
    }
    const QLocale locale;
    m_counts_title = tr("显示 %1 / %2 行").arg(locale.toString(shown()), locale.toString(total()));
    m_window->setWindowTitle(m_counts_title);
}

std::optional<bool> ask_to_save_shown_rows(QWidget* parent, int shown, int total)
{
    const QLocale locale;
    QMessageBox box(QMessageBox::Question, ShownRows::tr("保存捕获文件"),
                    ShownRows::tr("只显示了 %1 行, 共 %2 行。要保存哪些行?")
                            .arg(locale.toString(shown), locale.toString(total)),
                    QMessageBox::NoButton, parent);
    QPushButton* only_shown = box.addButton(ShownRows::tr("已显示的行"), QMessageBox::YesRole);
    QPushButton* all = box.addButton(ShownRows::tr("全部行"), QMessageBox::NoRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(only_shown);
    box.exec();
    if (box.clickedButton() == only_shown)
        return true;
    if (box.clickedButton() == all)
        return false;
    return std::nullopt;
}
