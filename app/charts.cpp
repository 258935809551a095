#include "app/charts.hpp"

#include <QChart>
#include <QChartView>
#include <QEvent>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace trajix::gui {

namespace {

/// 1, 2 or 5 times a power of ten, at least the given step.
double roundStep(double least)
{
    if (!(least > 0)) return 1;
    const double decade = std::pow(10.0, std::floor(std::log10(least)));
    for (double factor : {1.0, 2.0, 5.0})
        if (factor * decade >= least) return factor * decade;
    return 10 * decade;
}

/// Keeps one metre as long on screen east as north: the chart's square ranges are the
/// least it shows, and the axis along the longer side of the plot area gets the room
/// that side has to spare, centred. Follows every change of the plot area.
class EqualScale final : public QObject {
public:
    static constexpr const char* name = "trajixEqualScale";
    explicit EqualScale(QChartView* view) : QObject(view), view_(view)
    {
        setObjectName(name);
        // Queued: new ranges may move the plot area again (wider labels), and the chart
        // lays itself out later; a few rounds settle it.
        connect(
            view->chart(), &QChart::plotAreaChanged, this,
            [this] {
                if (rounds_++ < 4) apply();
            },
            Qt::QueuedConnection);
        view->installEventFilter(this);
    }
    void setRanges(double minX, double maxX, double minY, double maxY)
    {
        minX_ = minX, maxX_ = maxX, minY_ = minY, maxY_ = maxY;
        rounds_ = 0;
        apply();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize) rounds_ = 0;
        return QObject::eventFilter(watched, event);
    }

private:
    void apply()
    {
        QValueAxis* x = valueAxis(view_, Qt::Horizontal);
        QValueAxis* y = valueAxis(view_, Qt::Vertical);
        if (!x || !y) return;
        double minX = minX_, maxX = maxX_, minY = minY_, maxY = maxY_;
        const QRectF plot = view_->chart()->plotArea();
        if (plot.width() > 1 && plot.height() > 1) {
            // A little room around the route keeps its outermost points off the frame.
            const double perPixel = 1.04 * std::max((maxX - minX) / plot.width(), (maxY - minY) / plot.height());
            const double centreX = (minX + maxX) / 2, centreY = (minY + maxY) / 2;
            minX = centreX - perPixel * plot.width() / 2, maxX = centreX + perPixel * plot.width() / 2;
            minY = centreY - perPixel * plot.height() / 2, maxY = centreY + perPixel * plot.height() / 2;
        }
        // Grid lines on round metres, the same step both ways, so the grid is square.
        const double step = roundStep(std::max(maxX - minX, maxY - minY) / 6);
        // The axis lays out its ticks at once on every change: a wide range under the old
        // fine step would make one tick per step (8000 for 16 km at 2 m, seconds of work).
        // A coarser step goes first, a finer one last, so no moment has more ticks than
        // the ranges before or after.
        const bool coarser = x->tickType() != QValueAxis::TicksDynamic || step > x->tickInterval();
        const auto setSteps = [x, y, step] {
            for (QValueAxis* axis : {x, y}) {
                axis->setTickAnchor(0);
                axis->setTickInterval(step);
                axis->setTickType(QValueAxis::TicksDynamic);
            }
        };
        if (coarser) setSteps();
        x->setRange(minX, maxX);
        y->setRange(minY, maxY);
        if (!coarser) setSteps();
    }

    QChartView* view_;
    double minX_ = 0, maxX_ = 1, minY_ = 0, maxY_ = 1;
    int rounds_ = 0;  // re-fits since the ranges were set or the view resized
};

}  // namespace

QValueAxis* valueAxis(QChartView* view, Qt::Orientation orientation)
{
    const auto axes = view->chart()->axes(orientation);
    return axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
}

void showEqualScale(QChartView* view, double minX, double maxX, double minY, double maxY)
{
    // EqualScale has no meta-object of its own, so it is found by its name.
    auto* scale = static_cast<EqualScale*>(view->findChild<QObject*>(EqualScale::name, Qt::FindDirectChildrenOnly));
    if (!scale) scale = new EqualScale(view);
    scale->setRanges(minX, maxX, minY, maxY);
}

}  // namespace trajix::gui
