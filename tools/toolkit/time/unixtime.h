#ifndef TOOLKIT_UNIXTIME_H
#define TOOLKIT_UNIXTIME_H

#include <ctime>
#include <string>

namespace toolkit {

// Seconds since 1970: of a product's instant, and of the clock.

// Seconds since 1970-01-01 (UTC by the products' own model) of a TAI93
// instant, rounded down: the SOURCE_DATE_EPOCH of the programs that work on
// a product, so that they all stamp their outputs with its time.
long long UnixSecondsFromTai93(double tai93);

// Seconds since 1970 (a time stamp of the system's, SOURCE_DATE_EPOCH) as
// UTC text "YYYY-MM-DDThh:mm:ss".
std::string IsoUtcFromUnixSeconds(std::time_t seconds);

// The clock's time now as "YYYY-MM-DDThh:mm:ssZ": when a program did
// something (a run's start, a day's end), not a product's time.
std::string IsoUtcNow();

} // namespace toolkit

#endif
