#ifndef TOOLKIT_ISOTIME_H
#define TOOLKIT_ISOTIME_H

#include <string>

namespace toolkit {

// Calendar dates and times as ISO 8601 text, for the tools.

struct CalendarTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0.0;
};

// "YYYY-MM-DD", optionally followed by "Thh:mm" or "Thh:mm:ss[.fff]" (a blank
// may stand for the T) and an optional "Z". Years 1958 to 2099. False for
// anything else, fields out of range included.
bool ParseIsoTime(const std::string& text, CalendarTime& out);

// TAI seconds since 1958-01-01 00:00:00 TAI of a UTC calendar time, with the
// program's TAI-UTC model.
double Tai58FromUtc(const CalendarTime& utc);

// "YYYY-MM-DDThh:mm:ss" with `decimals` digits of the second (0 to 9) for the
// instant `secondOfDay` seconds after the midnight at Julian day `midnightJD`
// (a whole day plus .5). Seconds are rounded, carrying into the date.
// Instants outside the years 1800 to 2100, or not finite, give "(no date)".
std::string IsoText(double midnightJD, double secondOfDay, int decimals);

// TAI93 seconds as TAI calendar text.
std::string IsoTaiFromTai93(double tai93, int decimals);

// IsoTaiFromTai93 appended to a text, for writers of many times in a row:
// the same text, with the calendar date worked out once per day.
class IsoTaiWriter
{
public:
    explicit IsoTaiWriter(int decimals);
    void Append(std::string& out, double tai93);

private:
    int decimals_;
    double scale_;
    double dayJD_ = -1;
    std::string date_;
};

// TAI93 seconds as UTC calendar text (program's TAI-UTC model).
std::string IsoUtcFromTai93(double tai93, int decimals);

} // namespace toolkit

#endif
