#include "toolkit/time/isotime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "toolkit/cli/text.h"

#include "timelib_class_date_time.h"
#include "timelib_proc_TAItoUTC.h"

namespace toolkit {

namespace {

const double kJD1958 = 2436204.5;
const double kJD1993 = 2448988.5;   // 1993-01-01 00:00 on any scale's calendar
const double kTai93Offset = 27.0;   // TAI93 zero is 1993-01-01 00:00:27 TAI

bool Digits(const std::string& s, size_t pos, size_t n, int& value)
{
    if (pos + n > s.size()) return false;
    value = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        value = value * 10 + (s[i] - '0');
    }
    return true;
}

double MidnightJD(int year, int month, int day)
{
    date_time d;
    d.SetGregorianDate(static_cast<unsigned>(year), static_cast<unsigned>(month),
                       static_cast<unsigned>(day), 0, 0, 0.0);
    return d.GetJulianDay();
}

} // namespace

bool ParseIsoTime(const std::string& text, CalendarTime& t)
{
    std::string s = text;
    if (!s.empty() && (s.back() == 'Z' || s.back() == 'z')) s.pop_back();
    CalendarTime r;
    if (!Digits(s, 0, 4, r.year) || s.size() < 10 || s[4] != '-' || !Digits(s, 5, 2, r.month) ||
        s[7] != '-' || !Digits(s, 8, 2, r.day))
        return false;
    if (s.size() > 10) {
        if ((s[10] != 'T' && s[10] != ' ') || !Digits(s, 11, 2, r.hour) || s.size() < 16 ||
            s[13] != ':' || !Digits(s, 14, 2, r.minute))
            return false;
        if (s.size() > 16) {
            int whole = 0;
            if (s[16] != ':' || !Digits(s, 17, 2, whole)) return false;
            r.second = whole;
            if (s.size() > 19) {
                if (s[19] != '.' || s.size() == 20) return false;
                double scale = 0.1;
                for (size_t i = 20; i < s.size(); ++i, scale /= 10) {
                    if (s[i] < '0' || s[i] > '9') return false;
                    r.second += (s[i] - '0') * scale;
                }
            }
        }
    }
    static const int monthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (r.year < 1958 || r.year > 2099 || r.month < 1 || r.month > 12 || r.day < 1 ||
        r.day > monthDays[r.month - 1] || r.hour > 23 || r.minute > 59 || r.second >= 60.0)
        return false;
    const bool leap = r.year % 4 == 0;   // exact within 1958..2099
    if (r.month == 2 && r.day == 29 && !leap) return false;
    t = r;
    return true;
}

double Tai58FromUtc(const CalendarTime& utc)
{
    const double midnight = MidnightJD(utc.year, utc.month, utc.day);
    const double sod = utc.hour * 3600.0 + utc.minute * 60.0 + utc.second;
    const double utcSeconds = (midnight - kJD1958) * 86400.0 + sod;
    return utcSeconds + UTC_TAI_delta(midnight + sod / 86400.0) * 86400.0;
}

namespace {

// The instant `secondOfDay` after the midnight `midnightJD`, rounded to
// `decimals` digits (`scale` is 10^decimals): the midnight of its day
// (rounding may carry into the next), and its whole seconds and fraction in
// units of 10^-decimals.
// False for instants outside the years 1800 to 2100, or not finite.
bool SplitInstant(double midnightJD, double secondOfDay, double scale, double& dayJD,
                  long long& whole, long long& frac)
{
    // The calendar is exact from 1800 to 2100; nothing outside is a date here.
    if (!std::isfinite(midnightJD) || !std::isfinite(secondOfDay) || midnightJD < 2378496.5 ||
        midnightJD > 2488069.5 || std::fabs(secondOfDay) > 1e9)
        return false;
    double units = std::round(secondOfDay * scale);
    const double perDay = 86400.0 * scale;
    const double extraDays = std::floor(units / perDay);
    units -= extraDays * perDay;
    dayJD = midnightJD + extraDays;
    whole = static_cast<long long>(units / scale);
    frac = static_cast<long long>(units - static_cast<double>(whole) * scale);
    return true;
}

// "YYYY-MM-DD" of the day that starts at `dayJD`.
void AppendDate(std::string& out, double dayJD)
{
    date_time d(dayJD + 0.25);   // a quarter day in: no rounding at midnight
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double sec = 0;
    d.GetGregorianDate(year, month, day, hour, minute, sec);
    char buf[32];
    const int n = std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", year, month, day);
    out.append(buf, static_cast<size_t>(n));
}

// printf's "%0*lld" into `at`; returns the end of the digits.
char* PutDigits(char* at, long long v, int width)
{
    if (v < 0) return at + std::snprintf(at, 24, "%0*lld", width, v);
    char digits[32];
    const char* first = DigitsBefore(digits + sizeof digits, static_cast<unsigned long long>(v), width);
    const size_t n = static_cast<size_t>(digits + sizeof digits - first);
    std::memcpy(at, first, n);
    return at + n;
}

// "Thh:mm:ss[.fff]" of a time of day.
void AppendClock(std::string& out, long long whole, long long frac, int decimals)
{
    char buf[64];
    char* at = buf;
    *at++ = 'T';
    at = PutDigits(at, whole / 3600, 2);
    *at++ = ':';
    at = PutDigits(at, whole / 60 % 60, 2);
    *at++ = ':';
    at = PutDigits(at, whole % 60, 2);
    if (decimals > 0) {
        *at++ = '.';
        at = PutDigits(at, frac, decimals);
    }
    out.append(buf, static_cast<size_t>(at - buf));
}

int Decimals(int decimals) { return decimals < 0 ? 0 : decimals > 9 ? 9 : decimals; }

} // namespace

std::string IsoText(double midnightJD, double secondOfDay, int decimals)
{
    decimals = Decimals(decimals);
    double dayJD = 0;
    long long whole = 0, frac = 0;
    if (!SplitInstant(midnightJD, secondOfDay, std::pow(10.0, decimals), dayJD, whole, frac))
        return "(no date)";
    std::string s;
    AppendDate(s, dayJD);
    AppendClock(s, whole, frac, decimals);
    return s;
}

IsoTaiWriter::IsoTaiWriter(int decimals)
    : decimals_(Decimals(decimals)), scale_(std::pow(10.0, decimals_))
{
}

void IsoTaiWriter::Append(std::string& out, double tai93)
{
    double dayJD = 0;
    long long whole = 0, frac = 0;
    const double s = tai93 + kTai93Offset;
    const double days = std::floor(s / 86400.0);
    if (!std::isfinite(tai93) ||
        !SplitInstant(kJD1993 + days, s - days * 86400.0, scale_, dayJD, whole, frac)) {
        out += "(no date)";
        return;
    }
    if (!(dayJD == dayJD_)) {
        dayJD_ = dayJD;
        date_.clear();
        AppendDate(date_, dayJD);
    }
    out += date_;
    AppendClock(out, whole, frac, decimals_);
}

std::string IsoTaiFromTai93(double tai93, int decimals)
{
    if (!std::isfinite(tai93)) return "(no date)";
    const double s = tai93 + kTai93Offset;
    const double days = std::floor(s / 86400.0);
    return IsoText(kJD1993 + days, s - days * 86400.0, decimals);
}

std::string IsoUtcFromTai93(double tai93, int decimals)
{
    if (!std::isfinite(tai93)) return "(no date)";
    // The offset changes by microseconds a day: evaluating it at the TAI
    // instant and subtracting it in seconds keeps the sub-millisecond part
    // that a Julian day would lose.
    const double jdTai = kJD1993 + (tai93 + kTai93Offset) / 86400.0;
    const double s = tai93 + kTai93Offset - UTC_TAI_delta(jdTai) * 86400.0;
    const double days = std::floor(s / 86400.0);
    return IsoText(kJD1993 + days, s - days * 86400.0, decimals);
}

} // namespace toolkit
