#include "common/picture.hpp"

#include <cmath>
#include <cstdio>
#include <vector>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix {

namespace {

struct Picture {
    int minIntegerDigits = 0;  // "0"s before the point
    int decimals = 0;          // every digit position after the point
    int forcedDecimals = 0;    // up to and including the last "0" after the point
};

Picture parsePicture(std::string_view picture)
{
    Picture p;
    const auto point = picture.find('.');
    const std::string_view integerPart = picture.substr(0, point);
    for (char c : integerPart)
        if (c == '0') ++p.minIntegerDigits;
    if (point != std::string_view::npos) {
        const std::string_view fraction = picture.substr(point + 1);
        for (std::size_t i = 0; i < fraction.size(); ++i) {
            if (fraction[i] == '0' || fraction[i] == '#') ++p.decimals;
            if (fraction[i] == '0') p.forcedDecimals = p.decimals;
        }
    }
    return p;
}

// Exact decimal digits of |value| rounded half away from zero to `decimals` places:
// returns the digit string of round(|value| * 10^decimals) without a point, at least
// decimals + 1 digits long.
std::string roundedDigitsExact(long double magnitude, int decimals);

std::string roundedDigits(long double magnitude, int decimals)
{
    // Fast path: scale in extended precision (10^d is exact for d <= 27, one product
    // rounds by at most half an ulp) and round as an integer, unless the scaled value
    // lies so close to a half that the product's rounding could decide it.
    if (decimals <= 18) {
        long double power = 1;
        for (int i = 0; i < decimals; ++i) power *= 10;
        const long double scaled = magnitude * power;
        if (scaled < 9.0e18L) {
            const long double whole = std::floor(scaled);
            const long double fraction = scaled - whole;
            const long double margin = scaled * 0x1p-60L + 0x1p-100L;
            if (std::fabs(fraction - 0.5L) > margin) {
                auto rounded = static_cast<unsigned long long>(whole);
                if (fraction > 0.5L) ++rounded;
                std::string digits = fmt::format("{}", rounded);
                if (digits.size() < static_cast<std::size_t>(decimals) + 1)
                    digits.insert(0, static_cast<std::size_t>(decimals) + 1 - digits.size(), '0');
                return digits;
            }
        }
    }
    return roundedDigitsExact(magnitude, decimals);
}

std::string roundedDigitsExact(long double magnitude, int decimals)
{
    // glibc prints the exact binary value when given enough digits; a long double of
    // at least 1e-40 has no more than about 200 fractional decimal digits.
    if (magnitude < 1e-40L) return std::string(static_cast<std::size_t>(decimals) + 1, '0');
    const int exactDigits = 220;
    const int size = std::snprintf(nullptr, 0, "%.*Lf", exactDigits, magnitude);
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-truncation"
    std::snprintf(buffer.data(), buffer.size(), "%.*Lf", exactDigits, magnitude);
#pragma GCC diagnostic pop
    std::string text(buffer.data(), static_cast<std::size_t>(size));
    const auto point = text.find('.');
    std::string digits = text.substr(0, point) + text.substr(point + 1, static_cast<std::size_t>(decimals));
    // The first dropped digit decides: 5 or more rounds away from zero.
    const char next = text[point + 1 + static_cast<std::size_t>(decimals)];
    if (next >= '5') {
        int i = static_cast<int>(digits.size()) - 1;
        while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9') digits[static_cast<std::size_t>(i--)] = '0';
        if (i < 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[static_cast<std::size_t>(i)];
    }
    return digits;
}

}  // namespace

std::string formatPicture(long double value, std::string_view picture)
{
    if (!std::isfinite(value)) throw Error(fmt::format("cannot format a non-finite value with \"{}\"", picture));
    const Picture p = parsePicture(picture);
    const std::string digits = roundedDigits(std::fabs(value), p.decimals);

    std::string integerDigits = digits.substr(0, digits.size() - static_cast<std::size_t>(p.decimals));
    std::string fractionDigits = digits.substr(digits.size() - static_cast<std::size_t>(p.decimals));
    const bool allZero = digits.find_first_not_of('0') == std::string::npos;

    // Integer part: drop leading zeros, then pad to the forced digit count.
    const auto firstNonZero = integerDigits.find_first_not_of('0');
    integerDigits = firstNonZero == std::string::npos ? std::string() : integerDigits.substr(firstNonZero);
    if (static_cast<int>(integerDigits.size()) < p.minIntegerDigits)
        integerDigits.insert(0, static_cast<std::size_t>(p.minIntegerDigits) - integerDigits.size(), '0');

    // Optional decimals: trailing zeros beyond the forced ones are dropped.
    while (static_cast<int>(fractionDigits.size()) > p.forcedDecimals && fractionDigits.back() == '0')
        fractionDigits.pop_back();

    std::string text;
    if (value < 0 && !allZero) text += '-';
    text += integerDigits;
    if (!fractionDigits.empty()) {
        text += '.';
        text += fractionDigits;
    }
    return text;
}

}  // namespace trajix
