#pragma once
// What a tab may reach of the window around it. A tab owns its own controls and
// handlers; everything it shares with the others goes through this interface: the
// three rate edits, the hand-over of a written file, progress windows and prompts,
// and the few values of other tabs that a pipeline reads (the route's jerk edit, the
// sentence choices of the Settings tab).
#include <QString>

#include <functional>

#include "common/output.hpp"
#include "common/prompt.hpp"
#include "nmea/dates.hpp"

class QLineEdit;
class QWidget;

namespace trajix::street {
struct StreetReadSummary;
}

namespace trajix::gui {

class ProgressWindow;
class SearchProgressWindow;

/// The common open and save dialogs. Handlers ask through TabHost::dialogs(), so tests
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

/// The Settings tab's sentence choices, as every writer and the replay read them.
struct SentenceChoices {
    bool includeVtg = false;     ///< "Output VTG in NMEA file"
    bool hdtAndGll = false;      ///< "HDT and GLL only"
    bool includeRmc = false;     ///< "Write RMC"
    bool includeZda = false;     ///< "Write ZDA"
    trajix::CalendarDate date;   ///< the date edit: the date of the first sample
    bool standardGll = false;    ///< "Standard GLL": GLL in NMEA 0183's layout
    bool sky = false;            ///< "Satellites from": the box that switches the sky on
    QString skyFile;             ///< the almanac or RINEX navigation file of the sky
    QString skyMask = "5";       ///< the elevation mask edit, degrees
    QString skySystems = "gps";  ///< the systems ticked, "gps,galileo"; empty when none is
    QString buildingsFile;       ///< "Buildings": the street of the sky; empty for an open sky
    /// The street's values beside the file, as typed; an empty number is its default.
    QString heightField;                   ///< "Height field": empty for the file's height and levels tags
    QString defaultBuildingHeight = "10";  ///< "Default height", metres
    bool railTunnels = false;              ///< "Railway tunnels count (a receiver on a train)"
    QString antennaHeight = "1.5";         ///< "Antenna height", metres
    QString reflectionLoss = "6";          ///< "Reflection loss", dB
    /// Told what a buildings file held each time one is read (not when the street read
    /// before is used again).
    std::function<void(const QString& file, const trajix::street::StreetReadSummary& summary)> streetRead;
    /// What the writers add: RMC and ZDA, the satellites of the sky file, and the date
    /// only when one of them is on. Throws Error naming the sky file when it cannot be
    /// read or holds none of a ticked system's satellites, for a mask that is not a
    /// number from 0 up to 90, and when no system is ticked; with the sky, the street of
    /// the buildings file (Error naming the file and what GDAL said when it cannot be
    /// read, and naming the caption of a street value that is not a number or out of range).
    trajix::DateSentences dates() const;
};

class TabHost {
public:
    virtual ~TabHost() = default;

    /// Messages and questions.
    virtual trajix::UserPrompt& prompt() = 0;
    /// A message that says a run failed: shown with the warning icon, where prompt()
    /// messages carry the information icon. A replaced prompt gets it as information.
    virtual void showError(std::string_view text) = 0;
    /// The open and save dialogs.
    virtual FileDialogs& dialogs() = 0;
    /// The progress window with one gauge, and the one with the inner search gauge.
    virtual ProgressWindow* progressWindow() = 0;
    virtual SearchProgressWindow* searchProgressWindow() = 0;
    /// Sets the text of status-bar panel 0 or 1.
    virtual void setStatusPanel(int panel, const QString& text) = 0;
    /// Brings tab to the front.
    virtual void showTab(QWidget* tab) = 0;

    /// The output rate as the three rate edits show it (Hz, text as typed).
    virtual QString rateText() const = 0;
    /// Puts text into the three rate edits, except source (the edit it came from). With
    /// fromLog (a log's file name) the status bar and the Settings tab's rate say that
    /// the rate came from that log; a rate from anywhere else takes that note away.
    virtual void shareRate(const QString& text, const QLineEdit* source = nullptr, const QString& fromLog = {}) = 0;

    /// Ends every writer: with makeReplayFile the written file becomes the replay file
    /// and the Serial Output tab describes it; without, the replay file stays (and is
    /// described anew if it is the file written). Then the scenario step runs on it
    /// when the simulator features are on.
    virtual void handOverWrittenFile(const QString& path, bool makeReplayFile) = 0;
    /// True while the scenario controls are off (the default): no scenario step runs.
    virtual bool simulatorFeaturesOff() const = 0;
    /// The record of the last NMEA file written, which each writer updates.
    virtual trajix::OutputState& output() = 0;

    /// The route's "Max jerk" edit (g/s), which command scripts read for their route jerk.
    virtual const QLineEdit* routeJerkEdit() const = 0;
    /// The sentence choices of the Settings tab as they stand now.
    virtual SentenceChoices sentences() const = 0;
    /// Sets the date of the first fix (the Settings tab's date edit, which every
    /// writing tab's date edit follows).
    virtual void setFileDate(const trajix::CalendarDate& date) = 0;
};

}  // namespace trajix::gui
