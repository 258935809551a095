#include "signal/glonass_l1.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <numbers>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix::glonass {

namespace {

constexpr double pi = std::numbers::pi;

std::size_t indexOf(int bit)
{
    return static_cast<std::size_t>(stringBitCount - bit);
}

long long floorDiv(long long a, long long b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// The Hamming code's layout: data bit b (9..85) holds position p of a Hamming(127)
// codeword, the positions that are no power of two taken in turn (bit 9 is 3, bit 10 is
// 5, bit 11 is 6...); check bit k (1..7) covers the data bits whose position has bit k-1
// set, check bit 8 every other bit. Masks over the bits by their number, as 128 bits.
struct CheckMasks {
    std::array<std::uint64_t, 8> low{}, high{};
};

CheckMasks makeCheckMasks()
{
    CheckMasks m;
    auto set = [&](int k, int bit) {
        if (bit < 64)
            m.low[static_cast<std::size_t>(k)] |= std::uint64_t{1} << bit;
        else
            m.high[static_cast<std::size_t>(k)] |= std::uint64_t{1} << (bit - 64);
    };
    int position = 2;
    for (int bit = 9; bit <= stringBitCount; ++bit) {
        do ++position;
        while (std::has_single_bit(static_cast<unsigned>(position)));
        for (int k = 0; k < 7; ++k)
            if (position >> k & 1) set(k, bit);
        set(7, bit);
    }
    for (int bit = 1; bit <= 7; ++bit) set(7, bit);
    return m;
}

const CheckMasks checkMasks = makeCheckMasks();

void checkRange(int highBit, int width)
{
    if (highBit > stringBitCount || width < 1 || width > 64 || highBit - width + 1 < 1)
        throw Error(fmt::format("a GLONASS string has no field of {} bits from bit {}", width, highBit));
}

// Rounds value / scale to an integer for a sign-magnitude field of `bits` bits.
std::int64_t signMagnitudeValue(double value, double scale, int bits, int slot, long long line, const char* name)
{
    const double scaled = std::round(value / scale);
    if (!(std::abs(scaled) < std::ldexp(1.0, bits - 1)))
        throw Error(
            fmt::format("R{:02} (line {}): {} {} does not fit its {}-bit field", slot, line, name, value, bits));
    return static_cast<std::int64_t>(scaled);
}

int secondsOfDay(long long g)
{
    return static_cast<int>(g - floorDiv(g, 86400) * 86400);
}

}  // namespace

L1Code l1Code()
{
    L1Code code{};
    unsigned stages = 0x1FF;  // stage k (1..9) in bit k-1
    for (int chip = 0; chip < l1CodeLength; ++chip) {
        code[static_cast<std::size_t>(chip)] = static_cast<std::uint8_t>(stages >> 6 & 1u);
        const unsigned feedback = (stages >> 4 ^ stages >> 8) & 1u;
        stages = ((stages << 1) | feedback) & 0x1FFu;
    }
    return code;
}

void putField(NavString& string, int highBit, int width, std::uint64_t value)
{
    checkRange(highBit, width);
    for (int k = 0; k < width; ++k)
        string[indexOf(highBit - k)] = static_cast<std::uint8_t>(value >> (width - 1 - k) & 1u);
}

std::uint64_t stringField(const NavString& string, int highBit, int width)
{
    checkRange(highBit, width);
    std::uint64_t value = 0;
    for (int k = 0; k < width; ++k) value = value << 1 | (string[indexOf(highBit - k)] & 1u);
    return value;
}

void putSignMagnitude(NavString& string, int highBit, int width, std::int64_t value)
{
    const std::uint64_t magnitude = value < 0 ? static_cast<std::uint64_t>(-value) : static_cast<std::uint64_t>(value);
    if (width < 2 || magnitude >> (width - 1) != 0)
        throw Error(fmt::format("{} does not fit a sign-magnitude field of {} bits", value, width));
    putField(string, highBit, width, (value < 0 ? std::uint64_t{1} << (width - 1) : 0) | magnitude);
}

std::int64_t stringFieldSignMagnitude(const NavString& string, int highBit, int width)
{
    const std::uint64_t raw = stringField(string, highBit, width);
    const auto magnitude = static_cast<std::int64_t>(raw & ((std::uint64_t{1} << (width - 1)) - 1));
    return raw >> (width - 1) ? -magnitude : magnitude;
}

std::uint8_t hammingCheckBits(const NavString& string)
{
    std::uint64_t low = 0, high = 0;
    for (int bit = 9; bit <= stringBitCount; ++bit) {
        if (!string[indexOf(bit)]) continue;
        if (bit < 64)
            low |= std::uint64_t{1} << bit;
        else
            high |= std::uint64_t{1} << (bit - 64);
    }
    unsigned check = 0;
    for (std::size_t k = 0; k < 7; ++k) {
        const int ones = std::popcount(low & checkMasks.low[k]) + std::popcount(high & checkMasks.high[k]);
        check |= static_cast<unsigned>(ones & 1) << k;
    }
    // Bit 8 makes the sum of all 85 bits even: the data's ones and the seven checks'.
    const int ones = std::popcount(low) + std::popcount(high) + std::popcount(check);
    check |= static_cast<unsigned>(ones & 1) << 7;
    return static_cast<std::uint8_t>(check);
}

void addHammingCheck(NavString& string)
{
    const std::uint8_t check = hammingCheckBits(string);
    for (int bit = 1; bit <= 8; ++bit) string[indexOf(bit)] = static_cast<std::uint8_t>(check >> (bit - 1) & 1u);
}

StringChips stringChips(const NavString& string)
{
    StringChips chips{};
    unsigned relative = 0;
    for (std::size_t k = 0; k < string.size(); ++k) {
        relative ^= string[k] & 1u;
        chips[2 * k] = static_cast<std::uint8_t>(relative);
        chips[2 * k + 1] = static_cast<std::uint8_t>(relative ^ 1u);
    }
    std::copy(timeMark.begin(), timeMark.end(), chips.begin() + 2 * stringBitCount);
    return chips;
}

ImmediateData immediateDataOf(const Ephemeris& e, int intervalMinutes)
{
    ImmediateData d;
    d.slot = e.slot;
    d.tbSeconds = glonassSecondsOf(e);
    const int day = secondsOfDay(d.tbSeconds);
    if (day % 900 != 0)
        throw Error(fmt::format("R{:02} (line {}): tb {:02}:{:02}:{:02} is not on a 15-minute step of the day", e.slot,
                                e.line, day / 3600, day / 60 % 60, day % 60));
    d.tb = day / 900;
    d.p1 = intervalMinutes == 30 ? 1 : intervalMinutes == 45 ? 2 : intervalMinutes == 60 ? 3 : 0;
    d.p2 = d.tb & 1;
    const double km = 1e3;
    d.x = signMagnitudeValue(e.x / km, std::ldexp(1.0, -11), 27, e.slot, e.line, "x");
    d.y = signMagnitudeValue(e.y / km, std::ldexp(1.0, -11), 27, e.slot, e.line, "y");
    d.z = signMagnitudeValue(e.z / km, std::ldexp(1.0, -11), 27, e.slot, e.line, "z");
    d.vx = signMagnitudeValue(e.vx / km, std::ldexp(1.0, -20), 24, e.slot, e.line, "the x speed");
    d.vy = signMagnitudeValue(e.vy / km, std::ldexp(1.0, -20), 24, e.slot, e.line, "the y speed");
    d.vz = signMagnitudeValue(e.vz / km, std::ldexp(1.0, -20), 24, e.slot, e.line, "the z speed");
    d.ax = signMagnitudeValue(e.ax / km, std::ldexp(1.0, -30), 5, e.slot, e.line, "the x acceleration");
    d.ay = signMagnitudeValue(e.ay / km, std::ldexp(1.0, -30), 5, e.slot, e.line, "the y acceleration");
    d.az = signMagnitudeValue(e.az / km, std::ldexp(1.0, -30), 5, e.slot, e.line, "the z acceleration");
    d.gammaN = signMagnitudeValue(e.gammaN, std::ldexp(1.0, -40), 11, e.slot, e.line, "gamma_n");
    d.tauN = signMagnitudeValue(-e.minusTauN, std::ldexp(1.0, -30), 22, e.slot, e.line, "tau_n");
    if (e.groupDelay && std::isfinite(*e.groupDelay) && std::abs(*e.groupDelay) < 15 * std::ldexp(1.0, -30))
        d.deltaTauN = static_cast<std::int64_t>(std::round(*e.groupDelay / std::ldexp(1.0, -30)));
    d.ageDays = std::clamp(static_cast<int>(std::lround(e.ageDays)), 0, 31);
    d.bn = e.health ? 4 : 0;
    d.ln = e.health ? 1 : 0;
    // F_T: RINEX 3.05 gives the index; older files none, and 2.5 m is what broadcast
    // GLONASS orbits and clocks typically hold.
    d.accuracyIndex = e.urai && *e.urai >= 0 && *e.urai <= 15 ? static_cast<int>(*e.urai) : 2;
    return d;
}

AlmanacEntry almanacOf(const Ephemeris& e, long long dayStart)
{
    const double w = earthRotationRate, mu = earthGravitation;
    // The state at tb in the inertial frame that coincides with PZ-90 at that instant.
    const std::array<double, 3> r{e.x, e.y, e.z};
    const std::array<double, 3> v{e.vx - w * e.y, e.vy + w * e.x, e.vz};
    auto cross = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        return std::array<double, 3>{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    };
    auto dot = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    };
    const std::array<double, 3> h = cross(r, v);
    const double hNorm = std::sqrt(dot(h, h)), rNorm = std::sqrt(dot(r, r));
    const double inclination = std::acos(h[2] / hNorm);
    const double node = std::atan2(h[0], -h[1]);
    const double a = 1 / (2 / rNorm - dot(v, v) / mu);
    const std::array<double, 3> vh = cross(v, h);
    const std::array<double, 3> eVector{vh[0] / mu - r[0] / rNorm, vh[1] / mu - r[1] / rNorm,
                                        vh[2] / mu - r[2] / rNorm};
    const double ecc = std::sqrt(dot(eVector, eVector));
    // The node line and the direction 90 degrees on in the orbit's plane.
    const std::array<double, 3> n{std::cos(node), std::sin(node), 0};
    const std::array<double, 3> hUnit{h[0] / hNorm, h[1] / hNorm, h[2] / hNorm};
    const std::array<double, 3> m = cross(hUnit, n);
    const double argumentOfLatitude = std::atan2(dot(r, m), dot(r, n));
    const double perigee = std::atan2(dot(eVector, m), dot(eVector, n));
    auto meanAnomaly = [ecc](double trueAnomaly) {
        const double eccentric = 2 * std::atan(std::sqrt((1 - ecc) / (1 + ecc)) * std::tan(trueAnomaly / 2));
        return eccentric - ecc * std::sin(eccentric);
    };
    const double meanMotion = std::sqrt(mu / (a * a * a));
    double sinceNode = std::fmod(meanAnomaly(argumentOfLatitude - perigee) - meanAnomaly(-perigee), 2 * pi);
    if (sinceNode < 0) sinceNode += 2 * pi;
    sinceNode /= meanMotion;
    // J2 shortens the draconian period against the osculating one (the ICD's relation
    // between the two) and turns the node westwards.
    const double p = a * (1 - ecc * ecc);
    const double ratio = earthRadius * earthRadius / (p * p);
    const double sin2i = std::sin(inclination) * std::sin(inclination);
    const double onPerigee = 1 + ecc * std::cos(perigee);
    const double draconian = 2 * pi / meanMotion *
                             (1 - 1.5 * j2 * ratio *
                                      ((2 - 2.5 * sin2i) * std::pow(1 - ecc * ecc, 1.5) / (onPerigee * onPerigee) +
                                       onPerigee * onPerigee * onPerigee / (1 - ecc * ecc)));
    const double nodeDrift = -1.5 * j2 * ratio * meanMotion * std::cos(inclination);
    const double tb = static_cast<double>(glonassSecondsOf(e));
    double nodeTime = tb - sinceNode;
    nodeTime -= std::floor((nodeTime - static_cast<double>(dayStart)) / draconian) * draconian;
    const double longitude = node + (nodeDrift - w) * (nodeTime - tb);

    AlmanacEntry entry;
    entry.slot = e.slot;
    entry.healthy = e.health ? 0 : 1;
    entry.tauA = static_cast<std::int64_t>(std::round(-e.minusTauN / std::ldexp(1.0, -18)));
    entry.tauA = std::clamp<std::int64_t>(entry.tauA, -511, 511);
    double wrapped = std::remainder(longitude, 2 * pi);
    entry.lambda = static_cast<std::int64_t>(std::round(wrapped / pi * std::ldexp(1.0, 20)));
    entry.lambda = std::clamp<std::int64_t>(entry.lambda, -(1 << 20) + 1, (1 << 20) - 1);
    entry.deltaI = static_cast<std::int64_t>(std::round((inclination / pi - 63.0 / 180) * std::ldexp(1.0, 20)));
    entry.deltaI = std::clamp<std::int64_t>(entry.deltaI, -(1 << 17) + 1, (1 << 17) - 1);
    entry.eccentricity = std::min<std::int64_t>(std::llround(ecc * std::ldexp(1.0, 20)), (1 << 15) - 1);
    wrapped = std::remainder(perigee, 2 * pi);
    entry.omega =
        std::clamp<std::int64_t>(std::llround(wrapped / pi * std::ldexp(1.0, 15)), -(1 << 15) + 1, (1 << 15) - 1);
    entry.tLambda = std::llround((nodeTime - static_cast<double>(dayStart)) * 32);
    entry.deltaT = std::clamp<std::int64_t>(std::llround((draconian - 43200) * 512), -(1 << 21) + 1, (1 << 21) - 1);
    entry.channel = e.channel;
    return entry;
}

GlonassDate glonassDate(long long g)
{
    // 1996-01-01, the first day of the first interval, is day 5839 from 1980-01-06.
    const long long days = floorDiv(g, 86400) - 5839;
    return {static_cast<int>(days - floorDiv(days, 1461) * 1461 + 1), static_cast<int>(floorDiv(days, 1461) + 1)};
}

NavString string1(const ImmediateData& d, int frameStartOfDay)
{
    NavString s{};
    putField(s, 84, 4, 1);
    putField(s, 78, 2, static_cast<std::uint64_t>(d.p1));
    putField(s, 76, 5, static_cast<std::uint64_t>(frameStartOfDay / 3600));
    putField(s, 71, 6, static_cast<std::uint64_t>(frameStartOfDay / 60 % 60));
    putField(s, 65, 1, static_cast<std::uint64_t>(frameStartOfDay % 60 / 30));
    putSignMagnitude(s, 64, 24, d.vx);
    putSignMagnitude(s, 40, 5, d.ax);
    putSignMagnitude(s, 35, 27, d.x);
    addHammingCheck(s);
    return s;
}

NavString string2(const ImmediateData& d)
{
    NavString s{};
    putField(s, 84, 4, 2);
    putField(s, 80, 3, static_cast<std::uint64_t>(d.bn));
    putField(s, 77, 1, static_cast<std::uint64_t>(d.p2));
    putField(s, 76, 7, static_cast<std::uint64_t>(d.tb));
    putSignMagnitude(s, 64, 24, d.vy);
    putSignMagnitude(s, 40, 5, d.ay);
    putSignMagnitude(s, 35, 27, d.y);
    addHammingCheck(s);
    return s;
}

NavString string3(const ImmediateData& d, bool fiveAlmanacs)
{
    NavString s{};
    putField(s, 84, 4, 3);
    putField(s, 80, 1, fiveAlmanacs ? 1 : 0);
    putSignMagnitude(s, 79, 11, d.gammaN);
    putField(s, 67, 2, 0);  // P: tau_c and tau_GPS both from the control segment
    putField(s, 65, 1, static_cast<std::uint64_t>(d.ln));
    putSignMagnitude(s, 64, 24, d.vz);
    putSignMagnitude(s, 40, 5, d.az);
    putSignMagnitude(s, 35, 27, d.z);
    addHammingCheck(s);
    return s;
}

NavString string4(const ImmediateData& d, const GlonassDate& date)
{
    NavString s{};
    putField(s, 84, 4, 4);
    putSignMagnitude(s, 80, 22, d.tauN);
    putSignMagnitude(s, 58, 5, d.deltaTauN);
    putField(s, 53, 5, static_cast<std::uint64_t>(d.ageDays));
    putField(s, 34, 1, static_cast<std::uint64_t>(d.p4));
    putField(s, 33, 4, static_cast<std::uint64_t>(d.accuracyIndex));
    putField(s, 26, 11, static_cast<std::uint64_t>(date.dayInFourYears));
    putField(s, 15, 5, static_cast<std::uint64_t>(d.slot));
    putField(s, 10, 2, static_cast<std::uint64_t>(d.type));
    addHammingCheck(s);
    return s;
}

NavString string5(const TimeData& time, const GlonassDate& date, int ln)
{
    NavString s{};
    putField(s, 84, 4, 5);
    putField(s, 80, 11, static_cast<std::uint64_t>(time.almanacDay));
    putSignMagnitude(s, 69, 32, time.tauC);
    putField(s, 36, 5, static_cast<std::uint64_t>(date.fourYearInterval));
    putSignMagnitude(s, 31, 22, time.tauGps);
    putField(s, 9, 1, static_cast<std::uint64_t>(ln));
    addHammingCheck(s);
    return s;
}

NavString almanacString(int number, const AlmanacEntry& a, int ln)
{
    if (number < 6 || number > 15) throw Error(fmt::format("string {} carries no almanac", number));
    NavString s{};
    putField(s, 84, 4, static_cast<std::uint64_t>(number));
    if (number % 2 == 0) {
        putField(s, 80, 1, static_cast<std::uint64_t>(a.healthy));
        putField(s, 79, 2, static_cast<std::uint64_t>(a.type));
        putField(s, 77, 5, static_cast<std::uint64_t>(a.slot));
        putSignMagnitude(s, 72, 10, a.tauA);
        putSignMagnitude(s, 62, 21, a.lambda);
        putSignMagnitude(s, 41, 18, a.deltaI);
        putField(s, 23, 15, static_cast<std::uint64_t>(a.eccentricity));
    } else {
        putSignMagnitude(s, 80, 16, a.omega);
        putField(s, 64, 21, static_cast<std::uint64_t>(a.tLambda));
        putSignMagnitude(s, 43, 22, a.deltaT);
        putSignMagnitude(s, 21, 7, a.deltaTDot);
        putField(s, 14, 5, static_cast<std::uint64_t>(a.channel < 0 ? a.channel + 32 : a.channel));
        putField(s, 9, 1, static_cast<std::uint64_t>(ln));
    }
    addHammingCheck(s);
    return s;
}

NavString frame5String14()
{
    NavString s{};
    putField(s, 84, 4, 14);
    addHammingCheck(s);
    return s;
}

NavString frame5String15(int ln)
{
    NavString s{};
    putField(s, 84, 4, 15);
    putField(s, 9, 1, static_cast<std::uint64_t>(ln));
    addHammingCheck(s);
    return s;
}

NavMessage::NavMessage(std::vector<ImmediateData> sets, std::vector<long long> broadcastFrom,
                       std::array<std::optional<AlmanacEntry>, almanacSlots> almanac, TimeData time)
    : sets_(std::move(sets)), broadcastFrom_(std::move(broadcastFrom)), almanac_(std::move(almanac)), time_(time)
{
    if (sets_.empty() || sets_.size() != broadcastFrom_.size())
        throw Error("a GLONASS message needs its satellite's records, each with the time it is broadcast from");
}

const ImmediateData& NavMessage::setAt(long long g) const
{
    const long long frameStart = floorDiv(g, frameSeconds) * frameSeconds;
    std::size_t k = 0;
    while (k + 1 < sets_.size() && broadcastFrom_[k + 1] <= frameStart) ++k;
    return sets_[k];
}

NavString NavMessage::string(std::int64_t index) const
{
    const long long g = index * stringSeconds;
    const int inDay = secondsOfDay(g);
    const int frame = inDay % superframeSeconds / frameSeconds;   // 0..4
    const int number = inDay % frameSeconds / stringSeconds + 1;  // 1..15
    const ImmediateData& d = setAt(g);
    switch (number) {
        case 1:
            return string1(d, inDay - inDay % frameSeconds);
        case 2:
            return string2(d);
        case 3:
            return string3(d, frame < 4);
        case 4:
            return string4(d, glonassDate(g));
        case 5:
            return string5(time_, glonassDate(g), d.ln);
        default:
            break;
    }
    if (frame == 4 && number == 14) return frame5String14();
    if (frame == 4 && number == 15) return frame5String15(d.ln);
    const int slot = frame * 5 + (number - 6) / 2 + 1;
    AlmanacEntry entry;
    if (almanac_[static_cast<std::size_t>(slot - 1)]) {
        entry = *almanac_[static_cast<std::size_t>(slot - 1)];
    } else {
        // A slot the file holds no satellite for: its number, marked not operational.
        entry.slot = slot;
        entry.healthy = 0;
    }
    return almanacString(number, entry, d.ln);
}

unsigned NavMessage::chip(std::int64_t index)
{
    const std::int64_t stringIndex = floorDiv(index, chipsPerString);
    if (stringIndex != cachedString_) {
        cachedChips_ = stringChips(string(stringIndex));
        cachedString_ = stringIndex;
    }
    return cachedChips_[static_cast<std::size_t>(index - stringIndex * chipsPerString)];
}

Schedule scheduleOf(const std::vector<Ephemeris>& records, int slot)
{
    std::vector<const Ephemeris*> mine;
    for (const Ephemeris& e : records)
        if (e.slot == slot) mine.push_back(&e);
    std::stable_sort(mine.begin(), mine.end(),
                     [](const Ephemeris* a, const Ephemeris* b) { return a->epochUtc < b->epochUtc; });
    mine.erase(std::unique(mine.begin(), mine.end(),
                           [](const Ephemeris* a, const Ephemeris* b) { return a->epochUtc == b->epochUtc; }),
               mine.end());
    Schedule schedule;
    for (std::size_t k = 0; k < mine.size(); ++k) {
        long long interval = 30 * 60;
        if (k + 1 < mine.size())
            interval = mine[k + 1]->epochUtc - mine[k]->epochUtc;
        else if (k > 0)
            interval = mine[k]->epochUtc - mine[k - 1]->epochUtc;
        schedule.sets.push_back(immediateDataOf(*mine[k], static_cast<int>(interval / 60)));
        if (k == 0) {
            schedule.broadcastFrom.push_back(LLONG_MIN);
        } else {
            const long long midpoint = (glonassSecondsOf(*mine[k - 1]) + glonassSecondsOf(*mine[k]) + 1) / 2;
            schedule.broadcastFrom.push_back(-floorDiv(-midpoint, frameSeconds) * frameSeconds);
        }
    }
    return schedule;
}

}  // namespace trajix::glonass
