// The progress windows as the core drives them, the wait window and the advert picture.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "app/qt_progress.hpp"
#include "app/secondary_windows.hpp"
#include "app/widgets.hpp"
#include "app_fixture.hpp"

namespace trajix::test {
namespace {

using gui::QtProgress;

TEST_F(AppTest, ProgressWindowFollowsTheWork)
{
    gui::ProgressWindow form;
    QtProgress progress(&form);
    progress.start("Loading KML file", 250);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), qs("Loading KML file"));
    EXPECT_EQ(form.Gauge1->minimum(), 0);
    EXPECT_EQ(form.Gauge1->maximum(), 250);
    progress.position(100);
    EXPECT_EQ(form.Gauge1->value(), 100);

    // A second step reuses the open window with a new caption and range.
    progress.start("Smoothing data points", 10);
    EXPECT_EQ(form.windowTitle(), qs("Smoothing data points"));
    EXPECT_EQ(form.Gauge1->maximum(), 10);
    EXPECT_EQ(form.Gauge1->value(), 0);
    progress.position(11);  // beyond the range: the gauge stops at its end
    EXPECT_EQ(form.Gauge1->value(), 10);
    progress.finish();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(progress.cancelled());
}

TEST_F(AppTest, ProgressCountsBeyondTheGaugeRangeAreScaled)
{
    gui::ProgressWindow form;
    QtProgress progress(&form);
    const long long blocks = 6'000'000'000LL;  // more than an int holds
    progress.start("Converting", blocks);
    EXPECT_GT(form.Gauge1->maximum(), 0);
    progress.position(blocks / 2);
    EXPECT_NEAR(double(form.Gauge1->value()) / form.Gauge1->maximum(), 0.5, 1e-6);
    progress.position(blocks);
    EXPECT_EQ(form.Gauge1->value(), form.Gauge1->maximum());
    progress.start("Empty", 0);
    EXPECT_EQ(form.Gauge1->maximum(), 0);
    progress.finish();
}

TEST_F(AppTest, SecondProgressWindowShowsTheInnerSearch)
{
    gui::SearchProgressWindow form;
    QtProgress progress(&form);
    progress.start("Generating NMEA file", 12);
    EXPECT_EQ(form.Gauge2->minimum(), 0);
    EXPECT_EQ(form.Gauge2->maximum(), 100);
    progress.position(3);
    progress.inner(42);
    EXPECT_EQ(form.Gauge1->value(), 3);
    EXPECT_EQ(form.Gauge2->value(), 42);
    progress.inner(250);
    EXPECT_EQ(form.Gauge2->value(), 100);
    progress.finish();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(AppTest, WaitWindowRecordsTheAnswer)
{
    gui::RecordingWaitWindow form;
    EXPECT_EQ(form.windowTitle(), qs("Waiting for dsf file..."));
    EXPECT_EQ(form.Label1->text(), qs("Please WAIT until TrajixBinary has completely finished,"));
    EXPECT_EQ(form.Label2->text(), qs("and then click continue "));

    QTimer::singleShot(0, form.Button1, &QPushButton::click);
    EXPECT_EQ(form.exec(), QDialog::Accepted);
    EXPECT_TRUE(form.continueConfirmed);

    QTimer::singleShot(0, form.Button2, &QPushButton::click);
    form.exec();
    EXPECT_FALSE(form.continueConfirmed);

    // Closing the window by its frame after an earlier Continue is no Continue.
    form.continueConfirmed = true;
    QTimer::singleShot(0, &form, &QDialog::close);
    form.exec();
    EXPECT_FALSE(form.continueConfirmed);
}

TEST_F(AppTest, AdvertPictureLoadsInTheBackgroundOrKeepsThePlaceholder)
{
    const auto picture = dir / "advert.png";
    QImage image(40, 10, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    ASSERT_TRUE(image.save(QString::fromStdString(picture.string())));
    writeFileBytes(dir / "broken.png", "not a picture");

    gui::WebImage good;
    good.load(QUrl::fromLocalFile(QString::fromStdString(picture.string())));
    EXPECT_FALSE(good.hasPicture());  // load() returns before anything arrived
    EXPECT_TRUE(good.isHidden()) << "no empty grey box while nothing has arrived";
    QTRY_VERIFY_WITH_TIMEOUT(good.hasPicture(), 3000);
    EXPECT_FALSE(good.isHidden());

    gui::WebImage broken;
    broken.load(QUrl::fromLocalFile(QString::fromStdString((dir / "broken.png").string())));
    gui::WebImage missing;
    missing.load(QUrl::fromLocalFile(QString::fromStdString((dir / "absent.png").string())));
    QTest::qWait(200);
    EXPECT_FALSE(broken.hasPicture());
    EXPECT_FALSE(missing.hasPicture());
    EXPECT_TRUE(broken.isHidden());
    EXPECT_TRUE(missing.isHidden());

    qputenv("TRAJIX_ADVERT_URL", "");
    EXPECT_TRUE(gui::WebImage::advertUrl().isEmpty());
    qunsetenv("TRAJIX_ADVERT_URL");
    EXPECT_FALSE(gui::WebImage::advertUrl().isEmpty());
}

}  // namespace
}  // namespace trajix::test
