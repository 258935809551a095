#pragma once
// The replay's ports and tick dispatch on Qt Core, shared by the GUI and the command
// line. Both ports drain their queues in the Qt event loop of the thread that owns
// them, so that thread must run one.
#include <memory>
#include <string>
#include <string_view>

#include <QByteArray>
#include <QObject>

#include "replay/engine.hpp"
#include "replay/timer.hpp"

class QSerialPort;
class QSocketNotifier;

namespace trajix {

/// A real serial port through QtSerialPort: 8 data bits, no parity, 1 stop bit, no
/// flow control, DTR and RTS off. Received bytes are read and dropped.
class QtSerialPortAdapter final : public SerialPort {
public:
    QtSerialPortAdapter();
    ~QtSerialPortAdapter() override;

    bool open(const std::string& device, int baudRate) override;
    void close() override;
    void purge() override;
    bool write(std::string_view bytes) override;
    long long bytesQueued() override;
    std::string errorText() const override { return error_; }

private:
    std::unique_ptr<QSerialPort> port_;
    bool failed_ = false;
    std::string error_;
};

/// A pseudo-terminal in raw mode standing in for a serial port: programs read the
/// stream from its slave device (slavePath()). The slave stays open on this side
/// too, so readers may come and go and nothing written is lost before one opens it.
class PtyPort final : public SerialPort {
public:
    /// Creates the pseudo-terminal. Throws Error when the system cannot.
    PtyPort();
    ~PtyPort() override;
    PtyPort(const PtyPort&) = delete;
    PtyPort& operator=(const PtyPort&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    /// Bytes written to the pseudo-terminal and not yet read by a reader.
    long long bytesUnread() const;

    /// Opens the port when device is slavePath().
    bool open(const std::string& device, int baudRate) override;
    void close() override;
    void purge() override;
    bool write(std::string_view bytes) override;
    long long bytesQueued() override { return queue_.size(); }
    std::string errorText() const override { return error_; }

private:
    void drain();

    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    bool open_ = false;
    bool failed_ = false;
    std::string error_;
    QByteArray queue_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
};

/// Posts the timer's ticks to the thread of a QObject (the window, the application).
class QtTickDispatcher final : public TickDispatcher {
public:
    explicit QtTickDispatcher(QObject* context) : context_(context) {}
    void post(std::function<void()> task) override;

private:
    QObject* context_;
};

}  // namespace trajix
