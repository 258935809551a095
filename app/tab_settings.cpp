// "Settings": the output rate, the sentence choices and the simulator tools.
#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include <fmt/format.h>

#include "app/controls.hpp"
#include "app/qt_progress.hpp"
#include "app/tab_host.hpp"
#include "app/tab_settings.hpp"
#include "app/widgets.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"

#ifdef TRAJIX_WITH_CONVERT
#include "convert/nmea_correction.hpp"
#endif
#ifdef TRAJIX_WITH_SCENARIO
#include "scenario/almanac.hpp"
#include "scenario/recording.hpp"
#endif
#ifdef TRAJIX_WITH_QTNET
#include "qtio/download_file.hpp"
#endif

namespace trajix::gui {

namespace {

// Block progress on one of the tab's gauges; the gauge keeps the last block's number.
class GaugeProgress final : public trajix::ProgressSink {
public:
    explicit GaugeProgress(QProgressBar* gauge) : gauge_(gauge) {}
    void start(std::string_view, long long maximum) override
    {
        gauge_->setRange(0, static_cast<int>(std::clamp(maximum, 0LL, static_cast<long long>(INT_MAX))));
        gauge_->setValue(0);
        keepAlive(true);
    }
    void position(long long position) override
    {
        gauge_->setValue(static_cast<int>(std::clamp(position, 0LL, static_cast<long long>(gauge_->maximum()))));
        keepAlive(false);
    }
    void finish() override { keepAlive(true); }

private:
    void keepAlive(bool force)
    {
        if (!force && sinceRepaint_.isValid() && sinceRepaint_.elapsed() < 50) return;
        QApplication::processEvents();
        sinceRepaint_.start();
    }
    QProgressBar* gauge_;
    QElapsedTimer sinceRepaint_;
};

// A unit caption that greys out with its edit.
class UnitLabel final : public QLabel {
public:
    UnitLabel(const QString& text, QWidget* edit, QWidget* parent) : QLabel(text, parent), edit_(edit)
    {
        edit->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == edit_ && event->type() == QEvent::EnabledChange) setEnabled(edit_->isEnabled());
        return false;
    }

private:
    QWidget* edit_;
};

}  // namespace

SettingsTab::SettingsTab(TabHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName("SettingsTab");
    auto* page = this;

    auto* rate = new QGridLayout;
    SampleRateEdit = makeEdit(page, "SampleRateEdit", "20", 60);
    addEditRow(rate, makeLabel(page, "SampleRateLabel", "Output rate (Hz), the same on every tab"), SampleRateEdit);
    SampleRateSourceLabel = makeLabel(page, "SampleRateSourceLabel", QString());
    SampleRateSourceLabel->setStyleSheet("color: darkblue;");
    rate->addWidget(SampleRateSourceLabel, rate->rowCount() - 1, 2);  // the rate's own row
    rate->setColumnStretch(3, 1);
    SampleRateEdit->setToolTip(sampleRateToolTip);

    VTGBox = new QCheckBox("Output VTG in NMEA file (not needed for Trajix Binary file creation)", page);
    VTGBox->setObjectName("VTGBox");
    HDTcheckbox = new QCheckBox("HDT and GLL only", page);
    HDTcheckbox->setObjectName("HDTcheckbox");
    StandardGllBox = new QCheckBox("Standard GLL", page);
    StandardGllBox->setObjectName("StandardGllBox");
    StandardGllBox->setToolTip(
        "GLL as NMEA 0183 lays it out (position, time, status A, mode A), as gpsd and other "
        "readers expect; off, GLL carries the time first, as earlier files did. "
        "Switch on \"HDT and GLL only\" to use it");
    StandardGllBox->setEnabled(false);
    connect(HDTcheckbox, &QCheckBox::toggled, StandardGllBox, &QCheckBox::setEnabled);
    auto* gll = new QHBoxLayout;
    gll->addWidget(HDTcheckbox);
    gll->addWidget(StandardGllBox);
    gll->addStretch();
    RMCBox = new QCheckBox("Write RMC", page);
    RMCBox->setObjectName("RMCBox");
    ZDABox = new QCheckBox("Write ZDA", page);
    ZDABox->setObjectName("ZDABox");
    NmeaDateEdit = new QDateEdit(QDateTime::currentDateTimeUtc().date(), page);
    NmeaDateEdit->setObjectName("NmeaDateEdit");
    NmeaDateEdit->setDisplayFormat("yyyy-MM-dd");
    NmeaDateEdit->setToolTip("UTC date of the first sample in RMC and ZDA sentences, year-month-day");
    NmeaDateEdit->setCalendarPopup(true);
    NmeaDateEdit->setDateRange(QDate(1980, 1, 6), QDate(2099, 12, 31));
    NmeaDateEdit->setToolTip("Date of the first sample; with RMC or ZDA the times wrap at midnight");
    NmeaDateEdit->setEnabled(false);
    auto* dates = new QHBoxLayout;
    dates->addWidget(RMCBox);
    dates->addWidget(ZDABox);
    dates->addWidget(NmeaDateEdit);
    dates->addStretch();

    SkyBox = new QCheckBox("Satellites from", page);
    SkyBox->setObjectName("SkyBox");
    SkyBox->setToolTip(
        "GGA's satellites and HDOP, GSA with every sample and GSV every second from the sky of the "
        "file at the date, time and place of each sample, in every file the window writes");
    SkyFileEdit = makeEdit(page, "SkyFileEdit", QString(), 320);
    SkyFileEdit->setToolTip("YUMA almanac (.alm) or RINEX 2, 3 or 4 navigation file (GPS or mixed) covering the date");
    SkyBrowseButton = makeButton(page, "SkyBrowseButton", "Browse");
    connect(SkyBrowseButton, &QPushButton::clicked, this, &SettingsTab::browseSkyFile);
    SkyMaskEdit = makeEdit(page, "SkyMaskEdit", "5", 60);
    SkyMaskEdit->setToolTip("Elevation mask in degrees, 0 up to 90: satellites below it are left out");
    auto* skyRow = new QHBoxLayout;
    skyRow->addWidget(SkyBox);
    skyRow->addWidget(SkyFileEdit);
    skyRow->addWidget(SkyBrowseButton);
    skyRow->addSpacing(12);
    skyRow->addWidget(makeLabel(page, "SkyMaskLabel", "Mask"));
    skyRow->addWidget(SkyMaskEdit);
    skyRow->addWidget(new QLabel("°", page));
    skyRow->addStretch();
    SkyGpsBox = new QCheckBox("GPS", page);
    SkyGpsBox->setObjectName("SkyGpsBox");
    SkyGpsBox->setChecked(true);
    SkyGalileoBox = new QCheckBox("Galileo", page);
    SkyGalileoBox->setObjectName("SkyGalileoBox");
    SkyBeidouBox = new QCheckBox("BeiDou", page);
    SkyBeidouBox->setObjectName("SkyBeidouBox");
    SkyGlonassBox = new QCheckBox("GLONASS", page);
    SkyGlonassBox->setObjectName("SkyGlonassBox");
    auto* systemsRow = new QHBoxLayout;
    systemsRow->addSpacing(24);
    systemsRow->addWidget(makeLabel(page, "SkySystemsLabel", "Systems"));
    for (QCheckBox* box : {SkyGpsBox, SkyGalileoBox, SkyBeidouBox, SkyGlonassBox}) {
        box->setToolTip(
            "Satellites of the ticked systems from the file (a RINEX 3 mixed navigation file holds them all). "
            "GPS alone writes GP sentences as always; more systems write GN position sentences, a GSA per "
            "system and each system's own GSV (NMEA 4.11)");
        systemsRow->addWidget(box);
    }
    systemsRow->addStretch();

    // The street: a buildings file that hides satellites in every file the window writes.
    BuildingsEdit = makeEdit(page, "BuildingsEdit", QString(), 320);
    BuildingsEdit->setToolTip(
        "Buildings and tunnels around the path (OpenStreetMap .osm or .osm.pbf, GeoJSON, Shapefile, GeoPackage, any "
        "coordinate system), with the sky on: satellites they hide are not received (empty SNR in GSV), ones "
        "received by a reflection only are weaker, and with fewer than 4 in use the fix is lost. Empty for an "
        "open sky; with the sky off it is not used");
    BuildingsBrowseButton = makeButton(page, "BuildingsBrowseButton", "Browse");
    connect(BuildingsBrowseButton, &QPushButton::clicked, this, &SettingsTab::browseBuildingsFile);
    auto* buildingsLabel = makeLabel(page, "BuildingsLabel", "Buildings");
    buildingsLabel->setBuddy(BuildingsEdit);
    auto* buildingsRow = new QHBoxLayout;
    buildingsRow->addSpacing(24);
    buildingsRow->addWidget(buildingsLabel);
    buildingsRow->addWidget(BuildingsEdit);
    buildingsRow->addWidget(BuildingsBrowseButton);
    buildingsRow->addStretch();
    // The street's values: how the file's buildings are read, then the receiver among them.
    BuildingsHeightAttributeEdit = makeEdit(page, "BuildingsHeightAttributeEdit", QString(), 120);
    BuildingsHeightAttributeEdit->setToolTip(
        "The field of the buildings file that holds each building's height in metres (e.g. HEIGHT_ROOF), tried "
        "first. Empty for the file's own height and levels tags");
    DefaultBuildingHeightEdit = makeEdit(page, "DefaultBuildingHeightEdit", "10", 60);
    DefaultBuildingHeightEdit->setToolTip(
        "Height of a building with no height and no levels in the file, metres, more than 0 up to 1000");
    RailTunnelsBox = new QCheckBox("Railway tunnels count (a receiver on a train)", page);
    RailTunnelsBox->setObjectName("RailTunnelsBox");
    RailTunnelsBox->setToolTip(
        "Railway tunnels of the file cover the sky too, as for a receiver on a train; road tunnels always do");
    AntennaHeightEdit = makeEdit(page, "AntennaHeightEdit", "1.5", 60);
    AntennaHeightEdit->setToolTip(
        "Height of the antenna above the ground, metres, 0 up to 1000: the lower it is, the more of the sky the "
        "buildings hide");
    ReflectionLossEdit = makeEdit(page, "ReflectionLossEdit", "6", 60);
    ReflectionLossEdit->setToolTip("How much weaker a satellite received by a reflection only is, dB, 0 up to 60");
    auto* heightFieldLabel = makeLabel(page, "BuildingsHeightAttributeLabel", heightFieldCaption);
    heightFieldLabel->setBuddy(BuildingsHeightAttributeEdit);
    auto* defaultHeightLabel = makeLabel(page, "DefaultBuildingHeightLabel", defaultBuildingHeightCaption);
    defaultHeightLabel->setBuddy(DefaultBuildingHeightEdit);
    auto* antennaLabel = makeLabel(page, "AntennaHeightLabel", antennaHeightCaption);
    antennaLabel->setBuddy(AntennaHeightEdit);
    auto* lossLabel = makeLabel(page, "ReflectionLossLabel", reflectionLossCaption);
    lossLabel->setBuddy(ReflectionLossEdit);
    auto* streetRow = new QHBoxLayout;
    streetRow->addSpacing(48);
    streetRow->addWidget(heightFieldLabel);
    streetRow->addWidget(BuildingsHeightAttributeEdit);
    streetRow->addSpacing(12);
    streetRow->addWidget(defaultHeightLabel);
    streetRow->addWidget(DefaultBuildingHeightEdit);
    streetRow->addWidget(new UnitLabel("m", DefaultBuildingHeightEdit, page));
    streetRow->addSpacing(12);
    streetRow->addWidget(RailTunnelsBox);
    streetRow->addStretch();
    auto* receiverRow = new QHBoxLayout;
    receiverRow->addSpacing(48);
    receiverRow->addWidget(antennaLabel);
    receiverRow->addWidget(AntennaHeightEdit);
    receiverRow->addWidget(new UnitLabel("m", AntennaHeightEdit, page));
    receiverRow->addSpacing(12);
    receiverRow->addWidget(lossLabel);
    receiverRow->addWidget(ReflectionLossEdit);
    receiverRow->addWidget(new UnitLabel("dB", ReflectionLossEdit, page));
    receiverRow->addStretch();
    const auto dateNeeded = [this] {
        NmeaDateEdit->setEnabled(RMCBox->isChecked() || ZDABox->isChecked() || SkyBox->isChecked());
    };
    connect(RMCBox, &QCheckBox::toggled, this, dateNeeded);
    connect(ZDABox, &QCheckBox::toggled, this, dateNeeded);
    connect(SkyBox, &QCheckBox::toggled, this, dateNeeded);
    // The buildings hide satellites of the sky: without it they have nothing to do.
    const auto streetNeedsSky = [=, this] {
        for (QWidget* control : std::initializer_list<QWidget*>{
                 buildingsLabel, BuildingsEdit, BuildingsBrowseButton, heightFieldLabel, BuildingsHeightAttributeEdit,
                 defaultHeightLabel, DefaultBuildingHeightEdit, RailTunnelsBox, antennaLabel, AntennaHeightEdit,
                 lossLabel, ReflectionLossEdit})
            control->setEnabled(SkyBox->isChecked());
    };
    connect(SkyBox, &QCheckBox::toggled, this, streetNeedsSky);
    streetNeedsSky();

    SignalGeneratorBox = new QCheckBox("Signal generator features", page);
    SignalGeneratorBox->setObjectName("SignalGeneratorBox");
    SignalGeneratorBox->setToolTip(
        "Switches on the scenario start controls of the Google Earth tab, the almanac, NMEA correction, "
        "text conversion and dropouts below; written files then go on to the scenario step");

    OrvenaSettingsGroupBox = new QGroupBox("Orvena settings", page);
    OrvenaSettingsGroupBox->setObjectName("OrvenaSettingsGroupBox");
    auto* group = new QVBoxLayout(OrvenaSettingsGroupBox);

    Label27 = makeLabel(OrvenaSettingsGroupBox, "Label27", "Almanac file");
    AlmanacEdit = makeEdit(OrvenaSettingsGroupBox, "AlmanacEdit", QString(), 420);
    AlmanacBrowseButton = makeButton(OrvenaSettingsGroupBox, "AlmanacBrowseButton", "Browse");
    connect(AlmanacBrowseButton, &QPushButton::clicked, this, &SettingsTab::browseAlmanac);
    auto* almanac = new QHBoxLayout;
    almanac->addWidget(Label27);
    almanac->addWidget(AlmanacEdit);
    almanac->addWidget(AlmanacBrowseButton);
    almanac->addStretch();

    Label28 = makeLabel(OrvenaSettingsGroupBox, "Label28",
                        "This routine will strip out any extra  non-GGA messages from an NMEA file so it can be used "
                        "in TrajixBinary:");
    correctNmeaButton = makeButton(OrvenaSettingsGroupBox, "correctNmeaButton", "Correct NMEA file");
    connect(correctNmeaButton, &QPushButton::clicked, this, &SettingsTab::correctNmeaFile);
    FinishedLabel = new ElidedLabel(QString(), OrvenaSettingsGroupBox);  // it names the output file
    FinishedLabel->setObjectName("FinishedLabel");
    auto* correct = new QHBoxLayout;
    correct->addWidget(correctNmeaButton);
    correct->addWidget(FinishedLabel, 1);

    Label29 = makeLabel(OrvenaSettingsGroupBox, "Label29",
                        "This routine takes a textfile with the format \"UTC time Latitude Longitude Speed "
                        "Heading\" and creates a scenario");
    ConvertTxtButton = makeButton(OrvenaSettingsGroupBox, "ConvertTxtButton", "Convert .txt file");
    connect(ConvertTxtButton, &QPushButton::clicked, this, &SettingsTab::textConversionRequested);

    Label30 = makeLabel(OrvenaSettingsGroupBox, "Label30", "Start");
    Start1 = makeEdit(OrvenaSettingsGroupBox, "Start1", "0", 70);
    Label31 = makeLabel(OrvenaSettingsGroupBox, "Label31", "Duration");
    Duration1 = makeEdit(OrvenaSettingsGroupBox, "Duration1", "0", 70);
    AlmanacEdit->setToolTip("YUMA almanac file (.alm) of the scenario's week");
    Start1->setToolTip("Second of the recording where the dropout starts, 1 to the recording's length (0: no dropout)");
    Duration1->setToolTip("Seconds blanked after the start second, a whole number, -1 or more");
    DropoutButton = makeButton(OrvenaSettingsGroupBox, "DropoutButton", "Create dropouts");
    connect(DropoutButton, &QPushButton::clicked, this, &SettingsTab::createDropouts);
    progressGauge2 = makeGauge(OrvenaSettingsGroupBox, "progressGauge2");
    progressGauge2->setMinimumWidth(300);
    auto* dropout = new QHBoxLayout;
    dropout->addWidget(DropoutButton);
    dropout->addSpacing(12);
    dropout->addWidget(Label30);
    dropout->addWidget(Start1);
    dropout->addWidget(new UnitLabel("s", Start1, OrvenaSettingsGroupBox));
    dropout->addSpacing(12);
    dropout->addWidget(Label31);
    dropout->addWidget(Duration1);
    dropout->addWidget(new UnitLabel("s", Duration1, OrvenaSettingsGroupBox));
    dropout->addSpacing(12);
    dropout->addWidget(progressGauge2);
    dropout->addStretch();

    group->addLayout(almanac);
    group->addSpacing(10);
    group->addWidget(Label28);
    group->addLayout(correct);
    group->addSpacing(10);
    group->addWidget(Label29);
    group->addWidget(ConvertTxtButton, 0, Qt::AlignLeft);
    group->addSpacing(10);
    group->addLayout(dropout);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(rate);
    layout->addWidget(VTGBox);
    layout->addLayout(gll);
    layout->addLayout(dates);
    layout->addLayout(skyRow);
    layout->addLayout(systemsRow);
    layout->addLayout(buildingsRow);
    layout->addLayout(streetRow);
    layout->addLayout(receiverRow);
    layout->addSpacing(10);
    layout->addWidget(SignalGeneratorBox);
    layout->addWidget(OrvenaSettingsGroupBox);
    layout->addStretch();
}

QString SettingsTab::skySystems() const
{
    QStringList names;
    if (SkyGpsBox->isChecked()) names << "gps";
    if (SkyGlonassBox->isChecked()) names << "glonass";
    if (SkyGalileoBox->isChecked()) names << "galileo";
    if (SkyBeidouBox->isChecked()) names << "beidou";
    return names.join(',');
}

void SettingsTab::setSkySystems(const QString& names)
{
    QStringList chosen;
    for (const QString& name : names.split(',')) chosen << name.trimmed().toLower();
    const bool known = std::all_of(chosen.begin(), chosen.end(), [](const QString& name) {
        return name == "gps" || name == "galileo" || name == "beidou" || name == "glonass";
    });
    if (!known) chosen = QStringList{"gps"};
    SkyGpsBox->setChecked(chosen.contains("gps"));
    SkyGalileoBox->setChecked(chosen.contains("galileo"));
    SkyBeidouBox->setChecked(chosen.contains("beidou"));
    SkyGlonassBox->setChecked(chosen.contains("glonass"));
}

void SettingsTab::browseAlmanac()
{
    const QString chosen = host_.dialogs().openFile(this, QString(), AlmanacEdit->text());
    if (!chosen.isEmpty()) AlmanacEdit->setText(chosen);
}

void SettingsTab::browseSkyFile()
{
    const QString chosen = host_.dialogs().openFile(this, "Pick an almanac or RINEX navigation file",
                                                    "*.alm *.rnx *.??n *.??N *.??p *.??P");
    if (chosen.isEmpty()) return;
    // A file chosen is a sky wanted: the box goes on with it.
    SkyFileEdit->setText(chosen);
    SkyBox->setChecked(true);
}

void SettingsTab::browseBuildingsFile()
{
    const QString chosen = host_.dialogs().openFile(this,
                                                    "Pick a buildings file (OpenStreetMap, GeoJSON, Shapefile, "
                                                    "GeoPackage)",
                                                    "*.osm *.pbf *.geojson *.json *.shp *.gpkg");
    if (!chosen.isEmpty()) BuildingsEdit->setText(chosen);
}

void SettingsTab::correctNmeaFile()
{
#ifdef TRAJIX_WITH_CONVERT
    const QString input = host_.dialogs().openFile(this, "Pick nmea file for conversion", "*.txt");
    if (input.isEmpty()) return;

    const QString before = FinishedLabel->text();
    FinishedLabel->setText(QString::fromUtf8(trajix::convert::correctionScanningText.data(),
                                             static_cast<qsizetype>(trajix::convert::correctionScanningText.size())));
    try {
        QtProgress progress(host_.progressWindow());
        const auto result = trajix::convert::correctNmeaFile(QFile::encodeName(input).toStdString(), progress);
        FinishedLabel->setText(QString::fromStdString(result.finishedText));
    } catch (const trajix::Error& error) {
        // Nothing was written, so the label goes back to what it said before.
        FinishedLabel->setText(before);
        host_.showError(error.what());
    }
#endif
}

void SettingsTab::fetchDailyAlmanac()
{
#if defined(TRAJIX_WITH_SCENARIO) && defined(TRAJIX_WITH_QTNET)
    // TRAJIX_ALMANAC_URL replaces the archive address (a mirror, or a test server).
    trajix::AlmanacDownloadRequest request;
    if (const char* url = std::getenv("TRAJIX_ALMANAC_URL"); url && *url) request.archiveUrl = url;
    try {
        trajix::downloadDailyAlmanac(
            request,
            [](const std::string& url, const std::filesystem::path& file) { return trajix::DownloadFile(url, file); },
            host_.prompt());
    } catch (const trajix::Error& error) {
        host_.showError(error.what());
    }
#endif
}

void SettingsTab::createDropouts()
{
    const QString input = host_.dialogs().openFile(this, "Select .bin file", "*.bin");
    if (input.isEmpty()) return;
#ifdef TRAJIX_WITH_SCENARIO
    try {
        // Both numbers are read before anything is written.
        trajix::DropoutRequest request;
        request.input = input.toStdString();
        request.start = editInteger(Start1, "Start");
        request.duration = editInteger(Duration1, "Duration");
        // A bad range is said before the question below, and an earlier copy is replaced
        // only when the user says so.
        trajix::checkDropoutRequest(request);
        const QString output = QString::fromStdString(trajix::dropoutOutputName(request.input.string()));
        if (QFileInfo::exists(output) &&
            !host_.prompt().askYesNo(
                fmt::format("{} already exists. Replace it with the new copy with dropouts?", output.toStdString())))
            return;
        GaugeProgress progress(progressGauge2);
        const std::filesystem::path written = trajix::createDropouts(request, progress);
        host_.setStatusPanel(0, "Written: " + QDir::toNativeSeparators(QString::fromStdString(written.string())));
    } catch (const trajix::Error& error) {
        host_.showError(error.what());
    }
#endif
}

}  // namespace trajix::gui
