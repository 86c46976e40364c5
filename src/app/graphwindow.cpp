// SPDX-License-Identifier: GPL-2.0-or-later

#include "graphwindow.h"

#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableWidget>

#include "graphplot.h"

namespace {

constexpr int kHexColumn = 7; // made current: the payload shows
constexpr double kZoomStep = 0.8;

} // namespace

GraphWindow::GraphWindow(QTableWidget* table, QWidget* parent)
    : QMainWindow(parent)
    , m_table(table)
    , m_plot(new GraphPlot(this))
{
    setWindowFlag(Qt::Window);
    setAttribute(Qt::WA_DeleteOnClose);
    setCentralWidget(m_plot);
    // Set, not taken from the contents: a graph is usable this small, and the
    // least size stays the same as the bar's texts change.
    setMinimumSize(480, 320);
    resize(900, 560);

    QMenu* file = menuBar()->addMenu(tr("文件"));
    QAction* save = file->addAction(tr("保存图片..."), this, &GraphWindow::askToSavePicture);
    save->setObjectName(QStringLiteral("actionSavePicture"));
    save->setShortcut(QKeySequence::Save);
    file->addSeparator();
    QAction* close = file->addAction(tr("关闭"), this, &QWidget::close);
    close->setObjectName(QStringLiteral("actionClose"));
    close->setShortcut(QKeySequence::Close);

    m_view = menuBar()->addMenu(tr("查看"));
    QMenu* view = m_view;
    QAction* zoomIn = view->addAction(tr("放大"), m_plot, [this] { m_plot->zoom(kZoomStep); });
    zoomIn->setObjectName(QStringLiteral("actionZoomIn"));
    zoomIn->setShortcuts({ QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal) });
    QAction* zoomOut = view->addAction(tr("缩小"), m_plot, [this] { m_plot->zoom(1 / kZoomStep); });
    zoomOut->setObjectName(QStringLiteral("actionZoomOut"));
    zoomOut->setShortcut(QKeySequence::ZoomOut);
    QAction* all = view->addAction(tr("显示全部"), m_plot, &GraphPlot::showAll);
    all->setObjectName(QStringLiteral("actionShowAll"));
    all->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));

    statusBar()->showMessage(tr("滚轮缩放 (Ctrl: 只缩放时间), 拖动平移, 方向键平移, Home 显示全部; "
                                "单击一个点选中它的行"));
    m_plot->setFocus();
}

GraphWindow::~GraphWindow() = default;

void GraphWindow::showRow(int row)
{
    if (m_rows_kept && !m_rows_kept()) {
        statusBar()->showMessage(tr("表格已清空, 此图的行已不在其中"));
        return;
    }
    if (m_table == nullptr || row < 0 || row >= m_table->rowCount())
        return;
    m_chosen = row;
    m_table->setCurrentCell(row, kHexColumn);
    if (QTableWidgetItem* item = m_table->item(row, kHexColumn))
        m_table->scrollToItem(item, QAbstractItemView::PositionAtCenter);
    statusBar()->showMessage(m_table->isRowHidden(row) ? tr("第 %1 行 (被筛选隐藏)").arg(row + 1)
                                                       : tr("第 %1 行").arg(row + 1));
}

bool GraphWindow::savePicture(const QString& path)
{
    const bool saved = path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)
            ? m_plot->savePdf(path)
            : m_plot->savePng(path);
    if (!saved)
        QMessageBox::warning(this, tr("保存图片"), tr("无法写入图片: %1").arg(path));
    return saved;
}

void GraphWindow::askToSavePicture()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("保存图片"), QString(),
                                                      tr("PNG 图片 (*.png);;PDF 文件 (*.pdf)"));
    if (!path.isEmpty())
        savePicture(path);
}
