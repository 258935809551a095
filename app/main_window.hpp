#pragma once
// The main window. Each tab's controls are built, and its handlers live, in that
// tab's own source file (tab_*.cpp); this file holds what the tabs share: start-up,
// settings, the rate edits, the replay state, the hand-over of written files, closing.
#include <QIcon>
#include <QMainWindow>
#include <QString>

#include <filesystem>
#include <memory>
#include <vector>

#include "common/output.hpp"
#include "common/prompt.hpp"
#include "common/settings.hpp"
#include "geo/geodesy.hpp"
#include "script/script.hpp"

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;

namespace trajix {
class GeneratorProcess;
class PeriodicTimer;
}

namespace trajix::gui {

class ClickLabel;
class WebImage;
class TProgressForm;
class TProgressForm2;
class Thelpform;
class TcontinueForm;
struct SerialReplay;
/// Ends the Serial Output tab's port, timer and replay engine (defined with the tab).
struct SerialReplayDeleter {
    void operator()(SerialReplay* replay) const;
};

/// What the Serial Output tab knows about the file it replays and the port it uses.
struct ReplayState {
    QString replayFileName;                ///< file the replay will play; empty until picked or written
    long long replaySentenceCount = 0;     ///< replay steps in the file, from the last scan
    bool replayHasExtraSentences = false;  ///< the last scan met non-GGA lines between fixes
    long long replayPosition = 0;          ///< steps sent since the file was opened or rewound
    bool replayFileOpen = false;           ///< the replay file is open for playback
    bool comPortOpen = false;              ///< the port was opened with Connect and not closed since
};

/// The common open and save dialogs. Handlers ask through TForm1::dialogs(), so tests
/// can answer with file names instead of modal windows.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    /// The chosen file, or an empty string when the user cancels. pattern presets the
    /// file name (e.g. "*.kml").
    virtual QString openFile(QWidget* parent, const QString& title, const QString& pattern) = 0;
    /// The chosen file (the dialog asks before overwriting), or empty when cancelled.
    virtual QString saveFile(QWidget* parent, const QString& title, const QString& pattern) = 0;
};

/// A name chosen in a save dialog gets ".txt" when its file name has no ".".
QString withTxtExtension(const QString& fileName);

/// Start options of the desktop application.
struct StartOptions {
    bool simulatorFeatures = false;  ///< --simulator-features: leave the scenario controls enabled
    int tab = -1;                    ///< --tab N: show tab N (0-5) once started, for screenshots
};

/// Parses the program's arguments (the first is the program name). Unknown options
/// are ignored so that Qt's own options pass through.
StartOptions parseStartOptions(const QStringList& arguments);

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm1(const StartOptions& options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    /// The first activation: clears the replay state, applies simulatorFeaturesOff,
    /// fills the help window, reads the settings and starts Timer1. Later calls do nothing.
    void FormActivate();

    /// Closing: releases the serial port and writes the settings file.
    void FormClose();

    /// Ends every writer: the written file is scanned for the Serial Output tab (and,
    /// with makeReplayFile, becomes the replay file), then, while simulatorFeaturesOff
    /// is clear, the scenario step runs on it.
    void handOverWrittenFile(const QString& path, bool makeReplayFile);

    /// Messages and questions go through this; the window's own message boxes by default.
    trajix::UserPrompt& prompt() { return *prompt_; }
    /// Replaces the message boxes (tests answer from a script); nullptr restores them.
    void setPrompt(trajix::UserPrompt* prompt);

    /// The open and save dialogs; the window's own by default.
    FileDialogs& dialogs() { return *dialogs_; }
    /// Replaces the dialogs (tests answer with file names); nullptr restores them.
    void setDialogs(FileDialogs* dialogs);

    /// Sets the text of status-bar panel 0 or 1.
    void setStatusPanel(int panel, const QString& text);
    QString statusPanel(int panel) const;

    /// Where the settings file is read from and written to.
    std::filesystem::path settingsPath() const;

    // ---- shared values set at start-up
    bool activated = false;
    bool simulatorFeaturesOff = false;
    QString profileRate = "20";
    QString almanacFileName;
    QString startDrive;
    ReplayState replay;
    trajix::OutputState output;
    trajix::GeoState geoState;

    // ---- windows and shared components
    QTabWidget* PageControl1 = nullptr;
    WebImage* WebImage1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QTimer* Timer1 = nullptr;
    std::vector<QIcon> ImageList1;
    TProgressForm* ProgressForm = nullptr;
    Thelpform* helpform = nullptr;
    TcontinueForm* continueForm = nullptr;
    TProgressForm2* ProgressForm2 = nullptr;

    // ---- "Google Earth import"
    QPushButton* BitBtn2 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* BitBtn7 = nullptr;
    ClickLabel* Label21 = nullptr;
    QLineEdit* OutputUpdateEdit1 = nullptr;
    QGroupBox* OrvenaGroupBox = nullptr;
    ClickLabel* orvLabel1 = nullptr;
    QLabel* orvLabel2 = nullptr;
    QLabel* orvLabel3 = nullptr;
    QLabel* orvLabel4 = nullptr;
    QLabel* orvLabel5 = nullptr;
    QLineEdit* WeekEdit = nullptr;
    QLineEdit* StartTimeEdit = nullptr;
    QLineEdit* StartDayEdit = nullptr;
    QLineEdit* StartMonthEdit = nullptr;
    QLineEdit* StartYearEdit = nullptr;
    QGroupBox* DynamicGroupBox = nullptr;
    QLineEdit* longaccEdit = nullptr;
    QLineEdit* jerkEdit = nullptr;
    QLineEdit* lataccEdit = nullptr;
    QLineEdit* SpeedEdit = nullptr;
    QLineEdit* StationaryPeriodEdit = nullptr;
    QLineEdit* stationaryperiodendedit = nullptr;
    QLineEdit* posSmoothEdit = nullptr;
    QChartView* Chart1 = nullptr;
    QChartView* Chart3 = nullptr;
    QLineSeries* Series1 = nullptr;
    QLineSeries* Series2 = nullptr;
    QLineSeries* Series6 = nullptr;
    QLineSeries* Series8 = nullptr;
    QLineSeries* Series3 = nullptr;
    QLabel* DistanceLabel = nullptr;
    QLabel* TotalTimeLabel = nullptr;
    /// The KML file last chosen with "Load KML file"; Preview and Generate rerun on it.
    QString kmlFileName;
    /// Reruns the route pipeline: asks for the KML file first with askForFile, asks for
    /// the NMEA file and writes it with writeOutput; fills the tab's charts and captions.
    void LoadKML(bool askForFile, bool writeOutput);

    // ---- "User commands"
    QPlainTextEdit* Memo1 = nullptr;
    QLineEdit* userMaxJerkEdit = nullptr;
    QLineEdit* outputUpdateEdit2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn6 = nullptr;
    QPushButton* previewButton = nullptr;
    QPushButton* GenerateNMEAfilebutton = nullptr;
    QChartView* Chart2 = nullptr;
    QChartView* Chart5 = nullptr;
    QChartView* Chart7 = nullptr;
    QLineSeries* Series4 = nullptr;
    QLineSeries* Series9 = nullptr;
    QLineSeries* Series13 = nullptr;
    QString commandFileName;          ///< script file last loaded or saved
    trajix::ScriptState scriptState;  ///< start point and height carry over between runs
    bool scriptRunning = false;       ///< a run is under way (its progress window lets events through)
    /// Runs Memo1's script into the NMEA file target, or for the charts only when target
    /// is empty. Messages and errors go to prompt(). True when the file was written.
    bool runCommandScript(const QString& target);

    // ---- "KELO import"
    QPushButton* BitBtn3 = nullptr;
    QLineEdit* kelStationaryPeriodedit = nullptr;
    QLineEdit* kelstationaryPeriodEndEdit = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QChartView* Chart6 = nullptr;
    QChartView* Chart4 = nullptr;
    QLineSeries* Series11 = nullptr;
    QLineSeries* Series12 = nullptr;

    // ---- "Convert .dsf to .bin"
    QPushButton* Button1 = nullptr;
    QProgressBar* progressbar2 = nullptr;
    QLabel* Label17 = nullptr;
    /// The recording the last scenario step makes: the NMEA file's name ending in "bin".
    QString scenarioOutputName;
    /// Converts a .dsf recording into output on this tab (gauges, Label17); errors go
    /// to prompt(). True when the recording was converted.
    bool convertRecording(const QString& input, const QString& output);
    /// True while the generator that the scenario step started still runs.
    bool scenarioGeneratorRunning();

    // ---- "Serial Output"
    QLineEdit* ComPortEdit = nullptr;
    QComboBox* BaudRateComboBox = nullptr;
    QPushButton* ComConnectButton = nullptr;
    QPushButton* LoadReplayFileButton = nullptr;
    QLabel* replayFilenameEdit = nullptr;
    QLineEdit* ReplayOutputRateEdit = nullptr;
    QLabel* ReplayFileLengthLabel = nullptr;
    QLabel* ReplayFileTypeLabel = nullptr;
    QComboBox* ReplaySpeedComboBox = nullptr;
    QCheckBox* RepeatReplayCheckBox = nullptr;
    QPushButton* StartReplayButton = nullptr;
    QPushButton* PauseReplayButton = nullptr;
    QPushButton* StopReplayButton = nullptr;
    QProgressBar* ReplayProgress = nullptr;
    QLabel* BufferLabel = nullptr;
    QPlainTextEdit* OutputpreviewMemo = nullptr;
    QTimer* ComWaitTimer = nullptr;
    /// The port, paced timer and replay engine behind the tab (nothing in a build
    /// without the replay).
    std::unique_ptr<SerialReplay, SerialReplayDeleter> serialReplay;
    /// Scans fileName and makes it the replay file when the scan measures a rate;
    /// otherwise says why and keeps the previous replay file.
    void adoptReplayFile(const QString& fileName);
    /// Ends playback: closes the replay file and stops the paced timer.
    void endReplay();
    /// Puts a manually driven timer in place of the high-precision one (tests call
    /// replayHPTimerHighPrecisionTimer for its ticks); nullptr restores it.
    void setReplayTimer(trajix::PeriodicTimer* timer);

    // ---- "Settings"
    QLineEdit* SampleRateEdit = nullptr;
    QGroupBox* OrvenaSettingsGroupBox = nullptr;
    QLabel* Label27 = nullptr;
    QLabel* Label28 = nullptr;
    QLabel* Label29 = nullptr;
    QLabel* Label30 = nullptr;
    QLabel* Label31 = nullptr;
    QLineEdit* AlmanacEdit = nullptr;
    QPushButton* AlmanacBrowseButton = nullptr;
    QPushButton* correctNmeaButton = nullptr;
    QLabel* FinishedLabel = nullptr;
    QPushButton* ConvertTxtButton = nullptr;
    QPushButton* DropoutButton = nullptr;
    QLineEdit* Start1 = nullptr;
    QLineEdit* Duration1 = nullptr;
    QProgressBar* progressGauge2 = nullptr;
    QCheckBox* VTGBox = nullptr;
    QCheckBox* HDTcheckbox = nullptr;
    /// Fetches the daily almanac of the fixed date into the almanac folder (the
    /// "Ouput (Hz)" label's click).
    void fetchDailyAlmanac();

    // ---- working methods of the tabs
    /// Describes a file on the Serial Output tab: rate, length, type, step count.
    void scanfile(const QString& fileName);
    /// The scenario step on a written NMEA file: profile, simulator run, conversion.
    void runPlenarch(const QString& nmeaFileName);
    /// Purges and closes the serial port if it is open.
    void releaseSerialPort();

public slots:
    void Timer1Timer();
    void PageControl1Change(int index);
    void WebImage1Click();

    // "Google Earth import"
    void BitBtn2Click();
    void BitBtn5Click();
    void BitBtn7Click();
    void Label21Click();
    void orvLabel1Click();
    void OutputUpdateEdit1Exit();

    // "User commands"
    void BitBtn1Click();
    void BitBtn4Click();
    void BitBtn6Click();
    void previewButtonClick();
    void GenerateNMEAfilebuttonClick();
    void outputUpdateEdit2Exit();

    // "KELO import"
    void loadKELbuttonClick();

    // "Convert .dsf to .bin"
    void Button1Click();

    // "Serial Output"
    void ComConnectButtonClick();
    void LoadReplayFileButtonClick();
    void StartReplayButtonClick();
    void PauseReplayButtonClick();
    void StopReplayButtonClick();
    void ComWaitTimerTimer();
    void replayHPTimerHighPrecisionTimer();

    // "Settings"
    void SampleRateEditExit();
    void AlmanacBrowseButtonClick();
    void correctNmeaButtonClick();
    void ConvertTxtButtonClick();
    void DropoutButtonClick();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildGoogleEarthTab();
    QWidget* buildUserCommandsTab();
    QWidget* buildKeloTab();
    QWidget* buildDsfTab();
    QWidget* buildSerialTab();
    QWidget* buildSettingsTab();

    void applySimulatorFeaturesOff();
    void applySettings(const trajix::Settings& settings);
    trajix::Settings currentSettings() const;
    /// Copies the text of the rate edit just left into the other two.
    void copyRateText(const QLineEdit* source);

    StartOptions options_;
    std::unique_ptr<trajix::UserPrompt> ownPrompt_;
    trajix::UserPrompt* prompt_ = nullptr;
    std::unique_ptr<FileDialogs> ownDialogs_;
    FileDialogs* dialogs_ = nullptr;
    trajix::GeneratorProcess* scenarioGenerator_ = nullptr;  ///< while the scenario step waits
};

/// A line chart with two value axes, titled, for the tabs' charts.
QChartView* makeLineChart(const QString& title, const QString& xTitle, const QString& yTitle,
                          std::initializer_list<QLineSeries**> series, QWidget* parent);

}  // namespace trajix::gui
