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

enum class Verdict : signed char { Unknown = -1, Hidden = 0, Shown = 1 };

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
    // Cleared: nothing is hidden any more.
    connect(table->model(), &QAbstractItemModel::rowsRemoved, this, [this] {
        if (m_table->rowCount() > 0)
            return;
        m_keep = nullptr; // of rows that are gone
        if (!narrowed())
            return;
        m_hidden = 0;
        show_counts();
    });
}

int ShownRows::narrow(const FilterSettings& settings, std::function<bool(int row)> keep)
{
    m_keep = std::move(keep);
    const int rows = std::min(m_table->rowCount(), m_rows.count());
    const bool all = !settings.include_ip_enabled && !settings.include_port_enabled
            && !settings.exclude_ip_enabled && !settings.exclude_port_enabled;
    if (all && !m_keep && m_hidden == 0)
        return rows;

    // The lists look at addresses and ports alone, both ways round: one
    // verdict per address and port pair. Rows not in a pair are judged one
    // by one.
    const TcpPairIndex& pairs = m_rows.pairs();
    std::vector<Verdict> verdicts;
    const auto passes = [&](int row) {
        if (all)
            return true;
        const int pair = pairs.pair_of(row);
        if (pair >= 0 && static_cast<std::size_t>(pair) < verdicts.size()
            && verdicts[static_cast<std::size_t>(pair)] != Verdict::Unknown)
            return verdicts[static_cast<std::size_t>(pair)] == Verdict::Shown;
        // What the row keeps is a record line with the payload's hex text or
        // without it: the lists do not look there.
        const std::string_view text = m_rows.kept_text(row);
        const bool pass = filter_accepts(
                settings, QString::fromUtf8(text.data(), static_cast<int>(text.size())));
        if (pair >= 0) {
            if (static_cast<std::size_t>(pair) >= verdicts.size())
                verdicts.resize(static_cast<std::size_t>(pair) + 1, Verdict::Unknown);
            verdicts[static_cast<std::size_t>(pair)] = pass ? Verdict::Shown : Verdict::Hidden;
        }
        return pass;
    };

    // Hiding a row makes a header that paints recompute every section's
    // place, once per row: without its updates the whole costs what one
    // row does.
    QHeaderView* header = m_table->verticalHeader();
    const bool updates = header->updatesEnabled();
    header->setUpdatesEnabled(false);
    int hidden = 0;
    for (int row = 0; row < rows; ++row) {
        const bool pass = (!m_keep || m_keep(row)) && passes(row);
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
    if (!m_keep || row < 0 || row >= m_table->rowCount() || m_table->isRowHidden(row)
        || m_keep(row))
        return;
    m_table->setRowHidden(row, true);
    ++m_hidden;
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
        m_counts_title.clear();
        m_window->setWindowTitle(m_own_title);
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
