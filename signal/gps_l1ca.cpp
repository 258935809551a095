#include "signal/gps_l1ca.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "common/error.hpp"
#include "sky/broadcast_fields.hpp"
#include "sky/sky_model.hpp"

namespace trajix::gps {

namespace {

// The low `bits` bits of a (two's complement) value.
std::uint32_t bitsOf(std::int64_t value, int bits)
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) & ((std::uint64_t{1} << bits) - 1));
}

double wrapAngle(double radians)
{
    return gps::wrapAngle(radians, semicircle);
}

// G2 output taps of PRN 1..32 (the two-tap G2 coder of IS-GPS-200).
constexpr std::array<std::array<int, 2>, 32> g2Taps{{
    {2, 6}, {3, 7}, {4, 8}, {5, 9}, {1, 9},  {2, 10}, {1, 8}, {2, 9}, {3, 10}, {2, 3}, {3, 4},
    {5, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 10}, {1, 4},  {2, 5}, {3, 6}, {4, 7},  {5, 8}, {6, 9},
    {1, 3}, {4, 6}, {5, 7}, {6, 8}, {7, 9},  {8, 10}, {1, 6}, {2, 7}, {3, 8},  {4, 9},
}};

// Data bit d_k (k = 1..24, d1 first transmitted) of a 24-bit word.
unsigned dataBit(std::uint32_t data, int k)
{
    return (data >> (24 - k)) & 1u;
}

unsigned xorOf(std::uint32_t data, std::initializer_list<int> positions)
{
    unsigned sum = 0;
    for (const int k : positions) sum ^= dataBit(data, k);
    return sum;
}

// Subframe 4 SV IDs of pages 1..25.
constexpr std::array<int, 25> subframe4SvIds{57, 25, 26, 27, 28, 57, 29, 30, 31, 32, 57, 62, 52,
                                             53, 54, 57, 55, 56, 58, 59, 57, 60, 61, 62, 63};

}  // namespace

std::array<std::uint8_t, codeLength> caCode(int prn)
{
    if (prn < 1 || prn > 32) throw Error(fmt::format("PRN {} has no C/A code here (1 to 32)", prn));
    std::array<unsigned, 11> g1{}, g2{};  // stages 1..10
    for (int i = 1; i <= 10; ++i) g1[static_cast<std::size_t>(i)] = g2[static_cast<std::size_t>(i)] = 1;
    const auto [tapA, tapB] = g2Taps[static_cast<std::size_t>(prn - 1)];
    std::array<std::uint8_t, codeLength> code{};
    for (int chip = 0; chip < codeLength; ++chip) {
        const unsigned g2Out = g2[static_cast<std::size_t>(tapA)] ^ g2[static_cast<std::size_t>(tapB)];
        code[static_cast<std::size_t>(chip)] = static_cast<std::uint8_t>(g1[10] ^ g2Out);
        const unsigned g1Feedback = g1[3] ^ g1[10];
        const unsigned g2Feedback = g2[2] ^ g2[3] ^ g2[6] ^ g2[8] ^ g2[9] ^ g2[10];
        for (std::size_t i = 10; i > 1; --i) {
            g1[i] = g1[i - 1];
            g2[i] = g2[i - 1];
        }
        g1[1] = g1Feedback;
        g2[1] = g2Feedback;
    }
    return code;
}

unsigned parityBits(std::uint32_t d, unsigned p29, unsigned p30)
{
    const unsigned d25 = p29 ^ xorOf(d, {1, 2, 3, 5, 6, 10, 11, 12, 13, 14, 17, 18, 20, 23});
    const unsigned d26 = p30 ^ xorOf(d, {2, 3, 4, 6, 7, 11, 12, 13, 14, 15, 18, 19, 21, 24});
    const unsigned d27 = p29 ^ xorOf(d, {1, 3, 4, 5, 7, 8, 12, 13, 14, 15, 16, 19, 20, 22});
    const unsigned d28 = p30 ^ xorOf(d, {2, 4, 5, 6, 8, 9, 13, 14, 15, 16, 17, 20, 21, 23});
    const unsigned d29 = p30 ^ xorOf(d, {1, 3, 5, 6, 7, 9, 10, 14, 15, 16, 17, 18, 21, 22, 24});
    const unsigned d30 = p29 ^ xorOf(d, {3, 5, 6, 8, 9, 10, 11, 13, 15, 19, 22, 23, 24});
    return d25 << 5 | d26 << 4 | d27 << 3 | d28 << 2 | d29 << 1 | d30;
}

std::uint32_t encodeWord(std::uint32_t data, unsigned p29, unsigned p30)
{
    data &= 0xFFFFFFu;
    const std::uint32_t sent = p30 ? (~data & 0xFFFFFFu) : data;
    return sent << 6 | parityBits(data, p29, p30);
}

bool parityHolds(std::uint32_t word, unsigned p29, unsigned p30)
{
    const std::uint32_t sent = (word >> 6) & 0xFFFFFFu;
    const std::uint32_t data = p30 ? (~sent & 0xFFFFFFu) : sent;
    return (word & 0x3Fu) == parityBits(data, p29, p30);
}

NavigationMessage::NavigationMessage(std::vector<BroadcastEphemeris> ephemerides, std::vector<AlmanacRecord> almanac,
                                     int almanacFullWeek, UtcParameters utc, int baseWeek)
    : ephemerides_(std::move(ephemerides)),
      almanac_(std::move(almanac)),
      almanacWeek_(almanacFullWeek),
      utc_(utc),
      baseWeek_(baseWeek)
{
    if (ephemerides_.empty()) throw Error("a navigation message needs an ephemeris");
}

const BroadcastEphemeris& NavigationMessage::ephemerisAt(double t) const
{
    if (!broadcastFrom_.empty()) {
        const auto after = std::upper_bound(broadcastFrom_.begin(), broadcastFrom_.end(), t);
        const auto k = after == broadcastFrom_.begin() ? 0 : after - broadcastFrom_.begin() - 1;
        return ephemerides_[static_cast<std::size_t>(k)];
    }
    const BroadcastEphemeris* chosen = &ephemerides_.front();
    for (const BroadcastEphemeris& e : ephemerides_)
        if (t >= weekOffset(e) + e.toe - 3600) chosen = &e;
    return *chosen;
}

void NavigationMessage::scheduleBroadcasts(std::vector<double> broadcastFrom)
{
    if (broadcastFrom.size() != ephemerides_.size() || !std::is_sorted(broadcastFrom.begin(), broadcastFrom.end()))
        throw Error("a broadcast schedule needs one ascending time per ephemeris");
    broadcastFrom_ = std::move(broadcastFrom);
    cachedSubframe_ = -1;
}

const BroadcastEphemeris& NavigationMessage::signalEphemerisAt(double t) const
{
    if (broadcastFrom_.empty()) return ephemerisAt(t);
    // Subframes 1-3 of the frame take its first 18 s.
    const double frameStart = std::floor(t / 30) * 30;
    return ephemerisAt(t - frameStart < 18 ? frameStart - 1 : frameStart);
}

BroadcastSchedule broadcastSchedule(const sky::SkyModel& sky, std::size_t satellite, std::int64_t firstFrame,
                                    std::int64_t lastFrame)
{
    BroadcastSchedule schedule;
    schedule.firstFrame = firstFrame;
    const BroadcastEphemeris* previous = nullptr;
    for (std::int64_t frame = firstFrame; frame <= lastFrame; ++frame) {
        const double start = static_cast<double>(frame) * 30;
        const BroadcastEphemeris* e = sky.ephemerisAt(satellite, start);
        schedule.validFrames.push_back(e != nullptr);
        if (e && e != previous) {
            schedule.sets.push_back(*e);
            schedule.broadcastFrom.push_back(start);
            previous = e;
        }
    }
    return schedule;
}

AlmanacRecord almanacFromEphemeris(const BroadcastEphemeris& e, int almanacWeek, int toa)
{
    const double sqrtA = static_cast<double>(e.sqrtA) * twoToThe(-19);
    const double a = sqrtA * sqrtA;
    const double meanMotion = std::sqrt(earthGravitation / (a * a * a)) + e.deltaN * twoToThe(-43) * semicircle;
    const double weeksApart = static_cast<double>(almanacWeek - e.week) * secondsPerWeek;
    const double sinceToe = weeksApart + toa - e.toe, sinceToc = weeksApart + toa - e.toc;
    const double nodeRate = e.omegaDot * twoToThe(-43) * semicircle;
    AlmanacRecord r;
    r.prn = e.prn;
    r.health = e.health;
    r.eccentricity = static_cast<double>(e.eccentricity) * twoToThe(-33);
    r.timeOfApplicability = toa;
    r.inclination = e.i0 * twoToThe(-31) * semicircle + e.idot * twoToThe(-43) * semicircle * sinceToe;
    r.rateOfRightAscension = nodeRate;
    r.sqrtSemiMajorAxis = sqrtA;
    // Both node angles count from the epoch of their own week: the same plane at any
    // time once the rate over the span and the Earth's turn between the epochs are added.
    r.rightAscensionAtWeek =
        wrapAngle(e.omega0 * twoToThe(-31) * semicircle + nodeRate * sinceToe - earthRotationRate * weeksApart);
    r.argumentOfPerigee = wrapAngle(e.omega * twoToThe(-31) * semicircle);
    r.meanAnomaly = wrapAngle(e.m0 * twoToThe(-31) * semicircle + meanMotion * sinceToe);
    r.clockDrift = e.af1 * twoToThe(-43);
    r.clockBias = e.af0 * twoToThe(-31) + r.clockDrift * sinceToc;
    r.week = almanacWeek;
    return r;
}

UtcParameters utcParametersOf(const RinexNavigation& navigation, int week, double startSeconds)
{
    UtcParameters utc;
    utc.leapSeconds = navigation.leapSeconds.value_or(leapSecondsAtWeek(week));
    if (navigation.utc) {
        utc.a0 = navigation.utc->a0;
        utc.a1 = navigation.utc->a1;
        utc.referenceWeek = navigation.utc->referenceWeek;
        utc.referenceTime = navigation.utc->referenceTime / 4096 * 4096;
    } else {
        utc.referenceWeek = week;
        utc.referenceTime = static_cast<int>(startSeconds / 4096) * 4096;
    }
    if (navigation.ionosphere)
        utc.ionosphere = broadcastKlobuchar({navigation.ionosphere->alpha, navigation.ionosphere->beta});
    return utc;
}

atmosphere::Klobuchar broadcastKlobuchar(const atmosphere::Klobuchar& k)
{
    static constexpr std::array<int, 4> alphaExponents{-30, -27, -24, -24};
    static constexpr std::array<int, 4> betaExponents{11, 14, 16, 16};
    atmosphere::Klobuchar rounded;
    for (std::size_t n = 0; n < 4; ++n) {
        const double alphaScale = twoToThe(alphaExponents[n]), betaScale = twoToThe(betaExponents[n]);
        rounded.alpha[n] = static_cast<double>(signedField(k.alpha[n], alphaScale, 8)) * alphaScale;
        rounded.beta[n] = static_cast<double>(signedField(k.beta[n], betaScale, 8)) * betaScale;
    }
    return rounded;
}

std::array<std::uint32_t, 8> NavigationMessage::dataWords(int subframeId, int page, std::int64_t startSeconds) const
{
    std::array<std::uint32_t, 8> w{};  // words 3..10; word 10 leaves its last two bits to the parity
    const BroadcastEphemeris& e = ephemerisAt(static_cast<double>(startSeconds));
    const std::int64_t weeksFromBase =
        (startSeconds >= 0 ? startSeconds : startSeconds - secondsPerWeek + 1) / secondsPerWeek;
    const auto transmissionWeek = static_cast<std::uint32_t>(baseWeek_ + weeksFromBase);
    const auto almanacPage = [&](int prn) {
        const auto found =
            std::find_if(almanac_.begin(), almanac_.end(), [prn](const AlmanacRecord& r) { return r.prn == prn; });
        if (found == almanac_.end()) {
            w[0] = 1u << 22;  // a dummy page: SV ID 0
            return;
        }
        const AlmanacRecord& r = *found;
        w[0] = 1u << 22 | bitsOf(prn, 6) << 16 | bitsOf(unsignedField(r.eccentricity, twoToThe(-21), 16), 16);
        w[1] = bitsOf(unsignedField(r.timeOfApplicability, 4096, 8), 8) << 16 |
               bitsOf(signedField(r.inclination / semicircle - 0.30, twoToThe(-19), 16), 16);
        w[2] =
            bitsOf(signedField(r.rateOfRightAscension / semicircle, twoToThe(-38), 16), 16) << 8 | bitsOf(r.health, 8);
        w[3] = bitsOf(unsignedField(r.sqrtSemiMajorAxis, twoToThe(-11), 24), 24);
        w[4] = bitsOf(signedField(wrapAngle(r.rightAscensionAtWeek) / semicircle, twoToThe(-23), 24), 24);
        w[5] = bitsOf(signedField(wrapAngle(r.argumentOfPerigee) / semicircle, twoToThe(-23), 24), 24);
        w[6] = bitsOf(signedField(wrapAngle(r.meanAnomaly) / semicircle, twoToThe(-23), 24), 24);
        const std::uint32_t af0 = bitsOf(signedField(r.clockBias, twoToThe(-20), 11), 11);
        const std::uint32_t af1 = bitsOf(signedField(r.clockDrift, twoToThe(-38), 11), 11);
        w[7] = (af0 >> 3) << 16 | af1 << 5 | (af0 & 7u) << 2;
    };
    const auto health6 = [&](int prn) -> std::uint32_t {
        const auto found =
            std::find_if(almanac_.begin(), almanac_.end(), [prn](const AlmanacRecord& r) { return r.prn == prn; });
        return found == almanac_.end() ? 0x3Fu : bitsOf(found->health, 6);
    };
    switch (subframeId) {
        case 1:
            // The week of transmission, which differs from the toe's when a set broadcast
            // before the week's end has its toe in the next week.
            w[0] = bitsOf(transmissionWeek % 1024, 10) << 14 | 1u << 12 | bitsOf(e.ura, 4) << 8 |
                   bitsOf(e.health, 6) << 2 | bitsOf(e.iode >> 8, 2);
            w[4] = bitsOf(e.tgd, 8);
            w[5] = bitsOf(e.iode, 8) << 16 | bitsOf(e.toc / 16, 16);
            w[6] = bitsOf(e.af2, 8) << 16 | bitsOf(e.af1, 16);
            w[7] = bitsOf(e.af0, 22) << 2;
            break;
        case 2:
            w[0] = bitsOf(e.iode, 8) << 16 | bitsOf(e.crs, 16);
            w[1] = bitsOf(e.deltaN, 16) << 8 | bitsOf(e.m0 >> 24, 8);
            w[2] = bitsOf(e.m0, 24);
            w[3] = bitsOf(e.cuc, 16) << 8 | bitsOf(e.eccentricity >> 24, 8);
            w[4] = bitsOf(e.eccentricity, 24);
            w[5] = bitsOf(e.cus, 16) << 8 | bitsOf(e.sqrtA >> 24, 8);
            w[6] = bitsOf(e.sqrtA, 24);
            w[7] = bitsOf(e.toe / 16, 16) << 8;
            break;
        case 3:
            w[0] = bitsOf(e.cic, 16) << 8 | bitsOf(e.omega0 >> 24, 8);
            w[1] = bitsOf(e.omega0, 24);
            w[2] = bitsOf(e.cis, 16) << 8 | bitsOf(e.i0 >> 24, 8);
            w[3] = bitsOf(e.i0, 24);
            w[4] = bitsOf(e.crc, 16) << 8 | bitsOf(e.omega >> 24, 8);
            w[5] = bitsOf(e.omega, 24);
            w[6] = bitsOf(e.omegaDot, 24);
            w[7] = bitsOf(e.iode, 8) << 16 | bitsOf(e.idot, 14) << 2;
            break;
        case 4: {
            const int svId = subframe4SvIds[static_cast<std::size_t>(page - 1)];
            if (svId >= 25 && svId <= 32) {
                almanacPage(svId);
            } else if (svId == 56) {
                // Ionosphere and UTC; no leap second announced (the future count is the
                // present one).
                const auto& k = utc_.ionosphere;
                const auto field8 = [](double value, int exponent) {
                    return bitsOf(signedField(value, twoToThe(exponent), 8), 8);
                };
                w[0] = 1u << 22 | 56u << 16 | field8(k.alpha[0], -30) << 8 | field8(k.alpha[1], -27);
                w[1] = field8(k.alpha[2], -24) << 16 | field8(k.alpha[3], -24) << 8 | field8(k.beta[0], 11);
                w[2] = field8(k.beta[1], 14) << 16 | field8(k.beta[2], 16) << 8 | field8(k.beta[3], 16);
                w[3] = bitsOf(signedField(utc_.a1, twoToThe(-50), 24), 24);
                const std::uint32_t a0 = bitsOf(signedField(utc_.a0, twoToThe(-30), 32), 32);
                w[4] = a0 >> 8;
                w[5] = (a0 & 0xFFu) << 16 | bitsOf(utc_.referenceTime / 4096, 8) << 8 | bitsOf(utc_.referenceWeek, 8);
                w[6] = bitsOf(utc_.leapSeconds, 8) << 16 | bitsOf(utc_.referenceWeek, 8) << 8 | 7u;
                w[7] = bitsOf(utc_.leapSeconds, 8) << 16;
            } else if (svId == 63) {
                std::array<std::uint32_t, 32> config{};
                config.fill(1);  // signal configuration: A-S off, Block II/IIA/IIR
                w[0] = 1u << 22 | 63u << 16 | config[0] << 12 | config[1] << 8 | config[2] << 4 | config[3];
                for (int word = 0; word < 4; ++word) {
                    std::uint32_t v = 0;
                    for (int k = 0; k < 6; ++k) v = v << 4 | config[static_cast<std::size_t>(4 + word * 6 + k)];
                    w[static_cast<std::size_t>(1 + word)] = v;
                }
                w[5] = (config[28] << 12 | config[29] << 8 | config[30] << 4 | config[31]) << 8 | health6(25);
                w[6] = health6(26) << 18 | health6(27) << 12 | health6(28) << 6 | health6(29);
                w[7] = (health6(30) << 12 | health6(31) << 6 | health6(32)) << 6;
            } else {
                w[0] = 1u << 22 | bitsOf(svId, 6) << 16;
            }
            break;
        }
        default:
            if (page <= 24) {
                almanacPage(page);
            } else {
                // A message without almanac records (no satellite healthy at the start) still
                // has its page 25, with every satellite unhealthy.
                const double toa = almanac_.empty() ? 0 : almanac_.front().timeOfApplicability;
                w[0] = 1u << 22 | 51u << 16 | bitsOf(unsignedField(toa, 4096, 8), 8) << 8 | bitsOf(almanacWeek_, 8);
                for (int word = 0; word < 6; ++word)
                    w[static_cast<std::size_t>(1 + word)] = health6(word * 4 + 1) << 18 | health6(word * 4 + 2) << 12 |
                                                            health6(word * 4 + 3) << 6 | health6(word * 4 + 4);
            }
            break;
    }
    return w;
}

std::array<std::uint32_t, 10> NavigationMessage::subframe(std::int64_t index) const
{
    const std::int64_t startSeconds = index * 6;
    const std::int64_t towSeconds = ((startSeconds % secondsPerWeek) + secondsPerWeek) % secondsPerWeek;
    const int subframeId = static_cast<int>((towSeconds / 6) % 5) + 1;
    const int page = static_cast<int>((towSeconds / 30) % 25) + 1;
    const auto howTow = static_cast<std::uint32_t>(((towSeconds + 6) % secondsPerWeek) / 6);

    std::array<std::uint32_t, 10> data{};
    data[0] = 0x8Bu << 16;  // preamble, TLM message 0, integrity flag 0
    data[1] = howTow << 7 | static_cast<std::uint32_t>(subframeId) << 2;
    const auto rest = dataWords(subframeId, page, startSeconds);
    std::copy(rest.begin(), rest.end(), data.begin() + 2);

    std::array<std::uint32_t, 10> words{};
    unsigned p29 = 0, p30 = 0;  // the previous subframe ends in two zero bits
    for (std::size_t k = 0; k < 10; ++k) {
        std::uint32_t d = data[k];
        if (k == 1 || k == 9) {
            // Two free bits make the word end in D29 = D30 = 0.
            for (std::uint32_t t = 0; t < 4; ++t) {
                const std::uint32_t candidate = (d & ~3u) | t;
                if ((encodeWord(candidate, p29, p30) & 3u) == 0) {
                    d = candidate;
                    break;
                }
            }
        }
        words[k] = encodeWord(d, p29, p30);
        p29 = (words[k] >> 1) & 1u;
        p30 = words[k] & 1u;
    }
    return words;
}

unsigned NavigationMessage::bit(std::int64_t bitIndex)
{
    std::int64_t index = bitIndex / 300;
    if (bitIndex < 0 && bitIndex % 300 != 0) --index;
    if (index != cachedSubframe_) {
        cachedWords_ = subframe(index);
        cachedSubframe_ = index;
    }
    const auto position = static_cast<int>(bitIndex - index * 300);
    return (cachedWords_[static_cast<std::size_t>(position / 30)] >> (29 - position % 30)) & 1u;
}

}  // namespace trajix::gps
