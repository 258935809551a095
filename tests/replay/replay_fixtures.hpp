#pragma once
// Fakes and file builders shared by the replay tests.
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "nmea/sentences.hpp"
#include "replay/engine.hpp"
#include "replay/timer.hpp"

namespace trajix::test {

/// The one Qt application of the test program, for the tests that run Qt's event loop.
inline QCoreApplication& qtApplication()
{
    static int argc = 1;
    static char name[] = "test_replay";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
    return application;
}

/// A GGA sentence without CR LF at a clock in seconds of day.
inline std::string gga(long double seconds)
{
    std::string s = ggaSentence(seconds, 48.1173L, 11.5167L, fixedAltitude);
    s.resize(s.size() - 2);
    return s;
}
inline std::string vtg(long double course)
{
    std::string s = vtgSentence(course, 36.0L, VtgStyle::Route);
    s.resize(s.size() - 2);
    return s;
}
inline std::string gll(long double seconds)
{
    std::string s = gllSentence(seconds, 48.1173L, 11.5167L);
    s.resize(s.size() - 2);
    return s;
}
inline std::string hdt(long double heading)
{
    std::string s = hdtSentence(heading);
    s.resize(s.size() - 2);
    return s;
}

/// Joins lines with CR LF after each.
inline std::string crlfLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

/// count fixes from start at rate Hz: GGA only, or GGA and VTG pairs.
inline std::vector<std::string> fixLines(long double start, int count, int rate, bool withVtg)
{
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        lines.push_back(gga(start + static_cast<long double>(i) / rate));
        if (withVtg) lines.push_back(vtg(static_cast<long double>(i)));
    }
    return lines;
}

class FakePort final : public SerialPort {
public:
    bool open(const std::string& device, int baudRate) override
    {
        openedDevice = device;
        openedBaud = baudRate;
        isOpen = openSucceeds;
        return openSucceeds;
    }
    void close() override
    {
        isOpen = false;
        ++closes;
    }
    void purge() override { ++purges; }
    bool write(std::string_view bytes) override
    {
        if (!isOpen || failWrites) return false;
        written += bytes;
        return true;
    }
    long long bytesQueued() override { return queued; }
    std::string errorText() const override { return "fake failure"; }

    bool openSucceeds = true;
    bool isOpen = false;
    bool failWrites = false;
    long long queued = 0;
    std::string openedDevice;
    int openedBaud = 0;
    int closes = 0;
    int purges = 0;
    std::string written;
};

class FakeTimer final : public PeriodicTimer {
public:
    void setPeriod(double seconds) override
    {
        if (seconds > 0.0) period = seconds;
    }
    void setSchedule(std::function<double(long long)> dueSeconds) override { schedule = std::move(dueSeconds); }
    void setRate(double value) override
    {
        if (value > 0.0) rate = value;
    }
    void enable() override { on = true; }
    void disable() override { on = false; }
    bool enabled() const override { return on; }
    double period = 1.0;
    double rate = 1.0;
    std::function<double(long long)> schedule;
    bool on = false;
};

// Time stands still until the test moves it; the timer's thread polls it.
class FakeClock final : public TimerClock {
public:
    time_point now() override { return time_point(std::chrono::nanoseconds(nanos.load())); }
    void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, time_point) override
    {
        condition.wait_for(lock, std::chrono::microseconds(200));
    }
    void set(std::chrono::nanoseconds t) { nanos = t.count(); }
    std::atomic<long long> nanos{1'000'000'000};
};

class RecordingView final : public ReplayView {
public:
    void gaugeMaximum(long long maximum) override { this->maximum = maximum; }
    void gaugePosition(long long position) override { this->position = position; }
    void bufferText(std::string_view text) override { buffer = text; }
    void previewText(std::string_view text) override { preview = text; }
    void portChanged(bool open) override { portOpen = open; }
    void playbackChanged(Playback state) override { states.push_back(state); }
    long long maximum = -1;
    long long position = -1;
    std::string buffer;
    std::string preview;
    bool portOpen = false;
    std::vector<Playback> states;
};

/// Runs posted tasks when the test says so: the test thread is the owner's thread.
class QueueDispatcher final : public TickDispatcher {
public:
    void post(std::function<void()> task) override
    {
        {
            std::lock_guard lock(mutex);
            tasks.push_back(std::move(task));
        }
        condition.notify_all();
    }
    /// Waits up to timeout for a posted task and runs it; false when none came.
    bool runOne(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000))
    {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex);
            if (!condition.wait_for(lock, timeout, [this] { return !tasks.empty(); })) return false;
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
        return true;
    }
    std::size_t waiting()
    {
        std::lock_guard lock(mutex);
        return tasks.size();
    }
    std::mutex mutex;
    std::condition_variable condition;
    std::deque<std::function<void()>> tasks;
};

}  // namespace trajix::test
