#ifndef TOOLKIT_UTCDAY_H
#define TOOLKIT_UTCDAY_H

#include <string>

namespace toolkit {

// Calendar days of UTC as the products' own TAI-UTC model has them: the days
// an archive, a campaign and a merge of recorder dumps are cut into. One
// home for the day boundaries, so that every program splits a stretch
// across midnight at the same instant.

// "YYYY-MM-DD" of the proleptic Gregorian calendar, years 1958 to 2099.
bool ValidDay(const std::string& day);

// Days since 1970-01-01 of a valid day, and back.
long DayNumber(const std::string& day);
std::string DayText(long dayNumber);

// TAI93 seconds of a day's midnight (UTC of the products' own model).
double DayStartTai93(const std::string& day);
double DayStartTai93(long dayNumber);

// The day (days since 1970-01-01) that holds the TAI93 instant: the one
// whose midnight is at or before it and whose next midnight is after it, by
// DayStartTai93. The instant must be finite.
long UtcDayOfTai93(double tai93);

} // namespace toolkit

#endif
