#pragma once
// Progress of one pipeline step, reported at most about a thousand times per step so
// that a path of a million points does not spend its time redrawing a gauge.
#include <string_view>

#include "common/error.hpp"
#include "common/progress.hpp"

namespace trajix::route {

class StepProgress {
public:
    StepProgress(ProgressSink& sink, std::string_view caption, long long maximum)
        : sink_(sink), stride_(maximum / 1000 > 0 ? maximum / 1000 : 1)
    {
        sink_.start(caption, maximum);
    }
    /// Reports position when it has moved on enough; throws Error when cancelled.
    void at(long long position)
    {
        if (position < next_) return;
        next_ = position + stride_;
        sink_.position(position);
        throwIfCancelled(sink_, "cancelled by the user");
    }

private:
    ProgressSink& sink_;
    long long stride_;
    long long next_ = 0;
};

}  // namespace trajix::route
