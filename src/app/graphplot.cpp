// SPDX-License-Identifier: GPL-2.0-or-later

#include "graphplot.h"

#include <array>

#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QTimer>
#include <QWheelEvent>

namespace {

constexpr double kZoomStep = 0.8; // + and - zoom by this, or by its inverse
constexpr double kPanStep = 0.1; // of the shown range, per arrow key
constexpr double kMargin = 0.03; // around all the data, of its extent

// Ten colours that keep apart from each other; each deeper on a light
// background, brighter on a dark one.
constexpr std::array<QRgb, 10> kLightColours { 0x1f77b4, 0xd62728, 0x2ca02c, 0xff7f0e, 0x9467bd,
                                               0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf };
constexpr std::array<QRgb, 10> kDarkColours { 0x6cb4ee, 0xff6b6b, 0x7bd67b, 0xffb057, 0xc5a3f0,
                                              0xd6a48c, 0xf7a8de, 0xc8c8c8, 0xe4e55a, 0x5fe3f2 };

QColor mixed(const QColor& a, const QColor& b, double share_of_b)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * share_of_b,
                            a.greenF() + (b.greenF() - a.greenF()) * share_of_b,
                            a.blueF() + (b.blueF() - a.blueF()) * share_of_b);
}

void widen(QCPAxis* axis)
{
    const QCPRange range = axis->range();
    const double margin = range.size() > 0 ? range.size() * kMargin : 1;
    axis->setRange(range.lower - margin, range.upper + margin);
}

} // namespace

GraphPlot::GraphPlot(QWidget* parent)
    : QCustomPlot(parent)
{
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Lines drawn straight while the user drags: panning a million points
    // stays smooth.
    setNoAntialiasingOnDrag(true);
    setPlottingHint(QCP::phCacheLabels);
    setFocusPolicy(Qt::StrongFocus);
    setValueAxes({ yAxis });
    connect(this, &QCustomPlot::plottableClick, this,
            [this](QCPAbstractPlottable* plottable, int index, QMouseEvent* event) {
                emit pointClicked(plottable, index, xAxis->pixelToCoord(event->pos().x()));
            });
    applyTheme();
}

void GraphPlot::setValueAxes(const QList<QCPAxis*>& axes)
{
    m_value_axes = axes;
    axisRect()->setRangeDragAxes({ xAxis }, m_value_axes);
    axisRect()->setRangeZoomAxes({ xAxis }, m_value_axes);
    // A range the user changed (a drag, the wheel) ends the following.
    QList<QCPAxis*> moved = m_value_axes;
    moved.append(xAxis);
    for (QCPAxis* axis : std::as_const(moved)) {
        disconnect(axis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, nullptr);
        connect(axis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, [this] {
            if (!m_fitting)
                m_follows = false;
        });
    }
}

void GraphPlot::zoom(double factor)
{
    m_follows = false;
    xAxis->scaleRange(factor);
    for (QCPAxis* axis : std::as_const(m_value_axes))
        axis->scaleRange(factor);
    replot(rpQueuedReplot);
}

void GraphPlot::pan(double x, double y)
{
    m_follows = false;
    xAxis->moveRange(xAxis->range().size() * x);
    for (QCPAxis* axis : std::as_const(m_value_axes))
        axis->moveRange(axis->range().size() * y);
    replot(rpQueuedReplot);
}

void GraphPlot::showAll()
{
    m_follows = true;
    dataChanged();
}

void GraphPlot::dataChanged()
{
    if (m_follows) {
        const QScopedValueRollback<bool> fitting(m_fitting, true);
        rescaleAxes(true);
        widen(xAxis);
        for (QCPAxis* axis : std::as_const(m_value_axes)) {
            // Counts and sequence numbers start at 0 (or below, a
            // sequence number before the first one seen).
            const QCPRange range = axis->range();
            axis->setRange(std::min(0.0, range.lower), range.upper);
            widen(axis);
        }
    }
    replot(rpQueuedReplot);
}

bool GraphPlot::isDark() const
{
    return palette().color(QPalette::Window).lightness() < 128;
}

QColor GraphPlot::seriesColour(int index) const
{
    const auto at = static_cast<std::size_t>(index) % kLightColours.size();
    return QColor(m_dark ? kDarkColours[at] : kLightColours[at]);
}

void GraphPlot::applyTheme()
{
    m_dark = isDark();
    m_themed = true;
    const QColor background = palette().color(QPalette::Window);
    const QColor text = palette().color(QPalette::WindowText);
    const QColor grid = mixed(background, text, 0.18);
    const QColor sub_grid = mixed(background, text, 0.08);
    setBackground(background);
    for (QCPAxis* axis : axisRect()->axes()) {
        axis->setBasePen(QPen(text));
        axis->setTickPen(QPen(text));
        axis->setSubTickPen(QPen(text));
        axis->setTickLabelColor(text);
        axis->setLabelColor(text);
        axis->setTickLabelFont(font());
        axis->setLabelFont(font());
        axis->grid()->setPen(QPen(grid, 0, Qt::DotLine));
        axis->grid()->setSubGridPen(QPen(sub_grid, 0, Qt::DotLine));
        axis->grid()->setZeroLinePen(QPen(grid));
    }
    QColor legend_background = background;
    legend_background.setAlpha(220);
    legend->setBrush(legend_background);
    legend->setBorderPen(QPen(grid));
    legend->setTextColor(text);
    legend->setFont(font());
    emit themeApplied();
    replot(rpQueuedReplot);
}

void GraphPlot::showEvent(QShowEvent* event)
{
    QCustomPlot::showEvent(event);
    // The theme's palette is known once the widget is polished.
    if (!m_themed || isDark() != m_dark)
        applyTheme();
}

void GraphPlot::changeEvent(QEvent* event)
{
    QCustomPlot::changeEvent(event);
    // Looked at once the new style has reached every widget.
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange
        || event->type() == QEvent::FontChange)
        QTimer::singleShot(0, this, &GraphPlot::applyTheme);
}

void GraphPlot::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(kZoomStep);
        return;
    case Qt::Key_Minus:
        zoom(1 / kZoomStep);
        return;
    case Qt::Key_Left:
        pan(-kPanStep, 0);
        return;
    case Qt::Key_Right:
        pan(kPanStep, 0);
        return;
    case Qt::Key_Up:
        pan(0, kPanStep);
        return;
    case Qt::Key_Down:
        pan(0, -kPanStep);
        return;
    case Qt::Key_Home:
        showAll();
        return;
    default:
        QCustomPlot::keyPressEvent(event);
    }
}

void GraphPlot::wheelEvent(QWheelEvent* event)
{
    Qt::Orientations zoomed = Qt::Horizontal | Qt::Vertical;
    if (event->modifiers() & Qt::ControlModifier)
        zoomed = Qt::Horizontal;
    else if (event->modifiers() & Qt::ShiftModifier)
        zoomed = Qt::Vertical;
    axisRect()->setRangeZoom(zoomed);
    QCustomPlot::wheelEvent(event);
}
