#include "signal/realtime_pacer.hpp"

#include <chrono>
#include <thread>

#include <fmt/format.h>

namespace trajix {

RealTimePacer::RealTimePacer(std::function<void(const std::string&)> note, Clock clock, Sleep sleep)
    : note_(std::move(note)), clock_(std::move(clock)), sleep_(std::move(sleep))
{
    if (!clock_)
        clock_ = [] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        };
    if (!sleep_) sleep_ = [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
}

void RealTimePacer::beforePiece(double signalStart)
{
    const double now = clock_();
    if (!started_) {
        started_ = true;
        origin_ = now + lead - signalStart;
        return;
    }
    const double due = origin_ + signalStart;  // when the piece's first sample plays
    const double leave = due - lead;
    if (now < leave) {
        behind_ = false;
        sleep_(leave - now);
        return;
    }
    if (now <= due) return;  // inside the lead: on time
    // The reader has run dry: note it once per stretch, and pace afresh from here with
    // the lead restored.
    const double late = now - due;
    secondsBehind_ += late;
    if (!behind_) {
        ++timesBehind_;
        if (note_)
            note_(fmt::format("behind real time at {:.3f} s of signal: the samples came {:.3f} s late", signalStart,
                              late));
    }
    behind_ = true;
    origin_ = now + lead - signalStart;
}

}  // namespace trajix
