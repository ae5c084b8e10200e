#ifndef CAMPAIGN_DAYS_H
#define CAMPAIGN_DAYS_H

#include <string>

// The campaign's calendar days.
namespace campaign {

// "YYYY-MM-DD" of the proleptic Gregorian calendar, years 1958 to 2099.
bool ValidDay(const std::string& day);
// Days since 1970-01-01 of a valid day, and back.
long DayNumber(const std::string& day);
std::string DayText(long dayNumber);

// TAI93 seconds of a day's midnight (UTC of the products' own model).
double DayStartTai93(const std::string& day);

} // namespace campaign

#endif
