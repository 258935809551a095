// The sky of a route's first fix: polar plot and C/N0 bars.
#include "app/sky_view.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace trajix::gui {

namespace {

constexpr double cn0Top = 50;  // dB-Hz at the top of the bars

constexpr sky::GnssSystem systemOrder[] = {sky::GnssSystem::gps, sky::GnssSystem::galileo, sky::GnssSystem::beidou,
                                           sky::GnssSystem::glonass};

// Each system's colour, told apart also by those who confuse red and green (blue, green,
// vermilion, orange-yellow of the Okabe-Ito set).
QColor systemColour(sky::GnssSystem system)
{
    switch (system) {
        case sky::GnssSystem::gps:
            return {0, 110, 200};
        case sky::GnssSystem::galileo:
            return {0, 158, 115};
        case sky::GnssSystem::beidou:
            return {213, 94, 0};
        case sky::GnssSystem::glonass:
            return {204, 150, 0};
    }
    return {0, 110, 200};
}

// Each system's mark, half-size `half` around at: GPS a circle, Galileo a square,
// BeiDou a triangle, GLONASS a diamond; filled when in use.
void drawMark(QPainter& painter, sky::GnssSystem system, QPointF at, double half, bool filled)
{
    const QColor colour = systemColour(system);
    painter.setPen(QPen(colour, 1.5));
    painter.setBrush(filled ? QBrush(colour) : Qt::NoBrush);
    switch (system) {
        case sky::GnssSystem::gps:
            painter.drawEllipse(at, half, half);
            return;
        case sky::GnssSystem::galileo:
            painter.drawRect(QRectF(at - QPointF(half * 0.9, half * 0.9), QSizeF(half * 1.8, half * 1.8)));
            return;
        case sky::GnssSystem::beidou:
            painter.drawPolygon(QPolygonF{at + QPointF(0, -half * 1.1), at + QPointF(half * 1.1, half * 0.85),
                                          at + QPointF(-half * 1.1, half * 0.85)});
            return;
        case sky::GnssSystem::glonass:
            painter.drawPolygon(QPolygonF{at + QPointF(0, -half * 1.2), at + QPointF(half * 1.2, 0),
                                          at + QPointF(0, half * 1.2), at + QPointF(-half * 1.2, 0)});
            return;
    }
}

// The system's name in the legend: form 0 in full, 1 short, 2 its RINEX letter.
QString systemLabel(sky::GnssSystem system, int form)
{
    if (form == 2) return QString(QChar(sky::rinexLetter(system)));
    switch (system) {
        case sky::GnssSystem::gps:
            return "GPS";
        case sky::GnssSystem::galileo:
            return form == 0 ? "Galileo" : "GAL";
        case sky::GnssSystem::beidou:
            return form == 0 ? "BeiDou" : "BDS";
        case sky::GnssSystem::glonass:
            return form == 0 ? "GLONASS" : "GLO";
    }
    return {};
}

}  // namespace

SkyPlot::SkyPlot(QWidget* parent) : QWidget(parent)
{
    setObjectName("SkyPlot");
    setToolTip(
        "Satellites of the route's first fix after Preview or Generate: the polar plot shows azimuth around "
        "(north up) and elevation inward (horizon on the rim, zenith in the centre), each system with its "
        "colour and mark (legend above the bars), filled when in use; "
        "the bars show each satellite's C/N0 in dB-Hz");
}

void SkyPlot::setSky(std::optional<sky::SkyView> view)
{
    sky_ = std::move(view);
    update();
}

void SkyPlot::setEmptyText(const QString& text)
{
    emptyText_ = text;
    update();
}

QPointF SkyPlot::polarPoint(QPointF centre, double radius, double azimuth, double elevation)
{
    const double r = radius * (90 - std::clamp(elevation, 0.0, 90.0)) / 90;
    const double a = azimuth * std::numbers::pi / 180;
    return {centre.x() + r * std::sin(a), centre.y() - r * std::cos(a)};
}

void SkyPlot::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect().adjusted(2, 2, -2, -2);
    painter.fillRect(rect(), palette().base());
    if (!sky_) {
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(area, Qt::AlignCenter, emptyText_);
        return;
    }
    const QFontMetricsF metrics(painter.font());
    const double lineHeight = metrics.height();

    // The polar plot takes a square on the left.
    const double side = std::min(area.height(), area.width() * 0.45);
    const double radius = side / 2 - lineHeight;
    const QPointF centre(area.left() + side / 2, area.top() + side / 2);
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(Qt::NoBrush);
    for (const double elevation : {0.0, 30.0, 60.0}) {
        const double r = radius * (90 - elevation) / 90;
        painter.drawEllipse(centre, r, r);
    }
    for (int azimuth = 0; azimuth < 360; azimuth += 45)
        painter.drawLine(centre, polarPoint(centre, radius, azimuth, 0));
    painter.setPen(palette().color(QPalette::Text));
    const double gap = lineHeight * 0.55;
    painter.drawText(QRectF(centre.x() - 10, centre.y() - radius - lineHeight - 1, 20, lineHeight), Qt::AlignCenter,
                     "N");
    painter.drawText(QRectF(centre.x() + radius + 2, centre.y() - gap, lineHeight, lineHeight), Qt::AlignLeft, "E");
    painter.drawText(QRectF(centre.x() - 10, centre.y() + radius + 1, 20, lineHeight), Qt::AlignCenter, "S");
    painter.drawText(QRectF(centre.x() - radius - lineHeight - 2, centre.y() - gap, lineHeight, lineHeight),
                     Qt::AlignRight, "W");

    const double dot = std::max(4.0, lineHeight * 0.4);
    // Each PRN takes the first place around its dot that no dot or label holds yet.
    std::vector<QRectF> labels;
    for (const sky::SatelliteView& satellite : sky_->satellites) {
        const QPointF at = polarPoint(centre, radius, satellite.azimuth, satellite.elevation);
        labels.emplace_back(at - QPointF(dot, dot), QSizeF(2 * dot, 2 * dot));
    }
    for (const sky::SatelliteView& satellite : sky_->satellites) {
        const QPointF at = polarPoint(centre, radius, satellite.azimuth, satellite.elevation);
        drawMark(painter, satellite.system, at, dot, satellite.used);
        const QString prn = QString::number(satellite.prn);
        const QSizeF size(metrics.horizontalAdvance(prn), lineHeight);
        const QPointF places[] = {{dot + 1, -size.height()},
                                  {-dot - 1 - size.width(), -size.height()},
                                  {dot + 1, 0},
                                  {-dot - 1 - size.width(), 0}};
        QRectF label(at + places[0], size);
        for (const QPointF& place : places) {
            const QRectF candidate(at + place, size);
            if (std::none_of(labels.begin(), labels.end(),
                             [&](const QRectF& other) { return other.intersects(candidate); })) {
                label = candidate;
                break;
            }
        }
        labels.push_back(label);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(label, Qt::AlignCenter, prn);
    }

    // The bars: one per PRN, C/N0 from 0 to cn0Top dB-Hz, the PRN under each.
    const double left = area.left() + side + lineHeight;
    const QRectF bars(left, area.top() + lineHeight, area.right() - left, area.height() - 2.5 * lineHeight);
    if (bars.width() < 20 || sky_->satellites.empty()) {
        if (sky_->satellites.empty())
            painter.drawText(QRectF(left, area.top(), area.right() - left, area.height()), Qt::AlignCenter,
                             "No satellite above the mask");
        return;
    }
    painter.drawText(QRectF(left, area.top(), bars.width(), lineHeight), Qt::AlignLeft, "C/N0 (dB-Hz)");
    // The legend: the mark and name of every system in the sky, right of the title.
    std::vector<sky::GnssSystem> shown;
    for (const sky::GnssSystem system : systemOrder)
        if (std::any_of(sky_->satellites.begin(), sky_->satellites.end(),
                        [&](const sky::SatelliteView& s) { return s.system == system; }))
            shown.push_back(system);
    // Names as long as the room allows: full, short, or the RINEX letter.
    const double room = area.right() - left - metrics.horizontalAdvance("C/N0 (dB-Hz)") - 8;
    int form = 0;
    for (; form < 2; ++form) {
        double width = 0;
        for (const sky::GnssSystem system : shown)
            width += metrics.horizontalAdvance(systemLabel(system, form)) + 2 * dot + 11;
        if (width <= room) break;
    }
    double x = area.right();
    for (auto system = shown.rbegin(); system != shown.rend(); ++system) {
        const QString name = systemLabel(*system, form);
        const double width = metrics.horizontalAdvance(name);
        x -= width;
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QRectF(x, area.top(), width, lineHeight), Qt::AlignLeft, name);
        x -= dot + 3;
        drawMark(painter, *system, QPointF(x, area.top() + lineHeight / 2), dot * 0.8, true);
        x -= dot + 8;
    }
    const double slot = bars.width() / static_cast<double>(sky_->satellites.size());
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawLine(bars.bottomLeft(), bars.bottomRight());
    for (std::size_t k = 0; k < sky_->satellites.size(); ++k) {
        const sky::SatelliteView& satellite = sky_->satellites[k];
        const double height = bars.height() * std::clamp(satellite.cn0, 0.0, cn0Top) / cn0Top;
        const QRectF bar(bars.left() + slot * static_cast<double>(k) + slot * 0.15, bars.bottom() - height, slot * 0.7,
                         height);
        const QColor colour = systemColour(satellite.system);
        painter.setPen(QPen(colour, 1));
        painter.setBrush(satellite.used ? QBrush(colour) : Qt::NoBrush);
        painter.drawRect(bar);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(QRectF(bar.left() - slot * 0.15, bars.bottom(), slot, lineHeight), Qt::AlignCenter,
                         QString::number(satellite.prn));
        painter.drawText(QRectF(bar.left() - slot * 0.15, bar.top() - lineHeight, slot, lineHeight), Qt::AlignCenter,
                         QString::number(std::lround(satellite.cn0)));
    }
}

}  // namespace trajix::gui
