#include "common/terminal_progress.hpp"

#include <algorithm>

#include <unistd.h>

#include <fmt/format.h>

namespace trajix {

TerminalProgress::TerminalProgress(std::FILE* stream, bool force)
    : stream_(stream), enabled_(force || ::isatty(::fileno(stream)) == 1)
{
}

TerminalProgress::~TerminalProgress() { finish(); }

void TerminalProgress::start(std::string_view caption, long long maximum)
{
    if (drawn_) finish();
    caption_ = caption;
    maximum_ = std::max(0LL, maximum);
    position_ = 0;
    inner_ = -1;
    lastPercent_ = -1;
    draw(true);
}

void TerminalProgress::position(long long position)
{
    position_ = position;
    draw(false);
}

void TerminalProgress::inner(int percent)
{
    inner_ = percent;
    draw(false);
}

void TerminalProgress::finish()
{
    if (!enabled_ || !drawn_) return;
    position_ = maximum_;
    lastPercent_ = -1;
    draw(true);
    std::fputc('\n', stream_);
    std::fflush(stream_);
    drawn_ = false;
}

void TerminalProgress::draw(bool forceDraw)
{
    if (!enabled_) return;
    const int percent = maximum_ > 0 ? static_cast<int>(std::clamp(position_ * 100 / maximum_, 0LL, 100LL)) : 0;
    const auto now = std::chrono::steady_clock::now();
    // Redraw when the percentage moves, at most ten times a second otherwise.
    if (!forceDraw && percent == lastPercent_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastPercent_ = percent;
    lastDraw_ = now;
    constexpr int width = 30;
    const int filled = percent * width / 100;
    std::string line = fmt::format("\r{} [{}{}] {:3}%", caption_, std::string(static_cast<std::size_t>(filled), '#'),
                                   std::string(static_cast<std::size_t>(width - filled), ' '), percent);
    if (inner_ >= 0) line += fmt::format(" (search {:3}%)", inner_);
    line += "\x1b[K";
    std::fputs(line.c_str(), stream_);
    std::fflush(stream_);
    drawn_ = true;
}

}  // namespace trajix
