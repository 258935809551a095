// "Google Earth import": a path drawn in Google Earth (KML) becomes a driven route.
#include <QChartView>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/controls.hpp"
#include "app/main_window.hpp"
#include "app/widgets.hpp"

namespace trajix::gui {

namespace {
constexpr const char* chartHintTail =
    " \r\nZoom in by drawing a window from left to right with the left mouse button. \r\nZoom out by drawing any "
    "box from right to left. \r\nPan by using right mouse button.";
}

QWidget* TForm1::buildGoogleEarthTab()
{
    auto* page = new QWidget;
    page->setObjectName("GoogleEarthTab");

    BitBtn2 = makeButton(page, "BitBtn2", "Load KML file");
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);

    auto* rateRow = new QHBoxLayout;
    Label21 = new ClickLabel("Ouput (Hz)", page);
    Label21->setObjectName("Label21");
    connect(Label21, &ClickLabel::clicked, this, &TForm1::Label21Click);
    OutputUpdateEdit1 = makeEdit(page, "OutputUpdateEdit1", "20", 60);
    connect(OutputUpdateEdit1, &QLineEdit::editingFinished, this, &TForm1::OutputUpdateEdit1Exit);
    rateRow->addWidget(Label21);
    rateRow->addWidget(OutputUpdateEdit1);
    rateRow->addStretch();

    OrvenaGroupBox = new QGroupBox("Orvena Scenario start time/date", page);
    OrvenaGroupBox->setObjectName("OrvenaGroupBox");
    auto* orvena = new QGridLayout(OrvenaGroupBox);
    orvLabel1 = new ClickLabel("GPS Week", OrvenaGroupBox);
    orvLabel1->setObjectName("orvLabel1");
    connect(orvLabel1, &ClickLabel::clicked, this, &TForm1::orvLabel1Click);
    WeekEdit = makeEdit(OrvenaGroupBox, "WeekEdit", "462");
    orvLabel2 = makeLabel(OrvenaGroupBox, "orvLabel2", "GPS Start Time");
    StartTimeEdit = makeEdit(OrvenaGroupBox, "StartTimeEdit", "32400");
    orvLabel3 = makeLabel(OrvenaGroupBox, "orvLabel3", "Start Day");
    StartDayEdit = makeEdit(OrvenaGroupBox, "StartDayEdit", "30");
    orvLabel4 = makeLabel(OrvenaGroupBox, "orvLabel4", "Start Month");
    StartMonthEdit = makeEdit(OrvenaGroupBox, "StartMonthEdit", "6");
    orvLabel5 = makeLabel(OrvenaGroupBox, "orvLabel5", "Start Year");
    StartYearEdit = makeEdit(OrvenaGroupBox, "StartYearEdit", "2008");
    addEditRow(orvena, orvLabel1, WeekEdit);
    addEditRow(orvena, orvLabel2, StartTimeEdit, "s");
    addEditRow(orvena, orvLabel3, StartDayEdit);
    addEditRow(orvena, orvLabel4, StartMonthEdit);
    addEditRow(orvena, orvLabel5, StartYearEdit);
    orvena->setColumnStretch(3, 1);

    DynamicGroupBox = new QGroupBox("Dynamic settings", page);
    DynamicGroupBox->setObjectName("DynamicGroupBox");
    auto* dynamic = new QGridLayout(DynamicGroupBox);
    longaccEdit = makeEdit(DynamicGroupBox, "longaccEdit", "1");
    jerkEdit = makeEdit(DynamicGroupBox, "jerkEdit", "2");
    lataccEdit = makeEdit(DynamicGroupBox, "lataccEdit", "1");
    SpeedEdit = makeEdit(DynamicGroupBox, "SpeedEdit", "100");
    StationaryPeriodEdit = makeEdit(DynamicGroupBox, "StationaryPeriodEdit", "80");
    stationaryperiodendedit = makeEdit(DynamicGroupBox, "stationaryperiodendedit", "5");
    posSmoothEdit = makeEdit(DynamicGroupBox, "posSmoothEdit", "100");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "longaccLabel", "Max longacc"), longaccEdit, "g");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "jerkLabel", "Max jerk"), jerkEdit, "g/s");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "lataccLabel", "Max latacc"), lataccEdit, "g");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "SpeedLabel", "Max speed"), SpeedEdit, "km/h");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "StationaryPeriodLabel", "Stationary period"), StationaryPeriodEdit,
               "s");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "stationaryperiodendLabel", "Stationary period end"),
               stationaryperiodendedit, "s");
    addEditRow(dynamic, makeLabel(DynamicGroupBox, "posSmoothLabel", "Position smoothing factor"), posSmoothEdit);
    dynamic->setColumnStretch(3, 1);

    BitBtn5 = makeButton(page, "BitBtn5", "Preview");
    connect(BitBtn5, &QPushButton::clicked, this, &TForm1::BitBtn5Click);
    BitBtn7 = makeButton(page, "BitBtn7", "Generate NMEA file");
    connect(BitBtn7, &QPushButton::clicked, this, &TForm1::BitBtn7Click);

    auto* controls = new QVBoxLayout;
    controls->addWidget(BitBtn2);
    controls->addLayout(rateRow);
    controls->addWidget(OrvenaGroupBox);
    controls->addWidget(DynamicGroupBox);
    controls->addStretch();
    controls->addWidget(BitBtn5);
    controls->addWidget(BitBtn7);

    Chart1 =
        makeLineChart("Position (x,y) metres", "East (m)", "North (m)", {&Series1, &Series2, &Series6, &Series8}, page);
    Chart1->setObjectName("Chart1");
    Chart1->setToolTip(QString("Graph showing output position in metres.") + chartHintTail);
    Series1->setName("Series1");
    Series1->setColor(Qt::red);
    Series2->setName("Series2");
    Series6->setName("Series6");
    Series8->setName("Series8");
    Series8->setColor(Qt::darkGreen);
    Chart3 = makeLineChart("Speed profile", "Time (s)", "Speed km/h", {&Series3}, page);
    Chart3->setObjectName("Chart3");
    Chart3->setToolTip(QString("Graph showing output speed in km/h.") + chartHintTail);
    Series3->setName("Series3");
    Series3->setColor(Qt::blue);

    DistanceLabel = makeLabel(page, "DistanceLabel", QString());
    TotalTimeLabel = makeLabel(page, "TotalTimeLabel", QString());
    auto* captions = new QHBoxLayout;
    captions->addWidget(DistanceLabel);
    captions->addSpacing(40);
    captions->addWidget(TotalTimeLabel);
    captions->addStretch();

    auto* charts = new QHBoxLayout;
    charts->addWidget(Chart1, 1);
    charts->addWidget(Chart3, 1);
    auto* right = new QVBoxLayout;
    right->addLayout(charts, 1);
    right->addLayout(captions);

    auto* layout = new QHBoxLayout(page);
    layout->addLayout(controls);
    layout->addLayout(right, 1);
    return page;
}

void TForm1::BitBtn2Click()
{
    // Asks for a KML file and runs the route pipeline on it without writing.
}

void TForm1::BitBtn5Click()
{
    // Reruns the route pipeline on the chosen KML file, charts only.
}

void TForm1::BitBtn7Click()
{
    // Reruns the route pipeline on the chosen KML file and writes the NMEA file.
}

void TForm1::Label21Click()
{
    // Fetches the daily almanac of the fixed date into the almanac folder.
}

void TForm1::orvLabel1Click()
{
    // Clicking "GPS Week" has no visible effect.
}

void TForm1::OutputUpdateEdit1Exit()
{
    copyRateText(OutputUpdateEdit1);
}

}  // namespace trajix::gui
