#pragma once
// How long work reports progress. The GUI shows a progress window (one gauge, or two
// with the inner search gauge) and keeps the window alive in position(); the CLI draws
// a bar on stderr; tests record the calls.
#include <string>
#include <string_view>

#include "common/error.hpp"

namespace trajix {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    /// A new step begins: caption names it, positions run from 0 to maximum.
    virtual void start(std::string_view caption, long long maximum) { (void)caption, (void)maximum; }
    /// The overall gauge moves to position (0..maximum).
    virtual void position(long long position) { (void)position; }
    /// The inner search gauge (0..100), for work that searches inside one step.
    virtual void inner(int percent) { (void)percent; }
    /// The step is over; the progress window closes.
    virtual void finish() {}
    /// True when the user asked to stop; long work checks it where it can stop cleanly.
    virtual bool cancelled() { return false; }
};

/// Throws Cancelled with message when the user has asked progress to stop.
inline void throwIfCancelled(ProgressSink& progress, std::string_view message)
{
    if (progress.cancelled()) throw Cancelled(std::string(message));
}

/// Reports nothing and never cancels.
class NullProgress final : public ProgressSink {};

}  // namespace trajix
