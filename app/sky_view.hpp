#pragma once
// The sky of a route's first fix: a polar plot (azimuth around, north up, elevation
// inward from 0 at the rim to 90 at the centre) with each satellite's PRN, filled when
// in use and hollow when not, and its C/N0 as one bar per PRN beside it. Each system has
// its colour and mark (GPS a circle, Galileo a square, BeiDou a triangle, GLONASS a
// diamond), named in a legend.
#include <optional>
#include <vector>

#include <QString>
#include <QWidget>

#include "sky/sky_model.hpp"

namespace trajix::gui {

class SkyPlot : public QWidget {
    Q_OBJECT
public:
    explicit SkyPlot(QWidget* parent = nullptr);

    /// Shows a sky, or with nullopt the text of setEmptyText().
    void setSky(std::optional<sky::SkyView> view);
    /// What the plot says when it holds no sky ("Sky off", or how to get one).
    void setEmptyText(const QString& text);

    /// The sky shown, or nullopt.
    const std::optional<sky::SkyView>& sky() const { return sky_; }
    const QString& emptyText() const { return emptyText_; }

    QSize sizeHint() const override { return {420, 180}; }
    QSize minimumSizeHint() const override { return {300, 140}; }

    /// Where a satellite at azimuth and elevation (degrees) lies in a circle of radius
    /// around centre: north up, east to the right, the horizon on the rim.
    static QPointF polarPoint(QPointF centre, double radius, double azimuth, double elevation);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<sky::SkyView> sky_;
    QString emptyText_ = "Sky off";
};

}  // namespace trajix::gui
