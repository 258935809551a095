// trajix replay FILE (--port N|PATH | --pty) [--tcp [HOST:]PORT] [--udp HOST:PORT]:
// plays an NMEA file to a serial port, TCP clients and a UDP address in real time,
// with the engine and timer of the "Serial Output" tab. A receiver log plays on its
// own clock.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <fmt/format.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>

#include "cli/command.hpp"
#include "common/baud_rates.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/platform.hpp"
#include "common/terminal_progress.hpp"
#include "qtio/serial_network.hpp"
#include "qtio/serial_port.hpp"
#include "replay/engine.hpp"
#include "replay/scan.hpp"
#include "replay/timer.hpp"

namespace {

using trajix::ReplayEngine;

struct PlayOptions {
    std::string file;
    std::string port;
    bool pty = false;
    std::string tcp;
    std::string udp;
    int baud = trajix::defaultBaudRate;
    std::string speed{trajix::replaySpeedNames[trajix::defaultReplaySpeedIndex]};
    bool repeat = false;
    bool vtg = false;
    bool hdtGll = false;
    double maxGap = 0.0;
};

int speedIndex(std::string text)
{
    if (!text.empty() && text.back() != 'x') text += 'x';
    for (std::size_t i = 0; i < trajix::replaySpeedNames.size(); ++i)
        if (trajix::replaySpeedNames[i] == text) return static_cast<int>(i);
    return -1;
}

// Ctrl-C and SIGTERM end the event loop through a pipe, so the port is closed on the
// program's own thread.
int signalPipe[2] = {-1, -1};
extern "C" void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto ignored = ::write(signalPipe[1], &byte, 1);
}

// Catches Ctrl-C and SIGTERM from the start of the run, so that a signal that comes
// before the event loop runs still ends the replay cleanly.
class StopSignals {
public:
    StopSignals()
    {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            throw trajix::Error(fmt::format("cannot create the signal pipe: {}", std::strerror(errno)));
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        ::sigaction(SIGINT, &action, &previousInt_);
        ::sigaction(SIGTERM, &action, &previousTerm_);
    }
    ~StopSignals()
    {
        ::sigaction(SIGINT, &previousInt_, nullptr);
        ::sigaction(SIGTERM, &previousTerm_, nullptr);
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

class CommandView final : public trajix::ReplayView {
public:
    void gaugeMaximum(long long maximum) override { progress.start("Replay", maximum); }
    void gaugePosition(long long position) override { progress.position(position); }
    void bufferText(std::string_view text) override
    {
        if (!text.empty() && text != lastBufferText) {
            trajix::cli::printMessage(text);
            // A pseudo-terminal keeps what nobody has read yet; playback waits for a reader.
            if (!ptyPath.empty()) trajix::cli::printMessage(fmt::format("waiting for a reader on {}", ptyPath));
        }
        lastBufferText = text;
    }
    void playbackChanged(Playback state) override
    {
        if (state != Playback::Playing) QCoreApplication::exit(0);
    }
    trajix::TerminalProgress progress;
    std::string lastBufferText;
    std::string ptyPath;
};

int play(const PlayOptions& options)
{
    StopSignals stopSignals;
    const auto scan = trajix::scanfile(options.file, options.hdtGll);
    if (!scan) throw trajix::Error(fmt::format("no such file: {}", options.file));
    if (!scan->measured) throw trajix::Error(scan->message);
    for (const auto& note : scan->notes) trajix::cli::printMessage(note);
    long long rate = 0;
    if (!scan->receiverLog && (!trajix::tryParseInteger(scan->rateText, rate) || rate <= 0))
        throw trajix::Error(
            fmt::format("{} has an output rate of '{}' Hz, which cannot be replayed", options.file, scan->rateText));

    static int argc = 1;
    static char name[] = "trajix";
    static char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

    // The serial port or pseudo-terminal, then the network outputs; with more than one
    // output they play as one set.
    std::unique_ptr<trajix::SerialPort> serial;
    std::string portText = options.port;
    trajix::PtyPort* pty = nullptr;
    if (options.pty) {
        auto created = std::make_unique<trajix::PtyPort>();
        pty = created.get();
        portText = created->slavePath();
        serial = std::move(created);
        fmt::print("{}\n", portText);
        std::fflush(stdout);
    } else if (!options.port.empty()) {
        serial = std::make_unique<trajix::QtSerialPortAdapter>();
    }
    const auto notice = [](const std::string& text) { trajix::cli::printMessage(text); };
    std::unique_ptr<trajix::TcpServerOutput> tcp;
    std::unique_ptr<trajix::UdpOutput> udp;
    trajix::OutputSet outputs;
    if (serial) outputs.add(*serial, trajix::comPortDevice(portText));
    if (!options.tcp.empty()) {
        tcp = std::make_unique<trajix::TcpServerOutput>();
        tcp->notice = notice;
        outputs.add(*tcp, options.tcp);
    }
    if (!options.udp.empty()) {
        udp = std::make_unique<trajix::UdpOutput>();
        udp->notice = notice;
        outputs.add(*udp, options.udp);
    }
    const bool network = tcp || udp;
    trajix::SerialPort* port = network ? static_cast<trajix::SerialPort*>(&outputs) : serial.get();

    // This thread writes every fix: it too should run as soon as a tick wakes it.
    trajix::preferPromptWakeups();
    trajix::QtTickDispatcher dispatcher(&application);
    trajix::HighPrecisionTimer timer(dispatcher);
    trajix::cli::TerminalPrompt prompt;
    CommandView view;
    if (pty) view.ptyPath = pty->slavePath();
    ReplayEngine engine(*port, timer, prompt, view);
    engine.options().repeat = options.repeat;
    engine.options().sendVtg = options.vtg;
    engine.options().maxGap = options.maxGap;
    engine.useReplayFile(options.file, *scan);
    timer.setHandler([&engine](const trajix::TimerTick& tick) { engine.step(tick.lastDue); });

    if (network) {
        if (!engine.connectTo(portText, options.baud)) return trajix::cli::exitFailed;
        if (tcp) {
            // The address clients (and gpsd, as a tcp:// source) connect to.
            fmt::print("tcp://{}\n", tcp->listeningAddress());
            std::fflush(stdout);
        }
    } else if (!engine.connect(portText, options.baud)) {
        trajix::cli::printMessage(port->errorText());
        return trajix::cli::exitFailed;
    }

    bool interrupted = false;
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &application, [&] {
        char drained[16];
        while (::read(signalPipe[0], drained, sizeof drained) > 0) {
        }
        interrupted = true;
        engine.stop();
        QCoreApplication::exit(0);
    });

    engine.start(rate, trajix::replaySpeedFactor(speedIndex(options.speed)));
    if (engine.playback() == ReplayEngine::Playback::Playing) QCoreApplication::exec();
    view.progress.finish();

    const bool failed = !interrupted && engine.playback() != ReplayEngine::Playback::Idle;
    if (failed && !port->errorText().empty()) trajix::cli::printMessage(port->errorText());
    if (!failed && !interrupted) {
        // Let the last sentences leave the queue, and a pty reader take them, before
        // the port goes away.
        QElapsedTimer waited;
        waited.start();
        while (!interrupted && waited.elapsed() < 5000 &&
               (port->bytesQueued() > 0 || (pty && pty->bytesUnread() > 0) || (tcp && tcp->bytesUnsent() > 0))) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            ::usleep(2000);
        }
    }
    engine.endPlayback();
    // At a normal end the port closes without the purge of Disconnect: a purge would
    // throw away the last sentences while they still pass through the system to the
    // far end (on a loaded machine that lost the last fix now and then).
    if (failed || interrupted)
        engine.disconnect();
    else
        port->close();
    return failed ? trajix::cli::exitFailed : trajix::cli::exitOk;
}

void addReplay(CLI::App& app, trajix::cli::Context& context)
{
    auto* sub = app.add_subcommand("replay", "Play an NMEA file to a serial port or network clients in real time");
    auto options = std::make_shared<PlayOptions>();
    sub->add_option("FILE", options->file, "NMEA file")->required();
    auto* port = sub->add_option("--port", options->port, "COM port number (3 is /dev/ttyS2) or device path");
    auto* pty =
        sub->add_flag("--pty", options->pty, "Play into a new pseudo-terminal; its path is printed on the first line");
    port->excludes(pty);
    sub->add_option("--tcp", options->tcp,
                    "Serve the stream to TCP clients on [HOST:]PORT (every address of the machine without HOST; "
                    "port 0 takes a free one); the address is printed")
        ->type_name("[HOST:]PORT");
    sub->add_option("--udp", options->udp, "Send each fix as one UDP datagram to HOST:PORT (broadcast allowed)")
        ->type_name("HOST:PORT");
    sub->add_option("--baud", options->baud, "Baud rate")
        ->check(CLI::IsMember(std::vector<int>(trajix::baudRates.begin(), trajix::baudRates.end())));
    sub->add_option("--speed", options->speed,
                    fmt::format("Playback speed: {}", fmt::join(trajix::replaySpeedNames, " ")))
        ->check(CLI::Validator(
            [](std::string& text) { return speedIndex(text) < 0 ? "not one of the playback speeds" : ""; }, "SPEED"));
    sub->add_flag("--repeat", options->repeat, "Start again at the end of the file");
    sub->add_flag("--vtg", options->vtg, "Send the VTG sentences too");
    sub->add_flag("--hdt-gll", options->hdtGll, "The file holds GLL and HDT sentences ('HDT and GLL only')");
    sub->add_option("--max-gap", options->maxGap,
                    "Play gaps between the fixes of a receiver log longer than S seconds as S")
        ->check(CLI::PositiveNumber)
        ->type_name("S");
    sub->callback([&context, options] {
        if (options->port.empty() && !options->pty && options->tcp.empty() && options->udp.empty())
            throw CLI::RequiredError("--port, --pty, --tcp or --udp");
        context.exitCode = play(*options);
    });
}

}  // namespace

TRAJIX_COMMAND(addReplay);
