// The sky of files written with --sky against a plain reference: the IS-GPS-200 user
// equations written again here from the document (own RINEX and YUMA parsing, own
// ephemeris choice, light time and Earth rotation), with GeographicLib for the local
// frame. Two real RINEX files and an almanac, several places and times each.
#include <gtest/gtest.h>

#include <GeographicLib/Geocentric.hpp>
#include <GeographicLib/LocalCartesian.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "nmea/dates.hpp"
#include "nmea/sky_sentences.hpp"
#include "sky/sky_model.hpp"
#include "test_support.hpp"

using trajix::test::dataFile;
using trajix::test::readFileBytes;
using trajix::test::runTrajix;
using trajix::test::TempDir;
using trajix::test::writeFileBytes;

namespace {

constexpr double pi = 3.1415926535898;  // as IS-GPS-200 gives it
constexpr double mu = 3.986005e14;
constexpr double earthRate = 7.2921151467e-5;
constexpr double lightSpeed = 299792458.0;
constexpr double degree = 3.14159265358979323846 / 180;

// Keplerian elements in IS-GPS-200's names; an almanac has no corrections.
struct Orbit {
    int prn = 0;
    double toe = 0;  // seconds since GPS week 0
    double sqrtA = 0, e = 0, m0 = 0, deltaN = 0, omega0 = 0, omegaDot = 0, i0 = 0, idot = 0, w = 0;
    double cuc = 0, cus = 0, crc = 0, crs = 0, cic = 0, cis = 0;
    int health = 0;
};

// ECEF at GPS time t (seconds since week 0), in the frame of the same instant.
std::array<double, 3> position(const Orbit& o, double t)
{
    const double a = o.sqrtA * o.sqrtA;
    const double n = std::sqrt(mu / (a * a * a)) + o.deltaN;
    const double tk = t - o.toe;
    const double m = o.m0 + n * tk;
    double big = m;
    for (int k = 0; k < 50; ++k) big -= (big - o.e * std::sin(big) - m) / (1 - o.e * std::cos(big));
    const double v = std::atan2(std::sqrt(1 - o.e * o.e) * std::sin(big), std::cos(big) - o.e);
    const double phi = v + o.w;
    const double u = phi + o.cus * std::sin(2 * phi) + o.cuc * std::cos(2 * phi);
    const double r = a * (1 - o.e * std::cos(big)) + o.crs * std::sin(2 * phi) + o.crc * std::cos(2 * phi);
    const double i = o.i0 + o.idot * tk + o.cis * std::sin(2 * phi) + o.cic * std::cos(2 * phi);
    const double weekStart = std::floor(o.toe / 604800) * 604800;
    const double node = o.omega0 + (o.omegaDot - earthRate) * tk - earthRate * (o.toe - weekStart);
    const double x = r * std::cos(u), y = r * std::sin(u);
    return {x * std::cos(node) - y * std::cos(i) * std::sin(node),
            x * std::sin(node) + y * std::cos(i) * std::cos(node), y * std::sin(i)};
}

double fortran(const std::string& line, std::size_t from)
{
    if (line.size() <= from) return 0;
    std::string field = line.substr(from, 19);
    std::replace(field.begin(), field.end(), 'D', 'E');
    return field.find_first_not_of(' ') == std::string::npos ? 0 : std::stod(field);
}

std::vector<Orbit> readRinex(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    const bool three = std::stod(lines[0].substr(0, 9)) >= 3;
    std::size_t i = 0;
    while (lines[i].find("END OF HEADER") == std::string::npos) ++i;
    std::vector<Orbit> orbits;
    for (++i; i < lines.size();) {
        const char system = three ? lines[i][0] : 'G';
        if (system == 'R' || system == 'S') {
            i += 4;
            continue;
        }
        if (system == 'G') {
            const std::size_t c = three ? 4 : 3;  // first column of continuation fields
            const auto f = [&](int row, int k) {
                return fortran(lines[i + static_cast<std::size_t>(row)], c + 19 * static_cast<std::size_t>(k));
            };
            Orbit o;
            o.prn = std::stoi(lines[i].substr(three ? 1 : 0, 2));
            o.crs = f(1, 1), o.deltaN = f(1, 2), o.m0 = f(1, 3);
            o.cuc = f(2, 0), o.e = f(2, 1), o.cus = f(2, 2), o.sqrtA = f(2, 3);
            o.cic = f(3, 1), o.omega0 = f(3, 2), o.cis = f(3, 3);
            o.i0 = f(4, 0), o.crc = f(4, 1), o.w = f(4, 2), o.omegaDot = f(4, 3);
            o.idot = f(5, 0);
            o.toe = f(5, 2) * 604800 + f(3, 0);  // both files write the full week
            o.health = static_cast<int>(f(6, 1));
            orbits.push_back(o);
        }
        i += 8;
    }
    return orbits;
}

std::vector<Orbit> readYuma(const std::string& path, int fullWeek)
{
    std::ifstream in(path);
    std::vector<Orbit> orbits;
    std::map<std::string, double> v;
    const auto flush = [&] {
        if (v.empty()) return;
        Orbit o;
        o.prn = static_cast<int>(v["ID"]);
        o.health = static_cast<int>(v["Health"]);
        o.e = v["Eccentricity"];
        o.toe = fullWeek * 604800.0 + v["Time of Applicability(s)"];
        o.i0 = v["Orbital Inclination(rad)"];
        o.omegaDot = v["Rate of Right Ascen(r/s)"];
        o.sqrtA = v["SQRT(A)  (m 1/2)"];
        o.omega0 = v["Right Ascen at Week(rad)"];
        o.w = v["Argument of Perigee(rad)"];
        o.m0 = v["Mean Anom(rad)"];
        orbits.push_back(o);
        v.clear();
    };
    for (std::string line; std::getline(in, line);) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string label = line.substr(0, colon);
        if (label == "ID") flush();
        v[label] = std::stod(line.substr(colon + 1));
    }
    flush();
    return orbits;
}

struct RefSatellite {
    double elevation, azimuth;  // degrees
};

// The sky at GPS time t from geodetic lat, lon (degrees), h (m): each healthy
// satellite's latest set within 2 h of its toe (an almanac's own record), light time
// and the Earth's turn meanwhile.
std::map<int, RefSatellite> referenceSky(const std::vector<Orbit>& orbits, bool almanac, double t, double lat,
                                         double lon, double h)
{
    const GeographicLib::Geocentric& earth = GeographicLib::Geocentric::WGS84();
    const GeographicLib::LocalCartesian local(lat, lon, h, earth);
    double rx, ry, rz;
    earth.Forward(lat, lon, h, rx, ry, rz);
    std::map<int, const Orbit*> chosen;
    for (const Orbit& o : orbits) {
        if (!almanac && std::abs(t - o.toe) > 7200) continue;
        if (!chosen.count(o.prn) || o.toe > chosen[o.prn]->toe) chosen[o.prn] = &o;
    }
    std::map<int, RefSatellite> sky;
    for (const auto& [prn, o] : chosen) {
        if (o->health != 0) continue;
        double travel = 0.07;
        std::array<double, 3> s{};
        for (int k = 0; k < 5; ++k) {
            const auto p = position(*o, t - travel);
            const double turn = earthRate * travel;
            s = {p[0] * std::cos(turn) + p[1] * std::sin(turn), -p[0] * std::sin(turn) + p[1] * std::cos(turn), p[2]};
            travel = std::hypot(s[0] - rx, s[1] - ry, s[2] - rz) / lightSpeed;
        }
        double slat, slon, sh, e, n, u;
        earth.Reverse(s[0], s[1], s[2], slat, slon, sh);
        local.Forward(slat, slon, sh, e, n, u);
        double azimuth = std::atan2(e, n) / degree;
        if (azimuth < 0) azimuth += 360;
        sky[prn] = {std::atan2(u, std::hypot(e, n)) / degree, azimuth};
    }
    return sky;
}

// HDOP, VDOP, PDOP of the satellites given, by the normal equations solved with
// Cramer-free Gauss elimination of (G^T G) against the unit vectors.
std::array<double, 3> referenceDops(const std::vector<RefSatellite>& used)
{
    double m[4][8] = {};
    for (const RefSatellite& s : used) {
        const double el = s.elevation * degree, az = s.azimuth * degree;
        const double g[4] = {std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el), 1};
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) m[r][c] += g[r] * g[c];
    }
    for (int r = 0; r < 4; ++r) m[r][4 + r] = 1;
    for (int c = 0; c < 4; ++c) {
        int p = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::abs(m[r][c]) > std::abs(m[p][c])) p = r;
        for (int k = 0; k < 8; ++k) std::swap(m[c][k], m[p][k]);
        const double d = m[c][c];
        for (int k = 0; k < 8; ++k) m[c][k] /= d;
        for (int r = 0; r < 4; ++r)
            if (r != c) {
                const double f = m[r][c];
                for (int k = 0; k < 8; ++k) m[r][k] -= f * m[c][k];
            }
    }
    return {std::sqrt(m[0][4] + m[1][5]), std::sqrt(m[2][6]), std::sqrt(m[0][4] + m[1][5] + m[2][6])};
}

std::vector<std::string> fieldsOf(const std::string& sentence)
{
    std::vector<std::string> fields;
    std::stringstream stream(sentence.substr(0, sentence.find('*')));
    for (std::string f; std::getline(stream, f, ',');) fields.push_back(f);
    if (!sentence.empty() && sentence[sentence.find('*') - 1] == ',') fields.emplace_back();
    return fields;
}

struct Case {
    std::string file;
    std::string date;
    long long gpsDay;  // days from 1980-01-06 to date
    int leapSeconds;
    bool almanac;
    int almanacWeek;
    std::string places;  // one a row; the text conversion writes them 2500 s apart
};

const std::string world =
    "places\n48.1 11.5\n-33.9 151.2\n64.1 -21.9\n1.3 103.8\n-54.8 -68.3\n35.7 139.7\n"
    "40.4 -3.7\n-1.3 36.8\n71.0 25.8\n";
// A single station's file: its satellites are those seen from Spain.
const std::string europe =
    "places\n40.4 -3.7\n48.9 2.35\n38.7 -9.1\n41.9 12.5\n34.0 -6.8\n51.5 -0.1\n52.5 13.4\n"
    "59.9 10.7\n28.1 -15.4\n";

const std::vector<Case> cases{
    {"sky/brdc1820_0000-0400.10n", "2010-07-01", 11134, 15, false, 0, world},
    {"sky/VILL00ESP_R_20181700000_0000-0500_GPS.rnx", "2018-06-19", 14044, 18, false, 0, europe},
    {"scenario/week314.alm", "2025-04-17", 16538, 18, true, 2362, world},
};

}  // namespace

TEST(SkyReference, FilesAgreeWithThePlainUserEquations)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir dir;
        writeFileBytes(dir / "places.txt", c.places);
        const auto out = dir / "sky.nmea";
        const auto r = runTrajix({"txt2nmea", (dir / "places.txt").string(), "-o", out.string(), "--rate", "0.0004",
                                  "--stationary-start", "0", "--stationary-end", "0", "--sky",
                                  dataFile(c.file).string(), "--date", c.date, "--mask", "10"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<Orbit> orbits =
            c.almanac ? readYuma(dataFile(c.file).string(), c.almanacWeek) : readRinex(dataFile(c.file).string());
        std::stringstream text(readFileBytes(out));
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) lines.push_back(line.substr(0, line.size() - 1));
        int samples = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind("$GPGGA", 0) != 0) continue;
            const auto gga = fieldsOf(lines[i]);
            const auto gsa = fieldsOf(lines[i + 1]);
            ASSERT_EQ(gsa[0], "$GPGSA");
            const auto degrees = [](const std::string& f, int width, const std::string& hemisphere) {
                const double v = std::stod(f.substr(0, static_cast<std::size_t>(width))) +
                                 std::stod(f.substr(static_cast<std::size_t>(width))) / 60;
                return hemisphere == "S" || hemisphere == "W" ? -v : v;
            };
            const double lat = degrees(gga[2], 2, gga[3]), lon = degrees(gga[4], 3, gga[5]);
            const double t = static_cast<double>(c.gpsDay) * 86400 + std::stod(gga[1].substr(0, 2)) * 3600 +
                             std::stod(gga[1].substr(2, 2)) * 60 + std::stod(gga[1].substr(4)) + c.leapSeconds;
            const auto reference = referenceSky(orbits, c.almanac, t, lat, lon, 160 - 21.3213);
            // GSV: every satellite above the mask with its angles and SNR.
            std::map<int, std::array<int, 3>> reported;
            for (std::size_t k = i + 2; k < lines.size() && lines[k].rfind("$GPGSV", 0) == 0; ++k) {
                const auto gsv = fieldsOf(lines[k]);
                for (std::size_t f = 4; f + 3 < gsv.size() + 1 && f + 3 <= gsv.size(); f += 4)
                    reported[std::stoi(gsv[f])] = {std::stoi(gsv[f + 1]), std::stoi(gsv[f + 2]), std::stoi(gsv[f + 3])};
            }
            ASSERT_FALSE(reported.empty()) << lines[i];
            for (const auto& [prn, sat] : reference) {
                if (std::abs(sat.elevation - 10) < 0.1) continue;  // on the mask: either way
                EXPECT_EQ(reported.count(prn) > 0, sat.elevation > 10) << lines[i] << " PRN " << prn;
            }
            std::vector<RefSatellite> used;
            for (const auto& [prn, values] : reported) {
                ASSERT_TRUE(reference.count(prn)) << "PRN " << prn << " is not up: " << lines[i];
                const RefSatellite& sat = reference.at(prn);
                EXPECT_NEAR(values[0], sat.elevation, 0.6) << lines[i] << " PRN " << prn;
                EXPECT_NEAR(std::remainder(values[1] - sat.azimuth, 360.0), 0, 0.6) << lines[i] << " PRN " << prn;
                EXPECT_NEAR(values[2], 45 - 3 * (1 - std::sin(sat.elevation * degree)), 0.55) << "PRN " << prn;
            }
            // GSA: the twelve highest in use, and their DOPs.
            std::set<int> inUse;
            for (std::size_t f = 3; f < 15; ++f)
                if (!gsa[f].empty()) inUse.insert(std::stoi(gsa[f]));
            EXPECT_EQ(inUse.size(), std::min<std::size_t>(12, reported.size()));
            EXPECT_EQ(std::stoi(gga[7]), static_cast<int>(inUse.size()));
            double lowestUsed = 90, highestUnused = -90;
            for (const auto& [prn, values] : reported) {
                const double el = reference.at(prn).elevation;
                if (inUse.count(prn)) {
                    used.push_back(reference.at(prn));
                    lowestUsed = std::min(lowestUsed, el);
                } else {
                    highestUnused = std::max(highestUnused, el);
                }
            }
            EXPECT_GE(lowestUsed, highestUnused - 0.01) << lines[i];
            const auto [hdop, vdop, pdop] = referenceDops(used);
            EXPECT_NEAR(std::stod(gsa[15]), pdop, 0.01 * pdop + 0.005) << lines[i];
            EXPECT_NEAR(std::stod(gsa[16]), hdop, 0.01 * hdop + 0.005) << lines[i];
            EXPECT_NEAR(std::stod(gsa[17]), vdop, 0.01 * vdop + 0.005) << lines[i];
            EXPECT_EQ(gga[8], gsa[16]);
            ++samples;
        }
        EXPECT_GE(samples, 8);
    }
}

TEST(SkyReference, ModelAnglesWithinAHundredthOfADegree)
{
    // The model's own numbers, before printing, at many times of the same places.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::vector<Orbit> orbits =
            c.almanac ? readYuma(dataFile(c.file).string(), c.almanacWeek) : readRinex(dataFile(c.file).string());
        trajix::sky::SkyModel model = trajix::sky::SkyModel::fromFile(dataFile(c.file), static_cast<int>(c.gpsDay / 7));
        const int week = static_cast<int>(c.gpsDay / 7);
        const double dayStart = static_cast<double>(c.gpsDay - 7LL * week) * 86400 + c.leapSeconds;
        model.anchor(week, dayStart);
        trajix::sky::SkyTracker tracker(model, 0, 32);
        int compared = 0;
        for (int k = 0; k < 60; ++k) {
            const double t = dayStart + k * 300.25;  // whole and fractional seconds
            const double lat = c.places == europe ? 36 + k % 20 : -70 + (k * 37) % 140;
            const double lon = c.places == europe ? -10 + (k * 7) % 30 : -180 + (k * 73) % 360;
            const auto& view = tracker.at(t, trajix::geodeticToEcef(lat, lon, 300));
            const auto reference = referenceSky(orbits, c.almanac, week * 604800.0 + t, lat, lon, 300);
            for (const auto& s : view.satellites) {
                ASSERT_TRUE(reference.count(s.prn));
                EXPECT_NEAR(s.elevation, reference.at(s.prn).elevation, 0.01) << k << " PRN " << s.prn;
                EXPECT_NEAR(std::remainder(s.azimuth - reference.at(s.prn).azimuth, 360.0), 0,
                            0.01 / std::max(0.05, std::cos(s.elevation * degree)))
                    << k << " PRN " << s.prn;
                ++compared;
            }
        }
        EXPECT_GT(compared, 300);
    }
}
