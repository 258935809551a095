// The mixed RINEX reader and the orbits of Galileo, BeiDou and GLONASS on real files of
// versions 3.03, 3.05 and 4.00: what each holds, broken records left out by line, and
// the physical judge of every orbit: two consecutive records of one satellite, each
// carried to the time between them, put it in the same place.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "sky/rinex_navigation.hpp"
#include "sky/sky_model.hpp"
#include "test_support.hpp"

using namespace trajix;
using sky::GnssSystem;
using trajix::test::dataFile;
using trajix::test::readFileBytes;

namespace {

const std::string version303 = "sky/VILL00ESP_R_20181700000_0930-1230_MN.rnx";
const std::string version305 = "sky/ESBC00DNK_R_20201770000_1130-1230_MN.rnx";
const std::string version400 = "sky/KMS300DNK_R_20221591000_01H_MN_cut.rnx";
const sky::SystemSet everySystem{GnssSystem::gps, GnssSystem::galileo, GnssSystem::beidou, GnssSystem::glonass};

double distance(const gps::SatelliteState& a, const gps::SatelliteState& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

double radius(const gps::SatelliteState& s)
{
    return std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
}

bool mentions(const std::vector<std::string>& lines, const std::string& text)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// The text with line `number` (1-based) replaced.
std::string withLine(std::string text, int number, const std::string& line)
{
    std::size_t start = 0;
    for (int i = 1; i < number; ++i) start = text.find('\n', start) + 1;
    const std::size_t end = text.find('\n', start);
    return text.replace(start, end - start, line);
}

int lineNumberOf(const std::string& text, const std::string& prefix)
{
    const std::size_t at = text.find("\n" + prefix);
    return static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(at) + 1, '\n')) + 1;
}

}  // namespace

TEST(MixedRinex, Version305GlonassRecordsOfFiveLinesRead)
{
    // The fifth GLONASS line once ended the reading of the whole file.
    const RinexNavigation gpsAlone = readRinexNavigation(dataFile(version305));
    EXPECT_EQ(gpsAlone.version, "3.05");
    EXPECT_EQ(gpsAlone.ephemerides.size(), 22u);
    EXPECT_TRUE(gpsAlone.galileo.empty() && gpsAlone.glonass.empty());
    EXPECT_TRUE(mentions(gpsAlone.skipped, "21 GLONASS records skipped (only GPS is read)"));

    const RinexNavigation all = readRinexNavigation(dataFile(version305), everySystem);
    EXPECT_EQ(all.ephemerides.size(), 22u);
    EXPECT_EQ(all.galileo.size(), 64u);
    EXPECT_EQ(all.beidou.size(), 17u);
    ASSERT_EQ(all.glonass.size(), 21u);
    for (const glonass::Ephemeris& r : all.glonass) {
        ASSERT_TRUE(r.urai && r.groupDelay) << "line " << r.line;
        EXPECT_EQ(*r.urai, 15);
        EXPECT_FALSE(r.statusFlags);  // blank in this file
        EXPECT_GE(r.channel, -7);
        EXPECT_LE(r.channel, 6);
    }
    EXPECT_EQ(all.glonass.front().slot, 2);
    EXPECT_EQ(all.glonass.front().channel, -4);
    EXPECT_TRUE(mentions(all.skipped, "2 QZSS records skipped"));
    EXPECT_TRUE(mentions(all.skipped, "2 SBAS records skipped"));
    EXPECT_FALSE(mentions(all.skipped, "line "));
    // Its header's GAUT, GAGP and GPUT lines.
    ASSERT_EQ(all.timeCorrections.size(), 3u);
    EXPECT_EQ(all.timeCorrections[1].kind, "GAUT");
    EXPECT_DOUBLE_EQ(all.timeCorrections[1].a0, -9.3132257462e-10);
}

TEST(MixedRinex, Version400RecordsOfEveryKind)
{
    const RinexNavigation n = readRinexNavigation(dataFile(version400), everySystem);
    EXPECT_EQ(n.version, "4.00");
    EXPECT_EQ(n.ephemerides.size(), 30u);
    EXPECT_EQ(n.galileo.size(), 108u);
    EXPECT_EQ(n.beidou.size(), 36u);
    EXPECT_EQ(n.glonass.size(), 24u);
    const auto inav = std::count_if(n.galileo.begin(), n.galileo.end(), [](const auto& r) { return r.inav(); });
    EXPECT_EQ(inav, 55);
    // The GPS LNAV ION record gives the Klobuchar coefficients; the STO records the offsets.
    ASSERT_TRUE(n.ionosphere);
    EXPECT_DOUBLE_EQ(n.ionosphere->alpha[0], 1.024454832077e-08);
    EXPECT_DOUBLE_EQ(n.ionosphere->beta[3], -5.898240000000e+05);
    std::set<std::string> kinds;
    for (const auto& c : n.timeCorrections) kinds.insert(c.kind);
    EXPECT_TRUE(kinds.count("GAUT") && kinds.count("GPUT") && kinds.count("GAGP"));
    ASSERT_TRUE(n.utc);
    EXPECT_DOUBLE_EQ(n.utc->a0, 9.313225746155e-10);
    EXPECT_TRUE(mentions(n.skipped, "1 QZSS record skipped"));
    EXPECT_TRUE(mentions(n.skipped, "2 SBAS records skipped"));
    EXPECT_TRUE(mentions(n.skipped, "1 ION record skipped (not read)"));  // BeiDou's
    // GPS alone reads the same GPS records.
    EXPECT_EQ(readRinexNavigation(dataFile(version400)).ephemerides.size(), 30u);
}

TEST(MixedRinex, Version400RecordsNotReadAreNamed)
{
    // A GPS CNAV record, an EOP record, a record without lines and lines outside any
    // record: each a note, the rest read.
    std::string text = readFileBytes(dataFile(version400));
    const std::size_t lnav = text.find("> EPH G02 LNAV");
    text.replace(lnav, 14, "> EPH G02 CNAV");
    const std::size_t sto = text.find("> STO");
    text.insert(
        sto,
        "> EOP G01 LNAV\n    2022 06 08 10 00 00 0.0 0.0 0.0\n     0.0 0.0 0.0\n     0.0 0.0 0.0\n> EPH G05 LNAV\n");
    const std::size_t header = text.find('\n', text.find("END OF HEADER")) + 1;
    text.insert(header, "stray text\n");
    const RinexNavigation n = parseRinexNavigation(text, "v4.rnx", everySystem);
    EXPECT_EQ(n.ephemerides.size(), 29u);
    EXPECT_EQ(n.galileo.size(), 108u);
    EXPECT_TRUE(mentions(n.skipped, "1 GPS CNAV record skipped (not read)"));
    EXPECT_TRUE(mentions(n.skipped, "1 EOP record skipped (not read)"));
    EXPECT_TRUE(mentions(n.skipped, "an EPH record without lines; skipped"));
    EXPECT_TRUE(mentions(n.skipped, "line 5: 1 line outside any '>' record; skipped"));
}

TEST(MixedRinex, ConsecutiveRecordsOfOneSatelliteAgree)
{
    // Each record carried to the midpoint between it and the satellite's next one: the
    // two positions agree within what broadcast orbits hold (metres; a wrong constant,
    // frame rotation or time scale misses by kilometres), and each lies on its orbit.
    struct Tally {
        int pairs = 0;
        double worst = 0;
    };
    std::map<std::string, Tally> tallies;
    for (const std::string& file : {version303, version305, version400}) {
        const RinexNavigation n = readRinexNavigation(dataFile(file), everySystem);
        for (std::size_t k = 1; k < n.galileo.size(); ++k) {
            const auto& a = n.galileo[k - 1];
            const auto& b = n.galileo[k];
            const double gap = b.toeSeconds() - a.toeSeconds();
            if (a.prn != b.prn || gap <= 0 || gap > 7200 || !a.servesE1() || !b.servesE1()) continue;
            const double mid = (a.toeSeconds() + b.toeSeconds()) / 2;
            const auto pa = galileo::satelliteState(a, mid - a.week * 604800.0);
            const auto pb = galileo::satelliteState(b, mid - b.week * 604800.0);
            Tally& t = tallies["Galileo"];
            ++t.pairs;
            t.worst = std::max(t.worst, distance(pa, pb));
            if (a.orbit.eccentricity < 0.05) {  // E14 and E18 fly an eccentric orbit
                EXPECT_NEAR(radius(pa), 29.6e6, 0.1e6) << file << " line " << a.line;
            }
            EXPECT_NEAR(pa.clockOffset, pb.clockOffset, 5e-9) << file << " line " << a.line;
        }
        for (std::size_t k = 1; k < n.beidou.size(); ++k) {
            const auto& a = n.beidou[k - 1];
            const auto& b = n.beidou[k];
            const double gap = b.toeSeconds() - a.toeSeconds();
            // Unhealthy records may be anything (C27's of 2018, on trial, are).
            if (a.prn != b.prn || gap <= 0 || gap > 7200 || a.health != 0 || b.health != 0) continue;
            const double mid = (a.toeSeconds() + b.toeSeconds()) / 2;
            const auto bdt = [&](const beidou::Ephemeris& e) {
                return mid - beidou::gpsMinusBdt - (e.week + beidou::weekOffset) * 604800.0;
            };
            const auto pa = beidou::satelliteState(a, bdt(a));
            const auto pb = beidou::satelliteState(b, bdt(b));
            Tally& t = tallies[beidou::isGeostationary(a.prn) ? "BeiDou GEO" : "BeiDou MEO/IGSO"];
            ++t.pairs;
            t.worst = std::max(t.worst, distance(pa, pb));
            const bool meo = a.orbit.sqrtA < 5500;
            EXPECT_NEAR(radius(pa), meo ? 27.9e6 : 42.16e6, 0.2e6) << file << " line " << a.line;
            if (beidou::isGeostationary(a.prn)) {
                // A geostationary satellite keeps within a few degrees of the equator.
                EXPECT_LT(std::abs(pa.z), 2e6) << file << " line " << a.line;
            }
        }
        for (std::size_t k = 1; k < n.glonass.size(); ++k) {
            const auto& a = n.glonass[k - 1];
            const auto& b = n.glonass[k];
            const auto gap = b.epochUtc - a.epochUtc;
            if (a.slot != b.slot || gap <= 0 || gap > 3600 || a.health != 0 || b.health != 0) continue;
            const double half = static_cast<double>(gap) / 2;
            const auto pa = glonass::satelliteState(a, half);
            const auto pb = glonass::satelliteState(b, -half);
            Tally& t = tallies["GLONASS"];
            ++t.pairs;
            t.worst = std::max(t.worst, distance(pa, pb));
            EXPECT_NEAR(radius(pa), 25.5e6, 0.1e6) << file << " line " << a.line;
        }
    }
    // Metres between the two records' positions, at worst.
    const std::map<std::string, double> limits{
        {"Galileo", 3}, {"BeiDou MEO/IGSO", 5}, {"BeiDou GEO", 5}, {"GLONASS", 8}};
    for (const auto& [name, limit] : limits) {
        const Tally& t = tallies[name];
        EXPECT_GE(t.pairs, 3) << name;
        EXPECT_LT(t.worst, limit) << name << " over " << t.pairs << " pairs";
    }
}

TEST(MixedRinex, BrokenRecordsAreLeftOutByLine)
{
    const std::string text = readFileBytes(dataFile(version303));
    const int glonass = lineNumberOf(text, "R");
    const int galileo = lineNumberOf(text, "E");
    const int beidou = lineNumberOf(text, "C");
    struct Case {
        std::string text;
        std::string note;
        std::size_t galileo, beidou, glonass;
    };
    const RinexNavigation whole = parseRinexNavigation(text, "mixed.rnx", everySystem);
    const std::size_t e = whole.galileo.size(), c = whole.beidou.size(), r = whole.glonass.size();
    std::string cut = text;
    {
        // A Galileo record cut to its first three lines.
        std::size_t start = 0;
        for (int i = 1; i < galileo + 3; ++i) start = cut.find('\n', start) + 1;
        std::size_t end = start;
        for (int i = 0; i < 5; ++i) end = cut.find('\n', end) + 1;
        cut.erase(start, end - start);
    }
    std::string noChannel = text;
    {
        std::size_t start = 0;
        for (int i = 1; i < glonass + 2; ++i) start = noChannel.find('\n', start) + 1;
        noChannel.replace(start + 61, 19, std::string(19, ' '));
    }
    std::string unknown = text;
    unknown[unknown.find("\nC") + 1] = 'X';
    const std::vector<Case> cases{
        {cut, fmt::format("line {}: the record is cut short: it needs 8 lines, it has 3", galileo), e - 1, c, r},
        {noChannel,
         fmt::format("line {}: the frequency channel is missing (GLONASS record of line {})", glonass + 2, glonass), e,
         c, r - 1},
        {unknown, fmt::format("line {}: 'X", beidou), e, c - 1, r},
        {withLine(text, beidou + 1, "     9.000000000000E+01 1.2X3"),
         fmt::format("line {}: Crs '1.2X3' is not a number", beidou + 1), e, c - 1, r},
        {withLine(text, beidou, text.substr(text.find("\nC") + 1, 3) + " 2018 13"),
         fmt::format("line {}: month", beidou), e, c - 1, r},
    };
    for (const Case& k : cases) {
        const RinexNavigation n = parseRinexNavigation(k.text, "mixed.rnx", everySystem);
        EXPECT_TRUE(mentions(n.skipped, k.note))
            << "expected: " << k.note << "\n  first note: " << (n.skipped.empty() ? "" : n.skipped.front());
        EXPECT_EQ(n.ephemerides.size(), whole.ephemerides.size()) << k.note;
        EXPECT_EQ(n.galileo.size(), k.galileo) << k.note;
        EXPECT_EQ(n.beidou.size(), k.beidou) << k.note;
        EXPECT_EQ(n.glonass.size(), k.glonass) << k.note;
    }
    // A file whose only records are of systems not asked for, or that holds another
    // system alone, is refused naming it.
    const auto errorOf = [](const std::string& body, const sky::SystemSet& systems) {
        try {
            parseRinexNavigation(body, "mixed.rnx", systems);
        } catch (const Error& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    const std::string header = text.substr(0, text.find('\n', text.find("END OF HEADER")) + 1);
    EXPECT_NE(errorOf(header, {GnssSystem::galileo, GnssSystem::beidou})
                  .find("'mixed.rnx' holds no usable Galileo or BeiDou ephemeris record"),
              std::string::npos);
    std::string glonassFile = withLine(text, 1, text.substr(0, 40) + "R" + text.substr(41, text.find('\n') - 41));
    EXPECT_NE(errorOf(glonassFile, {GnssSystem::galileo}).find("holds no Galileo record (satellite system 'R')"),
              std::string::npos);
    EXPECT_NE(errorOf(withLine(text, 1, "     5.00" + text.substr(9, text.find('\n') - 9)), everySystem)
                  .find("RINEX version 5.00 is not read here"),
              std::string::npos);
}

TEST(MixedSky, SystemsAskedForAndTheirOrder)
{
    const auto model = sky::SkyModel::fromFile(dataFile(version303), 2006, everySystem);
    std::map<GnssSystem, int> counts;
    for (std::size_t i = 0; i < model.size(); ++i) {
        ++counts[model.system(i)];
        EXPECT_EQ(model.glonassChannel(i).has_value(), model.system(i) == GnssSystem::glonass);
        if (i > 0) {
            const bool ordered = model.system(i - 1) < model.system(i) ||
                                 (model.system(i - 1) == model.system(i) && model.prn(i - 1) < model.prn(i));
            EXPECT_TRUE(ordered) << i;
        }
    }
    EXPECT_GT(counts[GnssSystem::gps], 12);
    EXPECT_GT(counts[GnssSystem::galileo], 6);
    EXPECT_GT(counts[GnssSystem::beidou], 3);
    EXPECT_GT(counts[GnssSystem::glonass], 10);
    const auto gpsAlone = sky::SkyModel::fromFile(dataFile(version303), 2006);
    EXPECT_EQ(gpsAlone.size(), static_cast<std::size_t>(counts[GnssSystem::gps]));

    // The view at Villafranca at 11:00 GPS time: every system, ordered by system and
    // number, the highest in use.
    auto anchored = model;
    anchored.anchor(2006, 2 * 86400 + 11 * 3600);
    sky::SkyTracker tracker(anchored, 5, 24);
    const sky::SkyView& view = tracker.at(2 * 86400 + 11 * 3600, geodeticToEcef(40.4436, -3.9520, 647));
    std::set<GnssSystem> seen;
    for (std::size_t k = 0; k < view.satellites.size(); ++k) {
        seen.insert(view.satellites[k].system);
        if (k > 0) {
            const auto& a = view.satellites[k - 1];
            const auto& b = view.satellites[k];
            EXPECT_TRUE(a.system < b.system || (a.system == b.system && a.prn < b.prn));
        }
    }
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(view.usedCount, std::min<int>(24, static_cast<int>(view.satellites.size())));
    EXPECT_TRUE(view.pdop && *view.pdop < 2);

    // Time offsets at the start of week 2006: the header's GPUT and GAUT (A0 + A1 (t -
    // their reference)) over the 18 leap seconds, the leap seconds alone for the others.
    EXPECT_NEAR(anchored.systemMinusUtc(GnssSystem::gps, 0), 18 - 9.3132257462e-10 + 3.552713679e-15 * 405504, 1e-13);
    EXPECT_NEAR(anchored.systemMinusUtc(GnssSystem::galileo, 0), 18 + 3.3527612686e-08 + 1.243449788e-14 * 172800,
                1e-13);
    EXPECT_EQ(anchored.systemMinusUtc(GnssSystem::beidou, 0), 4);
    EXPECT_EQ(anchored.systemMinusUtc(GnssSystem::glonass, 0), 0);
}

TEST(MixedSky, OneSystemWithoutGps)
{
    // A sky of Galileo alone covers its records' times (and says which when it does not).
    auto model = sky::SkyModel::fromFile(dataFile(version303), 2006, {GnssSystem::galileo});
    model.anchor(2006, 2 * 86400 + 11 * 3600);
    sky::SkyTracker tracker(model, 5);
    const auto& view = tracker.at(2 * 86400 + 11 * 3600, geodeticToEcef(40.4436, -3.9520, 647));
    EXPECT_GE(view.satellites.size(), 4u);
    for (const auto& s : view.satellites) EXPECT_EQ(s.system, GnssSystem::galileo);
    sky::SkyTracker late(model, 5);
    try {
        late.at(6 * 86400, geodeticToEcef(40.4436, -3.9520, 647));
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("it covers 2018-06-19 07:29:42 UTC"), std::string::npos) << e.what();
    }
}

TEST(MixedSky, AnAlmanacHoldsGpsAlone)
{
    const auto almanac = dataFile("scenario/week314.alm");
    const auto both = sky::SkyModel::fromFile(almanac, 2362, {GnssSystem::gps, GnssSystem::glonass});
    EXPECT_TRUE(mentions(both.skipped(), "no GLONASS satellite in an almanac of GPS"));
    try {
        sky::SkyModel::fromFile(almanac, 2362, {GnssSystem::galileo});
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("week314.alm' holds GPS satellites alone"), std::string::npos) << e.what();
    }
}

TEST(MixedRinex, GalileoIonosphereFromTheHeaderOrTheFirstIonRecord)
{
    // Version 3 gives NeQuick's coefficients in a "GAL" header line, version 4 in ION
    // records of Galileo's I/NAV (the first one counts); a version 2 file has none.
    struct Case {
        std::string file;
        std::optional<std::array<double, 3>> expected;
    };
    const Case cases[] = {
        {version303, std::array<double, 3>{34.0, 0.11719, 0.012848}},
        {version400, std::array<double, 3>{78.5, 0.5390625, 0.02713012695312}},
        {"sky/brdc1820_0000-0400.10n", std::nullopt},
    };
    for (const Case& c : cases) {
        const RinexNavigation n = readRinexNavigation(dataFile(c.file), everySystem);
        ASSERT_EQ(n.galileoIonosphere.has_value(), c.expected.has_value()) << c.file;
        if (!c.expected) continue;
        for (std::size_t k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ((*n.galileoIonosphere)[k], (*c.expected)[k]) << c.file;
    }
}

TEST(MixedSky, GalileoHealthAsE1ReadsIt)
{
    // A record flagged only for E5a (bits 3-5) still serves E1; one flagged for E1-B
    // (bits 0-2) does not. F/NAV records stand aside for a satellite with I/NAV ones.
    RinexNavigation n = readRinexNavigation(dataFile(version303), {GnssSystem::galileo});
    const int prn = n.galileo.front().prn;
    const auto satelliteOf = [&](const sky::SkyModel& m) {
        for (std::size_t i = 0; i < m.size(); ++i)
            if (m.prn(i) == prn) return i;
        return m.size();
    };
    const auto upAt = [&](int health, double t) {
        RinexNavigation changed = n;
        for (auto& r : changed.galileo)
            if (r.prn == prn) r.health = health;
        auto m = sky::SkyModel::fromRinex(changed, "x");
        m.anchor(2006, 0);
        const bool up = m.signalAt(satelliteOf(m), t, geodeticToEcef(40, -4, 0)).has_value();
        // The record the generator would broadcast is the one the sky uses: an I/NAV one.
        const galileo::Ephemeris* record = m.galileoEphemerisAt(satelliteOf(m), t);
        EXPECT_EQ(record != nullptr, up);
        if (record) {
            EXPECT_TRUE(record->inav());
        }
        return up;
    };
    const double t = n.galileo.front().toeSeconds() - 2006 * 604800.0;
    EXPECT_TRUE(upAt(0, t));
    EXPECT_TRUE(upAt(0b111000, t));     // E5a
    EXPECT_TRUE(upAt(0b111000000, t));  // E5b
    EXPECT_FALSE(upAt(0b1, t));         // E1-B data not valid
    EXPECT_FALSE(upAt(0b110, t));       // E1-B signal out of service
    for (const auto& r : n.galileo) EXPECT_TRUE(r.inav() != ((r.dataSource & 0b10) != 0)) << r.dataSource;
}

// The tracker rests a satellite below the mask for 6 s per degree it lacks. Judged
// against the plain way, every satellite's signal computed afresh every second: the
// views at each whole second are the same to the last bit, for a receiver flying east
// at 3000 km/h (three times an airliner) through real skies of four systems, with the
// mask at the horizon, at 5 and at 30 degrees.
TEST(MixedSky, RestingSatellitesBelowTheMaskChangesNoView)
{
    struct Case {
        std::string file;
        int week;
        double start;  // seconds of the week
        double latitude, longitude, mask;
    };
    const std::vector<Case> cases{
        {version303, 2006, 2 * 86400 + 10 * 3600, 40.44, -3.95, 0},
        {version303, 2006, 2 * 86400 + 10.5 * 3600, 40.44, -3.95, 5},
        {version303, 2006, 2 * 86400 + 11.5 * 3600, 60, 20, 30},
        {version305, 2111, 4 * 86400 + 11.6 * 3600, 55.7, 12.5, 5},
        {version400, 2213, 3 * 86400 + 10.1 * 3600, -10, 150, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " mask " + std::to_string(c.mask));
        auto model = sky::SkyModel::fromFile(dataFile(c.file), c.week, everySystem);
        model.anchor(c.week, c.start);
        sky::SkyTracker tracker(model, c.mask, 24);
        const auto receiverAt = [&](long long k) {
            return geodeticToEcef(c.latitude,
                                  c.longitude + static_cast<double>(k) * 3000 / 3.6 / 111320 /
                                                    std::cos(c.latitude * 3.141592653589793 / 180),
                                  10000);
        };
        int rested = 0, seen = 0;
        for (long long k = 0; k < 1200; ++k) {
            const double t = c.start + static_cast<double>(k);
            const sky::SkyView& view = tracker.at(t, receiverAt(k));
            // The plain way: the signals of this second from the receiver of the second
            // before (as the tracker reckons the next second's), the angles from this one.
            std::vector<sky::SatellitePosition> positions;
            for (std::size_t i = 0; i < model.size(); ++i)
                if (const auto signal = model.signalAt(i, t, receiverAt(k == 0 ? 0 : k - 1), 2))
                    positions.push_back({model.system(i), model.prn(i), signal->position});
            const sky::ReceiverFrame frame = sky::receiverFrame(receiverAt(k));
            const sky::SkyView plain = sky::viewOf(positions, frame, c.mask, 24, {});
            for (const auto& p : positions) rested += sky::elevationDegrees(frame, p.position) < c.mask - 1 ? 1 : 0;
            ASSERT_EQ(view.satellites.size(), plain.satellites.size()) << "second " << k;
            for (std::size_t n = 0; n < plain.satellites.size(); ++n) {
                const sky::SatelliteView &a = view.satellites[n], &b = plain.satellites[n];
                ASSERT_TRUE(a.system == b.system && a.prn == b.prn && a.used == b.used) << "second " << k;
                ASSERT_EQ(a.elevation, b.elevation) << "second " << k;
                ASSERT_EQ(a.azimuth, b.azimuth) << "second " << k;
                ASSERT_EQ(a.cn0, b.cn0) << "second " << k;
            }
            ASSERT_EQ(view.usedCount, plain.usedCount);
            ASSERT_EQ(view.pdop, plain.pdop) << "second " << k;
            ASSERT_EQ(view.hdop, plain.hdop) << "second " << k;
            ASSERT_EQ(view.vdop, plain.vdop) << "second " << k;
            seen += static_cast<int>(view.satellites.size());
        }
        // The skies are full and most of the time satellites rest below the mask.
        EXPECT_GT(seen, 1200 * 8);
        EXPECT_GT(rested, 1200 * 4);
    }
}

TEST(MixedSky, GlonassOrbitsSideBySideAreBitForBitTheSingleOnes)
{
    // Every record against every other, carried by step counts equal and unequal, and
    // every pair of satellites' signals through the file's three hours (records missing,
    // unhealthy or out of their window on either side included).
    const auto navigation = readRinexNavigation(dataFile(version303), everySystem);
    const auto same = [](const gps::SatelliteState& a, const gps::SatelliteState& b) {
        return a.x == b.x && a.y == b.y && a.z == b.z && a.clockOffset == b.clockOffset;
    };
    const std::vector<double> spans{0, 0.07, -59.9, 60, 61, -1799.5, 1800, 2400.25};
    int compared = 0;
    for (std::size_t a = 0; a < navigation.glonass.size(); a += 3)
        for (std::size_t b = 1; b < navigation.glonass.size(); b += 5)
            for (std::size_t k = 0; k < spans.size(); ++k) {
                const double dtA = spans[k], dtB = spans[(k * 3 + a) % spans.size()];
                const auto both = glonass::satelliteStates(navigation.glonass[a], dtA, navigation.glonass[b], dtB);
                ASSERT_TRUE(same(both[0], glonass::satelliteState(navigation.glonass[a], dtA))) << a << " " << dtA;
                ASSERT_TRUE(same(both[1], glonass::satelliteState(navigation.glonass[b], dtB))) << b << " " << dtB;
                ++compared;
            }
    EXPECT_GT(compared, 500);

    auto model = sky::SkyModel::fromFile(dataFile(version303), 2006, everySystem);
    model.anchor(2006, 2 * 86400 + 9 * 3600);
    std::vector<std::size_t> glonassSatellites;
    for (std::size_t i = 0; i < model.size(); ++i)
        if (model.system(i) == GnssSystem::glonass) glonassSatellites.push_back(i);
    const Ecef receiver = geodeticToEcef(40.4436, -3.9520, 647);
    int signals = 0;
    for (double t = 2 * 86400 + 9 * 3600; t < 2 * 86400 + 13 * 3600; t += 97.5)
        for (std::size_t n = 1; n < glonassSatellites.size(); ++n) {
            const std::size_t a = glonassSatellites[n - 1], b = glonassSatellites[(n * 7) % glonassSatellites.size()];
            for (const int iterations : {2, 4}) {
                const auto both = model.signalsAt(a, b, t, receiver, iterations);
                const std::array<std::optional<sky::Signal>, 2> single{model.signalAt(a, t, receiver, iterations),
                                                                       model.signalAt(b, t, receiver, iterations)};
                for (std::size_t k = 0; k < 2; ++k) {
                    ASSERT_EQ(both[k].has_value(), single[k].has_value()) << t;
                    if (!single[k]) continue;
                    ++signals;
                    ASSERT_TRUE(both[k]->position.x == single[k]->position.x &&
                                both[k]->position.y == single[k]->position.y &&
                                both[k]->position.z == single[k]->position.z && both[k]->travel == single[k]->travel &&
                                both[k]->clockOffset == single[k]->clockOffset)
                        << t << " satellite " << (k == 0 ? a : b);
                }
            }
        }
    EXPECT_GT(signals, 1000);
}
