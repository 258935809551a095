// The sky of a route's first fix: polar plot and C/N0 bars.
#include "app/sky_view.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "app/sky_start.hpp"

namespace trajix::gui {

namespace {

constexpr double cn0Top = 50;      // dB-Hz at the top of the bars
constexpr double barsWidth = 160;  // px the bars keep at least beside the polar plot

// The side of the polar plot's square: the plot's height, leaving the bars their room.
double polarSide(const QRectF& area)
{
    return std::max(0.0, std::min(area.height(), area.width() - barsWidth));
}

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
// BeiDou a triangle, GLONASS a diamond; filled when in use. A satellite received by a
// reflection only has a dashed outline (and a paler fill), one not received is grey
// and crossed.
void drawMark(QPainter& painter, sky::GnssSystem system, QPointF at, double half, bool filled,
              street::Reception reception = street::Reception::clear)
{
    QColor colour = systemColour(system);
    if (reception == street::Reception::blocked) colour = QColor(150, 150, 150);
    QPen pen(colour, 1.5);
    if (reception == street::Reception::reflected) pen.setStyle(Qt::DashLine);
    painter.setPen(pen);
    QColor fill = colour;
    if (reception == street::Reception::reflected) fill.setAlpha(110);
    painter.setBrush(filled ? QBrush(fill) : Qt::NoBrush);
    if (reception == street::Reception::blocked) {
        painter.drawLine(at + QPointF(-half, -half), at + QPointF(half, half));
        painter.drawLine(at + QPointF(-half, half), at + QPointF(half, -half));
    }
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

SkyPlot::SkyPlot(QWidget* parent) : QWidget(parent), emptyHint_(skyOffHint)
{
    setObjectName("SkyPlot");
    showHint();
}

void SkyPlot::showHint()
{
    setToolTip(sky_ ? QString("Satellites of the route's first fix after Preview or Generate: the polar plot shows "
                              "azimuth around (north up) and elevation inward (horizon on the rim, zenith in the "
                              "centre), each system with its colour and mark (legend above the bars), filled when in "
                              "use; the bars show "
                              "each satellite's C/N0 in dB-Hz" +
                              QString(street_ ? ". The grey area is the buildings' skyline around the first fix; a "
                                                "dashed mark is received by a reflection only, a grey crossed one "
                                                "not at all"
                                              : ""))
                    : emptyHint_);
}

void SkyPlot::setSky(std::optional<sky::SkyView> view, std::optional<Street> street)
{
    sky_ = std::move(view);
    street_ = sky_ ? std::move(street) : std::nullopt;
    showHint();
    update();
}

void SkyPlot::setEmptyText(const QString& text, const QString& hint)
{
    emptyText_ = text;
    emptyHint_ = hint;
    showHint();
    update();
}

street::Reception SkyPlot::reception(std::size_t k) const
{
    if (street_ && k < street_->reception.size()) return street_->reception[k];
    return street::Reception::clear;
}

QPointF SkyPlot::polarPoint(QPointF centre, double radius, double azimuth, double elevation)
{
    const double r = radius * (90 - std::clamp(elevation, 0.0, 90.0)) / 90;
    const double a = azimuth * std::numbers::pi / 180;
    return {centre.x() + r * std::sin(a), centre.y() - r * std::cos(a)};
}

SkyPlot::Layout SkyPlot::layout() const
{
    Layout out;
    const QFontMetricsF metrics(font());
    const double lineHeight = metrics.height();
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    // The polar plot takes a square on the left, the compass letters outside its rim.
    const double side = polarSide(area);
    const QRectF square(area.left(), area.top(), side, side);
    // A dot on the horizon reaches past the rim by its radius; the letters lie beyond.
    const double dot = std::max(4.0, lineHeight * 0.4);
    out.radius = side / 2 - lineHeight - dot - 2;
    out.centre = square.center();
    const QPointF centre = out.centre;
    const double radius = out.radius;
    const double letter = lineHeight, away = radius + dot + 1;
    out.compass[0] = QRectF(centre.x() - letter / 2, centre.y() - away - letter, letter, letter);
    out.compass[1] = QRectF(centre.x() + away, centre.y() - letter / 2, letter, letter);
    out.compass[2] = QRectF(centre.x() - letter / 2, centre.y() + away, letter, letter);
    out.compass[3] = QRectF(centre.x() - away - letter, centre.y() - letter / 2, letter, letter);
    if (!sky_) return out;

    for (const sky::SatelliteView& satellite : sky_->satellites) {
        const QPointF at = polarPoint(centre, radius, satellite.azimuth, satellite.elevation);
        out.dots.emplace_back(at - QPointF(dot, dot), QSizeF(2 * dot, 2 * dot));
    }
    // Each PRN takes the nearest free place around its dot: beside it first, then on
    // rings further out with a leader line back to the dot. A free place overlaps no
    // other label, no dot and no compass letter, and stays within the plot's square.
    const auto isFree = [&](const QRectF& candidate) {
        if (!square.contains(candidate)) return false;
        const auto hits = [&](const QRectF& other) { return other.intersects(candidate); };
        return std::none_of(out.labels.begin(), out.labels.end(), hits) &&
               std::none_of(out.dots.begin(), out.dots.end(), hits) &&
               std::none_of(std::begin(out.compass), std::end(out.compass), hits);
    };
    constexpr int directions = 16;
    constexpr int rings = 12;
    for (std::size_t k = 0; k < sky_->satellites.size(); ++k) {
        const QPointF at = out.dots[k].center();
        const QString prn = QString::number(sky_->satellites[k].prn);
        const QSizeF size(metrics.horizontalAdvance(prn) + 2, lineHeight);
        QRectF label;
        QLineF leader;
        for (int ring = 0; ring < rings && label.isNull(); ++ring) {
            const double gap = dot + 1 + ring * lineHeight * 0.6;
            for (int d = 0; d < directions; ++d) {
                // From the upper right around clockwise: the usual place of a label first.
                const double angle = (45.0 + 360.0 * d / directions) * std::numbers::pi / 180;
                const double dx = std::sin(angle), dy = -std::cos(angle);
                const QPointF middle(at.x() + dx * (gap + size.width() / 2), at.y() + dy * (gap + size.height() / 2));
                const QRectF candidate(middle - QPointF(size.width() / 2, size.height() / 2), size);
                if (!isFree(candidate)) continue;
                label = candidate;
                if (ring > 0) {
                    const QPointF near(std::clamp(at.x(), candidate.left(), candidate.right()),
                                       std::clamp(at.y(), candidate.top(), candidate.bottom()));
                    const QLineF line(at, near);
                    leader = QLineF(line.pointAt(dot / std::max(line.length(), dot)), near);
                }
                break;
            }
        }
        out.labels.push_back(label);  // null only when the square has no room left at all
        out.leaders.push_back(leader);
    }
    return out;
}

void SkyPlot::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect().adjusted(2, 2, -2, -2);
    painter.fillRect(rect(), palette().base());
    if (!sky_) {
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, emptyText_);
        return;
    }
    const QFontMetricsF metrics(painter.font());
    const double lineHeight = metrics.height();
    const Layout parts = layout();
    const QPointF centre = parts.centre;
    const double radius = parts.radius;

    // The skyline: the buildings' elevation in every direction, grey from the horizon in.
    if (street_ && !street_->skyline.empty()) {
        QPolygonF line;
        for (std::size_t k = 0; k < street_->skyline.size(); ++k)
            line << polarPoint(centre, radius, static_cast<double>(k) * street_->step, street_->skyline[k]);
        QPainterPath buildings;
        buildings.setFillRule(Qt::OddEvenFill);
        buildings.addEllipse(centre, radius, radius);
        buildings.addPolygon(line);
        buildings.closeSubpath();
        painter.setPen(QPen(QColor(120, 120, 120), 1));
        painter.setBrush(QColor(185, 185, 185, 170));
        painter.drawPath(buildings);
    }
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.setBrush(Qt::NoBrush);
    for (const double elevation : {0.0, 30.0, 60.0}) {
        const double r = radius * (90 - elevation) / 90;
        painter.drawEllipse(centre, r, r);
    }
    for (int azimuth = 0; azimuth < 360; azimuth += 45)
        painter.drawLine(centre, polarPoint(centre, radius, azimuth, 0));
    painter.setPen(palette().color(QPalette::Text));
    const char* letters[] = {"N", "E", "S", "W"};
    for (int k = 0; k < 4; ++k) painter.drawText(parts.compass[k], Qt::AlignCenter, letters[k]);

    for (std::size_t k = 0; k < sky_->satellites.size(); ++k) {
        const sky::SatelliteView& satellite = sky_->satellites[k];
        drawMark(painter, satellite.system, parts.dots[k].center(), parts.dots[k].width() / 2, satellite.used,
                 reception(k));
        if (!parts.leaders[k].isNull()) {
            painter.setPen(QPen(palette().color(QPalette::Dark), 1));
            painter.drawLine(parts.leaders[k]);
        }
        if (parts.labels[k].isNull()) continue;
        painter.setPen(reception(k) == street::Reception::blocked ? palette().color(QPalette::Disabled, QPalette::Text)
                                                                  : palette().color(QPalette::Text));
        painter.drawText(parts.labels[k], Qt::AlignCenter, QString::number(satellite.prn));
    }

    // The bars: one per PRN, C/N0 from 0 to cn0Top dB-Hz, the PRN under each. Where a
    // slot is narrower than a number, the PRNs take up to three staggered rows (none
    // when even three would touch: the polar plot names them) and the bars' heights
    // alone tell the C/N0.
    const double side = polarSide(area);
    const double left = area.left() + side + lineHeight;
    const double count = static_cast<double>(std::max<std::size_t>(sky_->satellites.size(), 1));
    const double number = metrics.horizontalAdvance("00") + 4;
    const int needed = static_cast<int>(std::ceil(number / std::max((area.right() - left) / count, 1.0)));
    const bool narrow = needed > 1;
    const int rows = needed <= 3 ? needed : 0;
    const double under = rows * lineHeight + 0.5 * lineHeight + (street_ ? lineHeight : 0);
    const QRectF bars(left, area.top() + 2 * lineHeight, area.right() - left, area.height() - 2 * lineHeight - under);
    if (bars.width() < 20 || sky_->satellites.empty()) {
        if (sky_->satellites.empty())
            painter.drawText(QRectF(left, area.top(), area.right() - left, area.height()), Qt::AlignCenter,
                             "No satellite above the mask");
        return;
    }
    painter.drawText(QRectF(left, area.top(), bars.width(), lineHeight), Qt::AlignLeft, "C/N0 (dB-Hz)");
    // The legend: the mark and name of every system in the sky, right of the title.
    const double dot = std::max(4.0, lineHeight * 0.4);
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
    // With a street, how each satellite arrives, under the bars.
    if (street_) {
        const struct {
            street::Reception reception;
            const char* name;
        } kinds[] = {{street::Reception::clear, "direct"},
                     {street::Reception::reflected, "reflected"},
                     {street::Reception::blocked, "not received"}};
        double at = left;
        const double y = area.bottom() - lineHeight / 2;
        for (const auto& kind : kinds) {
            drawMark(painter, sky::GnssSystem::gps, QPointF(at + dot, y), dot * 0.8, true, kind.reception);
            at += 2 * dot + 3;
            const double width = metrics.horizontalAdvance(kind.name);
            painter.setPen(palette().color(QPalette::Text));
            painter.drawText(QRectF(at, area.bottom() - lineHeight, width + 2, lineHeight), Qt::AlignLeft, kind.name);
            at += width + 12;
        }
    }
    const double slot = bars.width() / count;
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawLine(bars.bottomLeft(), bars.bottomRight());
    for (std::size_t k = 0; k < sky_->satellites.size(); ++k) {
        const sky::SatelliteView& satellite = sky_->satellites[k];
        const bool received = std::isfinite(satellite.cn0);  // the street hides the others
        const double height = received ? bars.height() * std::clamp(satellite.cn0, 0.0, cn0Top) / cn0Top : 0.0;
        const QRectF bar(bars.left() + slot * static_cast<double>(k) + slot * 0.15, bars.bottom() - height, slot * 0.7,
                         height);
        QColor colour = systemColour(satellite.system);
        QPen pen(colour, 1);
        if (reception(k) == street::Reception::reflected) {
            pen.setStyle(Qt::DashLine);
            colour.setAlpha(110);
        }
        painter.setPen(pen);
        painter.setBrush(satellite.used ? QBrush(colour) : Qt::NoBrush);
        if (received) {
            painter.drawRect(bar);
        } else {
            // Not received: a small grey cross on the base line where its bar would stand.
            const double half = std::min(slot * 0.3, dot);
            const QPointF at(bar.center().x(), bars.bottom() - half - 1);
            painter.setPen(QPen(QColor(150, 150, 150), 1.5));
            painter.drawLine(at + QPointF(-half, -half), at + QPointF(half, half));
            painter.drawLine(at + QPointF(-half, half), at + QPointF(half, -half));
        }
        painter.setPen(palette().color(QPalette::Text));
        if (rows > 0) {
            const double row = static_cast<double>(k % static_cast<std::size_t>(rows)) * lineHeight;
            const double wide = std::max(slot, number);
            painter.drawText(QRectF(bar.center().x() - wide / 2, bars.bottom() + row, wide, lineHeight),
                             Qt::AlignCenter, QString::number(satellite.prn));
        }
        if (!narrow && received)
            painter.drawText(QRectF(bar.left() - slot * 0.15, bar.top() - lineHeight, slot, lineHeight),
                             Qt::AlignCenter, QString::number(std::lround(satellite.cn0)));
    }
}

}  // namespace trajix::gui
