#include "common/numbers.hpp"

#include <charconv>
#include <cmath>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix {

std::string_view trimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

namespace {

template <typename Float>
bool parseFloat(std::string_view text, Float& value)
{
    std::string_view body = trimBlanks(text);
    if (!body.empty() && body.front() == '+') body.remove_prefix(1);
    if (body.empty() || body.front() == '+' || body.front() == ' ') return false;
    // from_chars would accept "inf" and "nan": those never enter as numbers.
    const char first = body.front() == '-' && body.size() > 1 ? body[1] : body.front();
    if (!(first == '.' || (first >= '0' && first <= '9'))) return false;
    Float parsed{};
    auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), parsed, std::chars_format::general);
    if (ec != std::errc() || end != body.data() + body.size() || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

}  // namespace

bool tryParseDouble(std::string_view text, double& value) { return parseFloat(text, value); }

double parseDouble(std::string_view text)
{
    double value = 0;
    if (!parseFloat(text, value)) throw Error(fmt::format("'{}' is not a valid floating point value", text));
    return value;
}

long double parseLongDouble(std::string_view text)
{
    long double value = 0;
    if (!parseFloat(text, value)) throw Error(fmt::format("'{}' is not a valid floating point value", text));
    return value;
}

bool tryParseInteger(std::string_view text, long long& value)
{
    std::string_view body = trimBlanks(text);
    if (!body.empty() && body.front() == '+') body.remove_prefix(1);
    if (body.empty()) return false;
    long long parsed = 0;
    auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), parsed);
    if (ec != std::errc() || end != body.data() + body.size()) return false;
    value = parsed;
    return true;
}

long long parseInteger(std::string_view text)
{
    long long value = 0;
    if (!tryParseInteger(text, value)) throw Error(fmt::format("'{}' is not a valid integer value", text));
    return value;
}

}  // namespace trajix
