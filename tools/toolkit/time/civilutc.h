#ifndef TOOLKIT_CIVILUTC_H
#define TOOLKIT_CIVILUTC_H

#include <string>
#include <utility>
#include <vector>

namespace toolkit {

// Civil UTC for the tools, from a leap-second table in the format of the
// IERS/NTP file leap-seconds.list (Debian's tzdata installs it as
// /usr/share/zoneinfo/leap-seconds.list).
//
// The products carry TAI93 times. trokproc itself converts to UTC with its
// own model of TAI-UTC (a quadratic in time, fitted long ago), which drifts
// from civil UTC by tens of seconds today; the tools print civil UTC from the
// table and label the product's model where they show it.

struct LeapSeconds {
    std::string path;      // file the table was read from
    std::string error;     // why it could not be read; empty when it was
    // (UTC instant as NTP seconds since 1900-01-01, TAI-UTC in seconds from
    // that instant on), in increasing order.
    std::vector<std::pair<double, int>> entries;
    double expiresNtp = 0;   // the file's "#@" expiry, NTP seconds; 0 when absent
};

// Reads a table; on failure `error` says why and `entries` is empty.
LeapSeconds LoadLeapSeconds(const std::string& path);

// The system's table, read once: the file named by $TROK_LEAPSECONDS when set,
// otherwise /usr/share/zoneinfo/leap-seconds.list.
const LeapSeconds& SystemLeapSeconds();

// One line for standard error when the table is missing, unreadable or past
// its expiry date at the time `nowUnix` (seconds since 1970); "" when sound.
std::string LeapSecondsWarning(const LeapSeconds& table, double nowUnix);
// The same, at the current time: the clock, or the seconds since 1970 in
// $TROK_LEAPSECONDS_NOW when that is set to a number (a hook for tests).
std::string LeapSecondsWarning(const LeapSeconds& table);

// TAI-UTC in whole seconds at the TAI instant `tai93`. False when the table
// is empty, the instant is before its first entry (1972) or not finite.
bool TaiMinusUtcAtTai93(const LeapSeconds& table, double tai93, int& seconds);

// Civil UTC of a TAI instant as "YYYY-MM-DDThh:mm:ss[.fff]" (`decimals` digits,
// 0 to 9), with second 60 inside an inserted leap second. "(no date)" when
// TaiMinusUtcAtTai93 is false.
std::string IsoCivilUtcFromTai93(const LeapSeconds& table, double tai93, int decimals);

// UTC of a TAI instant as the tools show it where they cannot say which
// scale: civil UTC from the system's table (IsoCivilUtcFromTai93) where the
// table covers the instant, else UTC by the products' own model
// (IsoUtcFromTai93, isotime.h), unlabelled. "(no date)" for an instant
// that is not finite.
std::string IsoCivilOrModelUtcFromTai93(double tai93, int decimals);

// IsoCivilOrModelUtcFromTai93 with its scale named after it: " UTC" after
// civil UTC, " UTC (trokproc's model)" after the model's (an instant that is
// not finite among them), for pages that show both kinds.
std::string LabelledUtcFromTai93(double tai93, int decimals);

// The UTC instant as TAI93 seconds, the inverse of the above for instants
// outside leap seconds: TAI93 of a civil UTC calendar instant given as NTP
// seconds. False when the table does not cover it.
bool Tai93FromCivilUtcNtp(const LeapSeconds& table, double utcNtp, double& tai93);

} // namespace toolkit

#endif
