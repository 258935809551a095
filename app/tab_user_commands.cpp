// "User commands": a script of motion commands becomes a trajectory.
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
#include "app/secondary_windows.hpp"

namespace trajix::gui {

QWidget* TForm1::buildUserCommandsTab()
{
    auto* page = new QWidget;
    page->setObjectName("UserCommandsTab");

    Memo1 = new QPlainTextEdit(".end", page);
    Memo1->setObjectName("Memo1");
    Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setMinimumWidth(300);

    auto* edits = new QGridLayout;
    userMaxJerkEdit = makeEdit(page, "userMaxJerkEdit", "1", 60);
    outputUpdateEdit2 = makeEdit(page, "outputUpdateEdit2", "20", 60);
    connect(outputUpdateEdit2, &QLineEdit::editingFinished, this, &TForm1::outputUpdateEdit2Exit);
    addEditRow(edits, makeLabel(page, "userMaxJerkLabel", "Max jerk"), userMaxJerkEdit, "g/s");
    addEditRow(edits, makeLabel(page, "outputUpdateLabel2", "Ouput rate (Hz)"), outputUpdateEdit2);
    edits->setColumnStretch(3, 1);

    BitBtn1 = makeButton(page, "BitBtn1", "Load file");
    BitBtn4 = makeButton(page, "BitBtn4", "Save file");
    BitBtn6 = makeButton(page, "BitBtn6", "Help");
    previewButton = makeButton(page, "previewButton", "Preview");
    GenerateNMEAfilebutton = makeButton(page, "GenerateNMEAfilebutton", "Generate NMEA file");
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TForm1::BitBtn6Click);
    connect(previewButton, &QPushButton::clicked, this, &TForm1::previewButtonClick);
    connect(GenerateNMEAfilebutton, &QPushButton::clicked, this, &TForm1::GenerateNMEAfilebuttonClick);

    auto* fileButtons = new QHBoxLayout;
    fileButtons->addWidget(BitBtn1);
    fileButtons->addWidget(BitBtn4);
    fileButtons->addWidget(BitBtn6);
    auto* runButtons = new QHBoxLayout;
    runButtons->addWidget(previewButton);
    runButtons->addWidget(GenerateNMEAfilebutton);

    auto* left = new QVBoxLayout;
    left->addWidget(Memo1, 1);
    left->addLayout(fileButtons);
    left->addLayout(edits);
    left->addLayout(runButtons);

    Chart5 = makeLineChart("Position (x,y) metres", "East (m)", "North (m)", {&Series9}, page);
    Chart5->setObjectName("Chart5");
    Series9->setName("Series9");
    Chart2 = makeLineChart("Velocity", "Time (s)", "Speed km/h", {&Series4}, page);
    Chart2->setObjectName("Chart2");
    Series4->setName("Series4");
    Series4->setColor(Qt::blue);
    Chart7 = makeLineChart("Height", "Time (s)", "Height (m)", {&Series13}, page);
    Chart7->setObjectName("Chart7");
    Series13->setName("Series13");
    Series13->setColor(Qt::darkGreen);

    auto* profiles = new QVBoxLayout;
    profiles->addWidget(Chart2, 1);
    profiles->addWidget(Chart7, 1);

    auto* layout = new QHBoxLayout(page);
    layout->addLayout(left, 2);
    layout->addWidget(Chart5, 3);
    layout->addLayout(profiles, 3);
    return page;
}

void TForm1::BitBtn1Click()
{
    // Asks for a command script and loads it into the memo.
}

void TForm1::BitBtn4Click()
{
    // Asks for a file name and saves the memo's script up to ".end".
}

void TForm1::BitBtn6Click()
{
    helpform->show();
    helpform->raise();
    helpform->activateWindow();
}

void TForm1::previewButtonClick()
{
    // Runs the script for the charts only; nothing is written.
}

void TForm1::GenerateNMEAfilebuttonClick()
{
    // Asks for a file name, runs the script into it and makes it the replay file.
}

void TForm1::outputUpdateEdit2Exit()
{
    copyRateText(outputUpdateEdit2);
}

}  // namespace trajix::gui
