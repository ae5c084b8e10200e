#include "toolkit/time/civilutc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "toolkit/time/isotime.h"

namespace toolkit {

namespace {

// 1993-01-01 00:00:00 UTC in NTP seconds; TAI93 zero is 27 s of TAI later
// (TAI-UTC was 27 s then), so TAI93 + this = TAI seconds on the NTP scale.
const double kNtp1993 = 2934835200.0;
const double kTai93ToTaiNtp = kNtp1993 + 27.0;
const double kJD1900 = 2415020.5;   // 1900-01-01 00:00, the NTP epoch
const double kUnixToNtp = 2208988800.0;

bool ParseNumber(const std::string& s, double& v)
{
    if (s.empty()) return false;
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return end && *end == '\0' && std::isfinite(v);
}

std::string NtpDate(double ntp)
{
    const double days = std::floor(ntp / 86400.0);
    return IsoText(kJD1900 + days, 0.0, 0).substr(0, 10);
}

} // namespace

LeapSeconds LoadLeapSeconds(const std::string& path)
{
    LeapSeconds t;
    t.path = path;
    std::ifstream in(path);
    if (!in) {
        t.error = "cannot be read";
        return t;
    }
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        if (line.rfind("#@", 0) == 0) {
            std::istringstream f(line.substr(2));
            std::string word;
            double v = 0;
            if (f >> word && ParseNumber(word, v)) t.expiresNtp = v;
            continue;
        }
        const size_t hash = line.find('#');
        std::istringstream f(line.substr(0, hash));
        std::string a, b, extra;
        if (!(f >> a)) continue;   // blank or comment
        double ntp = 0, dat = 0;
        if (!(f >> b) || (f >> extra) || !ParseNumber(a, ntp) || !ParseNumber(b, dat) ||
            dat != std::floor(dat) || std::fabs(dat) > 1000 ||
            (!t.entries.empty() && ntp <= t.entries.back().first)) {
            t.error = "line " + std::to_string(lineNo) + " is not \"NTP-seconds TAI-UTC\" in increasing order";
            t.entries.clear();
            return t;
        }
        t.entries.emplace_back(ntp, static_cast<int>(dat));
    }
    if (t.entries.empty()) t.error = "holds no leap seconds";
    return t;
}

const LeapSeconds& SystemLeapSeconds()
{
    static const LeapSeconds table = [] {
        const char* env = std::getenv("TROK_LEAPSECONDS");
        return LoadLeapSeconds(env && *env ? env : "/usr/share/zoneinfo/leap-seconds.list");
    }();
    return table;
}

std::string LeapSecondsWarning(const LeapSeconds& table, double nowUnix)
{
    if (!table.error.empty())
        return "leap-second table " + table.path + " " + table.error +
               ": UTC is shown with the products' own UTC model";
    if (table.expiresNtp > 0 && nowUnix + kUnixToNtp > table.expiresNtp)
        return "leap-second table " + table.path + " expired on " + NtpDate(table.expiresNtp) +
               ": civil UTC after that date misses any leap second announced since";
    return "";
}

std::string LeapSecondsWarning(const LeapSeconds& table)
{
    // $TROK_LEAPSECONDS_NOW, when it holds a number, stands in for the clock:
    // the tests fix "today" with it so that the expiry check does not depend
    // on the date they run.
    const char* now = std::getenv("TROK_LEAPSECONDS_NOW");
    double nowUnix = 0;
    if (!now || !ParseNumber(now, nowUnix)) nowUnix = static_cast<double>(std::time(nullptr));
    return LeapSecondsWarning(table, nowUnix);
}

namespace {

// Index of the entry in force at TAI instant taiNtp (TAI on the NTP scale), or -1.
long EntryAt(const LeapSeconds& table, double taiNtp)
{
    long found = -1;
    for (size_t i = 0; i < table.entries.size(); ++i) {
        // Entry i begins at its UTC instant, which is that instant plus its
        // TAI-UTC on the TAI scale.
        if (table.entries[i].first + table.entries[i].second <= taiNtp) found = static_cast<long>(i);
        else break;
    }
    return found;
}

} // namespace

bool TaiMinusUtcAtTai93(const LeapSeconds& table, double tai93, int& seconds)
{
    if (!std::isfinite(tai93)) return false;
    const long i = EntryAt(table, tai93 + kTai93ToTaiNtp);
    if (i < 0) return false;
    seconds = table.entries[static_cast<size_t>(i)].second;
    return true;
}

std::string IsoCivilUtcFromTai93(const LeapSeconds& table, double tai93, int decimals)
{
    if (!std::isfinite(tai93)) return "(no date)";
    const double taiNtp = tai93 + kTai93ToTaiNtp;
    const long i = EntryAt(table, taiNtp);
    if (i < 0) return "(no date)";
    const auto& e = table.entries[static_cast<size_t>(i)];
    double utc = taiNtp - e.second;
    // Inside an inserted leap second the next entry's offset is one more and
    // its UTC instant has not yet come on the TAI scale: the second is 23:59:60.
    bool leap = false;
    if (static_cast<size_t>(i) + 1 < table.entries.size()) {
        const auto& next = table.entries[static_cast<size_t>(i) + 1];
        if (next.second > e.second && utc >= next.first) {
            leap = true;
            utc -= 1.0;
        } else if (next.second > e.second) {
            // Just before an inserted leap second, a time that the text's
            // rounding carries past the end of the day is second 60 of the
            // minute, not the next day's first.
            const double scale = std::pow(10.0, std::min(std::max(decimals, 0), 9));
            const double day = std::floor(utc / 86400.0);
            if ((day + 1.0) * 86400.0 == next.first &&
                std::round((utc - day * 86400.0) * scale) >= 86400.0 * scale) {
                leap = true;
                utc = next.first - 1.0;
            }
        }
    }
    const double days = std::floor(utc / 86400.0);
    std::string text = IsoText(kJD1900 + days, utc - days * 86400.0, decimals);
    if (leap && text.size() >= 19 && text.compare(17, 2, "59") == 0) text.replace(17, 2, "60");
    return text;
}

namespace {

// Civil UTC from the system's table where it places the instant (`civil`
// true), else UTC by the products' own model.
std::string CivilOrModelUtc(double tai93, int decimals, bool& civil)
{
    const LeapSeconds& table = SystemLeapSeconds();
    int offset = 0;
    civil = TaiMinusUtcAtTai93(table, tai93, offset);
    return civil ? IsoCivilUtcFromTai93(table, tai93, decimals) : IsoUtcFromTai93(tai93, decimals);
}

} // namespace

std::string IsoCivilOrModelUtcFromTai93(double tai93, int decimals)
{
    bool civil = false;
    return CivilOrModelUtc(tai93, decimals, civil);
}

std::string LabelledUtcFromTai93(double tai93, int decimals)
{
    bool civil = false;
    const std::string text = CivilOrModelUtc(tai93, decimals, civil);
    return text + (civil ? " UTC" : " UTC (trokproc's model)");
}

bool Tai93FromCivilUtcNtp(const LeapSeconds& table, double utcNtp, double& tai93)
{
    if (!std::isfinite(utcNtp)) return false;
    long found = -1;
    for (size_t i = 0; i < table.entries.size() && table.entries[i].first <= utcNtp; ++i)
        found = static_cast<long>(i);
    if (found < 0) return false;
    tai93 = utcNtp + table.entries[static_cast<size_t>(found)].second - kTai93ToTaiNtp;
    return true;
}

} // namespace toolkit
