// Pictures of the window for a person to look at: with TRAJIX_SCREENSHOT_DIR set, the
// sky plot with many satellites and the tabs that show the date and the sky, at a small
// and a large screen's size, go there as PNG files. Without it the test is skipped.
#ifdef TRAJIX_WITH_ROUTE

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QLineEdit>
#include <QTabWidget>

#include <cstdlib>

#include "app/sky_view.hpp"
#include "app_fixture.hpp"

namespace trajix::test {
namespace {

TEST_F(AppTest, ScreenshotsOfTheSkyAndTheWritingTabs)
{
    const char* folder = std::getenv("TRAJIX_SCREENSHOT_DIR");
    if (!folder || !*folder) GTEST_SKIP() << "TRAJIX_SCREENSHOT_DIR is not set";
    const QDir out(QString::fromLocal8Bit(folder));
    ASSERT_TRUE(out.exists() || QDir().mkpath(out.path()));

    auto form = startWindow();
    ScriptedDialogs dialogs;
    form->setDialogs(&dialogs);
    // The sky of 2010-07-01 at 02:00 UTC in Spain, mask 0: a dozen and more satellites.
    control<QLineEdit>(*form, "SkyFileEdit")
        ->setText(QString::fromStdString(dataFile("sky/brdc1820_0000-0400.10n").string()));
    control<QCheckBox>(*form, "SkyBox")->setChecked(true);
    control<QLineEdit>(*form, "SkyMaskEdit")->setText("0");
    control<QDateEdit>(*form, "NmeaDateEdit")->setDate(QDate(2010, 7, 1));
    auto* plot = form->findChild<gui::SkyPlot*>("SkyPlot");
    // The first ten minutes of the file's night that show a dozen satellites or more.
    tab<gui::GoogleEarthTab>(*form)->openPathFile(QString::fromStdString(dataFile("route/corner.kml").string()));
    for (int start = 0; start <= 4 * 3600; start += 600) {
        control<QLineEdit>(*form, "StartTimeEdit")->setText(QString::number(start));
        tab<gui::GoogleEarthTab>(*form)->preview();
        ASSERT_TRUE(plot->sky());
        if (plot->sky()->satellites.size() >= 12) break;
    }
    EXPECT_GE(plot->sky()->satellites.size(), 12u);

    for (const QSize size : {QSize(1024, 600), QSize(1920, 1080)}) {
        form->resize(size);
        form->show();
        for (int index = 0; index < form->PageControl1->count(); ++index) {
            form->PageControl1->setCurrentIndex(index);
            QApplication::processEvents();
            const QString name = QString("tab%1_%2x%3.png").arg(index + 1).arg(size.width()).arg(size.height());
            EXPECT_TRUE(form->grab().save(out.filePath(name)));
        }
        form->PageControl1->setCurrentIndex(0);
        QApplication::processEvents();
        EXPECT_TRUE(plot->grab().save(out.filePath(QString("skyplot_%1x%2.png").arg(size.width()).arg(size.height()))));
        EXPECT_GE(plot->height(), 250);
    }
    plot->resize(plot->minimumSizeHint());
    EXPECT_TRUE(plot->grab().save(out.filePath("skyplot_minimum.png")));
}

}  // namespace
}  // namespace trajix::test

#endif
