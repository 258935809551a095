#include "qtio/serial_port.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <fmt/format.h>
#include <QMetaObject>
#include <QSerialPort>
#include <QSocketNotifier>

#include "common/error.hpp"

namespace trajix {

// ---------------------------------------------------------------------------------
// QtSerialPortAdapter

QtSerialPortAdapter::QtSerialPortAdapter() : port_(std::make_unique<QSerialPort>())
{
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(), [this](QSerialPort::SerialPortError e) {
        switch (e) {
            case QSerialPort::NoError:
            case QSerialPort::TimeoutError:
            // Pseudo-terminals have no modem lines: DTR and RTS cannot be set there.
            case QSerialPort::UnsupportedOperationError:
                return;
            default:
                failed_ = true;
                error_ = port_->errorString().toStdString();
        }
    });
    // Whatever the far end sends is not used; reading it keeps the buffer empty.
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] { port_->readAll(); });
}

QtSerialPortAdapter::~QtSerialPortAdapter() = default;

bool QtSerialPortAdapter::open(const std::string& device, int baudRate)
{
    if (port_->isOpen()) port_->close();
    failed_ = false;
    error_.clear();
    port_->setPortName(QString::fromStdString(device));
    port_->setBaudRate(baudRate);
    port_->setDataBits(QSerialPort::Data8);
    port_->setParity(QSerialPort::NoParity);
    port_->setStopBits(QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!port_->open(QIODevice::ReadWrite)) {
        error_ = fmt::format("{}: {}", device, port_->errorString().toStdString());
        failed_ = false;
        return false;
    }
    port_->setDataTerminalReady(false);
    port_->setRequestToSend(false);
    port_->clearError();
    failed_ = false;
    error_.clear();
    return true;
}

void QtSerialPortAdapter::close()
{
    if (port_->isOpen()) port_->close();
    failed_ = false;
}

void QtSerialPortAdapter::purge()
{
    if (port_->isOpen()) port_->clear(QSerialPort::AllDirections);
}

bool QtSerialPortAdapter::write(std::string_view bytes)
{
    if (!port_->isOpen() || failed_) {
        if (error_.empty()) error_ = "the port is not open";
        return false;
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (port_->write(bytes.data(), size) != size) {
        error_ = port_->errorString().toStdString();
        return false;
    }
    return true;
}

long long QtSerialPortAdapter::bytesQueued()
{
    return port_->isOpen() ? port_->bytesToWrite() : 0;
}

// ---------------------------------------------------------------------------------
// PtyPort

namespace {
[[noreturn]] void systemFailure(std::string_view what)
{
    throw Error(fmt::format("cannot create a pseudo-terminal: {} failed ({})", what, std::strerror(errno)));
}
}  // namespace

PtyPort::PtyPort()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) systemFailure("posix_openpt");
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 || ::ptsname_r(master_, name, sizeof name) != 0) {
        const int saved = errno;
        ::close(master_);
        errno = saved;
        systemFailure("unlocking the slave");
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        const int saved = errno;
        ::close(master_);
        errno = saved;
        systemFailure(fmt::format("opening {}", slavePath_));
    }
    // Raw: no echo, no line editing, CR LF passed through unchanged.
    termios settings{};
    ::tcgetattr(slave_, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave_, TCSANOW, &settings);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    // Bytes a reader writes into the slave come out here; drop them.
    readNotifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, readNotifier_.get(), [this] {
        char buffer[512];
        while (::read(master_, buffer, sizeof buffer) > 0) {
        }
    });
    writeNotifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Write);
    writeNotifier_->setEnabled(false);
    QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, writeNotifier_.get(), [this] { drain(); });
}

PtyPort::~PtyPort()
{
    readNotifier_.reset();
    writeNotifier_.reset();
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

long long PtyPort::bytesUnread() const
{
    // What the master wrote may still wait in the terminal's flip buffer, where TIOCINQ
    // does not count it, until a kernel worker moves it on (late on a loaded machine):
    // closing then would throw it away. A poll of the slave moves it on first.
    pollfd slave{slave_, POLLIN, 0};
    const bool waiting = ::poll(&slave, 1, 0) > 0 && (slave.revents & POLLIN) != 0;
    int unread = 0;
    if (::ioctl(slave_, TIOCINQ, &unread) != 0) unread = 0;
    return std::max<long long>(unread, waiting ? 1 : 0);
}

bool PtyPort::open(const std::string& device, int baudRate)
{
    if (device != slavePath_) {
        error_ = fmt::format("{} is not this pseudo-terminal ({})", device, slavePath_);
        return false;
    }
    termios settings{};
    if (::tcgetattr(slave_, &settings) == 0) {
        speed_t speed = B115200;
        switch (baudRate) {
            case 1200:
                speed = B1200;
                break;
            case 2400:
                speed = B2400;
                break;
            case 4800:
                speed = B4800;
                break;
            case 9600:
                speed = B9600;
                break;
            case 19200:
                speed = B19200;
                break;
            case 38400:
                speed = B38400;
                break;
            case 57600:
                speed = B57600;
                break;
            default:
                break;
        }
        ::cfsetspeed(&settings, speed);
        ::tcsetattr(slave_, TCSANOW, &settings);
    }
    open_ = true;
    failed_ = false;
    error_.clear();
    return true;
}

void PtyPort::close()
{
    open_ = false;
    queue_.clear();
    writeNotifier_->setEnabled(false);
}

void PtyPort::purge()
{
    queue_.clear();
    writeNotifier_->setEnabled(false);
    ::tcflush(slave_, TCIOFLUSH);
}

bool PtyPort::write(std::string_view bytes)
{
    if (!open_ || failed_) {
        if (error_.empty()) error_ = "the port is not open";
        return false;
    }
    queue_.append(bytes.data(), static_cast<qsizetype>(bytes.size()));
    drain();
    return !failed_;
}

void PtyPort::drain()
{
    while (!queue_.isEmpty()) {
        const ssize_t n = ::write(master_, queue_.constData(), static_cast<size_t>(queue_.size()));
        if (n > 0) {
            queue_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;  // the reader is behind
        failed_ = true;
        error_ = fmt::format("{}: {}", slavePath_, std::strerror(errno));
        queue_.clear();
        break;
    }
    writeNotifier_->setEnabled(!queue_.isEmpty());
}

// ---------------------------------------------------------------------------------

void QtTickDispatcher::post(std::function<void()> task)
{
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

}  // namespace trajix
