// "KELO import": a file recorded by a KELO GPS data logger becomes an NMEA file.
#include <QChartView>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/controls.hpp"
#include "app/main_window.hpp"

namespace trajix::gui {

QWidget* TForm1::buildKeloTab()
{
    auto* page = new QWidget;
    page->setObjectName("KeloTab");

    BitBtn3 = makeButton(page, "BitBtn3", "Load .kel file");
    BitBtn3->setToolTip("Load Corvalith GPS datalogger KELO '.kel' file for conversion to NMEA file");
    connect(BitBtn3, &QPushButton::clicked, this, &TForm1::loadKELbuttonClick);

    auto* edits = new QGridLayout;
    kelStationaryPeriodedit = makeEdit(page, "kelStationaryPeriodedit", "80", 60);
    kelStationaryPeriodedit->setToolTip("Enter stationary period at start of test to get satellite lock");
    kelstationaryPeriodEndEdit = makeEdit(page, "kelstationaryPeriodEndEdit", "5", 60);
    kelstationaryPeriodEndEdit->setToolTip("Enter stationary period to avoid spikes at the end of test ");
    addEditRow(edits, makeLabel(page, "kelStationaryPeriodLabel", "Stationary period"), kelStationaryPeriodedit, "s");
    addEditRow(edits, makeLabel(page, "kelstationaryPeriodEndLabel", "Stationary period end"),
               kelstationaryPeriodEndEdit, "s");
    edits->setColumnStretch(3, 1);

    auto* top = new QHBoxLayout;
    top->addWidget(BitBtn3, 0, Qt::AlignTop);
    top->addSpacing(20);
    top->addLayout(edits);
    top->addStretch();

    Memo2 = new QPlainTextEdit(page);
    Memo2->setObjectName("Memo2");
    Memo2->setReadOnly(true);
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont courier("Courier New");
    courier.setStyleHint(QFont::Monospace);
    if (!QFontInfo(courier).fixedPitch()) courier = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    Memo2->setFont(courier);
    Memo2->setToolTip("First 50 lines of NMEA output shown here");

    Chart6 = makeLineChart("Lat/Long in minutes", "Latitude", "Longitude", {&Series11}, page);
    Chart6->setObjectName("Chart6");
    Series11->setName("Series11");
    Series11->setColor(Qt::red);
    Chart4 = makeLineChart("Speed profile", "Time (s)", "Speed km/h", {&Series12}, page);
    Chart4->setObjectName("Chart4");
    Series12->setName("Series12");
    Series12->setColor(Qt::blue);

    auto* charts = new QHBoxLayout;
    charts->addWidget(Chart6, 1);
    charts->addWidget(Chart4, 1);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addLayout(charts, 3);
    layout->addWidget(Memo2, 2);
    return page;
}

void TForm1::loadKELbuttonClick()
{
    // Asks for a .kel log and an output name, detects the log's rate and writes the NMEA file.
}

}  // namespace trajix::gui
