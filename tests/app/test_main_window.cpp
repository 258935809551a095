// The main window: start-up, settings file, rate edits, the scenario switch, tab change.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>

#include "app/command_help.hpp"
#include "app/secondary_windows.hpp"
#include "app/widgets.hpp"
#include "app_fixture.hpp"
#include "common/platform.hpp"
#ifdef TRAJIX_WITH_SCENARIO
#include "scenario/plenarch.hpp"
#endif

namespace trajix::test {
namespace {

using gui::MainWindow;

std::vector<QWidget*> scenarioControls(const MainWindow& form)
{
    return {control<QLineEdit>(form, "WeekEdit"),
            control<QLineEdit>(form, "StartTimeEdit"),
            control<QLineEdit>(form, "DurationEdit"),
            control<QLabel>(form, "durationLabel"),
            control<QLineEdit>(form, "StartDayEdit"),
            control<QLineEdit>(form, "StartMonthEdit"),
            control<QLineEdit>(form, "StartYearEdit"),
            control<QLineEdit>(form, "AlmanacEdit"),
            control<QPushButton>(form, "AlmanacBrowseButton"),
            control<QPushButton>(form, "correctNmeaButton"),
            control<QPushButton>(form, "ConvertTxtButton"),
            control<QLineEdit>(form, "Start1"),
            control<QLineEdit>(form, "Duration1"),
            control<QPushButton>(form, "DropoutButton"),
            control<QLabel>(form, "Label27"),
            control<QLabel>(form, "Label28"),
            control<QLabel>(form, "Label29"),
            control<QLabel>(form, "Label30"),
            control<QLabel>(form, "Label31"),
            control<QProgressBar>(form, "progressGauge2"),
            control<QLabel>(form, "orvLabel1"),
            control<QLabel>(form, "orvLabel2"),
            control<QLabel>(form, "orvLabel3"),
            control<QLabel>(form, "orvLabel4"),
            control<QLabel>(form, "orvLabel5")};
}

TEST_F(AppTest, DefaultsWithoutSettingsFile)
{
    ASSERT_FALSE(std::filesystem::exists(configPath));
    auto form = std::make_unique<MainWindow>();
    form->setPrompt(&prompt);
    form->activateOnce();

    EXPECT_EQ(form->windowTitle(), qs("Trajix Trajectory generation V" TRAJIX_VERSION));
    EXPECT_EQ(form->PageControl1->currentIndex(), 0);
    EXPECT_EQ(control<QLineEdit>(*form, "ComPortEdit")->text(), qs("1"));
    EXPECT_EQ(control<QComboBox>(*form, "BaudRateComboBox")->currentText(), qs("115200"));
    EXPECT_FALSE(control<QCheckBox>(*form, "VTGBox")->isChecked());
    EXPECT_FALSE(control<QCheckBox>(*form, "HDTcheckbox")->isChecked());
    EXPECT_EQ(form->statusPanel(0), "Working folder: " + QDir::currentPath());
    EXPECT_EQ(form->startDrive.toStdString(), trajix::startDrive());
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_EQ(form->replayState().replayPosition, 0);
    EXPECT_FALSE(form->replayState().replayFileOpen);
    EXPECT_FALSE(form->replayState().comPortOpen);
#endif

    EXPECT_EQ(control<QLineEdit>(*form, "AlmanacEdit")->text(), qs("\\gpstools\\179.alm"));
    for (QLineEdit* edit : {control<QLineEdit>(*form, "SampleRateEdit"), control<QLineEdit>(*form, "OutputUpdateEdit1"),
                            control<QLineEdit>(*form, "outputUpdateEdit2")})
        EXPECT_EQ(edit->text(), qs("20"));
    EXPECT_TRUE(prompt.messages.empty());
}

TEST_F(AppTest, SavedRateShowsInEveryRateEditAtStart)
{
    writeSettingsFile("[Output update rate]\r\nHz=10\r\n[Alamanc]\r\nfilename=/tmp/week.alm\r\n");
    MainWindow form;
    form.setPrompt(&prompt);
    form.activateOnce();
    EXPECT_EQ(control<QLineEdit>(form, "SampleRateEdit")->text(), qs("10"));
    EXPECT_EQ(control<QLineEdit>(form, "OutputUpdateEdit1")->text(), qs("10"));
    EXPECT_EQ(control<QLineEdit>(form, "outputUpdateEdit2")->text(), qs("10"));
    EXPECT_EQ(control<QLineEdit>(form, "AlmanacEdit")->text(), qs("/tmp/week.alm"));
}

TEST_F(AppTest, SecondActivationChangesNothing)
{
    auto form = startWindow();
    form->PageControl1->setCurrentIndex(4);
    control<QLineEdit>(*form, "ComPortEdit")->setText("3");
    control<QCheckBox>(*form, "VTGBox")->setChecked(true);
    control<QLineEdit>(*form, "SampleRateEdit")->setText("5");
#ifdef TRAJIX_WITH_QTSERIAL
    form->replayState().replayPosition = 12;
#endif
    form->setStatusPanel(0, "elsewhere");
    // A settings file that appears later must not be read again.
    writeSettingsFile("[Com port]\r\nport=7\r\n");

    form->activateOnce();
    form->show();  // the window system activating the window again
    QApplication::processEvents();

    EXPECT_EQ(form->PageControl1->currentIndex(), 4);
    EXPECT_EQ(control<QLineEdit>(*form, "ComPortEdit")->text(), qs("3"));
    EXPECT_TRUE(control<QCheckBox>(*form, "VTGBox")->isChecked());
    EXPECT_EQ(control<QLineEdit>(*form, "SampleRateEdit")->text(), qs("5"));
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_EQ(form->replayState().replayPosition, 12);
#endif
    EXPECT_EQ(form->statusPanel(0), qs("elsewhere"));
}

TEST_F(AppTest, RateEditsFollowEachOther)
{
    auto form = startWindow();
    const std::vector<QLineEdit*> edits = {control<QLineEdit>(*form, "SampleRateEdit"),
                                           control<QLineEdit>(*form, "OutputUpdateEdit1"),
                                           control<QLineEdit>(*form, "outputUpdateEdit2")};
    int value = 1;
    for (QLineEdit* left : edits) {
        const QString text = QString::number(value++) + " Hz?";  // no check is made on leaving
        left->setText(text);
        emit left->editingFinished();
        for (QLineEdit* edit : edits) EXPECT_EQ(edit->text(), text) << left->objectName().toStdString();
    }
}

TEST_F(AppTest, RateEditsFollowWhenTheUserClicksAnotherTab)
{
    auto form = startWindow();
    form->show();
    form->PageControl1->setCurrentIndex(0);
    QLineEdit* routeRate = control<QLineEdit>(*form, "OutputUpdateEdit1");
    routeRate->setFocus();
    routeRate->selectAll();
    QTest::keyClicks(routeRate, "5");
    // A click on the Settings tab: no Enter, no Tab, the tab bar takes no focus.
    QTabBar* bar = form->PageControl1->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(5).center());
    ASSERT_EQ(form->PageControl1->currentIndex(), 5);
    EXPECT_EQ(control<QLineEdit>(*form, "SampleRateEdit")->text(), qs("5"));
    EXPECT_EQ(control<QLineEdit>(*form, "outputUpdateEdit2")->text(), qs("5"));
}

TEST_F(AppTest, SettingsRoundTripThroughTheFile)
{
    {
        auto form = startWindow();
        control<QLineEdit>(*form, "ComPortEdit")->setText("4");
        control<QComboBox>(*form, "BaudRateComboBox")->setCurrentIndex(3);
        control<QCheckBox>(*form, "VTGBox")->setChecked(true);
        control<QCheckBox>(*form, "HDTcheckbox")->setChecked(true);
        control<QLineEdit>(*form, "SampleRateEdit")->setText("10");
        control<QLineEdit>(*form, "AlmanacEdit")->setText("/data/almanacs/019-2012.alm");
        form->closeDown();
    }
    EXPECT_TRUE(prompt.messages.empty());
    const std::string text = settingsText();
    EXPECT_NE(text.find("[Output update rate]\r\nHz=10\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Baud rate]\r\nBaud=3\r\n"), std::string::npos) << text;

    auto form = startWindow();
    EXPECT_EQ(control<QLineEdit>(*form, "ComPortEdit")->text(), qs("4"));
    EXPECT_EQ(control<QComboBox>(*form, "BaudRateComboBox")->currentText(), qs("9600"));
    EXPECT_TRUE(control<QCheckBox>(*form, "VTGBox")->isChecked());
    EXPECT_TRUE(control<QCheckBox>(*form, "HDTcheckbox")->isChecked());
    EXPECT_EQ(control<QLineEdit>(*form, "OutputUpdateEdit1")->text(), qs("10"));
    EXPECT_EQ(control<QLineEdit>(*form, "AlmanacEdit")->text(), qs("/data/almanacs/019-2012.alm"));
}

TEST_F(AppTest, ClosingAtOnceKeepsSavedRateAndAlmanac)
{
    writeSettingsFile("[Output update rate]\r\nHz=5\r\n[Alamanc]\r\nfilename=/tmp/mine.alm\r\n");
    MainWindow form;
    form.setPrompt(&prompt);
    form.activateOnce();
    form.closeDown();

    const std::string text = settingsText();
    EXPECT_NE(text.find("Hz=5\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("filename=/tmp/mine.alm\r\n"), std::string::npos) << text;
}

TEST_F(AppTest, UnusableComPortWarnsAndKeepsTheOtherKeys)
{
    writeSettingsFile("[Com port]\r\nport=2\r\n[Other]\r\nkept=yes\r\n");
    auto form = startWindow();
    control<QLineEdit>(*form, "ComPortEdit")->setText("two");
    control<QCheckBox>(*form, "HDTcheckbox")->setChecked(true);
    control<QComboBox>(*form, "BaudRateComboBox")->setCurrentIndex(0);
    form->closeDown();

    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("two"), std::string::npos) << prompt.messages[0];
    const std::string text = settingsText();
    EXPECT_NE(text.find("port=2\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("HDT=1"), std::string::npos) << text;
    EXPECT_NE(text.find("Baud=0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("kept=yes\r\n"), std::string::npos) << text;
}

TEST_F(AppTest, SettingsThatCannotBeWrittenAreReported)
{
    // The settings path is a folder: writing must fail with a message, not silently.
    std::filesystem::create_directories(configPath);
    auto form = startWindow();
    form->closeDown();
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("trajix-gui.ini"), std::string::npos) << prompt.messages[0];
}

TEST_F(AppTest, SimulatorFeaturesOffDisablesTheScenarioControls)
{
    auto form = startWindow();
    EXPECT_TRUE(form->simulatorFeaturesOff());
    EXPECT_TRUE(control<QGroupBox>(*form, "OrvenaGroupBox")
                    ->toolTip()
                    .startsWith(qs("Only used when creating scenarios for Corvalith Orvena GPS RF simulator")));
    for (QWidget* control : scenarioControls(*form))
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    // Everything else stays usable.
    for (QWidget* control : std::initializer_list<QWidget*>{
             control<QPushButton>(*form, "BitBtn2"), control<QPushButton>(*form, "BitBtn7"),
             control<QLineEdit>(*form, "OutputUpdateEdit1"), control<QLineEdit>(*form, "SpeedEdit"),
             control<QLineEdit>(*form, "SampleRateEdit"), control<QCheckBox>(*form, "VTGBox"),
             control<QCheckBox>(*form, "HDTcheckbox"), control<QPushButton>(*form, "Button1"),
             control<QPushButton>(*form, "BitBtn3"), control<QPushButton>(*form, "GenerateNMEAfilebutton")})
        EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
}

TEST_F(AppTest, SignalGeneratorBoxSwitchesTheFeaturesAndIsSavedOnceUsed)
{
    auto form = startWindow();
    auto* box = control<QCheckBox>(*form, "SignalGeneratorBox");
    EXPECT_FALSE(box->isChecked());
    const QString ownTip = control<QLineEdit>(*form, "Start1")->toolTip().section('\n', 0, 0);
    form->closeDown();
    EXPECT_EQ(settingsText().find("Signal generator"), std::string::npos) << "a file that never used it";
    for (const bool on : {false, true}) {
        if (on) box->click();
        EXPECT_EQ(form->simulatorFeaturesOff(), !on);
        for (QWidget* control : scenarioControls(*form)) {
            EXPECT_EQ(control->isEnabled(), on) << control->objectName().toStdString();
            EXPECT_EQ(control->toolTip().contains(qs("\"Signal generator features\" on the Settings tab")), !on)
                << control->objectName().toStdString();
        }
    }
    EXPECT_EQ(control<QLineEdit>(*form, "Start1")->toolTip(), ownTip);
    form->closeDown();
    EXPECT_NE(settingsText().find("[Signal generator]\r\nFeatures=1\r\n"), std::string::npos) << settingsText();
    EXPECT_FALSE(startWindow()->simulatorFeaturesOff());

    // The start option switches them on for one run and leaves the saved choice alone.
    writeSettingsFile("[Signal generator]\r\nFeatures=0\r\n");
    gui::StartOptions options;
    options.simulatorFeatures = true;
    auto optioned = startWindow(options);
    EXPECT_FALSE(optioned->simulatorFeaturesOff());
    optioned->closeDown();
    EXPECT_NE(settingsText().find("Features=0\r\n"), std::string::npos) << settingsText();
}

TEST_F(AppTest, SkyChoicesAreSavedOnceUsed)
{
    auto form = startWindow();
    form->closeDown();
    const std::string untouched = settingsText();
    EXPECT_EQ(untouched.find("[Sky]"), std::string::npos) << "a file that never used it";
    form->closeDown();
    EXPECT_EQ(settingsText(), untouched);

    ScriptedDialogs dialogs;
    form->setDialogs(&dialogs);
    auto* date = control<QDateEdit>(*form, "NmeaDateEdit");
    auto* box = control<QCheckBox>(*form, "SkyBox");
    EXPECT_FALSE(date->isEnabled());
    // A browse the user cancels changes nothing; a file chosen switches the sky on with
    // it (a chosen file the user must tick again is a trap), and the dates with it.
    control<QPushButton>(*form, "SkyBrowseButton")->click();
    EXPECT_FALSE(box->isChecked());
    dialogs.openAnswers.push_back(qs("/data/brdc1820.10n"));
    control<QPushButton>(*form, "SkyBrowseButton")->click();
    EXPECT_EQ(control<QLineEdit>(*form, "SkyFileEdit")->text(), qs("/data/brdc1820.10n"));
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(date->isEnabled());
    for (const char* name : {"routeDateEdit", "scriptDateEdit", "keloDateEdit"})
        EXPECT_TRUE(control<QDateEdit>(*form, name)->isEnabled()) << name;
    for (const char* name : {"routeSkyLabel", "scriptSkyLabel", "keloSkyLabel"})
        EXPECT_EQ(control<QLabel>(*form, name)->text(), qs("Sky on: brdc1820.10n")) << name;
    control<QLineEdit>(*form, "SkyMaskEdit")->setText("12.5");
    form->closeDown();
    EXPECT_NE(settingsText().find("[Sky]\r\nOn=1\r\nFile=/data/brdc1820.10n\r\nMask=12.5\r\n"), std::string::npos)
        << settingsText();

    auto again = startWindow();
    EXPECT_TRUE(control<QCheckBox>(*again, "SkyBox")->isChecked());
    EXPECT_EQ(control<QLineEdit>(*again, "SkyFileEdit")->text(), qs("/data/brdc1820.10n"));
    EXPECT_EQ(control<QLineEdit>(*again, "SkyMaskEdit")->text(), qs("12.5"));
    EXPECT_FALSE(settingsText().find("Systems=") != std::string::npos) << "GPS alone adds no key";
    // The systems join the section once more than GPS is ticked, and come back.
    control<QCheckBox>(*again, "SkyGalileoBox")->click();
    control<QCheckBox>(*again, "SkyGlonassBox")->click();
    control<QCheckBox>(*again, "SkyGpsBox")->click();
    again->closeDown();
    EXPECT_NE(settingsText().find("Mask=12.5\r\nSystems=glonass,galileo\r\n"), std::string::npos) << settingsText();
    again = startWindow();
    EXPECT_FALSE(control<QCheckBox>(*again, "SkyGpsBox")->isChecked());
    EXPECT_TRUE(control<QCheckBox>(*again, "SkyGalileoBox")->isChecked());
    EXPECT_FALSE(control<QCheckBox>(*again, "SkyBeidouBox")->isChecked());
    EXPECT_TRUE(control<QCheckBox>(*again, "SkyGlonassBox")->isChecked());
    // Switched off, the keys stay and say so.
    control<QCheckBox>(*again, "SkyBox")->click();
    again->closeDown();
    EXPECT_NE(settingsText().find("[Sky]\r\nOn=0\r\n"), std::string::npos) << settingsText();
}

TEST_F(AppTest, SimulatorFeaturesOptionKeepsThemEnabled)
{
    EXPECT_TRUE(gui::parseStartOptions({"trajix-gui", "--simulator-features"}).simulatorFeatures);
    EXPECT_FALSE(gui::parseStartOptions({"trajix-gui"}).simulatorFeatures);
    EXPECT_TRUE(
        gui::parseStartOptions({"trajix-gui", "-platform", "offscreen", "--simulator-features"}).simulatorFeatures);
    // Tabs count from 1 as the tab bar shows them.
    EXPECT_EQ(gui::parseStartOptions({"trajix-gui", "--tab", "5"}).tab, 4);
    EXPECT_EQ(gui::parseStartOptions({"trajix-gui", "--tab", "1"}).tab, 0);
    EXPECT_EQ(gui::parseStartOptions({"trajix-gui", "--tab=6"}).tab, 5);
    EXPECT_TRUE(gui::parseStartOptions({"trajix-gui", "--tab", "6"}).usageError.isEmpty());
    // A file from the desktop's file association; Qt's option values are not files.
    const QString example = QString::fromStdString(trajix::test::dataFile("../../examples/loop.kml").string());
    EXPECT_EQ(gui::parseStartOptions({"trajix-gui", "-platform", "offscreen", example}).file, example);
    EXPECT_TRUE(gui::parseStartOptions({"trajix-gui", "-platform", "offscreen"}).file.isEmpty());

    auto form = startWindow(gui::parseStartOptions({"trajix-gui", "--simulator-features"}));
    EXPECT_FALSE(form->simulatorFeaturesOff());
    EXPECT_TRUE(control<QGroupBox>(*form, "OrvenaGroupBox")->toolTip().isEmpty());
    for (QWidget* control : scenarioControls(*form))
        EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();
}

// A run that fails shows no chart: neither its own part nor the one of the run before.
TEST_F(AppTest, EveryTabsChartsAreEmptyAfterAnError)
{
    auto form = startWindow();
    ScriptedDialogs dialogs;
    form->setDialogs(&dialogs);
    const QString loop = QString::fromStdString(trajix::test::dataFile("../../examples/loop.kml").string());
    const QString log = QString::fromStdString(trajix::test::dataFile("convert/log10hz.kel").string());
    writeFileBytes(dir / "bad.kel", "not a logger file\r\n");
    auto* route = tab<gui::GoogleEarthTab>(*form);
    auto* script = tab<gui::UserCommandsTab>(*form);
    auto* kelo = tab<gui::KeloTab>(*form);
    const struct {
        const char* tab;
        std::function<void()> good, bad;
        std::vector<const char*> series;
    } cases[] = {
        {"route, an edit that is no number",
         [&] { form->openFile(loop); },
         [&] {
             control<QLineEdit>(*form, "lataccEdit")->setText("0,5");
             route->preview();
             EXPECT_NE(prompt.messages.back().find("'0,5'"), std::string::npos) << prompt.messages.back();
         },
         {"Series1", "Series8", "Series3"}},
        {"route, a limit changed after the preview",
         [&] {
             control<QLineEdit>(*form, "lataccEdit")->setText("1");
             route->preview();
         },
         [&] { control<QLineEdit>(*form, "SpeedEdit")->setText("50"); },
         {"Series1", "Series8", "Series3"}},
        {"commands",
         [&] {
             control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=36\nwait 10s\n.end");
             script->preview();
         },
         [&] {
             control<QPlainTextEdit>(*form, "Memo1")->setPlainText("vel=36\nwait 10s\nvel=12x\n.end");
             script->preview();
         },
         {"Series4", "Series9", "Series13"}},
        {"KELO import",
         [&] {
             dialogs.openAnswers = {log};
             dialogs.saveAnswers = {QString()};
             kelo->importLog();
         },
         [&] {
             dialogs.openAnswers = {QString::fromStdString((dir / "bad.kel").string())};
             kelo->importLog();
         },
         {"Series11", "Series12"}},
    };
    for (const auto& c : cases) {
        c.good();
        for (const char* name : c.series) ASSERT_GT(series(*form, name)->count(), 0) << c.tab << " " << name;
        const auto before = prompt.messages.size();
        c.bad();
        for (const char* name : c.series) EXPECT_EQ(series(*form, name)->count(), 0) << c.tab << " " << name;
        if (std::string_view(c.tab) != "route, a limit changed after the preview") {
            EXPECT_EQ(prompt.messages.size(), before + 1) << c.tab;
        }
    }
}

TEST_F(AppTest, TabChangeClosesAnOpenReplayFile)
{
    auto form = startWindow();
#ifdef TRAJIX_WITH_QTSERIAL
    form->replayState().replayFileName = "/tmp/route.txt";
    form->replayState().replayFileOpen = true;
    form->replayState().replayPosition = 40;
#endif
    form->PageControl1->setCurrentIndex(2);
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_FALSE(form->replayState().replayFileOpen);
    EXPECT_EQ(form->replayState().replayPosition, 0);
    EXPECT_EQ(replayFileName(*form), qs("/tmp/route.txt"));
#endif
}

TEST_F(AppTest, HandOverMakesTheReplayFileOnlyWhenAsked)
{
    auto form = startWindow();
    form->handOverWrittenFile("/tmp/kelo.txt", false);
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_TRUE(replayFileName(*form).isEmpty());
#endif
    EXPECT_EQ(control<QLabel>(*form, "replayFilenameEdit")->text(), qs("No Filename selected"));
    form->handOverWrittenFile("/tmp/route.txt", true);
#ifdef TRAJIX_WITH_QTSERIAL
    EXPECT_EQ(replayFileName(*form), qs("/tmp/route.txt"));
#endif
    EXPECT_EQ(control<QLabel>(*form, "replayFilenameEdit")->text(), qs("Replay file : /tmp/route.txt"));
}

// Calls onResize as its object handles a resize event.
class ResizeWatch final : public QObject {
public:
    std::function<void()> onResize;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize && onResize) onResize();
        return false;
    }
};

TEST_F(AppTest, AResizeArrivingWhileAWrittenFileIsHandedOverIsHandledMeanwhile)
{
    // The hand-over scans the written file, which takes a while for a long one.
    auto form = startWindow();
    form->show();
    QApplication::processEvents();
    const auto written = dir / "route.txt";
    std::filesystem::copy_file(dataFile("route/straight.nmea"), written);
    bool handingOver = false;
    int resizedDuring = 0, resizedAfter = 0;
    ResizeWatch watch;
    watch.onResize = [&] { ++(handingOver ? resizedDuring : resizedAfter); };
    form->installEventFilter(&watch);

    const QSize larger = form->size() + QSize(40, 30);
    form->windowHandle()->resize(larger);  // arrives as the window system's resize would
    handingOver = true;
    form->handOverWrittenFile(QString::fromStdString(written.string()), true);
    handingOver = false;
    QApplication::processEvents();
    EXPECT_EQ(resizedDuring, 1) << "the window was resized only after the hand-over (" << resizedAfter << ")";
    EXPECT_EQ(form->size(), larger);
    EXPECT_EQ(control<QLabel>(*form, "replayFilenameEdit")->text(),
              "Replay file : " + QString::fromStdString(written.string()));
}

TEST_F(AppTest, HelpWindowHoldsTheCommandHelpAndFocusesClose)
{
    auto form = startWindow();
    const QString expected =
        QString::fromUtf8(gui::commandHelpText.data(), static_cast<qsizetype>(gui::commandHelpText.size()))
            .replace("\r\n", "\n");
    EXPECT_EQ(form->helpform->Memo1->toPlainText(), expected);
    EXPECT_TRUE(form->helpform->Memo1->isReadOnly());
    expectDrawnMonospaced(form->helpform->Memo1);
    EXPECT_EQ(form->helpform->windowTitle(), qs("Command help"));

    form->show();
    form->helpform->Memo1->setFocus();
    control<QPushButton>(*form, "BitBtn6")->click();
    EXPECT_TRUE(form->helpform->isVisible());
    EXPECT_FALSE(form->helpform->isModal());
    EXPECT_TRUE(QTest::qWaitForWindowActive(form->helpform));
    EXPECT_EQ(QApplication::focusWidget(), form->helpform->CloseButton);
    form->helpform->CloseButton->click();
    EXPECT_FALSE(form->helpform->isVisible());
}

// ---- what a new user met in the window as a whole

// The window as it opens, on whatever screen this test program has: its frame lies on
// the screen, the status bar is shown inside it, and every tab either fits its page or
// scrolls to what does not. TRAJIX_TEST_SCREEN ("WxH") says which screen the run below
// asked for, so that a screen setting the platform ignored cannot pass unseen.
TEST_F(AppTest, WindowOpensWithinTheScreenWithItsStatusBar)
{
    for (const bool simulatorFeatures : {false, true}) {
        SCOPED_TRACE(simulatorFeatures ? "simulator features on" : "simulator features off");
        gui::StartOptions options;
        options.simulatorFeatures = simulatorFeatures;
        auto form = startWindow(options);
        form->showAtOpeningSize();
        QApplication::processEvents();
        const QScreen* screen = form->screen();
        ASSERT_NE(screen, nullptr);
        const QRect available = screen->availableGeometry();
        if (const QByteArray asked = qgetenv("TRAJIX_TEST_SCREEN"); !asked.isEmpty()) {
            ASSERT_EQ(QString("%1x%2").arg(screen->size().width()).arg(screen->size().height()), QString(asked));
        }
        EXPECT_TRUE(available.contains(form->frameGeometry()))
            << "frame " << form->frameGeometry().width() << "x" << form->frameGeometry().height() << " on "
            << available.width() << "x" << available.height();

        QStatusBar* bar = form->statusBar();
        EXPECT_TRUE(bar->isVisible());
        const QRect barArea(bar->mapTo(form.get(), QPoint(0, 0)), bar->size());
        EXPECT_TRUE(form->rect().contains(barArea));
        EXPECT_GE(bar->height(), bar->fontMetrics().height());

        for (int index = 0; index < form->PageControl1->count(); ++index) {
            SCOPED_TRACE(form->PageControl1->tabText(index).toStdString());
            form->PageControl1->setCurrentIndex(index);
            QApplication::processEvents();
            auto* area = qobject_cast<QScrollArea*>(form->PageControl1->widget(index));
            ASSERT_NE(area, nullptr);
            const QWidget* content = area->widget();
            const QSize needed = content->minimumSizeHint();
            EXPECT_GE(content->width(), needed.width()) << "a squeezed tab";
            EXPECT_GE(content->height(), needed.height()) << "a squeezed tab";
            const QSize shown = area->viewport()->size();
            EXPECT_TRUE(content->width() <= shown.width() || area->horizontalScrollBar()->isVisible());
            EXPECT_TRUE(content->height() <= shown.height() || area->verticalScrollBar()->isVisible());
            EXPECT_GE(shown.height(), 200) << "a page too small to work in";
        }
    }
}

// The test above on a netbook screen and a full HD one: the test program runs it again
// with the offscreen platform's screen set to each size.
TEST_F(AppTest, WindowFitsSmallAndLargeScreens)
{
    if (QGuiApplication::platformName() != "offscreen") GTEST_SKIP() << "needs the offscreen platform";
    for (const auto& [width, height] : {std::pair{1024, 600}, std::pair{1920, 1080}}) {
        const QString size = QString("%1x%2").arg(width).arg(height);
        SCOPED_TRACE(size.toStdString());
        const auto screens = dir / ("screen-" + size.toStdString() + ".json");
        writeFileBytes(screens, QString(R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": %1, )"
                                        R"("height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                                    .arg(width)
                                    .arg(height)
                                    .toStdString());
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + QString::fromStdString(screens.string()));
        environment.insert("TRAJIX_TEST_SCREEN", size);
        run.setProcessEnvironment(environment);
        run.start(QCoreApplication::applicationFilePath(),
                  {"--gtest_filter=AppTest.WindowOpensWithinTheScreenWithItsStatusBar"});
        ASSERT_TRUE(run.waitForFinished(120000));
        const QString said = QString::fromLocal8Bit(run.readAllStandardOutput() + run.readAllStandardError());
        EXPECT_EQ(run.exitCode(), 0) << said.toStdString();
        EXPECT_TRUE(said.contains("[  PASSED  ] 1 test")) << said.toStdString();
    }
}

TEST_F(AppTest, HelpPrintsTheOptionsAndStartsNoWindow)
{
    QProcess gui;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");  // no window could open even if it tried
    environment.remove("QT_QPA_PLATFORM");
    gui.setProcessEnvironment(environment);
    gui.start(TRAJIX_GUI_PATH, {"--help"});
    ASSERT_TRUE(gui.waitForFinished(20000)) << "--help must not start the window";
    EXPECT_EQ(gui.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(gui.exitCode(), 0);
    const QString printed = QString::fromLocal8Bit(gui.readAllStandardOutput());
    for (const char* option : {"--help", "--simulator-features", "--tab"})
        EXPECT_TRUE(printed.contains(option)) << option << " in: " << printed.toStdString();
    EXPECT_TRUE(printed.startsWith("Usage: trajix-gui [options] [FILE]")) << printed.toStdString();
}

// A tab that does not exist is a usage error, said before any window could open.
TEST_F(AppTest, TabOutsideOneToSixIsAUsageError)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    const std::vector<std::pair<QStringList, QString>> cases{
        {{"--tab", "0"}, "'0'"},    {{"--tab", "7"}, "'7'"},
        {{"--tab", "-1"}, "'-1'"},  {{"--tab", "two"}, "'two'"},
        {{"--tab=2.5"}, "'2.5'"},   {{"--tab="}, "''"},
        {{"--tab"}, "from 1 to 6"}, {{"--tab", "99999999999"}, "'99999999999'"},
    };
    for (const auto& [arguments, named] : cases) {
        QProcess gui;
        gui.setProcessEnvironment(environment);
        gui.start(TRAJIX_GUI_PATH, arguments);
        ASSERT_TRUE(gui.waitForFinished(20000)) << arguments.join(' ').toStdString() << " must not start the window";
        EXPECT_EQ(gui.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(gui.exitCode(), 2) << arguments.join(' ').toStdString();
        const QString said = QString::fromLocal8Bit(gui.readAllStandardError());
        EXPECT_TRUE(said.startsWith("trajix-gui: --tab needs a tab number from 1 to 6")) << said.toStdString();
        EXPECT_TRUE(said.contains(named)) << said.toStdString();
        EXPECT_TRUE(gui.readAllStandardOutput().isEmpty());
    }
}

TEST_F(AppTest, CaptionsAreSpelledRightAndTheSettingsKeysStay)
{
    gui::StartOptions options;
    options.simulatorFeatures = true;
    auto form = startWindow(options);
    QStringList texts;
    for (QLabel* label : form->findChildren<QLabel*>()) texts << label->text() << label->toolTip();
    for (QAbstractButton* button : form->findChildren<QAbstractButton*>()) texts << button->text();
    for (QGroupBox* box : form->findChildren<QGroupBox*>()) texts << box->title();
    for (const QString& text : texts)
        for (const char* typo : {"Ouput", "Alamanac", "a Orvena"})
            EXPECT_FALSE(text.contains(typo)) << text.toStdString();
    EXPECT_TRUE(texts.contains("Output rate (Hz)"));
    EXPECT_TRUE(texts.contains("Almanac file"));
#ifdef TRAJIX_WITH_SCENARIO
    EXPECT_EQ(std::string(trajix::scenarioQuestion), "Process NMEA file and create an Orvena Binary file?");
#endif

    // Other programs read the settings file: its keys keep their old spelling.
    form->closeDown();
    EXPECT_NE(settingsText().find("[Alamanc]\r\n"), std::string::npos) << settingsText();
}

// From a small window up: every tab keeps its edits readable and its charts apart,
// scrolling where the window is too small; at 1024x600 no tab needs to scroll sideways,
// with a route and its captions shown too.
TEST_F(AppTest, EveryTabHoldsItsLayoutAtAnySize)
{
    auto form = startWindow();
    form->show();
    form->openFile(QString::fromStdString(trajix::test::dataFile("../../examples/loop.kml").string()));
    ASSERT_FALSE(control<QLabel>(*form, "AccelerationLabel")->text().isEmpty());
    for (const QSize size : {QSize(600, 400), QSize(1024, 600), QSize(1920, 1080)}) {
        form->resize(size);
        for (int index = 0; index < form->PageControl1->count(); ++index) {
            form->PageControl1->setCurrentIndex(index);
            QApplication::processEvents();
            auto* page = qobject_cast<QScrollArea*>(form->PageControl1->widget(index));
            ASSERT_TRUE(page) << index;
            const std::string where = std::to_string(size.width()) + "x" + std::to_string(size.height()) + " tab " +
                                      form->PageControl1->tabText(index).toStdString();
            for (QLineEdit* edit : page->findChildren<QLineEdit*>())
                if (edit->isVisibleTo(page)) {
                    EXPECT_GE(edit->width(), 50) << where << " " << edit->objectName().toStdString();
                }
            const auto charts = page->findChildren<QChartView*>();
            for (QChartView* chart : charts) {
                EXPECT_GE(chart->height(), 200) << where;
                for (QChartView* other : charts) {
                    const QRect a(chart->mapTo(page->widget(), QPoint()), chart->size());
                    const QRect b(other->mapTo(page->widget(), QPoint()), other->size());
                    if (chart != other) {
                        EXPECT_FALSE(a.intersects(b)) << where << ": charts overlap";
                    }
                }
            }
            if (size.width() >= 1024) {
                EXPECT_EQ(page->horizontalScrollBar()->maximum(), 0) << where << ": scrolls sideways";
            }
            if (size.height() >= 1080) {
                EXPECT_EQ(page->verticalScrollBar()->maximum(), 0) << where << ": scrolls at full screen";
            }
        }
    }
}

TEST_F(AppTest, TheAdvertAreaTakesNoRoomUntilAPictureArrives)
{
    auto form = startWindow();
    form->show();
    QApplication::processEvents();
    EXPECT_FALSE(form->WebImage1->isVisible());
    EXPECT_FALSE(form->WebImage1->hasPicture());
}

TEST_F(AppTest, DialogsStartInTheFolderLastUsedForTheirKindKeptInTheSettings)
{
    {
        auto form = startWindow();
        gui::FolderMemory& folders = form->folderMemory();
        EXPECT_EQ(folders.startPath("*.kml"), qs("*.kml")) << "the working folder before any was used";
        folders.remember("*.kml", "/data/routes/corner.kml");
        folders.remember("*.txt", "/data/out/drive.txt");
        folders.remember("*.txt", QString());  // a cancelled dialog changes nothing
        EXPECT_EQ(folders.startPath("*.kml"), qs("/data/routes/*.kml"));
        EXPECT_EQ(folders.startPath("*.txt"), qs("/data/out/*.txt"));
        EXPECT_EQ(folders.startPath("*.dsf"), qs("*.dsf"));
        form->closeDown();
    }
    EXPECT_NE(settingsText().find("[Folders]\r\nkml=/data/routes\r\ntxt=/data/out\r\n"), std::string::npos)
        << settingsText();
    auto form = startWindow();
    EXPECT_EQ(form->folderMemory().startPath("*.txt"), qs("/data/out/*.txt"));
}

TEST_F(AppTest, EveryInputSaysItsUnitAndRange)
{
    auto form = startWindow();
    QList<QWidget*> inputs;
    for (QLineEdit* edit : form->PageControl1->findChildren<QLineEdit*>())
        if (!edit->parent()->inherits("QComboBox") && !edit->parent()->inherits("QAbstractSpinBox")) inputs << edit;
    for (QComboBox* box : form->PageControl1->findChildren<QComboBox*>()) inputs << box;
    ASSERT_GE(inputs.size(), 20);
    for (QWidget* input : inputs) EXPECT_FALSE(input->toolTip().isEmpty()) << input->objectName().toStdString();
}

}  // namespace
}  // namespace trajix::test

namespace trajix::test {
TEST_F(AppTest, RmcZdaAndTheDateAreSavedAndReachTheWriters)
{
    writeSettingsFile("[Other]\r\nkept=yes\r\n");
    {
        auto form = startWindow();
        auto* date = control<QDateEdit>(*form, "NmeaDateEdit");
        EXPECT_FALSE(date->isEnabled());  // no date is needed without RMC or ZDA
        EXPECT_FALSE(form->sentences().dates().date.has_value());
        control<QCheckBox>(*form, "ZDABox")->setChecked(true);
        EXPECT_TRUE(date->isEnabled());
        date->setDate(QDate(2024, 2, 29));
        date->setDate(QDate(1970, 1, 1));  // below the range: kept at its first day
        EXPECT_EQ(date->date(), QDate(1980, 1, 6));
        date->setDate(QDate(2024, 2, 29));
        const DateSentences dates = form->sentences().dates();
        EXPECT_FALSE(dates.rmc);
        EXPECT_TRUE(dates.zda);
        ASSERT_TRUE(dates.date.has_value());
        EXPECT_EQ(*dates.date, (CalendarDate{2024, 2, 29}));
        form->closeDown();
    }
    const std::string text = settingsText();
    EXPECT_NE(text.find("[Include RMC]\r\nRMC=0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Include ZDA]\r\nZDA=1\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[NMEA date]\r\nDate=2024-02-29\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("kept=yes\r\n"), std::string::npos) << text;

    auto form = startWindow();
    EXPECT_TRUE(control<QCheckBox>(*form, "ZDABox")->isChecked());
    EXPECT_FALSE(control<QCheckBox>(*form, "RMCBox")->isChecked());
    EXPECT_EQ(control<QDateEdit>(*form, "NmeaDateEdit")->date(), QDate(2024, 2, 29));
    EXPECT_TRUE(control<QDateEdit>(*form, "NmeaDateEdit")->isEnabled());
}
}  // namespace trajix::test
