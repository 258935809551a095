#include "signal/live_path.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <thread>

#include <fmt/format.h>

#include "common/numbers.hpp"
#include "scenario/gps_week.hpp"

namespace trajix {

double LiveFix::timeOfDay() const
{
    return std::fmod(streamSeconds, 86400.0);
}

namespace {

// The text as it came, short and printable, for a note.
std::string excerpt(std::string_view text)
{
    std::string out = "'";
    for (const char c : text.substr(0, 40)) {
        const auto u = static_cast<unsigned char>(c);
        out += std::isprint(u) ? std::string(1, c) : fmt::format("\\x{:02x}", u);
    }
    return out + (text.size() > 40 ? "...'" : "'");
}

// hhmmss(.ss) to seconds after midnight; nullopt if it is not a time of day.
std::optional<double> clockSeconds(std::string_view text)
{
    double value = 0;
    if (text.size() < 6 || !tryParseDouble(text, value) || !std::isfinite(value) || value < 0) return std::nullopt;
    const double hours = std::trunc(value / 10000), minutes = std::trunc(value / 100) - hours * 100;
    const double seconds = value - std::trunc(value / 100) * 100;
    if (hours > 23 || minutes > 59 || seconds >= 61) return std::nullopt;
    return hours * 3600 + minutes * 60 + seconds;
}

// ddmm.mmmm with its hemisphere to signed degrees; nullopt if out of range.
std::optional<double> angle(std::string_view text, std::string_view hemisphere, char positive, char negative,
                            double limit)
{
    double value = 0;
    if (!tryParseDouble(text, value) || !std::isfinite(value) || value < 0 || hemisphere.size() != 1 ||
        (hemisphere[0] != positive && hemisphere[0] != negative))
        return std::nullopt;
    const double minutes = std::fmod(value, 100);
    const double degrees = std::trunc(value / 100) + minutes / 60;
    if (minutes >= 60 || degrees > limit) return std::nullopt;
    return hemisphere[0] == negative ? -degrees : degrees;
}

double distance(const Ecef& a, const Ecef& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

}  // namespace

LiveNmeaReader::LiveNmeaReader(LiveNote note) : note_(std::move(note)) {}

void LiveNmeaReader::refuse(const std::string& kind, const std::string& note)
{
    // The first five of each kind, then every hundredth: a stream of garbage does not
    // flood the log.
    auto it = std::find_if(counts_.begin(), counts_.end(), [&](const auto& c) { return c.first == kind; });
    if (it == counts_.end()) it = counts_.insert(counts_.end(), {kind, 0});
    const long long count = ++it->second;
    if (!note_) return;
    if (count <= 5)
        note_(note);
    else if (count % 100 == 0)
        note_(fmt::format("{} ({} {} so far)", note, count, kind));
}

std::optional<CalendarDate> LiveNmeaReader::dateAt(double timeOfDay) const
{
    if (!date_) return std::nullopt;
    // The RMC's date, a day on when the time lies past the midnight after it.
    if (timeOfDay < dateTimeOfDay_ - 43200) return dayCountToDate(static_cast<long double>(dateToDayCount(*date_) + 1));
    return date_;
}

std::vector<LiveFix> LiveNmeaReader::feed(std::string_view bytes)
{
    std::vector<LiveFix> out;
    for (const char c : bytes) {
        if (c == '\n') {
            if (!overlong_) line(pending_, out);
            pending_.clear();
            overlong_ = false;
        } else if (!overlong_) {
            pending_ += c;
            if (pending_.size() > longestLine) {
                refuse("overlong lines",
                       fmt::format("ignored a line longer than {} bytes: {}", longestLine, excerpt(pending_)));
                overlong_ = true;
                pending_.clear();
            }
        }
    }
    return out;
}

void LiveNmeaReader::line(std::string_view text, std::vector<LiveFix>& out)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty()) return;
    if (text.front() != '$' || text.size() < 6) {
        refuse("garbage lines", fmt::format("ignored {}: not an NMEA sentence", excerpt(text)));
        return;
    }
    std::string_view sentence = text.substr(1);
    const auto star = sentence.find('*');
    if (star != std::string_view::npos) {
        unsigned sum = 0;
        for (const char c : sentence.substr(0, star)) sum ^= static_cast<unsigned char>(c);
        std::string given(sentence.substr(star + 1));
        for (char& c : given) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (given != fmt::format("{:02X}", sum)) {
            refuse("bad checksums", fmt::format("ignored {}: its checksum is not {:02X}", excerpt(text), sum));
            return;
        }
        sentence = sentence.substr(0, star);
    }
    const std::string_view type = sentence.substr(2, 3);
    if (type != "GGA" && type != "RMC") return;
    const auto f = splitFields(sentence);
    const auto bad = [&](const char* what) {
        refuse("bad sentences", fmt::format("ignored {}: {}", excerpt(text), what));
    };

    if (type == "RMC") {
        // Only the date (with its time) is taken; the position comes from GGA.
        if (f.size() < 10 || f[9].empty()) return;
        const auto time = clockSeconds(f[1]);
        double ddmmyy = 0;
        const bool digits = std::all_of(f[9].begin(), f[9].end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!time || f[9].size() != 6 || !digits || !tryParseDouble(f[9], ddmmyy))
            return bad("not a valid date and time");
        CalendarDate date;
        date.day = static_cast<int>(ddmmyy / 10000);
        date.month = static_cast<int>(std::fmod(ddmmyy / 100, 100));
        date.year = 2000 + static_cast<int>(std::fmod(ddmmyy, 100));
        if (date.year >= 2080) date.year -= 100;
        if (date.day < 1 || date.day > 31 || date.month < 1 || date.month > 12) return bad("not a valid date and time");
        date_ = date;
        dateTimeOfDay_ = *time;
        return;
    }

    if (f.size() < 12) return bad("too few fields for a GGA sentence");
    if (f[2].empty() || f[4].empty() || f[6].empty() || f[6] == "0") {
        if (!withoutFix_) refuse("sentences without a fix", fmt::format("{}: the stream has no fix", excerpt(text)));
        withoutFix_ = true;
        return;
    }
    const auto time = clockSeconds(f[1]);
    if (!time) return bad("not a valid time of day");
    const auto latitude = angle(f[2], f[3], 'N', 'S', 90);
    const auto longitude = angle(f[4], f[5], 'E', 'W', 180);
    if (!latitude || !longitude) return bad("not a valid latitude and longitude");
    double altitude = 0, separation = 0;
    if ((!f[9].empty() && !tryParseDouble(f[9], altitude)) || (!f[11].empty() && !tryParseDouble(f[11], separation)) ||
        !(std::abs(altitude + separation) <= 1e7))
        return bad("not a valid altitude");

    LiveFix fix;
    fix.latitude = *latitude;
    fix.longitude = *longitude;
    fix.height = altitude + separation;
    fix.position = geodeticToEcef(fix.latitude, fix.longitude, fix.height);
    fix.clock = std::string(f[1]);
    double dayOffset = dayOffset_;
    if (last_ && *time + dayOffset < last_->streamSeconds - 43200) dayOffset += 86400;  // past midnight
    fix.streamSeconds = *time + dayOffset;
    fix.date = dateAt(*time);
    if (last_) {
        const double elapsed = fix.streamSeconds - last_->streamSeconds;
        if (elapsed < 0) {
            refuse("fixes back in time", fmt::format("ignored the fix at {}: its time lies before the last fix's, {}",
                                                     fix.clock, last_->clock));
            return;
        }
        if (elapsed == 0) return;  // the same epoch again
        const double jump = distance(fix.position, last_->position);
        if (jump > reachMetres + reachSpeed * elapsed) {
            refuse("jumps", fmt::format("ignored the fix at {}: a jump of {:.1f} km in {:.1f} s from the last fix",
                                        fix.clock, jump / 1000, elapsed));
            return;
        }
    }
    dayOffset_ = dayOffset;
    withoutFix_ = false;
    last_ = fix;
    out.push_back(fix);
}

// ---------------------------------------------------------------------------------

double LivePath::steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

LivePath::LivePath(const LiveFix& first, double arrival, LiveNote log, Clock clock)
    : log_(std::move(log)), clock_(std::move(clock))
{
    arrivals_.push_back({first, {}, {}, arrival, 0});
    if (!clock_) clock_ = steadySeconds;
    knots_.push_back({0, first.position});
}

void LivePath::setOrigin(double clockSeconds)
{
    const std::lock_guard lock(mutex_);
    origin_ = clockSeconds;
}

void LivePath::addFix(const LiveFix& fix)
{
    const std::lock_guard lock(mutex_);
    const double now = clock_();
    const Arrival& last = arrivals_.back();
    const Ecef led = estimateAt(last, origin_ ? now - *origin_ : 0);
    const double elapsed = fix.streamSeconds - last.fix.streamSeconds;
    Ecef velocity;
    if (elapsed > 0 && elapsed <= 10)
        velocity = {(fix.position.x - last.fix.position.x) / elapsed, (fix.position.y - last.fix.position.y) / elapsed,
                    (fix.position.z - last.fix.position.z) / elapsed};
    const Ecef correction{led.x - fix.position.x, led.y - fix.position.y, led.z - fix.position.z};
    arrivals_.push_back({fix, velocity, correction, now, last.number + 1});
}

void LivePath::endStream()
{
    const std::lock_guard lock(mutex_);
    ended_ = true;
}

bool LivePath::endedBefore(double signalSeconds) const
{
    const std::lock_guard lock(mutex_);
    return ended_ && lastFollowed_ == arrivals_.back().number && signalSeconds > lastFollowedAt_;
}

long long LivePath::fixesFollowed() const
{
    const std::lock_guard lock(mutex_);
    return followed_;
}

const LivePath::Arrival& LivePath::takenAt(double t) const
{
    if (!origin_) return arrivals_.back();
    // Arrivals come in order; the first one always counts (the signal starts after it).
    auto later = std::upper_bound(arrivals_.begin() + 1, arrivals_.end(), *origin_ + t - lead,
                                  [](double clock, const Arrival& a) { return clock < a.arrival; });
    return *(later - 1);
}

Ecef LivePath::estimateAt(const Arrival& a, double t) const
{
    const double since = t - (origin_ ? a.arrival - *origin_ : t);
    const double moving = std::clamp(since, 0.0, longestMove);
    const double blend = std::max(0.0, 1 - std::max(since, 0.0) / blendSeconds);
    return {a.fix.position.x + a.velocity.x * moving + a.correction.x * blend,
            a.fix.position.y + a.velocity.y * moving + a.correction.y * blend,
            a.fix.position.z + a.velocity.z * moving + a.correction.z * blend};
}

void LivePath::commitUntil(double signalSeconds, bool pace)
{
    if (pace) {
        double wait = 0;
        {
            const std::lock_guard lock(mutex_);
            if (!origin_) origin_ = clock_();
            wait = *origin_ + signalSeconds - lead - clock_();
        }
        if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
    }
    std::unique_lock lock(mutex_);
    if (!origin_) origin_ = clock_();
    if (signalSeconds <= knots_.back().time) return;
    // The start as the fixes have it now (the generator set up at the first fix).
    if (knots_.size() == 1) knots_.front().position = estimateAt(takenAt(0), 0);
    const Arrival& a = takenAt(signalSeconds);
    const LiveFix& fix = a.fix;
    const double since = signalSeconds - (a.arrival - *origin_);
    std::vector<std::string> notes;
    const bool following = a.number > lastFollowed_;
    if (following) {
        lastFollowed_ = a.number;
        ++followed_;
        if (holding_) notes.push_back(fmt::format("fixes again at {:.2f} s of signal", signalSeconds));
        holding_ = false;
        notes.push_back(fmt::format("following the fix at {} ({:.7f}, {:.7f}, {:.1f} m) from {:.2f} s of signal",
                                    fix.clock, fix.latitude, fix.longitude, fix.height, knots_.back().time));
    } else if (!holding_ && since > longestMove) {
        holding_ = true;
        notes.push_back(
            fmt::format("no fix for {:.1f} s after the fix at {}: the receiver holds still from {:.2f} s "
                        "of signal",
                        maxExtrapolation, fix.clock, signalSeconds));
    }
    knots_.push_back({signalSeconds, estimateAt(a, signalSeconds)});
    if (following) lastFollowedAt_ = signalSeconds;
    // Later pieces take this arrival or a later one.
    while (arrivals_.front().number < a.number) arrivals_.pop_front();
    // The workers need at most the pieces in flight: keep a minute.
    if (knots_.size() > 4096 && knots_[2048].time < signalSeconds - 60)
        knots_.erase(knots_.begin(), knots_.begin() + 2048);
    const LiveNote log = log_;
    lock.unlock();
    if (log)
        for (const auto& note : notes) log(note);
}

Ecef LivePath::positionAt(double t) const
{
    const std::lock_guard lock(mutex_);
    if (t <= knots_.front().time) return knots_.front().position;
    if (t >= knots_.back().time) return knots_.back().position;
    const auto next =
        std::upper_bound(knots_.begin(), knots_.end(), t, [](double time, const Knot& k) { return time < k.time; });
    const Knot& b = *next;
    const Knot& a = *(next - 1);
    const double s = (t - a.time) / (b.time - a.time);
    return {a.position.x + (b.position.x - a.position.x) * s, a.position.y + (b.position.y - a.position.y) * s,
            a.position.z + (b.position.z - a.position.z) * s};
}

}  // namespace trajix
