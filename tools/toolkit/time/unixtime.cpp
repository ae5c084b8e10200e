#include "toolkit/time/unixtime.h"

#include <cmath>
#include <ctime>

#include "timelib_proc_TAI93.h"
#include "timelib_proc_TAItoUTC.h"

namespace toolkit {

namespace {

const double kUnixEpochJulianDay = 2440587.5;

} // namespace

long long UnixSecondsFromTai93(double tai93)
{
    const double utcJd = TAItoUTC(TAI93ToJulianDay(tai93));
    return static_cast<long long>(std::floor((utcJd - kUnixEpochJulianDay) * 86400.0 + 1e-6));
}

std::string IsoUtcFromUnixSeconds(std::time_t seconds)
{
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

std::string IsoUtcNow() { return IsoUtcFromUnixSeconds(std::time(nullptr)) + "Z"; }

} // namespace toolkit
