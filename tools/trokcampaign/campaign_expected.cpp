#include "campaign_expected.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "toolkit/time/utcday.h"

namespace campaign {

namespace {

// A gap in the stream: more than 1.1 s between packets.
const double kGapSeconds = 1.1;

// The time of the day, "hh:mm" or with seconds "hh:mm:ss".
std::string Clock(double secondOfDay, bool seconds)
{
    const long s = std::lround(secondOfDay);   // (times kept to the millisecond)
    char buf[64];
    if (seconds) std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else std::snprintf(buf, sizeof buf, "%02ld:%02ld", s / 3600, s / 60 % 60);
    return buf;
}

std::string Stretch(double from, double to)
{
    const double seconds = to - from;
    const long minutes = std::lround(seconds / 60);
    std::string length = seconds < 60 ? std::to_string(std::lround(seconds)) + " s"
                         : minutes >= 60 ? std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min"
                                         : std::to_string(minutes) + " min";
    return length + " missing " + Clock(from, seconds < 60) + "-" + Clock(to, seconds < 60);
}

} // namespace

std::vector<std::string> MissingStretches(const DayRecord& r)
{
    std::vector<std::string> out;
    if (!toolkit::ValidDay(r.day)) return out;
    const double midnight = toolkit::DayStartTai93(r.day);
    const double next = toolkit::DayStartTai93(toolkit::DayNumber(r.day) + 1);
    if (!r.first_packet_tai93 || !r.last_packet_tai93) return {Stretch(0, next - midnight)};
    if (*r.first_packet_tai93 - midnight > kGapSeconds) out.push_back(Stretch(0, *r.first_packet_tai93 - midnight));
    const std::string gaps = r.gaps.value_or("");
    for (size_t a = 0; a < gaps.size();) {
        size_t b = gaps.find(';', a);
        if (b == std::string::npos) b = gaps.size();
        const std::string item = gaps.substr(a, b - a);
        a = b + 1;
        const size_t dash = item.find('-', 1);
        if (dash == std::string::npos) continue;
        const double from = std::strtod(item.substr(0, dash).c_str(), nullptr);
        const double to = std::strtod(item.substr(dash + 1).c_str(), nullptr);
        out.push_back(Stretch(from - midnight, to - midnight));
    }
    if (next - *r.last_packet_tai93 > kGapSeconds) out.push_back(Stretch(*r.last_packet_tai93 - midnight, next - midnight));
    return out;
}

std::vector<std::string> StillExpected(const std::map<std::string, DayRecord>& days)
{
    std::vector<std::string> out;
    for (const auto& kv : days) {
        const DayRecord& r = kv.second;
        if (!r.level || *r.level == "final") continue;
        std::string line = kv.first + " " + *r.level + " v" + std::to_string(r.version.value_or(0)) + ": ";
        const std::vector<std::string> stretches = MissingStretches(r);
        if (stretches.empty()) line += "nothing missing";
        for (size_t i = 0; i < stretches.size(); ++i) line += (i ? ", " : "") + stretches[i];
        out.push_back(line);
    }
    return out;
}

} // namespace campaign
