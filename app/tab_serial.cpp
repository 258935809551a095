// "Serial Output": replays an NMEA file, ours or a receiver log, in real time to a
// serial port, TCP clients or a UDP address.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "app/controls.hpp"
#include "app/qt_progress.hpp"
#include "app/tab_host.hpp"
#include "app/tab_serial.hpp"
#include "app/widgets.hpp"
#include "common/baud_rates.hpp"
#include "common/error.hpp"
#include "common/replay_speeds.hpp"

#ifdef TRAJIX_WITH_QTSERIAL
#include <fmt/format.h>

#include "common/numbers.hpp"
#include "qtio/serial_network.hpp"
#include "qtio/serial_port.hpp"
#include "replay/engine.hpp"
#include "replay/scan.hpp"
#include "replay/timer.hpp"
#endif

namespace trajix::gui {

namespace {
constexpr int comWaitMs = 1000;  // Connect comes back a second after the port opened
enum Output { serialOutput, tcpOutput, udpOutput, ptyOutput };
// What the address edit holds when its output is chosen: the port registered for NMEA
// 0183 over IP, so that gpsd (2947) can run beside the replay and read it.
const QString defaultTcpAddress = "10110";
const QString defaultUdpAddress = "127.0.0.1:10110";
const QString pauseCaption = "Pause";
const QString resumeCaption = "Resume";
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
    explicit TabView(SerialTab& tab) : form_(tab) {}

    void gaugeMaximum(long long maximum) override
    {
        // A gauge whose maximum is 0 turns into a busy indicator.
        form_.ReplayProgress->setMaximum(static_cast<int>(std::clamp(maximum, 1LL, static_cast<long long>(INT_MAX))));
    }
    void gaugePosition(long long position) override
    {
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
    void portChanged(bool /*open*/) override {}
    void playbackChanged(Playback state) override
    {
        if (state == Playback::Playing) form_.ReplayProgress->setFormat("%p%");
        form_.showPlaybackState();
    }
    void playbackFinished() override
    {
        // The bar stays full and says so, instead of dropping back to 0 %.
        form_.ReplayProgress->setValue(form_.ReplayProgress->maximum());
        form_.ReplayProgress->setFormat("Finished");
    }

private:
    SerialTab& form_;
};

/// The engine's messages go to whatever prompt the window uses at the time. While a
/// port is being opened, a message gets the port's own reason after it, so the user
/// reads which port failed and why.
class TabPrompt final : public trajix::UserPrompt {
public:
    explicit TabPrompt(TabHost& host) : host_(host) {}
    void information(std::string_view text) override
    {
        std::string shown(text);
        if (reason_) {
            const std::string reason = reason_();
            if (!reason.empty()) shown += ": " + reason;
        }
        host_.prompt().information(shown);
    }
    bool askYesNo(std::string_view question) override { return host_.prompt().askYesNo(question); }
    /// reason gives the port's last error while it is set; an empty function stops it.
    void setReason(std::function<std::string()> reason) { reason_ = std::move(reason); }

private:
    TabHost& host_;
    std::function<std::string()> reason_;
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
    void setSchedule(std::function<double(long long)> dueSeconds) override
    {
        current_->setSchedule(std::move(dueSeconds));
    }
    void setRate(double rate) override { current_->setRate(rate); }
    void enable() override { current_->enable(); }
    void disable() override { current_->disable(); }
    bool enabled() const override { return current_->enabled(); }

private:
    trajix::PeriodicTimer& standard_;
    trajix::PeriodicTimer* current_;
};

/// The output the engine plays to: the serial port, the TCP server or UDP.
class SwitchablePort final : public trajix::SerialPort {
public:
    explicit SwitchablePort(trajix::SerialPort& first) : current_(&first) {}
    void use(trajix::SerialPort& port) { current_ = &port; }
    bool open(const std::string& device, int baudRate) override { return current_->open(device, baudRate); }
    void close() override { current_->close(); }
    void purge() override { current_->purge(); }
    bool write(std::string_view bytes) override { return current_->write(bytes); }
    long long bytesQueued() override { return current_->bytesQueued(); }
    std::string errorText() const override { return current_->errorText(); }

private:
    trajix::SerialPort* current_;
};

}  // namespace

struct SerialReplay {
    SerialReplay(SerialTab& tab, TabHost& host)
        : view(tab),
          prompt(host),
          output(port),
          dispatcher(&tab),
          hpTimer(dispatcher),
          timer(hpTimer),
          engine(output, timer, prompt, view)
    {
        hpTimer.setHandler([&tab](const trajix::TimerTick& tick) { tab.playStep(tick.lastDue); });
        const auto notice = [&tab](const std::string& text) { tab.NetworkLabel->setText(fromStd(text)); };
        tcp.notice = notice;
        udp.notice = notice;
    }

    TabView view;
    TabPrompt prompt;
    trajix::QtSerialPortAdapter port;
    trajix::TcpServerOutput tcp;
    trajix::UdpOutput udp;
    SwitchablePort output;
    trajix::QtTickDispatcher dispatcher;
    trajix::HighPrecisionTimer hpTimer;
    SwitchableTimer timer;
    trajix::ReplayEngine engine;
    /// The pseudo-terminal of the "Pseudo-terminal" output while it is connected.
    std::unique_ptr<trajix::PtyPort> pty;
    /// A step is under way: a message box of a step lets the window's events (and the
    /// next ticks) through, and those ticks must not start another step inside it.
    bool stepping = false;
};

void SerialReplayDeleter::operator()(SerialReplay* replay) const
{
    delete replay;
}

namespace {

/// Scans fileName and shows what it found, or says why it could not. Returns the
/// scan (measured or not), or nothing when there is no such file or it failed.
std::optional<trajix::ScanResult> scanAndShow(SerialTab& form, TabHost& host, const QString& fileName)
{
    std::optional<trajix::ScanResult> scan;
    try {
        // A long file takes a while to scan: the window stays alive meanwhile.
        const bool hdtAndGll = host.sentences().hdtAndGll;
        scan =
            whileWindowAlive([path = fileName.toStdString(), hdtAndGll] { return trajix::scanfile(path, hdtAndGll); });
    } catch (const trajix::Error& error) {
        host.showError(error.what());
        return std::nullopt;
    }
    if (!scan) return std::nullopt;
    if (!scan->measured) {
        host.prompt().information(scan->message);
        return scan;
    }
    form.ReplayOutputRateEdit->setText(fromStd(scan->rateText));
    form.ReplayFileLengthLabel->setText(fromStd(scan->lengthText));
    form.ReplayFileTypeLabel->setText(fromStd(scan->typeText));
    return scan;
}

}  // namespace

trajix::ReplayState& SerialTab::replayState()
{
    return serialReplay_->engine.state();
}

void SerialTab::scanfile(const QString& fileName)
{
    // The tab describes the file it plays and no other: the rate shown is the rate
    // Start plays at, so another file's rate beside the replay file's name would play
    // the replay file at the wrong pace.
    trajix::ReplayState& state = replayState();
    if (fileName.toStdString() != state.replayFileName) return;
    const auto scan = scanAndShow(*this, host_, fileName);
    if (scan && scan->measured) {
        state.replaySentenceCount = scan->count;
        state.replayHasExtraSentences = scan->replayHasExtraSentences;
        state.replayLog = scan->receiverLog ? scan->log : nullptr;
    }
}

void SerialTab::adoptReplayFile(const QString& fileName)
{
    const auto scan = scanAndShow(*this, host_, fileName);
    if (scan && !scan->measured) return;  // the previous replay file stays
    trajix::ReplayState& state = replayState();
    if (fileName.toStdString() != state.replayFileName) endReplay();
    state.replayFileName = fileName.toStdString();
    replayFilenameEdit->setText("Replay file : " + fileName);
    if (!scan) {
        // Nothing was measured: the previous file's rate, length and type go, and Start
        // has no rate to play at.
        ReplayFileLengthLabel->setText("File length");
        ReplayFileTypeLabel->setText("File type");
        ReplayOutputRateEdit->clear();
    }
    // No such file leaves nothing to count; Start says so when it cannot open it.
    state.replaySentenceCount = scan ? scan->count : 0;
    state.replayHasExtraSentences = scan && scan->replayHasExtraSentences;
    state.replayLog = scan && scan->receiverLog ? scan->log : nullptr;
}

void SerialTab::endReplay()
{
    serialReplay_->engine.endPlayback();
}

void SerialTab::setReplayTimer(trajix::PeriodicTimer* timer)
{
    serialReplay_->timer.use(timer);
}

void SerialTab::releaseSerialPort()
{
    // Playback ends with the port: a tick after this would only report the closed port.
    serialReplay_->engine.endPlayback();
    processMessages();
    serialReplay_->engine.disconnect();
    processMessages();
}

void SerialTab::toggleConnection()
{
    processMessages();
    SerialReplay& replayer = *serialReplay_;
    trajix::ReplayEngine& engine = replayer.engine;
    const int output = ReplayOutputComboBox->currentIndex();
    if (ComConnectButton->text() != disconnectCaption) {
        const std::optional<int> baudRate = trajix::replayBaudRate(BaudRateComboBox->currentIndex());
        processMessages();
        bool opened = false;
        SerialReplay& replayer = *serialReplay_;
        replayer.prompt.setReason([&replayer] { return replayer.port.errorText(); });
        try {
            if (output == tcpOutput) {
                replayer.output.use(replayer.tcp);
                opened = engine.connectTo(ReplayAddressEdit->text().trimmed().toStdString(), baudRate);
                if (opened) NetworkLabel->setText(fromStd("Serving on tcp://" + replayer.tcp.listeningAddress()));
            } else if (output == udpOutput) {
                replayer.output.use(replayer.udp);
                opened = engine.connectTo(ReplayAddressEdit->text().trimmed().toStdString(), baudRate);
                if (opened) NetworkLabel->setText("Sending to udp://" + ReplayAddressEdit->text().trimmed());
            } else if (output == ptyOutput) {
                // A new pseudo-terminal, as `trajix replay --pty` makes: a reader opens its path.
                replayer.pty = std::make_unique<trajix::PtyPort>();
                replayer.output.use(*replayer.pty);
                opened = engine.connect(replayer.pty->slavePath(), baudRate);
                if (opened)
                    NetworkLabel->setText(fromStd("Playing into " + replayer.pty->slavePath() +
                                                  ": open it in the reader (gpsd, a terminal program)"));
            } else {
                replayer.output.use(replayer.port);
                opened = engine.connect(ComPortEdit->text().toStdString(), baudRate);
            }
        } catch (const trajix::Error& error) {
            replayer.prompt.setReason({});
            host_.showError(error.what());
            return;
        }
        replayer.prompt.setReason({});
        processMessages();
        if (!opened) return;
        ComConnectButton->setEnabled(false);
        ComWaitTimer->start();
        ComConnectButton->setText(disconnectCaption);
        for (QWidget* control :
             std::initializer_list<QWidget*>{ComPortEdit, BaudRateComboBox, ReplayOutputComboBox, ReplayAddressEdit})
            control->setEnabled(false);
        showPlaybackState();
        return;
    }
    // A replay that is running goes on until its next step finds the port closed.
    ComConnectButton->setText("Connect");
    engine.disconnect();
    processMessages();
    NetworkLabel->clear();
    if (replayer.pty) {
        replayer.output.use(replayer.port);
        replayer.pty.reset();
    }
    for (QWidget* control :
         std::initializer_list<QWidget*>{ComPortEdit, BaudRateComboBox, ReplayOutputComboBox, ReplayAddressEdit})
        control->setEnabled(true);
    showOutputControls();
    showPlaybackState();
}

void SerialTab::showPlaybackState()
{
    using Playback = trajix::ReplayView::Playback;
    const Playback state = serialReplay_ ? serialReplay_->engine.playback() : Playback::Idle;
    const bool connected = ComConnectButton->text() == disconnectCaption;
    const bool running = state == Playback::Playing || state == Playback::Paused;
    StartReplayButton->setEnabled(connected && !running);
    PauseReplayButton->setEnabled(connected && running);
    StopReplayButton->setEnabled(connected && running);
    PauseReplayButton->setText(state == Playback::Paused ? resumeCaption : pauseCaption);
}

void SerialTab::showOutputControls()
{
    const int output = ReplayOutputComboBox->currentIndex();
    const bool serial = output == serialOutput;
    const bool network = output == tcpOutput || output == udpOutput;
    ComPortLabel->setVisible(serial);
    ComPortEdit->setVisible(serial);
    BaudRateComboBox->setEnabled(serial && ComConnectButton->text() != disconnectCaption);
    ReplayAddressLabel->setVisible(network);
    ReplayAddressEdit->setVisible(network);
    if (output == tcpOutput) {
        ReplayAddressLabel->setText("TCP port ([host:]port)");
        if (ReplayAddressEdit->text().isEmpty() || ReplayAddressEdit->text() == defaultUdpAddress)
            ReplayAddressEdit->setText(defaultTcpAddress);
    } else if (output == udpOutput) {
        ReplayAddressLabel->setText("UDP address (host:port)");
        if (ReplayAddressEdit->text().isEmpty() || ReplayAddressEdit->text() == defaultTcpAddress)
            ReplayAddressEdit->setText(defaultUdpAddress);
    }
}

void SerialTab::applySpeed()
{
    // A running playback takes the new speed at once, without a jump.
    serialReplay_->engine.setSpeed(trajix::replaySpeedFactor(ReplaySpeedComboBox->currentIndex()));
}

void SerialTab::pickReplayFile()
{
    const QString chosen = host_.dialogs().openFile(this, "Pick file for replay", "*.txt");
    if (chosen.isEmpty()) return;
    adoptReplayFile(chosen);
}

void SerialTab::start()
{
    if (replayState().replayFileName.empty()) {
        host_.prompt().information("No filename for replay file");
        return;
    }
    try {
        trajix::ReplayEngine& engine = serialReplay_->engine;
        // A receiver log plays on its own clock: its rate (which may be "0.5") is shown only.
        const long long rate =
            engine.state().replayLog ? 0 : trajix::parseInteger(ReplayOutputRateEdit->text().toStdString());
        const double speed = trajix::replaySpeedFactor(ReplaySpeedComboBox->currentIndex());
        double maxGap = 0.0;
        const std::string gapText = ReplayMaxGapEdit->text().trimmed().toStdString();
        if (!gapText.empty()) maxGap = trajix::parseDouble(gapText);
        if (maxGap < 0.0) throw trajix::Error(fmt::format("'{}' is not a gap in seconds (0 or more)", gapText));
        engine.options().maxGap = maxGap;
        engine.options().repeat = RepeatReplayCheckBox->isChecked();
        engine.options().sendVtg = host_.sentences().includeVtg;
        engine.start(rate, speed);
    } catch (const trajix::Error& error) {
        host_.showError(error.what());
    }
}

void SerialTab::pause()
{
    // The same button resumes a paused playback where it stopped.
    if (serialReplay_->engine.playback() == trajix::ReplayView::Playback::Paused)
        start();
    else
        serialReplay_->engine.pause();
}

void SerialTab::stop()
{
    serialReplay_->engine.stop();
}

void SerialTab::playStep(long long lastDue)
{
    SerialReplay& replayer = *serialReplay_;
    if (replayer.stepping) return;
    replayer.stepping = true;
    trajix::ReplayEngine& engine = replayer.engine;
    // Repeat and VTG are read as each step goes, as the check boxes stand now.
    engine.options().repeat = RepeatReplayCheckBox->isChecked();
    engine.options().sendVtg = host_.sentences().includeVtg;
    try {
        if (lastDue >= 0)
            engine.step(lastDue);
        else
            engine.step();
    } catch (const trajix::Error& error) {
        // The replay file could not be read: playback stops where it is.
        engine.pause();
        host_.showError(error.what());
    }
    replayer.stepping = false;
}

#else  // a build without the replay: the tab shows its controls and does nothing

void SerialReplayDeleter::operator()(SerialReplay*) const {}

void SerialTab::scanfile(const QString&) {}

void SerialTab::adoptReplayFile(const QString& fileName)
{
    replayFilenameEdit->setText("Replay file : " + fileName);
}

void SerialTab::endReplay() {}

void SerialTab::showPlaybackState() {}

void SerialTab::setReplayTimer(trajix::PeriodicTimer*) {}

void SerialTab::releaseSerialPort() {}

void SerialTab::toggleConnection() {}

void SerialTab::showOutputControls() {}

void SerialTab::applySpeed() {}

void SerialTab::pickReplayFile() {}

void SerialTab::start() {}

void SerialTab::pause() {}

void SerialTab::stop() {}

void SerialTab::playStep(long long) {}

#endif

SerialTab::SerialTab(TabHost& host, QWidget* parent) : QWidget(parent), host_(host)
{
    setObjectName("SerialTab");
    auto* page = this;

    auto* portBox = new QGroupBox("Port", page);
    portBox->setObjectName("PortGroupBox");
    auto* port = new QGridLayout(portBox);
    ReplayOutputComboBox = new QComboBox(portBox);
    ReplayOutputComboBox->setObjectName("ReplayOutputComboBox");
    ReplayOutputComboBox->addItems({"Serial port", "TCP server", "UDP", "Pseudo-terminal"});
    ComPortEdit = makeEdit(portBox, "ComPortEdit", "1", 120);
    ComPortLabel = makeLabel(portBox, "ComPortLabel", "COM Port number");
    ReplayAddressLabel = makeLabel(portBox, "ReplayAddressLabel", "TCP port ([host:]port)");
    ReplayAddressEdit = makeEdit(portBox, "ReplayAddressEdit", QString(), 120);
    NetworkLabel = makeLabel(portBox, "NetworkLabel", QString());
    NetworkLabel->setWordWrap(true);
    // Room for two lines whether or not it says anything: the controls below stay put
    // when a connection fills it.
    NetworkLabel->setMinimumHeight(2 * NetworkLabel->fontMetrics().lineSpacing());
    NetworkLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    BaudRateComboBox = new QComboBox(portBox);
    BaudRateComboBox->setObjectName("BaudRateComboBox");
    for (const int rate : trajix::baudRates) BaudRateComboBox->addItem(QString::number(rate));
    BaudRateComboBox->setCurrentIndex(trajix::defaultBaudRateIndex);
    ReplayOutputComboBox->setToolTip(
        "Where the replay goes: a serial port, a TCP server clients connect to, UDP, or a new pseudo-terminal "
        "that a program on this machine opens as its serial port");
    ReplayAddressEdit->setToolTip("Network port, 1 to 65535, optionally after a host: [host:]port");
    ComPortEdit->setToolTip("COM port number, 1 or more (1 is /dev/ttyS0), or a device path such as /dev/ttyUSB0");
    BaudRateComboBox->setToolTip("Speed of the port in bits per second, 8 data bits, no parity, 1 stop bit");
    ComConnectButton = makeButton(portBox, "ComConnectButton", "Connect");
    connect(ComConnectButton, &QPushButton::clicked, this, &SerialTab::toggleConnection);
    port->addWidget(makeLabel(portBox, "ReplayOutputLabel", "Output"), 0, 0);
    port->addWidget(ReplayOutputComboBox, 0, 1);
    port->addWidget(ComPortLabel, 1, 0);
    port->addWidget(ComPortEdit, 1, 1);
    port->addWidget(ReplayAddressLabel, 2, 0);
    port->addWidget(ReplayAddressEdit, 2, 1);
    port->addWidget(makeLabel(portBox, "BaudRateLabel", "Baud rate"), 3, 0);
    port->addWidget(BaudRateComboBox, 3, 1);
    port->addWidget(ComConnectButton, 4, 1);
    port->addWidget(NetworkLabel, 5, 0, 1, 3);
    port->setColumnStretch(2, 1);
    connect(ReplayOutputComboBox, &QComboBox::currentIndexChanged, this, &SerialTab::showOutputControls);

    auto* fileBox = new QGroupBox("Replay file", page);
    fileBox->setObjectName("ReplayFileGroupBox");
    auto* file = new QGridLayout(fileBox);
    LoadReplayFileButton = makeButton(fileBox, "LoadReplayFileButton", "Pick file for replay");
    connect(LoadReplayFileButton, &QPushButton::clicked, this, &SerialTab::pickReplayFile);
    replayFilenameEdit = new ElidedLabel("No Filename selected", fileBox);
    replayFilenameEdit->setObjectName("replayFilenameEdit");
    ReplayOutputRateEdit = makeEdit(fileBox, "ReplayOutputRateEdit", "20", 60);
    ReplayOutputRateEdit->setEnabled(false);
    ReplayOutputRateEdit->setToolTip("Fixes per second of the replay file in Hz, as its scan measured them");
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
    for (const std::string_view name : trajix::replaySpeedNames)
        ReplaySpeedComboBox->addItem(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
    ReplaySpeedComboBox->setCurrentIndex(trajix::defaultReplaySpeedIndex);
    ReplaySpeedComboBox->setToolTip("Replay speed against real time, 0.1 to 10 times");
    connect(ReplaySpeedComboBox, &QComboBox::currentIndexChanged, this, &SerialTab::applySpeed);
    ReplayMaxGapEdit = makeEdit(playBox, "ReplayMaxGapEdit", QString(), 60);
    ReplayMaxGapEdit->setToolTip("Gaps between the fixes of a receiver log longer than this play this long");
    RepeatReplayCheckBox = new QCheckBox("Repeat", playBox);
    RepeatReplayCheckBox->setObjectName("RepeatReplayCheckBox");
    StartReplayButton = makeButton(playBox, "StartReplayButton", "Start");
    PauseReplayButton = makeButton(playBox, "PauseReplayButton", "Pause");
    StopReplayButton = makeButton(playBox, "StopReplayButton", "Stop");
    for (QPushButton* button : {StartReplayButton, PauseReplayButton, StopReplayButton}) button->setEnabled(false);
    connect(StartReplayButton, &QPushButton::clicked, this, &SerialTab::start);
    connect(PauseReplayButton, &QPushButton::clicked, this, &SerialTab::pause);
    connect(StopReplayButton, &QPushButton::clicked, this, &SerialTab::stop);
    ReplayProgress = makeGauge(playBox, "ReplayProgress");
    BufferLabel = makeLabel(playBox, "BufferLabel", QString());
    BufferLabel->setStyleSheet("color: darkred;");
    OutputpreviewMemo = new QPlainTextEdit(playBox);
    OutputpreviewMemo->setObjectName("OutputpreviewMemo");
    OutputpreviewMemo->setReadOnly(true);
    OutputpreviewMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    OutputpreviewMemo->setFont(monospacedFont());
    OutputpreviewMemo->setMinimumHeight(120);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(StartReplayButton);
    buttons->addWidget(PauseReplayButton);
    buttons->addWidget(StopReplayButton);
    buttons->addSpacing(20);
    buttons->addWidget(RepeatReplayCheckBox);
    buttons->addStretch();
    play->addWidget(makeLabel(playBox, "ReplaySpeedLabel", "Output speed"), 0, 0);
    auto* speedRow = new QHBoxLayout;
    speedRow->addWidget(ReplaySpeedComboBox);
    speedRow->addSpacing(20);
    speedRow->addWidget(makeLabel(playBox, "ReplayMaxGapLabel", "Longest gap (s, receiver logs)"));
    speedRow->addWidget(ReplayMaxGapEdit);
    speedRow->addStretch();
    play->addLayout(speedRow, 0, 1);
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
    connect(ComWaitTimer, &QTimer::timeout, this, &SerialTab::enableConnectButton);
    ComWaitTimer->start();

    auto* top = new QHBoxLayout;
    top->addWidget(portBox, 1);
    top->addWidget(fileBox, 2);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(playBox, 1);

    showOutputControls();
#ifdef TRAJIX_WITH_QTSERIAL
    serialReplay_.reset(new SerialReplay(*this, host_));
#endif
}

SerialTab::~SerialTab() = default;

void SerialTab::enableConnectButton()
{
    ComConnectButton->setEnabled(true);
    ComWaitTimer->stop();
}

}  // namespace trajix::gui
