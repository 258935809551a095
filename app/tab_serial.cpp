// "Serial Output": replays an NMEA file to a serial port in real time.
#include <QApplication>
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

#include <algorithm>
#include <climits>
#include <optional>

#include "app/controls.hpp"
#include "app/main_window.hpp"
#include "common/error.hpp"

#ifdef TRAJIX_WITH_QTSERIAL
#include "common/numbers.hpp"
#include "qtio/serial_port.hpp"
#include "replay/engine.hpp"
#include "replay/scan.hpp"
#include "replay/timer.hpp"
#endif

namespace trajix::gui {

namespace {
constexpr int comWaitMs = 1000;  // Connect comes back a second after the port opened
}  // namespace

#ifdef TRAJIX_WITH_QTSERIAL

namespace {

const QString disconnectCaption = "Disconnect";

QString fromStd(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void processMessages()
{
    QApplication::processEvents();
}

/// The tab's controls as the replay engine shows its state.
class TabView final : public trajix::ReplayView {
public:
    explicit TabView(TForm1& form) : form_(form) {}

    void gaugeMaximum(long long maximum) override
    {
        // A gauge whose maximum is 0 turns into a busy indicator.
        form_.ReplayProgress->setMaximum(static_cast<int>(std::clamp(maximum, 1LL, static_cast<long long>(INT_MAX))));
    }
    void gaugePosition(long long position) override
    {
        form_.replay.replayPosition = position;
        // The scan's step count can fall one short of the steps a file really takes
        // (its first line is not counted); the gauge then stays full.
        form_.ReplayProgress->setValue(
            static_cast<int>(std::clamp(position, 0LL, static_cast<long long>(form_.ReplayProgress->maximum()))));
    }
    void bufferText(std::string_view text) override
    {
        const QString shown = fromStd(text);
        if (form_.BufferLabel->text() != shown) form_.BufferLabel->setText(shown);
    }
    void previewText(std::string_view text) override { form_.OutputpreviewMemo->setPlainText(fromStd(text)); }
    void portChanged(bool open) override { form_.replay.comPortOpen = open; }

private:
    TForm1& form_;
};

/// The engine's messages go to whatever prompt the window uses at the time.
class TabPrompt final : public trajix::UserPrompt {
public:
    explicit TabPrompt(TForm1& form) : form_(form) {}
    void information(std::string_view text) override { form_.prompt().information(text); }
    bool askYesNo(std::string_view question) override { return form_.prompt().askYesNo(question); }

private:
    TForm1& form_;
};

/// The timer the engine drives: the high-precision one, or a test's in its place.
class SwitchableTimer final : public trajix::PeriodicTimer {
public:
    explicit SwitchableTimer(trajix::PeriodicTimer& standard) : standard_(standard), current_(&standard) {}
    void use(trajix::PeriodicTimer* timer)
    {
        current_->disable();
        current_ = timer ? timer : &standard_;
    }
    void setPeriod(double seconds) override { current_->setPeriod(seconds); }
    void enable() override { current_->enable(); }
    void disable() override { current_->disable(); }
    bool enabled() const override { return current_->enabled(); }

private:
    trajix::PeriodicTimer& standard_;
    trajix::PeriodicTimer* current_;
};

}  // namespace

struct SerialReplay {
    explicit SerialReplay(TForm1& form)
        : view(form),
          prompt(form),
          dispatcher(&form),
          hpTimer(dispatcher),
          timer(hpTimer),
          engine(port, timer, prompt, view)
    {
        hpTimer.setHandler([&form](const trajix::TimerTick&) { form.replayHPTimerHighPrecisionTimer(); });
    }

    TabView view;
    TabPrompt prompt;
    trajix::QtSerialPortAdapter port;
    trajix::QtTickDispatcher dispatcher;
    trajix::HighPrecisionTimer hpTimer;
    SwitchableTimer timer;
    trajix::ReplayEngine engine;
    /// A step is under way: a message box of a step lets the window's events (and the
    /// next ticks) through, and those ticks must not start another step inside it.
    bool stepping = false;
};

void SerialReplayDeleter::operator()(SerialReplay* replay) const
{
    delete replay;
}

namespace {

/// Copies the engine's playback state into the window's replay state.
void showPlaybackState(TForm1& form)
{
    const trajix::ReplayState& state = form.serialReplay->engine.state();
    form.replay.replayPosition = state.replayPosition;
    form.replay.replayFileOpen = state.replayFileOpen;
    form.replay.comPortOpen = state.comPortOpen;
}

/// Scans fileName and shows what it found, or says why it could not. Returns the
/// scan (measured or not), or nothing when there is no such file or it failed.
std::optional<trajix::ScanResult> scanAndShow(TForm1& form, const QString& fileName)
{
    std::optional<trajix::ScanResult> scan;
    try {
        scan = trajix::scanfile(fileName.toStdString(), form.HDTcheckbox->isChecked());
    } catch (const trajix::Error& error) {
        form.prompt().information(error.what());
        return std::nullopt;
    }
    if (!scan) return std::nullopt;
    if (!scan->measured) {
        form.prompt().information(scan->message);
        return scan;
    }
    form.ReplayOutputRateEdit->setText(fromStd(scan->rateText));
    form.ReplayFileLengthLabel->setText(fromStd(scan->lengthText));
    form.ReplayFileTypeLabel->setText(fromStd(scan->typeText));
    return scan;
}

/// Gives the engine the window's replay file before it plays.
void handReplayFileToEngine(TForm1& form)
{
    trajix::ReplayEngine& engine = form.serialReplay->engine;
    trajix::ReplayState& state = engine.state();
    const std::string name = form.replay.replayFileName.toStdString();
    if (state.replayFileName != name && state.replayFileOpen) engine.endPlayback();
    state.replayFileName = name;
    state.replaySentenceCount = form.replay.replaySentenceCount;
    state.replayHasExtraSentences = form.replay.replayHasExtraSentences;
}

}  // namespace

void TForm1::scanfile(const QString& fileName)
{
    const auto scan = scanAndShow(*this, fileName);
    // The step count and the sentence pairing belong to the replay file: a file
    // scanned only to be described leaves them as they are.
    if (scan && scan->measured && fileName == replay.replayFileName) {
        replay.replaySentenceCount = scan->count;
        replay.replayHasExtraSentences = scan->replayHasExtraSentences;
    }
}

void TForm1::adoptReplayFile(const QString& fileName)
{
    const auto scan = scanAndShow(*this, fileName);
    if (scan && !scan->measured) return;  // the previous replay file stays
    if (fileName != replay.replayFileName) endReplay();
    replay.replayFileName = fileName;
    replayFilenameEdit->setText("Replay file : " + fileName);
    // No such file leaves nothing to count; Start says so when it cannot open it.
    replay.replaySentenceCount = scan ? scan->count : 0;
    replay.replayHasExtraSentences = scan && scan->replayHasExtraSentences;
}

void TForm1::endReplay()
{
    serialReplay->engine.endPlayback();
    showPlaybackState(*this);
    // The window's own record may say a file is open that the engine never opened.
    replay.replayPosition = 0;
    replay.replayFileOpen = false;
}

void TForm1::setReplayTimer(trajix::PeriodicTimer* timer)
{
    serialReplay->timer.use(timer);
}

void TForm1::releaseSerialPort()
{
    // Playback ends with the port: a tick after this would only report the closed port.
    serialReplay->engine.endPlayback();
    processMessages();
    serialReplay->engine.disconnect();
    processMessages();
    showPlaybackState(*this);
}

void TForm1::ComConnectButtonClick()
{
    processMessages();
    trajix::ReplayEngine& engine = serialReplay->engine;
    if (ComConnectButton->text() != disconnectCaption) {
        const std::optional<int> baudRate = trajix::replayBaudRate(BaudRateComboBox->currentIndex());
        processMessages();
        bool opened = false;
        try {
            opened = engine.connect(ComPortEdit->text().toStdString(), baudRate);
        } catch (const trajix::Error& error) {
            prompt().information(error.what());
            return;
        }
        processMessages();
        showPlaybackState(*this);
        if (!opened) return;
        ComConnectButton->setEnabled(false);
        ComWaitTimer->start();
        ComConnectButton->setText(disconnectCaption);
        ComPortEdit->setEnabled(false);
        BaudRateComboBox->setEnabled(false);
        for (QPushButton* button : {StartReplayButton, PauseReplayButton, StopReplayButton}) button->setEnabled(true);
        return;
    }
    // A replay that is running goes on until its next step finds the port closed.
    ComConnectButton->setText("Connect");
    engine.disconnect();
    processMessages();
    ComPortEdit->setEnabled(true);
    BaudRateComboBox->setEnabled(true);
    showPlaybackState(*this);
    for (QPushButton* button : {StartReplayButton, PauseReplayButton, StopReplayButton}) button->setEnabled(false);
}

void TForm1::LoadReplayFileButtonClick()
{
    const QString chosen = dialogs().openFile(this, "Pick file for replay", "*.txt");
    if (chosen.isEmpty()) return;
    adoptReplayFile(chosen);
}

void TForm1::StartReplayButtonClick()
{
    if (replay.replayFileName.isEmpty()) {
        prompt().information("No filename for replay file");
        return;
    }
    try {
        const long long rate = trajix::parseInteger(ReplayOutputRateEdit->text().toStdString());
        const double speed = trajix::replaySpeedFactor(ReplaySpeedComboBox->currentIndex());
        handReplayFileToEngine(*this);
        trajix::ReplayEngine& engine = serialReplay->engine;
        engine.options().repeat = RepeatReplayCheckBox->isChecked();
        engine.options().sendVtg = VTGBox->isChecked();
        engine.start(rate, speed);
    } catch (const trajix::Error& error) {
        prompt().information(error.what());
    }
    showPlaybackState(*this);
}

void TForm1::PauseReplayButtonClick()
{
    serialReplay->engine.pause();
    showPlaybackState(*this);
}

void TForm1::StopReplayButtonClick()
{
    serialReplay->engine.stop();
    showPlaybackState(*this);
}

void TForm1::replayHPTimerHighPrecisionTimer()
{
    SerialReplay& replayer = *serialReplay;
    if (replayer.stepping) return;
    replayer.stepping = true;
    trajix::ReplayEngine& engine = replayer.engine;
    // Repeat and VTG are read as each step goes, as the check boxes stand now.
    engine.options().repeat = RepeatReplayCheckBox->isChecked();
    engine.options().sendVtg = VTGBox->isChecked();
    try {
        engine.step();
    } catch (const trajix::Error& error) {
        // The replay file could not be read: playback stops where it is.
        engine.pause();
        prompt().information(error.what());
    }
    replayer.stepping = false;
    showPlaybackState(*this);
}

#else  // a build without the replay: the tab shows its controls and does nothing

void SerialReplayDeleter::operator()(SerialReplay*) const {}

void TForm1::scanfile(const QString&) {}

void TForm1::adoptReplayFile(const QString& fileName)
{
    replay.replayFileName = fileName;
    replayFilenameEdit->setText("Replay file : " + fileName);
}

void TForm1::endReplay()
{
    replay.replayPosition = 0;
    replay.replayFileOpen = false;
}

void TForm1::setReplayTimer(trajix::PeriodicTimer*) {}

void TForm1::releaseSerialPort()
{
    replay.comPortOpen = false;
}

void TForm1::ComConnectButtonClick() {}

void TForm1::LoadReplayFileButtonClick() {}

void TForm1::StartReplayButtonClick() {}

void TForm1::PauseReplayButtonClick() {}

void TForm1::StopReplayButtonClick() {}

void TForm1::replayHPTimerHighPrecisionTimer() {}

#endif

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

#ifdef TRAJIX_WITH_QTSERIAL
    serialReplay.reset(new SerialReplay(*this));
#endif
    return page;
}

void TForm1::ComWaitTimerTimer()
{
    ComConnectButton->setEnabled(true);
    ComWaitTimer->stop();
}

}  // namespace trajix::gui
