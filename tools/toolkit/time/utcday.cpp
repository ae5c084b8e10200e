#include "toolkit/time/utcday.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "timelib_proc_TAI93.h"
#include "timelib_proc_TAItoUTC.h"

namespace toolkit {

namespace {

// Days since 1970-01-01 of a Gregorian date (H. Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

const double kUnixEpochJulianDay = 2440587.5;

} // namespace

bool ValidDay(const std::string& day)
{
    if (day.size() != 10 || day[4] != '-' || day[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (day[i] < '0' || day[i] > '9') return false;
    const int y = std::atoi(day.substr(0, 4).c_str());
    const int m = std::atoi(day.substr(5, 2).c_str());
    const int d = std::atoi(day.substr(8, 2).c_str());
    if (y < 1958 || y > 2099 || m < 1 || m > 12 || d < 1) return false;
    static const int length[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= length[m - 1] + (m == 2 && leap ? 1 : 0);
}

long DayNumber(const std::string& day)
{
    return DaysFromCivil(std::atol(day.substr(0, 4).c_str()),
                         static_cast<unsigned>(std::atoi(day.substr(5, 2).c_str())),
                         static_cast<unsigned>(std::atoi(day.substr(8, 2).c_str())));
}

std::string DayText(long z)
{
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const long y = static_cast<long>(yoe) + era * 400 + (m <= 2);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04ld-%02u-%02u", y, m, d);
    return buf;
}

double DayStartTai93(const std::string& day) { return DayStartTai93(DayNumber(day)); }

double DayStartTai93(long dayNumber)
{
    const double utcJd = kUnixEpochJulianDay + static_cast<double>(dayNumber);
    return JulianDayToTAI93(utcJd + UTC_TAI_delta(utcJd));
}

long UtcDayOfTai93(double tai93)
{
    // A first guess from the model's UTC, then the day whose midnights
    // enclose the instant, by the same function that places them.
    const double utcJd = TAItoUTC(TAI93ToJulianDay(tai93));
    long day = static_cast<long>(std::floor(utcJd - kUnixEpochJulianDay));
    while (DayStartTai93(day) > tai93) --day;
    while (DayStartTai93(day + 1) <= tai93) ++day;
    return day;
}

} // namespace toolkit
