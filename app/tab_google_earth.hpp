#pragma once
// "Google Earth import": a path drawn in Google Earth (KML or KMZ) or recorded as GPX
// becomes a driven route.
#include <QString>
#include <QWidget>

class QChartView;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;

namespace trajix::gui {

class ClickLabel;
class FileDateRow;
class SkyPlot;
class TabHost;

class GoogleEarthTab : public QWidget {
    Q_OBJECT
public:
    explicit GoogleEarthTab(TabHost& host, QWidget* parent = nullptr);

    /// Reruns the route pipeline: asks for the path file (KML, KMZ or GPX) first with
    /// askForFile, asks for the NMEA file and writes it with writeOutput; fills the tab's
    /// charts and captions. The path driven is the one picked in pathBox.
    void LoadKML(bool askForFile, bool writeOutput);
    /// Takes fileName as the path file, as "Load KML file" does, and previews it.
    void openPathFile(const QString& fileName);
    /// The file last chosen with "Load KML file"; Preview and Generate rerun on it.
    const QString& kmlFileName() const { return kmlFileName_; }

    // The controls. The window reads the scenario start edits for the scenario step
    // and greys them out while the simulator features are off.
    QPushButton* BitBtn2 = nullptr;
    /// The paths of the file, one item each ("2: Lap (812 points, 2512.4 m)"); it can be
    /// opened only when the file holds several. Picking one previews it.
    QComboBox* pathBox = nullptr;
    /// "Heights from file": the file's altitudes become the written heights.
    QCheckBox* heightsBox = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QPushButton* BitBtn7 = nullptr;
    ClickLabel* Label21 = nullptr;
    QLineEdit* OutputUpdateEdit1 = nullptr;
    /// The date of the first fix (the Settings tab's date) and whether the sky is on.
    FileDateRow* dateRow = nullptr;
    QGroupBox* OrvenaGroupBox = nullptr;
    QLabel* orvLabel1 = nullptr;
    QLabel* orvLabel2 = nullptr;
    QLabel* orvLabel3 = nullptr;
    QLabel* orvLabel4 = nullptr;
    QLabel* orvLabel5 = nullptr;
    QLineEdit* WeekEdit = nullptr;
    QLineEdit* StartTimeEdit = nullptr;
    QLabel* durationLabel = nullptr;
    QLineEdit* DurationEdit = nullptr;
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
    /// The satellites of the first fix after a run with the sky on; "Sky off" without it.
    SkyPlot* skyPlot = nullptr;
    QLabel* AccelerationLabel = nullptr;  ///< highest lateral and longitudinal acceleration of the run

signals:
    /// "Output (Hz)" was clicked: the daily almanac of the fixed date is fetched.
    void almanacFetchRequested();

public slots:
    /// Asks for a path file (KML, KMZ or GPX) and previews its route.
    void pickPathFile();
    /// Reruns the route of the file last picked for the charts, writing nothing.
    void preview();
    /// Reruns the route of the file last picked and writes it to an NMEA file the user names.
    void generate();
    /// Previews the path picked in pathBox.
    void previewChosenPath(int index);
    /// Empties the charts and the captions under them.
    void clearCharts();
    /// Empties the sky plot and says whether the sky is on.
    void showSkyChoice();

private:
    TabHost& host_;
    QString kmlFileName_;
};

}  // namespace trajix::gui
