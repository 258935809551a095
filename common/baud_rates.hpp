#pragma once
// The baud rates a serial replay offers, the same list in the window, the command line
// and the settings file (which keeps an index into it).
#include <array>
#include <cstddef>

namespace trajix {

/// The baud rates of the rate list, in order.
inline constexpr std::array<int, 8> baudRates{1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

/// The rate a port opens at until the user picks another.
inline constexpr int defaultBaudRate = 115200;

/// defaultBaudRate's place in baudRates.
inline constexpr int defaultBaudRateIndex = [] {
    for (std::size_t i = 0; i < baudRates.size(); ++i)
        if (baudRates[i] == defaultBaudRate) return static_cast<int>(i);
    throw "the default baud rate is not in the list";
}();

}  // namespace trajix
