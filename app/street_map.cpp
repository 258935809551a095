#include "app/street_map.hpp"

#include <QAbstractSeries>
#include <QChart>
#include <QChartView>
#include <QFontMetricsF>
#include <QGraphicsObject>
#include <QPainter>
#include <QPainterPathStroker>
#include <QValueAxis>

#include <algorithm>

#include "app/charts.hpp"

namespace trajix::gui {

namespace {

// The chart's series lie at z 4 (grid 2, axes 3): the map goes between the grid and
// the path.
constexpr double mapZ = 3.5;

const QColor buildingFill(205, 205, 205);
const QColor buildingEdge(165, 165, 165);
const QColor coveredColour(60, 60, 60);
const QColor lostColour(220, 30, 30, 150);

class StreetMapItem final : public QGraphicsObject {
public:
    static constexpr const char* name = "trajixStreetMap";
    explicit StreetMapItem(QChartView* view) : QGraphicsObject(view->chart()), view_(view)
    {
        setObjectName(name);
        setZValue(mapZ);
        QChart* chart = view->chart();
        connect(chart, &QChart::plotAreaChanged, this, [this] { changed(); });
        for (QAbstractAxis* axis : chart->axes())
            if (auto* value = qobject_cast<QValueAxis*>(axis))
                connect(value, &QValueAxis::rangeChanged, this, [this] { changed(); });
    }
    void setMap(StreetMap map)
    {
        map_ = std::move(map);
        changed();
    }
    const StreetMap& map() const { return map_; }
    QRectF boundingRect() const override { return view_->chart()->plotArea(); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* /*option*/, QWidget* /*widget*/) override
    {
        QChart* chart = view_->chart();
        if (map_.empty() && map_.lostFix.isEmpty()) return;
        const auto series = chart->series();
        if (series.isEmpty()) return;
        const QPointF origin = chart->mapToPosition(QPointF(0, 0), series.first());
        const QPointF unit = chart->mapToPosition(QPointF(1, 1), series.first());
        const double sx = unit.x() - origin.x(), sy = unit.y() - origin.y();
        if (!(sx > 0) || !(sy < 0)) return;
        painter->save();
        painter->setClipRect(chart->plotArea());
        painter->setRenderHint(QPainter::Antialiasing);
        const QTransform metres(sx, 0, 0, sy, origin.x(), origin.y());
        painter->setTransform(metres, true);
        const double pixel = 1 / sx;  // metres per pixel
        QPen edge(buildingEdge, 0.8);
        edge.setCosmetic(true);
        painter->setPen(edge);
        painter->setBrush(buildingFill);
        for (const QPainterPath& building : map_.buildings) painter->drawPath(building);
        // The lost fix: a red band a few pixels wide under the path's line.
        QPen lost(lostColour, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        lost.setCosmetic(true);
        painter->setPen(lost);
        painter->setBrush(Qt::NoBrush);
        for (const QPolygonF& stretch : map_.lostFix) {
            if (stretch.size() == 1)
                painter->drawPoint(stretch.first());
            else
                painter->drawPolyline(stretch);
        }
        // Covered areas and ways: shaded, within dashed edges as a map draws a tunnel (the
        // path runs along its middle, so the edges stand at least a few pixels off it).
        QPen dashed(coveredColour, 1.5, Qt::DashLine);
        dashed.setCosmetic(true);
        const QBrush shade(QColor(60, 60, 60, 45));
        for (const QPolygonF& area : map_.coveredAreas) {
            painter->setPen(dashed);
            painter->setBrush(shade);
            painter->drawPolygon(area);
        }
        for (qsizetype k = 0; k < map_.coveredWays.size(); ++k) {
            QPainterPath line;
            line.addPolygon(map_.coveredWays[k]);
            QPainterPathStroker stroker;
            stroker.setWidth(std::max(map_.coveredWidths.value(k, 0), 12 * pixel));
            stroker.setCapStyle(Qt::FlatCap);
            stroker.setJoinStyle(Qt::RoundJoin);
            const QPainterPath way = stroker.createStroke(line).simplified();
            painter->setPen(Qt::NoPen);
            painter->setBrush(shade);
            painter->drawPath(way);
            painter->setPen(dashed);
            painter->setBrush(Qt::NoBrush);
            painter->drawPath(way);
        }
        painter->restore();
        drawLegend(painter, chart->plotArea());
    }

private:
    void changed()
    {
        prepareGeometryChange();
        update();
    }
    // A small key in the plot's upper left corner: what each drawing means.
    void drawLegend(QPainter* painter, const QRectF& plot) const
    {
        struct Entry {
            int kind;
            const char* text;
        };
        QList<Entry> entries;
        if (!map_.buildings.isEmpty()) entries.append({0, "Buildings"});
        if (!map_.coveredWays.isEmpty() || !map_.coveredAreas.isEmpty()) entries.append({1, "Tunnel / covered"});
        if (!map_.lostFix.isEmpty()) entries.append({2, "Fix lost"});
        if (entries.isEmpty()) return;
        const QFontMetricsF metrics(painter->font());
        const double line = metrics.height(), key = 18;
        double width = 0;
        for (const Entry& entry : entries) width = std::max(width, metrics.horizontalAdvance(entry.text));
        const QRectF box(plot.left() + 6, plot.top() + 6, key + width + 14,
                         line * static_cast<double>(entries.size()) + 6);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(QColor(180, 180, 180), 1));
        painter->setBrush(QColor(255, 255, 255, 220));
        painter->drawRect(box);
        double y = box.top() + 3;
        for (const Entry& entry : entries) {
            const QRectF sample(box.left() + 4, y + line * 0.25, key, line * 0.5);
            switch (entry.kind) {
                case 0:
                    painter->setPen(QPen(buildingEdge, 1));
                    painter->setBrush(buildingFill);
                    painter->drawRect(sample);
                    break;
                case 1:
                    painter->setPen(Qt::NoPen);
                    painter->setBrush(QColor(60, 60, 60, 45));
                    painter->drawRect(sample);
                    painter->setPen(QPen(coveredColour, 1.5, Qt::DashLine));
                    painter->drawLine(sample.topLeft(), sample.topRight());
                    painter->drawLine(sample.bottomLeft(), sample.bottomRight());
                    break;
                default:
                    painter->setPen(QPen(lostColour, 6, Qt::SolidLine, Qt::RoundCap));
                    painter->drawLine(QPointF(sample.left() + 3, sample.center().y()),
                                      QPointF(sample.right() - 3, sample.center().y()));
            }
            painter->setPen(QColor(40, 40, 40));
            painter->drawText(QRectF(sample.right() + 6, y, width + 4, line), Qt::AlignLeft | Qt::AlignVCenter,
                              entry.text);
            y += line;
        }
        painter->restore();
    }

    QChartView* view_;
    StreetMap map_;
};

StreetMapItem* itemOf(QChartView* view)
{
    for (QGraphicsItem* child : view->chart()->childItems())
        if (auto* object = dynamic_cast<StreetMapItem*>(child)) return object;
    return nullptr;
}

}  // namespace

void showStreetMap(QChartView* view, StreetMap map)
{
    StreetMapItem* item = itemOf(view);
    if (!item) item = new StreetMapItem(view);
    item->setMap(std::move(map));
}

const StreetMap& streetMapOf(QChartView* view)
{
    static const StreetMap none;
    const StreetMapItem* item = itemOf(view);
    return item ? item->map() : none;
}

}  // namespace trajix::gui
