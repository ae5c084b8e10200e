#include "vn_class_commonQLRheader.h"

#include <cstdio>

#include "timelib_class_date_time.h"
#include "timelib_proc_TAItoUTC.h"

namespace {

using L = productlayout::Common;

// Julian days between which the calendar breakdown yields sane unsigned
// fields: 1 January of the year 1 up to about the year 270000.
const double FirstCalendarDay = 1721423.5;
const double LastCalendarDay = 1.0e8;

// Formats the UTC calendar date of a TAI Julian day into `space` bytes at
// `dest`, cutting what does not fit and always ending with a zero byte.
void PutDate(char* dest, size_t space, const char* format, double taiJulianDay)
{
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double seconds = 0.0;
    const double utc = TAItoUTC(taiJulianDay);
    if (utc >= FirstCalendarDay && utc <= LastCalendarDay) {
        date_time(utc).GetGregorianDate(year, month, day, hour, minute, seconds);
    }
    // Truncated toward zero, never rounded up into the next minute.
    const unsigned wholeSeconds = (seconds >= 0.0 && seconds < 100.0) ? static_cast<unsigned>(seconds) : 0u;
    std::snprintf(dest, space, format, year, month, day, hour, minute, wholeSeconds);
}

}

commonQLRheader::commonQLRheader() : productblock(L::Size) {}

commonQLRheader& commonQLRheader::SpacecraftID(const std::string& value)
{
    PutText(L::SpacecraftID, value);
    return *this;
}

std::string commonQLRheader::SpacecraftID() const { return GetText(L::SpacecraftID); }

commonQLRheader& commonQLRheader::TimeRange(double _startTime, double _endTime)
{
    PutTime(L::StartTime, _startTime);
    PutTime(L::StopTime, _endTime);
    // Start text: 24 characters and its zero byte end at offset 48 of the
    // header; end text: 21 characters and its zero byte start at 49 and end
    // at 70. Offset 71 is never written.
    PutDate(At(L::StartText), L::StartText.size, "%4u-%02u-%02uT%02u:%02u:%02uZ to ", _startTime);
    PutDate(At(L::EndText), L::EndText.size, "%4u-%02u-%02uT%02u:%02u:%02uZ ", _endTime);
    return *this;
}

std::string commonQLRheader::TimeRange() const { return GetText(L::TimeRange); }

commonQLRheader& commonQLRheader::Source(const std::string& value)
{
    PutText(L::Source, value);
    return *this;
}

std::string commonQLRheader::Source() const { return GetText(L::Source); }

commonQLRheader& commonQLRheader::Version(const std::string& value)
{
    PutText(L::Version, value);
    return *this;
}

std::string commonQLRheader::Version() const { return GetText(L::Version); }

double commonQLRheader::StartTime() const { return GetTime(L::StartTime); }
double commonQLRheader::StopTime() const { return GetTime(L::StopTime); }

commonQLRheader& commonQLRheader::Interval(float interval)
{
    PutF32(L::Interval, interval);
    return *this;
}

float commonQLRheader::Interval() const { return GetF32(L::Interval); }

unsigned commonQLRheader::NoURefs() const { return GetU32(L::NoURefs); }

commonQLRheader& commonQLRheader::NoRecords(unsigned rcds)
{
    PutU32(L::NoRecords, rcds);
    return *this;
}

unsigned commonQLRheader::NoRecords() const { return GetU32(L::NoRecords); }
