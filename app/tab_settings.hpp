#pragma once
// "Settings": the output rate, the sentence choices and the simulator tools.
#include <QWidget>

class QCheckBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace trajix::gui {

class TabHost;

/// The tooltip of the Settings tab's rate edit while no log has set the rate.
inline constexpr const char* sampleRateToolTip =
    "Output rate in Hz (fixes per second), greater than 0; also the rate of the other tabs";

/// The captions of the street's values beside the buildings file, as their labels show
/// them and as messages about a value name it.
inline constexpr const char* heightFieldCaption = "Height field";
inline constexpr const char* defaultBuildingHeightCaption = "Default height";
inline constexpr const char* antennaHeightCaption = "Antenna height";
inline constexpr const char* reflectionLossCaption = "Reflection loss";

class SettingsTab : public QWidget {
    Q_OBJECT
public:
    explicit SettingsTab(TabHost& host, QWidget* parent = nullptr);

    /// Fetches the daily almanac of the fixed date into the almanac folder.
    void fetchDailyAlmanac();

    QLineEdit* SampleRateEdit = nullptr;
    /// Beside the rate: which log the rate was taken from, until a rate comes from elsewhere.
    QLabel* SampleRateSourceLabel = nullptr;
    /// "Signal generator features": switches the scenario controls and the tools below on.
    QCheckBox* SignalGeneratorBox = nullptr;
    QCheckBox* VTGBox = nullptr;
    QCheckBox* HDTcheckbox = nullptr;
    QCheckBox* StandardGllBox = nullptr;
    QCheckBox* RMCBox = nullptr;
    QCheckBox* ZDABox = nullptr;
    QDateEdit* NmeaDateEdit = nullptr;  ///< the date of the first sample; enabled with RMC, ZDA or the sky
    /// "Satellites from": switches the sky on for every writer of the window.
    QCheckBox* SkyBox = nullptr;
    QLineEdit* SkyFileEdit = nullptr;  ///< the almanac or RINEX navigation file of the sky
    QPushButton* SkyBrowseButton = nullptr;
    QLineEdit* SkyMaskEdit = nullptr;  ///< elevation mask, degrees
    /// The systems of the sky: GPS (on by default), Galileo, BeiDou, GLONASS.
    QCheckBox* SkyGpsBox = nullptr;
    QCheckBox* SkyGalileoBox = nullptr;
    QCheckBox* SkyBeidouBox = nullptr;
    QCheckBox* SkyGlonassBox = nullptr;

    /// "Buildings": the buildings and tunnels file every writer takes with the sky on.
    QLineEdit* BuildingsEdit = nullptr;
    QPushButton* BuildingsBrowseButton = nullptr;
    /// The street's values under it, as the command line's --height-attribute,
    /// --default-building-height, --rail-tunnels, --antenna-height and --reflection-loss.
    QLineEdit* BuildingsHeightAttributeEdit = nullptr;  ///< empty: the file's height and levels tags
    QLineEdit* DefaultBuildingHeightEdit = nullptr;     ///< metres
    QCheckBox* RailTunnelsBox = nullptr;
    QLineEdit* AntennaHeightEdit = nullptr;   ///< metres
    QLineEdit* ReflectionLossEdit = nullptr;  ///< dB

    /// The systems ticked, as the settings file and --systems name them ("gps,galileo";
    /// empty when none is).
    QString skySystems() const;
    /// Ticks the systems of a "gps,galileo" text (GPS alone for one it cannot read).
    void setSkySystems(const QString& names);
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

signals:
    /// "Convert .txt file" was clicked; the KELO import tab runs the conversion.
    void textConversionRequested();

public slots:
    /// Asks for an almanac file and puts its name in AlmanacEdit.
    void browseAlmanac();
    /// Asks for an almanac or RINEX navigation file, puts its name in SkyFileEdit and
    /// switches the sky on.
    void browseSkyFile();
    /// Asks for a buildings file and puts its name in BuildingsEdit.
    void browseBuildingsFile();
    /// Asks for an NMEA file and writes its GGA lines to a corrected copy beside it.
    void correctNmeaFile();
    /// Asks for a .bin recording and blanks the seconds Start1 and Duration1 give.
    void createDropouts();

private:
    TabHost& host_;
};

}  // namespace trajix::gui
