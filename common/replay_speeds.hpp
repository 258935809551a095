#pragma once
// The playback speeds a replay offers, the same list in the window and the command line.
#include <array>
#include <string_view>

namespace trajix {

/// The speed list as the user picks from it, and each one's factor against real time.
inline constexpr std::array<std::string_view, 8> replaySpeedNames{"0.1x", "0.25x", "0.5x", "1x",
                                                                  "1.5x", "2x",    "5x",   "10x"};
inline constexpr std::array<double, replaySpeedNames.size()> replaySpeedFactors{0.1, 0.25, 0.5, 1.0,
                                                                                1.5, 2.0,  5.0, 10.0};

/// Real time, "1x": the speed a replay plays at until the user picks another.
inline constexpr int defaultReplaySpeedIndex = 3;
static_assert(replaySpeedFactors[defaultReplaySpeedIndex] == 1.0);

}  // namespace trajix
