#include "sky/sky_model.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <fstream>
#include <limits>
#include <numbers>
#include <set>
#include <sstream>

#include <fmt/format.h>

#include "common/error.hpp"

namespace trajix::sky {

namespace {

constexpr double almanacSetSpacing = 7200;  // s between the toes of sets made from an almanac
constexpr double almanacSetLead = 3600;     // s a set is in force before its toe

int resolveAlmanacWeek(int written, int nearWeek)
{
    if (written >= 1024) return written;
    int best = written;
    for (int candidate = written; candidate < nearWeek + 1024; candidate += 1024)
        if (std::abs(candidate - nearWeek) < std::abs(best - nearWeek)) best = candidate;
    return best;
}

}  // namespace

std::string utcText(double gpsSeconds)
{
    using namespace std::chrono;
    const int week = static_cast<int>(std::floor(gpsSeconds / gps::secondsPerWeek));
    const double seconds = std::floor(gpsSeconds) - gps::leapSecondsAtWeek(week);
    const double days = std::floor(seconds / 86400);
    const auto date =
        year_month_day{sys_days{year{1980} / January / 6} + std::chrono::days{static_cast<long long>(days)}};
    const auto ofDay = static_cast<long long>(seconds - days * 86400);
    return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02} UTC", static_cast<int>(date.year()),
                       static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), ofDay / 3600,
                       ofDay / 60 % 60, ofDay % 60);
}

double carrierToNoise(double elevation, const SignalStrength& strength)
{
    const double sine = std::max(0.0, std::sin(elevation * std::numbers::pi / 180));
    return strength.zenithCn0 - strength.noiseFigureDb - 3 * (1 - sine);
}

ReceiverFrame receiverFrame(const Ecef& receiver)
{
    // Geodetic latitude by fixed-point iteration on the height.
    const double p = std::hypot(receiver.x, receiver.y);
    const double e2 = 6.69437999014e-3;
    double latitude = std::atan2(receiver.z, p * (1 - e2));
    for (int i = 0; i < 5; ++i) {
        const double n = 6378137.0 / std::sqrt(1 - e2 * std::sin(latitude) * std::sin(latitude));
        const double height = p / std::cos(latitude) - n;
        latitude = std::atan2(receiver.z, p * (1 - e2 * n / (n + height)));
    }
    const double longitude = std::atan2(receiver.y, receiver.x);
    ReceiverFrame f;
    f.position = receiver;
    const double cosLat = std::cos(latitude), sinLat = std::sin(latitude);
    const double cosLon = std::cos(longitude), sinLon = std::sin(longitude);
    f.upX = cosLat * cosLon;
    f.upY = cosLat * sinLon;
    f.upZ = sinLat;
    f.eastX = -sinLon;
    f.eastY = cosLon;
    f.northX = -sinLat * cosLon;
    f.northY = -sinLat * sinLon;
    f.northZ = cosLat;
    return f;
}

double elevationDegrees(const ReceiverFrame& f, const Ecef& satellite)
{
    const double dx = satellite.x - f.position.x, dy = satellite.y - f.position.y, dz = satellite.z - f.position.z;
    const double up = f.upX * dx + f.upY * dy + f.upZ * dz;
    return std::asin(up / std::sqrt(dx * dx + dy * dy + dz * dz)) * 180 / std::numbers::pi;
}

double azimuthDegrees(const ReceiverFrame& f, const Ecef& satellite)
{
    const double dx = satellite.x - f.position.x, dy = satellite.y - f.position.y, dz = satellite.z - f.position.z;
    const double east = f.eastX * dx + f.eastY * dy;
    const double north = f.northX * dx + f.northY * dy + f.northZ * dz;
    double azimuth = std::atan2(east, north) * 180 / std::numbers::pi;
    if (azimuth < 0) azimuth += 360;
    if (azimuth >= 360) azimuth -= 360;
    return azimuth;
}

// ---------------------------------------------------------------------------------
// The model

SkyModel SkyModel::fromAlmanac(const std::vector<AlmanacRecord>& records, int almanacWeek, std::string source)
{
    SkyModel model;
    model.almanac_ = true;
    model.almanacWeek_ = almanacWeek;
    model.source_ = std::move(source);
    for (const AlmanacRecord& record : records) {
        if (record.health != 0) {
            model.skipped_.push_back(fmt::format("PRN {} left out: health {}", record.prn, record.health));
            continue;
        }
        Satellite s;
        s.prn = record.prn;
        s.almanac = record;
        model.satellites_.push_back(s);
    }
    if (model.satellites_.empty())
        throw Error(fmt::format("the almanac '{}' holds no healthy satellite", model.source_));
    return model;
}

SkyModel SkyModel::fromRinex(const RinexNavigation& navigation, std::string source)
{
    SkyModel model;
    model.source_ = std::move(source);
    model.skipped_ = navigation.skipped;
    model.timeCorrections_ = navigation.timeCorrections;
    model.leapSeconds_ = navigation.leapSeconds;
    for (const RinexEphemeris& record : navigation.ephemerides) {
        if (model.satellites_.empty() || model.satellites_.back().prn != record.prn) {
            Satellite s;
            s.prn = record.prn;
            model.satellites_.push_back(s);
        }
        Satellite& s = model.satellites_.back();
        const double halfFit = record.fitHours * 1800;
        s.sets.push_back(toBroadcastEphemeris(record));
        s.validFrom.push_back(record.toeSeconds() - halfFit);
        s.validTo.push_back(record.toeSeconds() + halfFit);
    }
    // The other systems' records, each satellite's by reference time.
    const auto satelliteOf = [&](GnssSystem system, int number) -> Satellite& {
        if (model.satellites_.empty() || model.satellites_.back().system != system ||
            model.satellites_.back().prn != number) {
            Satellite s;
            s.system = system;
            s.prn = number;
            model.satellites_.push_back(s);
        }
        return model.satellites_.back();
    };
    const auto addWindow = [](Satellite& s, double reference, double half) {
        s.reference.push_back(reference);
        s.validFrom.push_back(reference - half);
        s.validTo.push_back(reference + half);
    };
    constexpr double keplerHalfWindow = 7200;  // s either side of toe
    constexpr double glonassHalfWindow = 1800;
    std::set<int> withInav;
    for (const galileo::Ephemeris& record : navigation.galileo)
        if (record.inav()) withInav.insert(record.prn);
    for (const galileo::Ephemeris& record : navigation.galileo) {
        // E1 reads I/NAV: F/NAV records serve only a satellite that has no I/NAV one.
        if (!record.inav() && withInav.count(record.prn) != 0) continue;
        Satellite& s = satelliteOf(GnssSystem::galileo, record.prn);
        s.galileoSets.push_back(record);
        addWindow(s, record.toeSeconds(), keplerHalfWindow);
    }
    for (const beidou::Ephemeris& record : navigation.beidou) {
        Satellite& s = satelliteOf(GnssSystem::beidou, record.prn);
        s.beidouSets.push_back(record);
        addWindow(s, record.toeSeconds(), keplerHalfWindow);
    }
    for (const glonass::Ephemeris& record : navigation.glonass) {
        Satellite& s = satelliteOf(GnssSystem::glonass, record.slot);
        s.glonassSets.push_back(record);
        s.channel = record.channel;
        const int week = static_cast<int>(record.epochUtc / gps::secondsPerWeek);
        const int leap = navigation.leapSeconds.value_or(gps::leapSecondsAtWeek(week));
        addWindow(s, static_cast<double>(record.epochUtc + leap), glonassHalfWindow);
    }
    if (model.satellites_.empty()) throw Error(fmt::format("'{}' holds no usable GPS ephemeris record", model.source_));
    return model;
}

double SkyModel::systemMinusUtc(GnssSystem system, double t) const
{
    const double absolute = static_cast<double>(baseWeek_) * gps::secondsPerWeek + t;
    const int leap =
        leapSeconds_.value_or(gps::leapSecondsAtWeek(static_cast<int>(std::floor(absolute / gps::secondsPerWeek))));
    std::string_view kind;
    double whole = leap;
    int weekOffset = 0;  // GPS week of the correction's week 0
    switch (system) {
        case GnssSystem::gps:
            kind = "GPUT";
            break;
        case GnssSystem::galileo:
            kind = "GAUT";
            break;
        case GnssSystem::beidou:
            kind = "BDUT";
            whole = leap - beidou::gpsMinusBdt;
            weekOffset = beidou::weekOffset;
            break;
        case GnssSystem::glonass:
            kind = "GLUT";
            whole = 0;
            break;
    }
    for (const RinexTimeCorrection& c : timeCorrections_) {
        if (c.kind != kind) continue;
        double drift = 0;
        if (c.a1 != 0) {
            const double reference =
                static_cast<double>(c.referenceWeek + weekOffset) * gps::secondsPerWeek + c.referenceTime;
            drift = c.a1 * (absolute - reference);
        }
        return whole + c.a0 + drift;
    }
    return whole;
}

std::optional<std::size_t> SkyModel::recordAt(const Satellite& s, double t) const
{
    const double absolute = static_cast<double>(baseWeek_) * gps::secondsPerWeek + t;
    std::size_t best = s.reference.size();
    for (std::size_t k = 0; k < s.reference.size(); ++k)
        if (absolute >= s.validFrom[k] && absolute <= s.validTo[k] &&
            (best == s.reference.size() ||
             std::abs(absolute - s.reference[k]) < std::abs(absolute - s.reference[best])))
            best = k;
    if (best == s.reference.size()) return std::nullopt;
    return best;
}

const galileo::Ephemeris* SkyModel::galileoEphemerisAt(std::size_t satellite, double t) const
{
    const Satellite& s = satellites_[satellite];
    if (s.system != GnssSystem::galileo) return nullptr;
    const auto k = recordAt(s, t);
    if (!k || !s.galileoSets[*k].servesE1()) return nullptr;
    return &s.galileoSets[*k];
}

std::optional<gps::SatelliteState> SkyModel::otherStateAt(const Satellite& s, double t) const
{
    const double absolute = static_cast<double>(baseWeek_) * gps::secondsPerWeek + t;
    const auto found = recordAt(s, t);
    if (!found) return std::nullopt;
    const std::size_t best = *found;
    switch (s.system) {
        case GnssSystem::galileo: {
            const galileo::Ephemeris& e = s.galileoSets[best];
            if (!e.servesE1()) return std::nullopt;
            return galileo::satelliteState(e, absolute - static_cast<double>(e.week) * gps::secondsPerWeek);
        }
        case GnssSystem::beidou: {
            const beidou::Ephemeris& e = s.beidouSets[best];
            if (e.health != 0) return std::nullopt;
            const double bdt =
                absolute - beidou::gpsMinusBdt - static_cast<double>(e.week + beidou::weekOffset) * gps::secondsPerWeek;
            return beidou::satelliteState(e, bdt);
        }
        case GnssSystem::glonass: {
            const glonass::Ephemeris& e = s.glonassSets[best];
            if (e.health != 0) return std::nullopt;
            return glonass::satelliteState(e, absolute - s.reference[best]);
        }
        case GnssSystem::gps:
            break;
    }
    return std::nullopt;
}

const glonass::Ephemeris* SkyModel::glonassRecordAt(const Satellite& s, double t, double& dt) const
{
    const double absolute = static_cast<double>(baseWeek_) * gps::secondsPerWeek + t;
    const auto found = recordAt(s, t);
    if (!found) return nullptr;
    const glonass::Ephemeris& e = s.glonassSets[*found];
    if (e.health != 0) return nullptr;
    dt = absolute - s.reference[*found];
    return &e;
}

SkyModel SkyModel::fromFile(const std::filesystem::path& file, int nearWeek, const SystemSet& systems)
{
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec))
        throw Error(fmt::format("cannot read the satellites file '{}': it is a directory", file.string()));
    std::ifstream in(file, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open the satellites file '{}'", file.string()));
    std::string head(256, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    if (looksLikeRinex(head)) return fromRinex(readRinexNavigation(file, systems), file.string());
    if (systems.count(GnssSystem::gps) == 0)
        throw Error(
            fmt::format("the almanac '{}' holds GPS satellites alone, none of the systems asked for", file.string()));
    const std::vector<AlmanacRecord> records = readYumaAlmanac(file);
    SkyModel model = fromAlmanac(records, resolveAlmanacWeek(records.front().week, nearWeek), file.string());
    for (const GnssSystem system : systems)
        if (system != GnssSystem::gps)
            model.skipped_.push_back(fmt::format("no {} satellite in an almanac of GPS", displayName(system)));
    return model;
}

void SkyModel::anchor(int baseWeek, double startSeconds)
{
    baseWeek_ = baseWeek;
    firstToe_ = static_cast<int>(std::lround(startSeconds / 16)) * 16;
    for (Satellite& s : satellites_) s.made.clear();
}

gps::BroadcastEphemeris SkyModel::almanacSet(const Satellite& s, long long index) const
{
    long long toe = firstToe_ + index * static_cast<long long>(almanacSetSpacing);
    int week = baseWeek_;
    while (toe >= gps::secondsPerWeek) {
        toe -= gps::secondsPerWeek;
        ++week;
    }
    const int iode = static_cast<int>((toe / 16 + week) % 250 + 1);
    return gps::ephemerisFromAlmanac(s.almanac, almanacWeek_, week, static_cast<int>(toe), iode);
}

std::vector<gps::BroadcastEphemeris> SkyModel::almanacEphemerides(std::size_t satellite, long long count) const
{
    std::vector<gps::BroadcastEphemeris> sets;
    for (long long k = 0; k < count; ++k) sets.push_back(almanacSet(satellites_[satellite], k));
    return sets;
}

const gps::BroadcastEphemeris* SkyModel::ephemerisAt(std::size_t satellite, double t) const
{
    const Satellite& s = satellites_[satellite];
    if (almanac_) {
        // The latest set whose broadcast has begun (t at or after toe - 1 h); the first
        // set stands for any earlier time.
        const auto inForce = [&](long long k) {
            const double toe = static_cast<double>(firstToe_ + k * static_cast<long long>(almanacSetSpacing));
            return t >= toe - almanacSetLead;
        };
        const double estimate = std::floor((t - firstToe_ + almanacSetLead) / almanacSetSpacing);
        long long k = 0;
        if (estimate >= 1e9) {
            k = 1000000000;
        } else if (estimate >= 0) {
            // The quotient may land one off at a boundary: the comparison decides.
            k = static_cast<long long>(estimate);
            if (k > 0 && !inForce(k)) --k;
            if (inForce(k + 1)) ++k;
        }
        const std::lock_guard lock(*madeLock_);
        auto made = s.made.find(k);
        if (made == s.made.end()) made = s.made.emplace(k, almanacSet(s, k)).first;
        return &made->second;
    }
    const double absolute = static_cast<double>(baseWeek_) * gps::secondsPerWeek + t;
    for (std::size_t k = s.sets.size(); k-- > 0;)
        if (absolute >= s.validFrom[k] && absolute <= s.validTo[k]) return s.sets[k].health == 0 ? &s.sets[k] : nullptr;
    return nullptr;
}

std::optional<Signal> SkyModel::signalAt(std::size_t satellite, double t, const Ecef& receiver, int iterations) const
{
    const Satellite& s = satellites_[satellite];
    if (s.system == GnssSystem::gps)
        return signalFrom([&](double transmit) { return ephemerisAt(satellite, transmit); }, baseWeek_, t, receiver,
                          iterations);
    // The same light-time passes as signalFrom's, from each system's own orbit.
    double travel = 0.075;
    gps::SatelliteState state;
    for (int iteration = 0; iteration < iterations; ++iteration) {
        const auto sent = otherStateAt(s, t - travel);
        if (!sent) return std::nullopt;
        state = *sent;
        travel = receivedAfter(state, travel, receiver);
    }
    return Signal{{state.x, state.y, state.z}, travel, state.clockOffset};
}

std::array<std::optional<Signal>, 2> SkyModel::signalsAt(std::size_t first, std::size_t second, double t,
                                                         const Ecef& receiver, int iterations) const
{
    const std::array<const Satellite*, 2> s{&satellites_[first], &satellites_[second]};
    if (s[0]->system != GnssSystem::glonass || s[1]->system != GnssSystem::glonass)
        return {signalAt(first, t, receiver, iterations), signalAt(second, t, receiver, iterations)};
    // signalAt's passes for both, the two orbits integrated side by side.
    std::array<double, 2> travel{0.075, 0.075};
    std::array<gps::SatelliteState, 2> state;
    std::array<bool, 2> live{true, true};
    for (int iteration = 0; iteration < iterations; ++iteration) {
        std::array<const glonass::Ephemeris*, 2> record{};
        std::array<double, 2> dt{};
        for (std::size_t k = 0; k < 2; ++k) {
            if (live[k]) record[k] = glonassRecordAt(*s[k], t - travel[k], dt[k]);
            live[k] = record[k] != nullptr;
        }
        if (live[0] && live[1])
            state = glonass::satelliteStates(*record[0], dt[0], *record[1], dt[1]);
        else
            for (std::size_t k = 0; k < 2; ++k)
                if (live[k]) state[k] = glonass::satelliteState(*record[k], dt[k]);
        for (std::size_t k = 0; k < 2; ++k)
            if (live[k]) travel[k] = receivedAfter(state[k], travel[k], receiver);
    }
    std::array<std::optional<Signal>, 2> out;
    for (std::size_t k = 0; k < 2; ++k)
        if (live[k]) out[k] = Signal{{state[k].x, state[k].y, state[k].z}, travel[k], state[k].clockOffset};
    return out;
}

SkyCoverage SkyModel::coverage() const
{
    SkyCoverage coverage;
    if (satellites_.empty()) return coverage;
    if (almanac_) {
        const double toa =
            static_cast<double>(almanacWeek_) * gps::secondsPerWeek + satellites_.front().almanac.timeOfApplicability;
        return {toa - almanacValiditySeconds, toa + almanacValiditySeconds, toa};
    }
    coverage.first = std::numeric_limits<double>::infinity();
    coverage.last = -coverage.first;
    for (const Satellite& s : satellites_)
        for (std::size_t k = 0; k < s.validFrom.size(); ++k) {
            coverage.first = std::min(coverage.first, s.validFrom[k]);
            coverage.last = std::max(coverage.last, s.validTo[k]);
        }
    coverage.suggestedStart = coverage.first;
    return coverage;
}

std::string SkyModel::describeSpan() const
{
    const SkyCoverage span = coverage();
    if (almanac_)
        return fmt::format("the almanac is for {} (week {}) and serves {} to {} ({} weeks either side)",
                           utcText(span.suggestedStart), almanacWeek_, utcText(span.first), utcText(span.last),
                           almanacValiditySeconds / gps::secondsPerWeek);
    return fmt::format("it covers {} to {}", utcText(span.first), utcText(span.last));
}

void SkyModel::checkCovers(double t) const
{
    const double absolute = static_cast<double>(baseWeek_) * gps::secondsPerWeek + t;
    bool covered = false;
    if (almanac_) {
        const double toa =
            static_cast<double>(almanacWeek_) * gps::secondsPerWeek + satellites_.front().almanac.timeOfApplicability;
        covered = std::abs(absolute - toa) <= almanacValiditySeconds;
    } else {
        for (const Satellite& s : satellites_)
            for (std::size_t k = 0; k < s.validFrom.size() && !covered; ++k)
                covered = absolute >= s.validFrom[k] && absolute <= s.validTo[k];
    }
    if (!covered)
        throw SkyNotCovered(fmt::format("'{}' has no satellite for {}: {}", source_, utcText(absolute), describeSpan()),
                            coverage(), absolute);
}

// ---------------------------------------------------------------------------------
// Views

namespace {

// Inverts the symmetric 4x4 matrix m in place (Gauss-Jordan with partial pivoting);
// false when it is singular.
bool invert4(std::array<std::array<double, 4>, 4>& m)
{
    std::array<std::array<double, 8>, 4> a{};
    for (std::size_t r = 0; r < 4; ++r) {
        for (std::size_t c = 0; c < 4; ++c) a[r][c] = m[r][c];
        a[r][4 + r] = 1;
    }
    for (std::size_t c = 0; c < 4; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < 4; ++r)
            if (std::abs(a[r][c]) > std::abs(a[pivot][c])) pivot = r;
        if (std::abs(a[pivot][c]) < 1e-12) return false;
        std::swap(a[c], a[pivot]);
        const double scale = a[c][c];
        for (double& v : a[c]) v /= scale;
        for (std::size_t r = 0; r < 4; ++r) {
            if (r == c) continue;
            const double factor = a[r][c];
            if (factor == 0) continue;
            for (std::size_t k = 0; k < 8; ++k) a[r][k] -= factor * a[c][k];
        }
    }
    for (std::size_t r = 0; r < 4; ++r)
        for (std::size_t c = 0; c < 4; ++c) m[r][c] = a[r][4 + c];
    return true;
}

}  // namespace

SkyView viewOf(const std::vector<SatellitePosition>& satellites, const ReceiverFrame& frame, double maskDegrees,
               int maxUsed, const SignalStrength& strength)
{
    SkyView view;
    // A cheap test first: a satellite below the horizon needs no angles.
    for (const SatellitePosition& s : satellites) {
        const double dx = s.position.x - frame.position.x, dy = s.position.y - frame.position.y,
                     dz = s.position.z - frame.position.z;
        if (maskDegrees >= 0 && frame.upX * dx + frame.upY * dy + frame.upZ * dz < 0) continue;
        const double elevation = elevationDegrees(frame, s.position);
        if (!(elevation >= maskDegrees)) continue;
        view.satellites.push_back({s.system, s.prn, elevation, azimuthDegrees(frame, s.position),
                                   carrierToNoise(elevation, strength), false});
    }
    std::sort(view.satellites.begin(), view.satellites.end(), [](const SatelliteView& a, const SatelliteView& b) {
        return a.system != b.system ? a.system < b.system : a.prn < b.prn;
    });
    chooseSatellitesInUse(view, maxUsed);
    return view;
}

void chooseSatellitesInUse(SkyView& view, int maxUsed)
{
    view.usedCount = 0;
    view.pdop = view.hdop = view.vdop = std::nullopt;
    std::vector<std::size_t> order;
    order.reserve(view.satellites.size());
    for (std::size_t i = 0; i < view.satellites.size(); ++i) {
        view.satellites[i].used = false;
        if (std::isfinite(view.satellites[i].cn0)) order.push_back(i);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const SatelliteView& x = view.satellites[a];
        const SatelliteView& y = view.satellites[b];
        if (x.elevation != y.elevation) return x.elevation > y.elevation;
        return x.system != y.system ? x.system < y.system : x.prn < y.prn;
    });
    const std::size_t used = std::min<std::size_t>(order.size(), static_cast<std::size_t>(std::max(0, maxUsed)));
    std::array<std::array<double, 4>, 4> normal{};
    for (std::size_t k = 0; k < used; ++k) {
        SatelliteView& s = view.satellites[order[k]];
        s.used = true;
        const double e = s.elevation * std::numbers::pi / 180, a = s.azimuth * std::numbers::pi / 180;
        // Line-of-sight row: towards the receiver from the satellite, east, north, up, clock.
        const std::array<double, 4> row{-std::cos(e) * std::sin(a), -std::cos(e) * std::cos(a), -std::sin(e), 1};
        for (std::size_t r = 0; r < 4; ++r)
            for (std::size_t c = 0; c < 4; ++c) normal[r][c] += row[r] * row[c];
    }
    view.usedCount = static_cast<int>(used);
    if (used >= 4 && invert4(normal) && normal[0][0] + normal[1][1] >= 0 && normal[2][2] >= 0) {
        view.hdop = std::sqrt(normal[0][0] + normal[1][1]);
        view.vdop = std::sqrt(normal[2][2]);
        view.pdop = std::sqrt(normal[0][0] + normal[1][1] + normal[2][2]);
    }
}

SkyTracker::SkyTracker(SkyModel model, double maskDegrees, int maxUsed, SignalStrength strength)
    : model_(std::move(model)),
      mask_(maskDegrees),
      maxUsed_(maxUsed),
      strength_(strength),
      dormantUntil_(model_.size(), std::numeric_limits<long long>::min())
{
}

void SkyTracker::computeSecond(long long second, const Ecef& receiver, std::vector<std::optional<Ecef>>& out) const
{
    out.assign(model_.size(), std::nullopt);
    const auto t = static_cast<double>(second);
    // GLONASS satellites two at a time: their orbits are integrated side by side.
    std::optional<std::size_t> waiting;
    for (std::size_t i = 0; i < model_.size(); ++i) {
        if (second < dormantUntil_[i]) continue;
        if (model_.system(i) == GnssSystem::glonass) {
            if (!waiting) {
                waiting = i;
                continue;
            }
            const auto both = model_.signalsAt(*waiting, i, t, receiver, 2);
            if (both[0]) out[*waiting] = both[0]->position;
            if (both[1]) out[i] = both[1]->position;
            waiting.reset();
        } else if (const auto signal = model_.signalAt(i, t, receiver, 2)) {
            out[i] = signal->position;
        }
    }
    if (waiting)
        if (const auto signal = model_.signalAt(*waiting, t, receiver, 2)) out[*waiting] = signal->position;
}

bool SkyTracker::needsReceiver(double t) const
{
    return !haveSecond_ || !(std::floor(t) == static_cast<double>(second_));
}

SkyView SkyTracker::viewFrom(const std::vector<std::optional<Ecef>>& signals, const ReceiverFrame& frame)
{
    positions_.clear();
    for (std::size_t i = 0; i < model_.size(); ++i)
        if (signals[i]) positions_.push_back({model_.system(i), model_.prn(i), *signals[i]});
    return viewOf(positions_, frame, mask_, maxUsed_, strength_);
}

const SkyView& SkyTracker::at(double t, const Ecef& receiver, bool interpolateAngles)
{
    if (!std::isfinite(t) || std::abs(t) > 1e12) throw Error("the sky needs a finite time");
    const auto second = static_cast<long long>(std::floor(t));
    if (needsReceiver(t)) {
        model_.checkCovers(static_cast<double>(second));
        // The next second's signals, reckoned from the receiver a second earlier, stand:
        // the light time changes by well under a microsecond over a second's travel.
        if (haveSecond_ && second == second_ + 1)
            std::swap(atSecond_, atNext_);
        else
            computeSecond(second, receiver, atSecond_);
        computeSecond(second + 1, receiver, atNext_);
        second_ = second;
        haveSecond_ = true;
        const ReceiverFrame frame = receiverFrame(receiver);
        // Below the mask a satellite cannot reach it within 6 s for each degree it lacks:
        // it is not followed until then (its position is of use to nothing while below).
        constexpr double secondsPerDegree = 6;
        for (std::size_t i = 0; i < atNext_.size(); ++i) {
            if (!atNext_[i]) continue;
            const double rest = std::floor((mask_ - elevationDegrees(frame, *atNext_[i])) * secondsPerDegree);
            if (rest >= 1) dormantUntil_[i] = second + 1 + static_cast<long long>(std::min(rest, 86400.0));
        }
        viewAtSecond_ = viewFrom(atSecond_, frame);
        viewAtNext_ = viewFrom(atNext_, frame);
    }
    const double fraction = t - static_cast<double>(second);
    if (fraction == 0) return viewAtSecond_;
    // view_ keeps the second's satellites with their angles at its start until the
    // angles are interpolated into it.
    if (!viewHoldsStart_ || viewSecond_ != second) {
        view_.satellites.assign(viewAtSecond_.satellites.begin(), viewAtSecond_.satellites.end());
        view_.usedCount = viewAtSecond_.usedCount;
        viewSecond_ = second;
        viewHoldsStart_ = true;
    }
    const auto between = [fraction](double a, double b) { return a + fraction * (b - a); };
    if (interpolateAngles) {
        viewHoldsStart_ = false;
        std::size_t k = 0;
        for (SatelliteView& s : view_.satellites) {
            // Both lists are ordered by system and number.
            const auto before = [&s](const SatelliteView& other) {
                return other.system != s.system ? other.system < s.system : other.prn < s.prn;
            };
            while (k < viewAtNext_.satellites.size() && before(viewAtNext_.satellites[k])) ++k;
            if (k == viewAtNext_.satellites.size() || viewAtNext_.satellites[k].prn != s.prn ||
                viewAtNext_.satellites[k].system != s.system)
                continue;
            const SatelliteView& next = viewAtNext_.satellites[k];
            s.elevation = between(s.elevation, next.elevation);
            s.cn0 = between(s.cn0, next.cn0);
            s.azimuth += fraction * std::remainder(next.azimuth - s.azimuth, 360.0);
            if (s.azimuth < 0) s.azimuth += 360;
            if (s.azimuth >= 360) s.azimuth -= 360;
        }
    }
    const auto dop = [&](const std::optional<double>& a, const std::optional<double>& b) -> std::optional<double> {
        if (!a || !b) return a;
        return between(*a, *b);
    };
    view_.pdop = dop(viewAtSecond_.pdop, viewAtNext_.pdop);
    view_.hdop = dop(viewAtSecond_.hdop, viewAtNext_.hdop);
    view_.vdop = dop(viewAtSecond_.vdop, viewAtNext_.vdop);
    return view_;
}

}  // namespace trajix::sky
