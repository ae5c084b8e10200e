#include "timelib_proc_TAItoUTC.h"

namespace {

// TAI - UTC in seconds at Julian day J; formed in extended precision and
// rounded to double once.
double _DeltaSeconds(double J)
{
    const long double t = (static_cast<long double>(J) - 2394566.0L) / 365.25L;
    return static_cast<double>(0.2685L * t * t / 100.0L - 32.18L);
}

}

double TAItoUTC(double taiJulianDay)
{
    return taiJulianDay + _DeltaSeconds(taiJulianDay) / -86400.0;
}

double UTC_TAI_delta(double utcJulianDay)
{
    return _DeltaSeconds(utcJulianDay) / 86400.0;
}
