#pragma once
// Locale-independent number parsing. "." is always the decimal separator; blanks
// (spaces and tabs) around the number are allowed; anything else is refused with
// a message naming the text, e.g. '12x' is not a valid floating point value.
#include <string>
#include <string_view>

namespace trajix {

/// Removes leading and trailing spaces and tabs.
std::string_view trimBlanks(std::string_view text);

/// Parses a finite decimal number ("1", "-2.5", ".5", "1e3"). Throws Error when the
/// text is empty, has trailing garbage, or is not finite.
double parseDouble(std::string_view text);
long double parseLongDouble(std::string_view text);

/// Parses a decimal integer (optionally signed). Throws Error otherwise.
long long parseInteger(std::string_view text);

/// Non-throwing variants: return false when the text is not a valid number.
bool tryParseDouble(std::string_view text, double& value);
bool tryParseInteger(std::string_view text, long long& value);

}  // namespace trajix
