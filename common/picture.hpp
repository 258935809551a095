#pragma once
// Number pictures in the FormatFloat style used by every file the tool writes:
// "0" is a forced digit, "#" an optional digit, "." the decimal point.
//  - The exact binary value is rounded to the picture's decimals, halves away from
//    zero (0.125 with "0.00" gives "0.13"; the double nearest 2.675 gives "2.67").
//  - "#" after the point is an optional decimal: trailing zeros go, and the point
//    with them ("#####.#": 60.0 gives "60", 12.34 gives "12.3").
//  - The integer part has as many digits as needed, at least the number of "0"s in
//    it; an integer part of "#" only prints no digit for 0 ("####.00": 0.5 gives ".50").
//  - A value whose printed digits are all zero has no minus sign.
#include <string>
#include <string_view>

namespace trajix {

/// Formats value with picture. Throws Error for NaN or infinity.
std::string formatPicture(long double value, std::string_view picture);

}  // namespace trajix
