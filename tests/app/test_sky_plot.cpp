// The route's sky plot: readable with many satellites (labels apart from each other, from
// the dots and from the compass letters) and large enough to read.
#include <QApplication>
#include <QImage>
#include <QPixmap>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "app/sky_view.hpp"
#include "app_fixture.hpp"

namespace trajix::test {
namespace {

// A sky of count satellites: a seeded scatter, with clusters on the compass letters'
// spokes at the horizon and near the zenith, where labels crowd.
sky::SkyView crowdedSky(int count, std::uint32_t seed)
{
    sky::SkyView view;
    std::uint32_t state = seed;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0;
    };
    for (int k = 0; k < count; ++k) {
        sky::SatelliteView satellite;
        satellite.prn = 1 + (k * 7) % 32 + (k >= 32 ? 100 : 0);
        if (k % 4 == 0) {
            satellite.azimuth = 90.0 * (k / 4 % 4) + next() * 6 - 3;  // under N, E, S or W
            satellite.elevation = next() * 4;
        } else if (k % 4 == 1) {
            satellite.azimuth = next() * 360;
            satellite.elevation = 80 + next() * 10;
        } else {
            satellite.azimuth = next() * 360;
            satellite.elevation = next() * 90;
        }
        satellite.cn0 = 30 + next() * 18;
        satellite.used = k % 3 != 0;
        view.satellites.push_back(satellite);
    }
    return view;
}

TEST(SkyPlot, LabelsNeverOverlapEachOtherTheDotsOrTheCompassLetters)
{
    gui::SkyPlot plot;
    EXPECT_GE(plot.minimumSizeHint().height(), 250);
    for (const QSize size : {plot.minimumSizeHint(), plot.sizeHint(), QSize(1900, 300), QSize(700, 500)})
        for (const int count : {1, 12, 24, 32, 40})
            for (const std::uint32_t seed : {1u, 7u, 2024u}) {
                SCOPED_TRACE(testing::Message()
                             << size.width() << "x" << size.height() << ", " << count << " satellites, seed " << seed);
                plot.resize(size);
                plot.setSky(crowdedSky(count, seed));
                const gui::SkyPlot::Layout layout = plot.layout();
                // The polar plot with its compass letters is at least 250 px across.
                EXPECT_GE(layout.compass[1].right() - layout.compass[3].left(), 250);
                EXPECT_GE(layout.compass[2].bottom() - layout.compass[0].top(), 250);
                ASSERT_EQ(layout.labels.size(), static_cast<std::size_t>(count));
                for (std::size_t a = 0; a < layout.labels.size(); ++a) {
                    const QRectF& label = layout.labels[a];
                    ASSERT_FALSE(label.isNull()) << "satellite " << a << " has no label";
                    EXPECT_TRUE(QRectF(plot.rect()).contains(label));
                    for (const QRectF& letter : layout.compass) EXPECT_FALSE(label.intersects(letter)) << a;
                    for (const QRectF& dot : layout.dots) EXPECT_FALSE(label.intersects(dot)) << a;
                    for (std::size_t b = a + 1; b < layout.labels.size(); ++b)
                        EXPECT_FALSE(label.intersects(layout.labels[b])) << a << " and " << b;
                    // A label set away from its dot has a leader line that starts at the dot.
                    const double distance = std::hypot(label.center().x() - layout.dots[a].center().x(),
                                                       label.center().y() - layout.dots[a].center().y());
                    if (distance > label.width() + layout.dots[a].width() * 2) {
                        ASSERT_FALSE(layout.leaders[a].isNull()) << a;
                        EXPECT_LE(QLineF(layout.leaders[a].p1(), layout.dots[a].center()).length(),
                                  layout.dots[a].width());
                    }
                }
                for (const QRectF& letter : layout.compass)
                    for (std::size_t k = 0; k < layout.dots.size(); ++k)
                        if (letter.intersects(layout.dots[k])) ADD_FAILURE() << "dot " << k << " on a compass letter";
                EXPECT_FALSE(plot.grab().isNull());  // paints without trouble
            }
    // For a person to look at: the crowded sky at the plot's smallest size.
    if (const char* folder = std::getenv("TRAJIX_SCREENSHOT_DIR"); folder && *folder) {
        plot.resize(plot.minimumSizeHint());
        plot.setSky(crowdedSky(32, 7));
        EXPECT_TRUE(plot.grab().save(QString::fromLocal8Bit(folder) + "/skyplot_crowded_32.png"));
    }
}

}  // namespace
}  // namespace trajix::test
