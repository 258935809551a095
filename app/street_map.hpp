#pragma once
// The street under a route's position chart: building footprints (light grey), tunnels
// and covered ways (shaded as wide as they are, within dark dashed edges) and the
// stretches of the path where the receiver has lost its fix (a red band under the
// path), in the chart's own east and north metres, redrawn as the axes move.
#include <QList>
#include <QPainterPath>
#include <QPolygonF>

class QChartView;

namespace trajix::gui {

/// What the map shows, in the chart's east/north metres.
struct StreetMap {
    QList<QPainterPath> buildings;  ///< one per footprint, holes included (odd-even fill)
    QList<QPolygonF> coveredWays;   ///< the centre lines of tunnels and covered ways
    QList<double> coveredWidths;    ///< their widths, metres
    QList<QPolygonF> coveredAreas;
    QList<QPolygonF> lostFix;  ///< stretches of the path without a fix (a single point: one sample)
    bool empty() const { return buildings.isEmpty() && coveredWays.isEmpty() && coveredAreas.isEmpty(); }
};

/// Draws map under (and the lost fix over) the first series of view's chart; an empty
/// map takes the drawing away.
void showStreetMap(QChartView* view, StreetMap map);

/// The map shown in view (empty when none).
const StreetMap& streetMapOf(QChartView* view);

}  // namespace trajix::gui
