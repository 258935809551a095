#pragma once
// The sky of a route's first fix: a polar plot (azimuth around, north up, elevation
// inward from 0 at the rim to 90 at the centre) with each satellite's PRN, filled when
// in use and hollow when not, and its C/N0 as one bar per PRN beside it. Each system has
// its colour and mark (GPS a circle, Galileo a square, BeiDou a triangle, GLONASS a
// diamond), named in a legend. With a street the skyline around the receiver is drawn
// from the horizon inward, and each satellite says how it arrives: directly (as under
// an open sky), by a reflection only (a dashed outline) or not at all (grey, crossed).
#include <optional>
#include <vector>

#include <QLineF>
#include <QRectF>
#include <QString>
#include <QWidget>

#include "sky/sky_model.hpp"
#include "street/street_model.hpp"

namespace trajix::gui {

class SkyPlot : public QWidget {
    Q_OBJECT
public:
    explicit SkyPlot(QWidget* parent = nullptr);

    /// The street around the receiver: the skyline (degrees of elevation for azimuths 0,
    /// step, 2 step...) and how each satellite of the sky arrives, in the sky's order.
    struct Street {
        std::vector<double> skyline;
        double step = 2;
        std::vector<street::Reception> reception;
    };

    /// Shows a sky, or with nullopt the text of setEmptyText(); with a street, its
    /// skyline and each satellite's reception.
    void setSky(std::optional<sky::SkyView> view, std::optional<Street> street = std::nullopt);
    const std::optional<Street>& street() const { return street_; }
    /// What the plot says when it holds no sky ("Sky off", or how to get one), and its
    /// tooltip then (where to switch the sky on).
    void setEmptyText(const QString& text, const QString& hint);

    /// The sky shown, or nullopt.
    const std::optional<sky::SkyView>& sky() const { return sky_; }
    const QString& emptyText() const { return emptyText_; }

    QSize sizeHint() const override { return {600, 290}; }
    QSize minimumSizeHint() const override { return {424, 262}; }

    /// Where the polar plot's parts lie at the plot's size: the compass letters
    /// (N, E, S, W), each satellite's dot and PRN label (in the order of the sky), and
    /// the leader line from a label set away from its dot (empty when it sits beside it).
    struct Layout {
        QPointF centre;
        double radius = 0;
        QRectF compass[4];
        std::vector<QRectF> dots, labels;
        std::vector<QLineF> leaders;
    };
    Layout layout() const;

    /// Where a satellite at azimuth and elevation (degrees) lies in a circle of radius
    /// around centre: north up, east to the right, the horizon on the rim.
    static QPointF polarPoint(QPointF centre, double radius, double azimuth, double elevation);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<sky::SkyView> sky_;
    std::optional<Street> street_;
    street::Reception reception(std::size_t k) const;
    QString emptyText_ = "Sky off";
    QString emptyHint_;
    void showHint();
};

}  // namespace trajix::gui
