#include "signal/beidou_b1i.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "common/error.hpp"
#include "signal/gps_l1ca.hpp"
#include "sky/broadcast_fields.hpp"

namespace trajix::beidou {

namespace {

// The G2 stages (1..11) summed for each PRN's code.
constexpr std::array<std::array<int, 3>, b1PrnCount> g2Stages{{
    {1, 3, 0},   {1, 4, 0}, {1, 5, 0},  {1, 6, 0},  {1, 8, 0}, {1, 9, 0},  {1, 10, 0}, {1, 11, 0}, {2, 7, 0},
    {3, 4, 0},   {3, 5, 0}, {3, 6, 0},  {3, 8, 0},  {3, 9, 0}, {3, 10, 0}, {3, 11, 0}, {4, 5, 0},  {4, 6, 0},
    {4, 8, 0},   {4, 9, 0}, {4, 10, 0}, {4, 11, 0}, {5, 6, 0}, {5, 8, 0},  {5, 9, 0},  {5, 10, 0}, {5, 11, 0},
    {6, 8, 0},   {6, 9, 0}, {6, 10, 0}, {6, 11, 0}, {8, 9, 0}, {8, 10, 0}, {8, 11, 0}, {9, 10, 0}, {9, 11, 0},
    {10, 11, 0}, {1, 2, 7}, {1, 3, 4},  {1, 3, 6},  {1, 3, 8}, {1, 3, 10}, {1, 3, 11}, {1, 4, 5},  {1, 4, 9},
    {1, 5, 6},   {1, 5, 8}, {1, 5, 10}, {1, 5, 11}, {1, 6, 9}, {1, 8, 9},  {1, 9, 10}, {1, 9, 11}, {2, 3, 7},
    {2, 5, 7},   {2, 7, 9}, {3, 4, 5},  {3, 4, 9},  {3, 5, 6}, {3, 5, 8},  {3, 5, 10}, {3, 5, 11}, {3, 6, 9},
}};

// An 11-stage register: stage s (1..11) is bit s - 1.
struct Register {
    unsigned stages = 0b01010101010;  // stages 1..11 = 0 1 0 1 0 1 0 1 0 1 0
    unsigned stage(int s) const { return (stages >> (s - 1)) & 1u; }
    // Shift towards stage 11; the feedback (the sum of the polynomial's stages) enters stage 1.
    void shift(std::initializer_list<int> taps)
    {
        unsigned feedback = 0;
        for (const int t : taps) feedback ^= stage(t);
        stages = ((stages << 1) | feedback) & 0x7FFu;
    }
};

std::uint32_t bits(std::uint64_t value, int count)
{
    return static_cast<std::uint32_t>(value & ((std::uint64_t{1} << count) - 1));
}

// The information bits of a subframe, written field by field, first bit first.
class InfoWriter {
public:
    void put(std::uint64_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) info_[static_cast<std::size_t>(at_++)] = (value >> i) & 1u;
    }
    void putSigned(std::int64_t value, int count) { put(static_cast<std::uint64_t>(value), count); }
    void skipTo(int position) { at_ = position; }  // the rest reserved (zero)
    int at() const { return at_; }
    const std::array<std::uint8_t, 224>& info() const { return info_; }

private:
    std::array<std::uint8_t, 224> info_{};
    int at_ = 0;
};

// The 8 bits of the information before a subframe's page number, then the page.
void header(InfoWriter& w, int subframeId, long long sow)
{
    w.put(preamble, 11);
    w.put(0, 4);
    w.put(static_cast<std::uint64_t>(subframeId), 3);
    w.put(static_cast<std::uint64_t>(sow), 20);
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

constexpr long long secondsPerWeek = 604800;

void putUtcPage(InfoWriter& w, const B1Common& c)
{
    w.putSigned(c.leapSeconds, 8);
    w.putSigned(c.leapSecondsAfter, 8);
    w.put(static_cast<std::uint64_t>(c.leapSecondWeek), 8);
    w.putSigned(c.utcA0, 32);
    w.putSigned(c.utcA1, 24);
    w.put(static_cast<std::uint64_t>(c.leapSecondDay), 8);
}

}  // namespace

B1Code b1iCode(int prn)
{
    if (prn < 1 || prn > b1PrnCount)
        throw Error(fmt::format("C{:02} has no B1I ranging code (the ICD gives C01 to C{:02})", prn, b1PrnCount));
    const auto& taps = g2Stages[static_cast<std::size_t>(prn - 1)];
    Register g1, g2;
    B1Code code{};
    for (int chip = 0; chip < b1CodeLength; ++chip) {
        unsigned out = g1.stage(11);
        for (const int t : taps)
            if (t != 0) out ^= g2.stage(t);
        code[static_cast<std::size_t>(chip)] = static_cast<std::uint8_t>(out);
        g1.shift({1, 7, 8, 9, 10, 11});
        g2.shift({1, 2, 3, 4, 5, 8, 9, 11});
    }
    return code;
}

std::uint32_t bchParityReference(std::uint32_t info11)
{
    // The encoder's four-stage register (g(x) = x^4 + x + 1): each information bit, first
    // bit first, added to the last stage's output is fed back into stages 1 and 2.
    unsigned d0 = 0, d1 = 0, d2 = 0, d3 = 0;
    for (int i = 10; i >= 0; --i) {
        const unsigned feedback = ((info11 >> i) & 1u) ^ d3;
        d3 = d2;
        d2 = d1;
        d1 = d0 ^ feedback;
        d0 = feedback;
    }
    return (d3 << 3) | (d2 << 2) | (d1 << 1) | d0;
}

std::uint32_t bchParity(std::uint32_t info11)
{
    static const std::array<std::uint8_t, 2048> table = [] {
        std::array<std::uint8_t, 2048> t{};
        // Polynomial division of info x^4 by x^4 + x + 1 (binary 10011).
        for (std::uint32_t m = 0; m < 2048; ++m) {
            std::uint32_t r = m << 4;
            for (int bit = 14; bit >= 4; --bit)
                if ((r >> bit) & 1u) r ^= 0b10011u << (bit - 4);
            t[m] = static_cast<std::uint8_t>(r);
        }
        return t;
    }();
    return table[info11 & 0x7FFu];
}

std::uint32_t encodeFirstWord(std::uint32_t info26)
{
    const std::uint32_t coded = info26 & 0x7FFu;
    return (bits(info26, 26) << 4) | bchParity(coded);
}

std::uint32_t encodeWord(std::uint32_t info22)
{
    const std::uint32_t x1 = (info22 >> 11) & 0x7FFu, x2 = info22 & 0x7FFu;
    const std::uint32_t c1 = (x1 << 4) | bchParity(x1), c2 = (x2 << 4) | bchParity(x2);
    std::uint32_t word = 0;
    for (int i = 14; i >= 0; --i) word = (word << 2) | (((c1 >> i) & 1u) << 1) | ((c2 >> i) & 1u);
    return word;
}

Subframe encodeSubframe(const std::array<std::uint8_t, 224>& info)
{
    Subframe words{};
    std::size_t at = 0;
    for (int w = 0; w < 10; ++w) {
        const int count = w == 0 ? 26 : 22;
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | info[at++];
        words[static_cast<std::size_t>(w)] = w == 0 ? encodeFirstWord(value) : encodeWord(value);
    }
    return words;
}

B1Ephemeris b1EphemerisOf(const Ephemeris& r)
{
    using gps::signedField;
    using gps::twoToThe;
    using gps::unsignedField;
    constexpr double pi = gps::semicircle;
    B1Ephemeris e;
    e.prn = r.prn;
    e.health = r.health != 0 ? 1 : 0;
    e.aodc = std::clamp(r.aodc, 0, 31);
    e.aode = std::clamp(r.aode, 0, 31);
    // URA index as GPS's (the same table of metres).
    static constexpr std::array<double, 15> ura{2.4, 3.4, 4.85, 6.85, 9.65, 13.65, 24,  48,
                                                96,  192, 384,  768,  1536, 3072,  6144};
    e.urai = 15;
    if (r.accuracyMetres >= 0)
        for (std::size_t i = 0; i < ura.size(); ++i)
            if (r.accuracyMetres <= ura[i]) {
                e.urai = static_cast<int>(i);
                break;
            }
    e.week = r.week & 0x1FFF;
    e.toc = static_cast<int>(unsignedField(r.toc, 8, 17));
    e.toe = static_cast<int>(unsignedField(r.orbit.toe, 8, 17));
    e.tgd1 = static_cast<std::int32_t>(signedField(r.tgd1, 1e-10, 10));
    e.tgd2 = static_cast<std::int32_t>(signedField(r.tgd2, 1e-10, 10));
    e.a0 = static_cast<std::int32_t>(signedField(r.af0, twoToThe(-33), 24));
    e.a1 = static_cast<std::int32_t>(signedField(r.af1, twoToThe(-50), 22));
    e.a2 = static_cast<std::int32_t>(signedField(r.af2, twoToThe(-66), 11));
    const sky::KeplerOrbit& o = r.orbit;
    e.deltaN = static_cast<std::int32_t>(signedField(o.deltaN / pi, twoToThe(-43), 16));
    e.cuc = static_cast<std::int32_t>(signedField(o.cuc, twoToThe(-31), 18));
    e.cus = static_cast<std::int32_t>(signedField(o.cus, twoToThe(-31), 18));
    e.cic = static_cast<std::int32_t>(signedField(o.cic, twoToThe(-31), 18));
    e.cis = static_cast<std::int32_t>(signedField(o.cis, twoToThe(-31), 18));
    e.crc = static_cast<std::int32_t>(signedField(o.crc, twoToThe(-6), 18));
    e.crs = static_cast<std::int32_t>(signedField(o.crs, twoToThe(-6), 18));
    e.m0 = static_cast<std::int32_t>(signedField(gps::wrapAngle(o.m0, pi) / pi, twoToThe(-31), 32));
    e.i0 = static_cast<std::int32_t>(signedField(gps::wrapAngle(o.i0, pi) / pi, twoToThe(-31), 32));
    e.omega0 = static_cast<std::int32_t>(signedField(gps::wrapAngle(o.omega0, pi) / pi, twoToThe(-31), 32));
    e.omega = static_cast<std::int32_t>(signedField(gps::wrapAngle(o.omega, pi) / pi, twoToThe(-31), 32));
    e.eccentricity = unsignedField(o.eccentricity, twoToThe(-33), 32);
    e.sqrtA = unsignedField(o.sqrtA, twoToThe(-19), 32);
    e.omegaDot = static_cast<std::int32_t>(signedField(o.omegaDot / pi, twoToThe(-43), 24));
    e.idot = static_cast<std::int32_t>(signedField(o.idot / pi, twoToThe(-43), 14));
    return e;
}

B1Common b1CommonOf(const RinexNavigation& navigation, int gpsWeek, const gps::UtcParameters& utc)
{
    using gps::signedField;
    using gps::twoToThe;
    B1Common c;
    // The ionosphere of the file's GPS lines (the one the signal's delays follow).
    const atmosphere::Klobuchar& k = utc.ionosphere;
    const std::array<int, 4> alphaScale{-30, -27, -24, -24}, betaScale{11, 14, 16, 16};
    for (std::size_t i = 0; i < 4; ++i) {
        c.alpha[i] = static_cast<std::int32_t>(signedField(k.alpha[i], twoToThe(alphaScale[i]), 8));
        c.beta[i] = static_cast<std::int32_t>(signedField(k.beta[i], twoToThe(betaScale[i]), 8));
    }
    c.leapSeconds = c.leapSecondsAfter = utc.leapSeconds - static_cast<int>(gpsMinusBdt);
    c.leapSecondWeek = (gpsWeek - weekOffset) & 0xFF;
    c.leapSecondDay = 6;
    c.utcA0 = static_cast<std::int32_t>(signedField(utc.a0, twoToThe(-30), 32));
    c.utcA1 = static_cast<std::int32_t>(signedField(utc.a1, twoToThe(-50), 24));
    for (const RinexTimeCorrection& correction : navigation.timeCorrections)
        if (correction.kind == "BDUT") {
            c.utcA0 = static_cast<std::int32_t>(signedField(correction.a0, twoToThe(-30), 32));
            c.utcA1 = static_cast<std::int32_t>(signedField(correction.a1, twoToThe(-50), 24));
        }
    return c;
}

B1Message::B1Message(int prn, std::vector<B1Ephemeris> sets, std::vector<double> broadcastFrom, B1Common common,
                     int baseGpsWeek)
    : prn_(prn),
      sets_(std::move(sets)),
      broadcastFrom_(std::move(broadcastFrom)),
      common_(common),
      baseGpsWeek_(baseGpsWeek)
{
    if (sets_.empty() || sets_.size() != broadcastFrom_.size())
        throw Error(fmt::format("C{:02}: a B1I message needs its sets and their times", prn));
}

const B1Ephemeris& B1Message::ephemerisAt(double t) const
{
    std::size_t k = 0;
    while (k + 1 < sets_.size() && broadcastFrom_[k + 1] <= t) ++k;
    return sets_[k];
}

std::array<std::uint8_t, 224> B1Message::subframeInfo(std::int64_t index) const
{
    InfoWriter w;
    // Tenths of a second since the BDT week's start 14 s after the base week's.
    const std::int64_t tenths = d2() ? index * 6 : index * 60;
    const int id = static_cast<int>(index - floorDiv(index, 5) * 5) + 1;
    const std::int64_t frame = floorDiv(index, 5);
    // D1: the subframe's own start; D2: its frame's (subframe 1's) start.
    const std::int64_t sowTenths = d2() ? frame * 30 : tenths;
    const std::int64_t sow =
        floorDiv(sowTenths, 10) - floorDiv(floorDiv(sowTenths, 10), secondsPerWeek) * secondsPerWeek;
    const double gpsSeconds = static_cast<double>(tenths) / 10 + gpsMinusBdt;
    const B1Ephemeris& e = ephemerisAt(gpsSeconds);
    header(w, id, sow);

    if (!d2()) {
        switch (id) {
            case 1:
                w.put(static_cast<std::uint64_t>(e.health), 1);
                w.put(static_cast<std::uint64_t>(e.aodc), 5);
                w.put(static_cast<std::uint64_t>(e.urai), 4);
                w.put(static_cast<std::uint64_t>(e.week), 13);
                w.put(static_cast<std::uint64_t>(e.toc), 17);
                w.putSigned(e.tgd1, 10);
                w.putSigned(e.tgd2, 10);
                for (const std::int32_t a : common_.alpha) w.putSigned(a, 8);
                for (const std::int32_t b : common_.beta) w.putSigned(b, 8);
                w.putSigned(e.a2, 11);
                w.putSigned(e.a0, 24);
                w.putSigned(e.a1, 22);
                w.put(static_cast<std::uint64_t>(e.aode), 5);
                break;
            case 2:
                w.putSigned(e.deltaN, 16);
                w.putSigned(e.cuc, 18);
                w.putSigned(e.m0, 32);
                w.put(static_cast<std::uint64_t>(e.eccentricity), 32);
                w.putSigned(e.cus, 18);
                w.putSigned(e.crc, 18);
                w.putSigned(e.crs, 18);
                w.put(static_cast<std::uint64_t>(e.sqrtA), 32);
                w.put(static_cast<std::uint64_t>(e.toe) >> 15, 2);
                break;
            case 3:
                w.put(static_cast<std::uint64_t>(e.toe), 15);
                w.putSigned(e.i0, 32);
                w.putSigned(e.cic, 18);
                w.putSigned(e.omegaDot, 24);
                w.putSigned(e.cis, 18);
                w.putSigned(e.idot, 14);
                w.putSigned(e.omega0, 32);
                w.putSigned(e.omega, 32);
                break;
            default: {
                // Subframes 4 and 5 page through 24 frames: no almanac here (every field
                // zero), but subframe 5's page 10 carries BDT-UTC.
                const int page = static_cast<int>(frame - floorDiv(frame, 24) * 24) + 1;
                w.put(0, 1);
                w.put(static_cast<std::uint64_t>(page), 7);
                if (id == 5 && page == 10) putUtcPage(w, common_);
                break;
            }
        }
        return w.info();
    }

    // D2: subframe 1 carries the set over 10 pages (one a frame); subframe 5 pages 1-120
    // (page 102: BDT-UTC); subframes 2-4 (integrity and differential corrections) zero.
    if (id == 1) {
        const int page = static_cast<int>(frame - floorDiv(frame, 10) * 10) + 1;
        w.put(static_cast<std::uint64_t>(page), 4);
        switch (page) {
            case 1:
                w.put(static_cast<std::uint64_t>(e.health), 1);
                w.put(static_cast<std::uint64_t>(e.aodc), 5);
                w.put(static_cast<std::uint64_t>(e.urai), 4);
                w.put(static_cast<std::uint64_t>(e.week), 13);
                w.put(static_cast<std::uint64_t>(e.toc), 17);
                w.putSigned(e.tgd1, 10);
                w.putSigned(e.tgd2, 10);
                break;
            case 2:
                for (const std::int32_t a : common_.alpha) w.putSigned(a, 8);
                for (const std::int32_t b : common_.beta) w.putSigned(b, 8);
                break;
            case 3:
                w.skipTo(w.at() + 38);
                w.putSigned(e.a0, 24);
                w.put(static_cast<std::uint64_t>(e.a1) >> 18, 4);
                break;
            case 4:
                w.put(static_cast<std::uint64_t>(e.a1), 18);
                w.putSigned(e.a2, 11);
                w.put(static_cast<std::uint64_t>(e.aode), 5);
                w.putSigned(e.deltaN, 16);
                w.put(static_cast<std::uint64_t>(e.cuc) >> 4, 14);
                break;
            case 5:
                w.put(static_cast<std::uint64_t>(e.cuc), 4);
                w.putSigned(e.m0, 32);
                w.putSigned(e.cus, 18);
                w.put(static_cast<std::uint64_t>(e.eccentricity) >> 22, 10);
                break;
            case 6:
                w.put(static_cast<std::uint64_t>(e.eccentricity), 22);
                w.put(static_cast<std::uint64_t>(e.sqrtA), 32);
                w.put(static_cast<std::uint64_t>(e.cic) >> 8, 10);
                break;
            case 7:
                w.put(static_cast<std::uint64_t>(e.cic), 8);
                w.putSigned(e.cis, 18);
                w.put(static_cast<std::uint64_t>(e.toe), 17);
                w.put(static_cast<std::uint64_t>(e.i0) >> 11, 21);
                break;
            case 8:
                w.put(static_cast<std::uint64_t>(e.i0), 11);
                w.putSigned(e.crc, 18);
                w.putSigned(e.crs, 18);
                w.put(static_cast<std::uint64_t>(e.omegaDot) >> 5, 19);
                break;
            case 9:
                w.put(static_cast<std::uint64_t>(e.omegaDot), 5);
                w.putSigned(e.omega0, 32);
                w.put(static_cast<std::uint64_t>(e.omega) >> 5, 27);
                break;
            case 10:
                w.put(static_cast<std::uint64_t>(e.omega), 5);
                w.putSigned(e.idot, 14);
                break;
            default:
                break;
        }
    } else if (id == 5) {
        const int page = static_cast<int>(frame - floorDiv(frame, 120) * 120) + 1;
        w.put(0, 1);
        w.put(static_cast<std::uint64_t>(page), 7);
        if (page == 102) putUtcPage(w, common_);
    }
    return w.info();
}

Subframe B1Message::subframe(std::int64_t index) const
{
    return encodeSubframe(subframeInfo(index));
}

B1Schedule b1Schedule(const std::vector<Ephemeris>& records, int prn, int baseGpsWeek)
{
    std::vector<const Ephemeris*> own;
    for (const Ephemeris& r : records)
        if (r.prn == prn && r.health == 0) own.push_back(&r);
    std::stable_sort(own.begin(), own.end(),
                     [](const Ephemeris* a, const Ephemeris* b) { return a->toeSeconds() < b->toeSeconds(); });
    B1Schedule schedule;
    double previousToe = 0;
    const double base = static_cast<double>(baseGpsWeek) * secondsPerWeek;
    for (const Ephemeris* r : own) {
        const double toe = r->toeSeconds() - base;
        if (!schedule.sets.empty() && toe == previousToe) continue;
        double from = -1e12;
        // From the first D1 frame (30 s of BDT, which starts 14 s after GPS's) at or
        // after the midpoint.
        if (!schedule.sets.empty()) from = std::ceil(((previousToe + toe) / 2 - gpsMinusBdt) / 30) * 30 + gpsMinusBdt;
        schedule.sets.push_back(b1EphemerisOf(*r));
        schedule.broadcastFrom.push_back(from);
        previousToe = toe;
    }
    return schedule;
}

}  // namespace trajix::beidou
