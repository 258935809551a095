#pragma once
// The main window. Each tab is its own widget class (tab_*.hpp) that owns its controls
// and handlers; the window composes them and gives them what they share through the
// TabHost interface: start-up, settings, the rate edits, progress and prompts, the
// hand-over of written files, closing.
#include <QIcon>
#include <QMainWindow>
#include <QString>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/tab_host.hpp"
#include "common/output.hpp"
#include "common/prompt.hpp"
#include "common/settings.hpp"

class QLabel;
class QLineEdit;
class QTabWidget;
class QTimer;

namespace trajix {
class GeneratorProcess;
class PeriodicTimer;
struct ReplayState;
}  // namespace trajix

namespace trajix::gui {

class DsfTab;
class GoogleEarthTab;
class KeloTab;
class SerialTab;
class SettingsTab;
class ProgressWindow;
class SearchProgressWindow;
class CommandHelpWindow;
class RecordingWaitWindow;
class UserCommandsTab;
class WebImage;

/// The folder last used for each kind of file (trajix::fileKinds, named by extension),
/// kept in the settings file; the desktop's open and save dialogs start there.
class FolderMemory {
public:
    /// Where a dialog for pattern ("*.kml") starts: the pattern in the folder last used
    /// for its kind, or the pattern alone (the working folder) before any was used. A
    /// pattern that names a folder of its own (a file path) is left as it is.
    QString startPath(const QString& pattern) const;
    /// Keeps the folder of chosen for the kind of pattern (nothing for an empty choice).
    void remember(const QString& pattern, const QString& chosen);

    std::map<std::string, std::string> folders;  ///< kind -> folder
};

/// Start options of the desktop application.
struct StartOptions {
    bool simulatorFeatures = false;  ///< --simulator-features: leave the scenario controls enabled
    int tab = -1;                    ///< --tab N: the index (0-5) of tab N (1-6) to show once started
    bool help = false;               ///< --help or -h: print helpText and start nothing
    QString helpText;                ///< the options, as --help prints them
    QString usageError;              ///< a bad option value, said as the user should read it; empty when none
    QString file;                    ///< FILE: a path file (.kml .kmz .gpx) or an NMEA file to open
};

/// Parses the program's arguments (the first is the program name). Unknown options
/// are ignored so that Qt's own options pass through; a --tab without a number from 1
/// to 6 sets usageError.
StartOptions parseStartOptions(const QStringList& arguments);

class MainWindow : public QMainWindow, public TabHost {
    Q_OBJECT

public:
    explicit MainWindow(const StartOptions& options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    /// The first activation: clears the replay state, applies simulatorFeaturesOff,
    /// fills the help window, reads the settings and shows them. Later calls do nothing.
    void activateOnce();

    /// Shows the window at its opening size, 1280x800, or maximised on a screen whose
    /// free area cannot hold that with a window frame around it (a 1024x600 netbook), so
    /// that the frame, the title and the status bar all lie on the screen.
    void showAtOpeningSize();

    /// Closing: releases the serial port and writes the settings file.
    void closeDown();

    /// Ends every writer: the written file is scanned for the Serial Output tab (and,
    /// with makeReplayFile, becomes the replay file), then, while simulatorFeaturesOff
    /// is clear, the scenario step runs on it.
    void handOverWrittenFile(const QString& path, bool makeReplayFile) override;

    /// Messages and questions go through this; the window's own message boxes by default.
    trajix::UserPrompt& prompt() override { return *prompt_; }
    void showError(std::string_view text) override;
    /// Replaces the message boxes (tests answer from a script); nullptr restores them.
    void setPrompt(trajix::UserPrompt* prompt);

    /// The open and save dialogs; the window's own by default.
    FileDialogs& dialogs() override { return *dialogs_; }
    /// Replaces the dialogs (tests answer with file names); nullptr restores them.
    void setDialogs(FileDialogs* dialogs);

    /// Sets the text of status-bar panel 0 or 1.
    void setStatusPanel(int panel, const QString& text) override;
    /// Opens a file given on the command line (or by the desktop's file association):
    /// a .kml, .kmz or .gpx file is previewed on the Google Earth tab, any other file
    /// becomes the Serial Output tab's replay file.
    void openFile(const QString& fileName);
    QString statusPanel(int panel) const;

    /// The folders the desktop's dialogs remember, read from and written to the settings.
    FolderMemory& folderMemory() { return folders_; }

    /// Where the settings file is read from and written to.
    std::filesystem::path settingsPath() const;

    // ---- the rest of TabHost
    ProgressWindow* progressWindow() override { return ProgressForm; }
    SearchProgressWindow* searchProgressWindow() override { return ProgressForm2; }
    void showTab(QWidget* tab) override;
    QString rateText() const override;
    void shareRate(const QString& text, const QLineEdit* source = nullptr, const QString& fromLog = {}) override;
    bool simulatorFeaturesOff() const override { return simulatorFeaturesOff_; }
    trajix::OutputState& output() override { return output_; }
    const QLineEdit* routeJerkEdit() const override;
    SentenceChoices sentences() const override;
    void setFileDate(const trajix::CalendarDate& date) override;

    /// The scenario step on a written NMEA file: profile, simulator run, conversion.
    void runPlenarch(const QString& nmeaFileName);
    /// True while the generator that the scenario step started still runs.
    bool scenarioGeneratorRunning();
    /// The recording the last scenario step makes: the NMEA file's name ending in "bin".
    QString scenarioOutputName;
    /// The drive the scenario step writes its files on.
    QString startDrive;

    /// Puts a manually driven timer in place of the Serial Output tab's high-precision
    /// one (tests call playStep for its ticks); nullptr restores it.
    void setReplayTimer(trajix::PeriodicTimer* timer);
#ifdef TRAJIX_WITH_QTSERIAL
    /// The replay engine's state: the one record of the replay file, position and port.
    trajix::ReplayState& replayState();
#endif

    // ---- windows and shared components
    QTabWidget* PageControl1 = nullptr;
    WebImage* WebImage1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    std::vector<QIcon> ImageList1;
    ProgressWindow* ProgressForm = nullptr;
    CommandHelpWindow* helpform = nullptr;
    RecordingWaitWindow* continueForm = nullptr;
    SearchProgressWindow* ProgressForm2 = nullptr;

public slots:
    /// Ends playback when another tab is shown.
    void tabChanged(int index);
    /// Opens the maker's product page in the desktop's browser.
    void openProductPage();

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    /// Puts the saved rate into the three rate edits and the saved almanac into AlmanacEdit.
    void showSavedSettings();
    /// Switches the scenario controls, dropouts, text conversion, correction and almanac
    /// on or off at once; while off each says in its tooltip how to switch it on.
    void applySimulatorFeatures(bool on);
    /// Shows the sky and date choices on the writing tabs: their date edits editable
    /// when a sentence needs the date, their word on the sky, and the route's start time
    /// editable with the sky on (it sets the first fix the sky must cover).
    void showSkyChoices();
    void applySettings(const trajix::Settings& settings);
    trajix::Settings currentSettings() const;
    void showCommandHelp();
    /// Says what a buildings file read for a run held: in status panel 1, and when
    /// something was left out, in one message with the reader's first notes.
    void reportStreetRead(const QString& file, const street::StreetReadSummary& summary);

    GoogleEarthTab* googleEarth_ = nullptr;
    UserCommandsTab* userCommands_ = nullptr;
    KeloTab* kelo_ = nullptr;
    DsfTab* dsf_ = nullptr;
    SerialTab* serial_ = nullptr;
    SettingsTab* settings_ = nullptr;

    bool activated_ = false;
    bool simulatorFeaturesOff_ = false;
    bool featuresSaved_ = false;   ///< "Signal generator features" as the settings file had it
    bool featuresChosen_ = false;  ///< the user clicked the box in this run
    QString profileRate_ = "20";
    QString rateFromLog_;  ///< the rate a log import set, while the rate edits still hold it
    QString almanacFileName_;
    trajix::OutputState output_;
    FolderMemory folders_;

    StartOptions options_;
    std::unique_ptr<trajix::UserPrompt> ownPrompt_;
    trajix::UserPrompt* prompt_ = nullptr;
    std::unique_ptr<FileDialogs> ownDialogs_;
    FileDialogs* dialogs_ = nullptr;
    trajix::GeneratorProcess* scenarioGenerator_ = nullptr;  ///< while the scenario step waits
    /// What sentences() hands the writers for reportStreetRead.
    std::function<void(const QString&, const street::StreetReadSummary&)> streetRead_ =
        [this](const QString& file, const street::StreetReadSummary& summary) { reportStreetRead(file, summary); };
};

}  // namespace trajix::gui
