#pragma once
// The command line's progress bar: "caption [#####     ]  42%" redrawn in place on
// stderr, and drawn only when stderr is a terminal.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/progress.hpp"

namespace trajix {

class TerminalProgress final : public ProgressSink {
public:
    /// Draws on stream when it is a terminal (or always when force is set).
    explicit TerminalProgress(std::FILE* stream = stderr, bool force = false);
    ~TerminalProgress() override;

    void start(std::string_view caption, long long maximum) override;
    void position(long long position) override;
    void inner(int percent) override;
    void finish() override;

    bool enabled() const { return enabled_; }

private:
    void draw(bool forceDraw);

    std::FILE* stream_;
    bool enabled_;
    bool drawn_ = false;
    std::string caption_;
    long long maximum_ = 0;
    long long position_ = 0;
    int inner_ = -1;
    int lastPercent_ = -1;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace trajix
