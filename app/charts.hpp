#pragma once
// Chart helpers the tabs share.
#include <QtCore/qnamespace.h>

class QChartView;
class QValueAxis;

namespace trajix::gui {

/// The chart's first value axis of that orientation, or nullptr.
QValueAxis* valueAxis(QChartView* view, Qt::Orientation orientation);

/// Shows at least the given east (x) and north (y) ranges in metres with one metre as
/// long on screen east as north: the axis along the longer side of the plot area gets
/// the room that side has to spare, centred, and the grid lines are square. Follows
/// every later change of the plot area (resizing, wider labels).
void showEqualScale(QChartView* view, double minX, double maxX, double minY, double maxY);

}  // namespace trajix::gui
