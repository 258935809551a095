#include "nmea/sentences.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/picture.hpp"
#include "common/units.hpp"

namespace trajix {

namespace {

// 0.0001 s: samples of 10 kHz, the fastest any writer makes.
constexpr int maxTimeDecimals = 4;

}  // namespace

std::string nmeaChecksum(std::string_view text)
{
    unsigned char sum = 0;
    for (char c : text) sum ^= static_cast<unsigned char>(c);
    return fmt::format("{:02X}", sum);
}

std::string finishSentence(std::string_view textWithStar)
{
    std::string line(textWithStar);
    const std::string_view inner =
        textWithStar.size() >= 2 ? textWithStar.substr(1, textWithStar.size() - 2) : std::string_view{};
    line += nmeaChecksum(inner);
    line += "\r\n";
    return line;
}

namespace {

// The XOR of the bytes, eight at a time (XOR does not mind the grouping).
unsigned char xorOf(std::string_view text)
{
    std::uint64_t words = 0;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + i, 8);
        words ^= word;
    }
    words ^= words >> 32;
    words ^= words >> 16;
    words ^= words >> 8;
    auto sum = static_cast<unsigned char>(words & 0xFFu);
    for (; i < text.size(); ++i) sum ^= static_cast<unsigned char>(text[i]);
    return sum;
}

constexpr std::string_view hexDigits = "0123456789ABCDEF";

}  // namespace

void finishSentenceInPlace(std::string& text)
{
    const unsigned char sum = text.size() >= 2 ? xorOf(std::string_view(text).substr(1, text.size() - 2)) : 0;
    text += hexDigits[sum >> 4];
    text += hexDigits[sum & 0xFu];
    text += "\r\n";
}

std::string withTalker(std::string sentence, std::string_view talker)
{
    const std::size_t star = sentence.rfind('*');
    if (talker.size() != 2 || sentence.size() < 3 || star == std::string::npos || star < 3 ||
        sentence.compare(1, 2, talker) == 0)
        return sentence;
    sentence[1] = talker[0];
    sentence[2] = talker[1];
    // Every sentence of a file of several systems passes here: the checksum's two digits
    // are written in place (a sentence cut short after "*" gets them appended).
    const unsigned char sum = xorOf(std::string_view(sentence).substr(1, star - 1));
    const char digits[2] = {hexDigits[sum >> 4], hexDigits[sum & 0xFu]};
    sentence.replace(star + 1, 2, digits, 2);
    return sentence;
}

std::string formatNmeaTime(long double t, int decimals)
{
    if (!std::isfinite(t)) throw Error("cannot format a non-finite time");
    if (decimals < 2 || decimals > maxTimeDecimals)
        throw Error(fmt::format("cannot print a time with {} decimals", decimals));
    // 0.0001 s at two decimals; a tenth of it for every further decimal.
    long double nudge = 0.0001L;
    for (int d = 2; d < decimals; ++d) nudge /= 10;
    long double hours = std::trunc((t + nudge) / 3600);
    long double minutes = std::trunc((t - hours * 3600 + nudge) / 60);
    const long double seconds = t - hours * 3600 - minutes * 60;
    const std::string picture = "00." + std::string(static_cast<std::size_t>(decimals), '0');
    std::string secondsText = formatPicture(seconds, picture);
    if (secondsText.compare(0, 3, "60.") == 0) {
        secondsText = formatPicture(0, picture);
        minutes += 1;
    }
    if (minutes >= 60) {
        minutes -= 60;
        hours += 1;
    }
    return formatPicture(hours, "00") + formatPicture(minutes, "00") + secondsText;
}

int timeDecimalsForInterval(long double interval)
{
    if (!std::isfinite(interval) || !(interval > 0))
        throw Error(fmt::format("sample interval {} s is not a positive number", static_cast<double>(interval)));
    // The relative slack keeps 1/200 (a hair off 0.005) at three decimals.
    constexpr long double slack = 1e-9L;
    if (interval >= 0.01L * (1 - slack)) return 2;
    long double unit = 0.001L;
    for (int decimals = 3; decimals <= maxTimeDecimals; ++decimals, unit /= 10)
        if (interval >= unit * (1 - slack)) return decimals;
    throw Error(fmt::format("output rate {} Hz is too high for the time field: it tells samples apart up to 10000 Hz",
                            static_cast<double>(1 / interval)));
}

namespace {

// d * 100 + (x - d) * 60 printed with picture; minutes that print as 60 carry into
// the degrees (48.99999999999 gives 4900.00000000, not 4860.00000000).
std::string formatDegreesMinutes(long double degrees, std::string_view picture)
{
    if (!std::isfinite(degrees)) throw Error("cannot format a non-finite coordinate");
    const long double whole = std::trunc(degrees);
    const long double value = whole * 100 + (degrees - whole) * 60;
    std::string text = formatPicture(std::fabs(value), picture);
    constexpr std::size_t minutesWidth = 11;  // mm.mmmmmmmm
    if (text.size() >= minutesWidth && text.compare(text.size() - minutesWidth, 3, "60.") == 0) {
        const long double carried = std::trunc(std::fabs(value) / 100) + 1;
        text = formatPicture(carried * 100, picture);
    }
    return text;
}

}  // namespace

NmeaCoordinate formatNmeaLatitude(long double degrees)
{
    return {formatDegreesMinutes(degrees, "0000.00000000"), degrees > 0 ? 'N' : 'S'};
}

NmeaCoordinate formatNmeaLongitude(long double degrees)
{
    return {formatDegreesMinutes(degrees, "00000.00000000"), degrees >= 0 ? 'E' : 'W'};
}

long double normaliseHeading(long double degrees)
{
    if (!std::isfinite(degrees)) throw Error("cannot format a non-finite heading");
    // Whole turns are removed at once for absurd values, where subtracting 360 would
    // no longer change the number.
    if (std::fabs(degrees) > 1e6L) degrees = std::fmod(degrees, 360.0L);
    while (degrees >= 360) degrees -= 360;
    while (degrees < 0) degrees += 360;
    return degrees;
}

std::string formatDirection(long double degrees, std::string_view picture)
{
    std::string text = formatPicture(degrees, picture);
    if (text.rfind("360", 0) == 0 && text.find_first_not_of("0.", 3) == std::string::npos)
        text = formatPicture(0, picture);
    return text;
}

std::string ggaSentence(long double time, long double latitude, long double longitude, std::string_view altitude)
{
    return ggaSentence(std::string_view(formatNmeaTime(time)), latitude, longitude, altitude);
}

std::string ggaSentence(std::string_view time, long double latitude, long double longitude, std::string_view altitude)
{
    const auto lat = formatNmeaLatitude(latitude);
    const auto lon = formatNmeaLongitude(longitude);
    return finishSentence(fmt::format("$GPGGA,{},{},{},{},{},1,05,2.87,{},M,-21.3213,M,,*", time, lat.text, lat.letter,
                                      lon.text, lon.letter, altitude));
}

std::string vtgSentence(long double course, long double speedKmh, VtgStyle style)
{
    const bool route = style == VtgStyle::Route;
    const std::string_view coursePicture = route ? "000.00" : "##0.00";
    const std::string_view speedPicture = route ? "000.000" : "##0.000";
    return finishSentence(fmt::format("$GPVTG,{},T,,M,{},N,{},K,A*", formatDirection(course, coursePicture),
                                      formatPicture(speedKmh / kmhPerKnot, speedPicture),
                                      formatPicture(speedKmh, speedPicture)));
}

std::string gllSentence(long double time, long double latitude, long double longitude)
{
    return gllSentence(std::string_view(formatNmeaTime(time)), latitude, longitude);
}

std::string gllSentence(std::string_view time, long double latitude, long double longitude, GllLayout layout)
{
    const auto lat = formatNmeaLatitude(latitude);
    const auto lon = formatNmeaLongitude(longitude);
    if (layout == GllLayout::Standard)
        return finishSentence(
            fmt::format("$GPGLL,{},{},{},{},{},A,A*", lat.text, lat.letter, lon.text, lon.letter, time));
    return finishSentence(fmt::format("$GPGLL,{},{},{},{},{}*", time, lat.text, lat.letter, lon.text, lon.letter));
}

std::string hdtSentence(long double heading)
{
    return finishSentence(fmt::format("$GPHDT,{},T*", formatDirection(normaliseHeading(heading), "000.000")));
}

}  // namespace trajix
