#include "signal/galileo_e1.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

#include <fmt/format.h>

#include "common/error.hpp"
#include "signal/gps_l1ca.hpp"
#include "sky/broadcast_fields.hpp"

namespace trajix::galileo {

namespace detail {
// The codes as the ICD prints them: one line of 1023 hexadecimal digits per PRN, built
// in from signal/codes/ (see SOURCES.md there).
extern const char* const e1bHex[e1PrnCount];
extern const char* const e1cHex[e1PrnCount];
}  // namespace detail

namespace {

E1Code codeFromHex(const char* const (&table)[e1PrnCount], int prn, const char* name)
{
    if (prn < 1 || prn > e1PrnCount)
        throw Error(fmt::format("PRN {} has no {} code here (1 to {})", prn, name, e1PrnCount));
    const std::string_view hex = table[prn - 1];
    E1Code code{};
    for (int chip = 0; chip < e1CodeLength; ++chip) {
        const char digit = hex[static_cast<std::size_t>(chip / 4)];
        const int value = digit <= '9' ? digit - '0' : (digit | 0x20) - 'a' + 10;
        code[static_cast<std::size_t>(chip)] = static_cast<std::uint8_t>((value >> (3 - chip % 4)) & 1);
    }
    return code;
}

// Writes fields into a word, first bit first.
class WordWriter {
public:
    explicit WordWriter(int type) { put(static_cast<std::uint64_t>(type), 6); }
    WordWriter& put(std::uint64_t value, int bits)
    {
        // A field wider than the value (the spare word's 88 zero bits) is zeros above bit 63.
        for (int k = bits - 1; k >= 0; --k)
            word_[static_cast<std::size_t>(position_++)] = k < 64 ? (value >> k) & 1u : 0u;
        return *this;
    }
    // A signed value as two's complement in `bits` bits.
    WordWriter& putSigned(std::int64_t value, int bits) { return put(static_cast<std::uint64_t>(value), bits); }
    Word done() const
    {
        if (position_ != 128) throw Error(fmt::format("an I/NAV word was laid out with {} bits", position_));
        return word_;
    }

private:
    Word word_{};
    int position_ = 0;
};

// Generators of the convolutional code, the bit entering now in the most significant place.
constexpr unsigned g1 = 0171;
constexpr unsigned g2 = 0133;

unsigned parity(unsigned value)
{
    return static_cast<unsigned>(__builtin_popcount(value) & 1);
}

// Nominal E1-B word types by page of the 30-s subframe; 7 and 8 stand for the almanac
// pair, 9 and 10 in every second subframe.
constexpr std::array<int, 15> subframeWords{2, 4, 6, 7, 8, 0, 0, 0, 0, 0, 1, 3, 5, 0, 0};

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

}  // namespace

E1Code e1bCode(int prn)
{
    return codeFromHex(detail::e1bHex, prn, "E1-B");
}

E1Code e1cCode(int prn)
{
    return codeFromHex(detail::e1cHex, prn, "E1-C");
}

std::uint32_t crc24q(const std::uint8_t* bits, std::size_t count)
{
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t top = ((crc >> 23) & 1u) ^ (bits[i] & 1u);
        crc = (crc << 1) & 0xFFFFFFu;
        if (top) crc ^= 0x864CFBu;
    }
    return crc;
}

CodedPagePart convolutionalEncode(const PagePart& bits)
{
    CodedPagePart coded{};
    unsigned shift = 0;  // the bit entering now in bit 6, the six before it below
    for (std::size_t k = 0; k < bits.size(); ++k) {
        shift = (shift >> 1) | (static_cast<unsigned>(bits[k] & 1u) << 6);
        coded[2 * k] = static_cast<std::uint8_t>(parity(shift & g1));
        coded[2 * k + 1] = static_cast<std::uint8_t>(parity(shift & g2) ^ 1u);
    }
    return coded;
}

CodedPagePart interleave(const CodedPagePart& coded)
{
    CodedPagePart out{};
    for (int row = 0; row < interleaverRows; ++row)
        for (int column = 0; column < interleaverColumns; ++column)
            out[static_cast<std::size_t>(row * interleaverColumns + column)] =
                coded[static_cast<std::size_t>(column * interleaverRows + row)];
    return out;
}

PagePartSymbols pagePartToSymbols(const PagePart& bits)
{
    PagePartSymbols symbols{};
    std::copy(syncPattern.begin(), syncPattern.end(), symbols.begin());
    const CodedPagePart coded = interleave(convolutionalEncode(bits));
    std::copy(coded.begin(), coded.end(), symbols.begin() + syncPattern.size());
    return symbols;
}

NominalPage nominalPage(const Word& word)
{
    NominalPage page;
    // Even part: even/odd 0, page type 0, word bits 1-112, six zero tail bits.
    std::copy(word.begin(), word.begin() + 112, page.even.begin() + 2);
    // Odd part: even/odd 1, page type 0, word bits 113-128, OSNMA (40), SAR (22),
    // spare (2), CRC (24), SSP (8), tail (6).
    page.odd[0] = 1;
    std::copy(word.begin() + 112, word.end(), page.odd.begin() + 2);
    std::array<std::uint8_t, 196> covered{};
    std::copy(page.even.begin(), page.even.begin() + 114, covered.begin());
    std::copy(page.odd.begin(), page.odd.begin() + 82, covered.begin() + 114);
    const std::uint32_t crc = crc24q(covered.data(), covered.size());
    for (int k = 0; k < 24; ++k) page.odd[static_cast<std::size_t>(82 + k)] = (crc >> (23 - k)) & 1u;
    return page;
}

Word ephemerisWord(int type, const InavEphemeris& e)
{
    WordWriter w(type);
    switch (type) {
        case 1:
            w.put(static_cast<std::uint64_t>(e.iodNav), 10).put(static_cast<std::uint64_t>(e.toe / 60), 14);
            w.putSigned(e.m0, 32).put(static_cast<std::uint64_t>(e.eccentricity), 32);
            w.put(static_cast<std::uint64_t>(e.sqrtA), 32).put(0, 2);
            break;
        case 2:
            w.put(static_cast<std::uint64_t>(e.iodNav), 10).putSigned(e.omega0, 32).putSigned(e.i0, 32);
            w.putSigned(e.omega, 32).putSigned(e.idot, 14).put(0, 2);
            break;
        case 3:
            w.put(static_cast<std::uint64_t>(e.iodNav), 10).putSigned(e.omegaDot, 24).putSigned(e.deltaN, 16);
            w.putSigned(e.cuc, 16).putSigned(e.cus, 16).putSigned(e.crc, 16).putSigned(e.crs, 16);
            w.put(static_cast<std::uint64_t>(e.sisa), 8);
            break;
        case 4:
            w.put(static_cast<std::uint64_t>(e.iodNav), 10).put(static_cast<std::uint64_t>(e.svid), 6);
            w.putSigned(e.cic, 16).putSigned(e.cis, 16).put(static_cast<std::uint64_t>(e.toc / 60), 14);
            w.putSigned(e.af0, 31).putSigned(e.af1, 21).putSigned(e.af2, 6).put(0, 2);
            break;
        default:
            throw Error(fmt::format("word type {} is no ephemeris word", type));
    }
    return w.done();
}

Word ionosphereWord(const InavEphemeris& e, const InavCommon& c, int gpsWeek, int towSeconds)
{
    WordWriter w(5);
    w.put(static_cast<std::uint64_t>(c.ai0), 11).putSigned(c.ai1, 11).putSigned(c.ai2, 14).put(0, 5);
    w.putSigned(e.bgdE1E5a, 10).putSigned(e.bgdE1E5b, 10);
    w.put(static_cast<std::uint64_t>(e.e5bHealth), 2).put(static_cast<std::uint64_t>(e.e1bHealth), 2);
    w.put(static_cast<std::uint64_t>(e.e5bDataValidity), 1).put(static_cast<std::uint64_t>(e.e1bDataValidity), 1);
    w.put(static_cast<std::uint64_t>(gpsWeek - gstWeekOffset), 12).put(static_cast<std::uint64_t>(towSeconds), 20);
    w.put(0, 23);
    return w.done();
}

Word utcWord(const InavCommon& c, int towSeconds)
{
    WordWriter w(6);
    w.putSigned(c.utcA0, 32).putSigned(c.utcA1, 24).putSigned(c.leapSeconds, 8);
    w.put(static_cast<std::uint64_t>(c.utcReferenceTime / 3600), 8);
    w.put(static_cast<std::uint64_t>((c.utcReferenceWeek - gstWeekOffset) & 0xFF), 8);
    w.put(static_cast<std::uint64_t>((c.leapSecondWeek - gstWeekOffset) & 0xFF), 8);
    w.put(static_cast<std::uint64_t>(c.leapSecondDay), 3).putSigned(c.leapSecondsAfter, 8);
    w.put(static_cast<std::uint64_t>(towSeconds), 20).put(0, 3);
    return w.done();
}

Word almanacWord(int type, const InavCommon& c, const InavAlmanac& a, const InavAlmanac& b, const InavAlmanac& d)
{
    WordWriter w(type);
    const auto iod = static_cast<std::uint64_t>(c.almanacIssue);
    const auto weekBits = static_cast<std::uint64_t>((c.almanacWeek - gstWeekOffset) & 3);
    const auto toa = static_cast<std::uint64_t>(c.almanacReferenceTime / 600);
    const auto orbit = [&w](const InavAlmanac& s) {
        w.put(static_cast<std::uint64_t>(s.svid), 6).putSigned(s.deltaSqrtA, 13);
        w.put(static_cast<std::uint64_t>(s.eccentricity), 11).putSigned(s.omega, 16).putSigned(s.deltaI, 11);
    };
    const auto clock = [&w](const InavAlmanac& s) {
        w.putSigned(s.af0, 16).putSigned(s.af1, 13);
        w.put(static_cast<std::uint64_t>(s.e5bHealth), 2).put(static_cast<std::uint64_t>(s.e1bHealth), 2);
    };
    switch (type) {
        case 7:
            w.put(iod, 4).put(weekBits, 2).put(toa, 10);
            orbit(a);
            w.putSigned(a.omega0, 16).putSigned(a.omegaDot, 11).putSigned(a.m0, 16).put(0, 6);
            break;
        case 8:
            w.put(iod, 4);
            clock(a);
            orbit(b);
            w.putSigned(b.omega0, 16).putSigned(b.omegaDot, 11).put(0, 1);
            break;
        case 9:
            w.put(iod, 4).put(weekBits, 2).put(toa, 10).putSigned(b.m0, 16);
            clock(b);
            orbit(d);
            break;
        case 10:
            w.put(iod, 4).putSigned(d.omega0, 16).putSigned(d.omegaDot, 11).putSigned(d.m0, 16);
            clock(d);
            w.putSigned(c.ggtoA0, 16).putSigned(c.ggtoA1, 12);
            w.put(static_cast<std::uint64_t>(c.ggtoReferenceTime / 3600), 8);
            w.put(static_cast<std::uint64_t>((c.ggtoReferenceWeek - gstWeekOffset) & 0x3F), 6);
            break;
        default:
            throw Error(fmt::format("word type {} is no almanac word", type));
    }
    return w.done();
}

Word spareWord(int gpsWeek, int towSeconds)
{
    WordWriter w(0);
    w.put(2, 2).put(0, 88);
    w.put(static_cast<std::uint64_t>(gpsWeek - gstWeekOffset), 12).put(static_cast<std::uint64_t>(towSeconds), 20);
    return w.done();
}

std::int64_t wordField(const Word& word, int firstBit, int bits, bool isSigned)
{
    std::uint64_t value = 0;
    for (int k = 0; k < bits; ++k) value = (value << 1) | word[static_cast<std::size_t>(firstBit + k)];
    if (isSigned && bits < 64 && ((value >> (bits - 1)) & 1u))
        return static_cast<std::int64_t>(value) - (std::int64_t{1} << bits);
    return static_cast<std::int64_t>(value);
}

InavMessage::InavMessage(std::vector<InavEphemeris> sets, std::vector<double> broadcastFrom,
                         std::vector<InavAlmanac> almanac, InavCommon common, int baseWeek)
    : sets_(std::move(sets)),
      broadcastFrom_(std::move(broadcastFrom)),
      almanac_(std::move(almanac)),
      common_(common),
      baseWeek_(baseWeek)
{
    if (sets_.empty() || sets_.size() != broadcastFrom_.size())
        throw Error("an I/NAV message needs each ephemeris set with the time it is broadcast from");
    if (almanac_.empty()) almanac_.push_back(InavAlmanac{});
}

const InavEphemeris& InavMessage::ephemerisAt(double t) const
{
    const auto after = std::upper_bound(broadcastFrom_.begin(), broadcastFrom_.end(), t);
    const auto index = after == broadcastFrom_.begin() ? 0 : (after - broadcastFrom_.begin()) - 1;
    return sets_[static_cast<std::size_t>(index)];
}

Word InavMessage::word(std::int64_t page) const
{
    const std::int64_t pageStart = page * 2;  // seconds since the base week's start
    const std::int64_t subframe = floorDiv(pageStart, 30);
    const int position = static_cast<int>(page - subframe * 15);
    const int week = baseWeek_ + static_cast<int>(floorDiv(pageStart, secondsPerWeek));
    const int tow = static_cast<int>(pageStart - static_cast<std::int64_t>(week - baseWeek_) * secondsPerWeek);
    // Words 1-5 of one subframe carry the set in force at its start.
    const InavEphemeris& set = ephemerisAt(static_cast<double>(subframe * 30));
    int type = subframeWords[static_cast<std::size_t>(position)];
    const bool secondHalf = (subframe & 1) != 0;
    if (secondHalf && (type == 7 || type == 8)) type += 2;
    switch (type) {
        case 1:
        case 2:
        case 3:
        case 4:
            return ephemerisWord(type, set);
        case 5:
            return ionosphereWord(set, common_, week, tow);
        case 6:
            return utcWord(common_, tow);
        case 7:
        case 8:
        case 9:
        case 10: {
            // Each minute (two subframes) three satellites of the almanac, in turn.
            const auto count = static_cast<std::int64_t>(almanac_.size());
            const std::int64_t first = (floorDiv(subframe, 2) * 3) % count;
            const auto at = [&](int k) -> const InavAlmanac& {
                return almanac_[static_cast<std::size_t>((first + k) % count)];
            };
            return almanacWord(type, common_, at(0), at(1), at(2));
        }
        default:
            return spareWord(week, tow);
    }
}

PagePartSymbols InavMessage::pagePart(std::int64_t part) const
{
    const NominalPage page = nominalPage(word(floorDiv(part, 2)));
    return pagePartToSymbols((part & 1) == 0 ? page.even : page.odd);
}

unsigned InavMessage::symbol(std::int64_t index)
{
    const std::int64_t part = floorDiv(index, pagePartSymbols);
    if (part != cachedPart_) {
        cachedSymbols_ = pagePart(part);
        cachedPart_ = part;
    }
    return cachedSymbols_[static_cast<std::size_t>(index - part * pagePartSymbols)];
}

int sisaIndex(double metres)
{
    if (!(metres > 0) || metres > 6) return 255;
    if (metres < 0.5) return static_cast<int>(std::lround(metres / 0.01));
    if (metres < 1) return 50 + static_cast<int>(std::lround((metres - 0.5) / 0.02));
    if (metres < 2) return 75 + static_cast<int>(std::lround((metres - 1) / 0.04));
    return 100 + static_cast<int>(std::lround((metres - 2) / 0.16));
}

InavEphemeris inavEphemerisOf(const Ephemeris& r)
{
    using gps::signedField;
    using gps::twoToThe;
    using gps::unsignedField;
    constexpr double pi = gps::semicircle;
    InavEphemeris e;
    e.svid = r.prn;
    e.week = r.week;
    e.iodNav = r.iodNav & 0x3FF;
    e.toe = static_cast<int>(unsignedField(r.orbit.toe, 60, 14)) * 60;
    e.toc = static_cast<int>(unsignedField(r.toc, 60, 14)) * 60;
    const auto angle = [&](double radians, int exponent, int bits) {
        return static_cast<std::int32_t>(signedField(radians / pi, twoToThe(exponent), bits));
    };
    e.m0 = angle(gps::wrapAngle(r.orbit.m0, std::numbers::pi), -31, 32);
    e.omega0 = angle(gps::wrapAngle(r.orbit.omega0, std::numbers::pi), -31, 32);
    e.i0 = angle(r.orbit.i0, -31, 32);
    e.omega = angle(gps::wrapAngle(r.orbit.omega, std::numbers::pi), -31, 32);
    e.idot = angle(r.orbit.idot, -43, 14);
    e.omegaDot = angle(r.orbit.omegaDot, -43, 24);
    e.deltaN = angle(r.orbit.deltaN, -43, 16);
    e.eccentricity = unsignedField(r.orbit.eccentricity, twoToThe(-33), 32);
    e.sqrtA = unsignedField(r.orbit.sqrtA, twoToThe(-19), 32);
    e.cuc = static_cast<std::int32_t>(signedField(r.orbit.cuc, twoToThe(-29), 16));
    e.cus = static_cast<std::int32_t>(signedField(r.orbit.cus, twoToThe(-29), 16));
    e.cic = static_cast<std::int32_t>(signedField(r.orbit.cic, twoToThe(-29), 16));
    e.cis = static_cast<std::int32_t>(signedField(r.orbit.cis, twoToThe(-29), 16));
    e.crc = static_cast<std::int32_t>(signedField(r.orbit.crc, twoToThe(-5), 16));
    e.crs = static_cast<std::int32_t>(signedField(r.orbit.crs, twoToThe(-5), 16));
    e.af0 = static_cast<std::int32_t>(signedField(r.af0, twoToThe(-34), 31));
    e.af1 = static_cast<std::int32_t>(signedField(r.af1, twoToThe(-46), 21));
    e.af2 = static_cast<std::int32_t>(signedField(r.af2, twoToThe(-59), 6));
    e.bgdE1E5a = static_cast<std::int32_t>(signedField(r.bgdE5aE1, twoToThe(-32), 10));
    e.bgdE1E5b = static_cast<std::int32_t>(signedField(r.bgdE5bE1, twoToThe(-32), 10));
    e.sisa = sisaIndex(r.sisaMetres);
    // RINEX health: bit 0 E1-B data validity, bits 1-2 its signal health; 6-8 E5b's.
    e.e1bDataValidity = r.health & 1;
    e.e1bHealth = (r.health >> 1) & 3;
    e.e5bDataValidity = (r.health >> 6) & 1;
    e.e5bHealth = (r.health >> 7) & 3;
    return e;
}

InavAlmanac inavAlmanacOf(const InavEphemeris& e, int almanacWeek, int t0a)
{
    using gps::signedField;
    using gps::twoToThe;
    constexpr double pi = gps::semicircle;
    const double sqrtA = static_cast<double>(e.sqrtA) * twoToThe(-19);
    const double a = sqrtA * sqrtA;
    const double meanMotion = std::sqrt(earthGravitation / (a * a * a)) + e.deltaN * twoToThe(-43) * pi;
    const double sinceToe = static_cast<double>(almanacWeek - e.week) * secondsPerWeek + t0a - e.toe;
    const double sinceToc = static_cast<double>(almanacWeek - e.week) * secondsPerWeek + t0a - e.toc;
    const double m0 = gps::wrapAngle(e.m0 * twoToThe(-31) * pi + meanMotion * sinceToe, pi);
    const double omegaDot = e.omegaDot * twoToThe(-43);  // semicircles/s
    InavAlmanac out;
    out.svid = e.svid;
    out.deltaSqrtA = static_cast<std::int32_t>(signedField(sqrtA - std::sqrt(29600000.0), twoToThe(-9), 13));
    out.eccentricity = static_cast<std::int32_t>(
        gps::unsignedField(static_cast<double>(e.eccentricity) * twoToThe(-33), twoToThe(-16), 11));
    out.omega = static_cast<std::int32_t>(signedField(e.omega * twoToThe(-31), twoToThe(-15), 16));
    out.deltaI = static_cast<std::int32_t>(signedField(e.i0 * twoToThe(-31) - 56.0 / 180, twoToThe(-14), 11));
    // The node at the almanac week's epoch, as the ephemeris gives it at its own week's.
    const double omega0 = gps::wrapAngle(
        e.omega0 * twoToThe(-31) - earthRotationRate / pi * (almanacWeek - e.week) * secondsPerWeek, 1.0);
    out.omega0 = static_cast<std::int32_t>(signedField(omega0, twoToThe(-15), 16));
    out.omegaDot = static_cast<std::int32_t>(signedField(omegaDot, twoToThe(-33), 11));
    out.m0 = static_cast<std::int32_t>(signedField(m0 / pi, twoToThe(-15), 16));
    out.af0 = static_cast<std::int32_t>(
        signedField(e.af0 * twoToThe(-34) + e.af1 * twoToThe(-46) * sinceToc, twoToThe(-19), 16));
    out.af1 = static_cast<std::int32_t>(signedField(e.af1 * twoToThe(-46), twoToThe(-38), 13));
    out.e1bHealth = e.e1bHealth;
    out.e5bHealth = e.e5bHealth;
    return out;
}

const InavEphemeris& InavSchedule::setAt(double t) const
{
    const auto after = std::upper_bound(broadcastFrom.begin(), broadcastFrom.end(), t);
    return sets[static_cast<std::size_t>(after == broadcastFrom.begin() ? 0 : (after - broadcastFrom.begin()) - 1)];
}

InavSchedule inavSchedule(const std::vector<Ephemeris>& records, int prn, int baseWeek)
{
    std::vector<const Ephemeris*> own;
    bool anyInav = false;
    for (const Ephemeris& r : records)
        if (r.prn == prn && r.servesE1()) anyInav = anyInav || r.inav();
    for (const Ephemeris& r : records)
        if (r.prn == prn && r.servesE1() && r.inav() == anyInav) own.push_back(&r);
    std::stable_sort(own.begin(), own.end(),
                     [](const Ephemeris* a, const Ephemeris* b) { return a->toeSeconds() < b->toeSeconds(); });
    InavSchedule schedule;
    double previousToe = 0;
    const double base = static_cast<double>(baseWeek) * secondsPerWeek;
    for (const Ephemeris* r : own) {
        const double toe = r->toeSeconds() - base;
        if (!schedule.sets.empty() && toe == previousToe) continue;  // the same set from another signal
        double from = -1e12;
        if (!schedule.sets.empty()) from = std::ceil((previousToe + toe) / 2 / 30) * 30;
        schedule.sets.push_back(inavEphemerisOf(*r));
        schedule.broadcastFrom.push_back(from);
        previousToe = toe;
    }
    return schedule;
}

InavCommon inavCommonOf(const RinexNavigation& navigation, int week, double startSeconds, const gps::UtcParameters& utc)
{
    using gps::signedField;
    using gps::twoToThe;
    InavCommon c;
    c.leapSeconds = c.leapSecondsAfter = utc.leapSeconds;
    c.leapSecondWeek = utc.referenceWeek;
    c.leapSecondDay = 7;
    c.utcReferenceWeek = utc.referenceWeek;
    c.utcReferenceTime = std::clamp(utc.referenceTime / 3600 * 3600, 0, 255 * 3600);
    c.utcA0 = static_cast<std::int32_t>(signedField(utc.a0, twoToThe(-30), 32));
    c.utcA1 = static_cast<std::int32_t>(signedField(utc.a1, twoToThe(-50), 24));
    c.ggtoReferenceWeek = week;
    c.ggtoReferenceTime = std::clamp(static_cast<int>(startSeconds / 3600) * 3600, 0, 255 * 3600);
    for (const RinexTimeCorrection& correction : navigation.timeCorrections) {
        if (correction.kind == "GAUT") {
            c.utcA0 = static_cast<std::int32_t>(signedField(correction.a0, twoToThe(-30), 32));
            c.utcA1 = static_cast<std::int32_t>(signedField(correction.a1, twoToThe(-50), 24));
            c.utcReferenceTime = std::clamp(correction.referenceTime / 3600 * 3600, 0, 255 * 3600);
            c.utcReferenceWeek = correction.referenceWeek;
        }
        if (correction.kind == "GPGA") {
            c.ggtoA0 = static_cast<std::int32_t>(signedField(correction.a0, twoToThe(-35), 16));
            c.ggtoA1 = static_cast<std::int32_t>(signedField(correction.a1, twoToThe(-51), 12));
            c.ggtoReferenceTime = std::clamp(correction.referenceTime / 3600 * 3600, 0, 255 * 3600);
            c.ggtoReferenceWeek = correction.referenceWeek;
        }
    }
    if (navigation.galileoIonosphere) {
        const auto& [ai0, ai1, ai2] = *navigation.galileoIonosphere;
        c.ai0 = static_cast<std::int32_t>(gps::unsignedField(ai0, twoToThe(-2), 11));
        c.ai1 = static_cast<std::int32_t>(signedField(ai1, twoToThe(-8), 11));
        c.ai2 = static_cast<std::int32_t>(signedField(ai2, twoToThe(-15), 14));
    }
    c.almanacWeek = week;
    c.almanacReferenceTime = std::clamp(static_cast<int>(std::lround(startSeconds / 600)) * 600, 0, 1023 * 600);
    c.almanacIssue = (c.almanacReferenceTime / 600) % 16;
    return c;
}

}  // namespace trajix::galileo
