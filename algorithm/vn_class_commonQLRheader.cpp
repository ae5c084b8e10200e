#include "vn_class_commonQLRheader.h"

#include <cstdio>
#include <cstring>

#include "timelib_class_date_time.h"
#include "timelib_proc_TAItoUTC.h"
#include "timelib_proc_TAI93.h"
#include "vn_proc_FormatConvert.h"

namespace {

const size_t SpacecraftIDOffset = 0, SpacecraftIDSize = commonQLRheader::spacecraftIDSize;
const size_t TimeRangeOffset = 24, TimeRangeSize = 48;
const size_t SourceOffset = 72, SourceSize = commonQLRheader::sourceSize;
const size_t VersionOffset = 104, VersionSize = commonQLRheader::versionSize;
const size_t StartTimeOffset = 112;
const size_t StopTimeOffset = 120;
const size_t IntervalOffset = 128;
const size_t NoURefsOffset = 132;
const size_t NoRecordsOffset = 136;

// Start text: 24 characters and its zero byte end at offset 48 of the
// header; end text: 21 characters and its zero byte start at 49 and end at
// 70. Offset 71 is never written.
const size_t StartTextOffset = 24, StartTextSpace = 25;
const size_t EndTextOffset = 49, EndTextSpace = 22;

// Julian days between which the calendar breakdown yields sane unsigned
// fields: 1 January of the year 1 up to about the year 270000.
const double FirstCalendarDay = 1721423.5;
const double LastCalendarDay = 1.0e8;


void PutText(char* field, size_t width, const std::string& value)
{
    std::memcpy(field, value.data(), value.size() < width ? value.size() : width);
}

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

commonQLRheader::commonQLRheader() : storebase(140) {}

commonQLRheader& commonQLRheader::SpacecraftID(const std::string& value)
{
    PutText(DataPtr() + SpacecraftIDOffset, SpacecraftIDSize, value);
    return *this;
}

std::string commonQLRheader::SpacecraftID() const
{
    return std::string(DataPtr() + SpacecraftIDOffset, SpacecraftIDSize);
}

commonQLRheader& commonQLRheader::TimeRange(double _startTime, double _endTime)
{
    FormatConvert_float8(JulianDayToTAI93(_startTime), DataPtr() + StartTimeOffset);
    FormatConvert_float8(JulianDayToTAI93(_endTime), DataPtr() + StopTimeOffset);
    PutDate(DataPtr() + StartTextOffset, StartTextSpace, "%4u-%02u-%02uT%02u:%02u:%02uZ to ", _startTime);
    PutDate(DataPtr() + EndTextOffset, EndTextSpace, "%4u-%02u-%02uT%02u:%02u:%02uZ ", _endTime);
    return *this;
}

std::string commonQLRheader::TimeRange() const
{
    return std::string(DataPtr() + TimeRangeOffset, TimeRangeSize);
}

commonQLRheader& commonQLRheader::Source(const std::string& value)
{
    PutText(DataPtr() + SourceOffset, SourceSize, value);
    return *this;
}

std::string commonQLRheader::Source() const
{
    return std::string(DataPtr() + SourceOffset, SourceSize);
}

commonQLRheader& commonQLRheader::Version(const std::string& value)
{
    PutText(DataPtr() + VersionOffset, VersionSize, value);
    return *this;
}

std::string commonQLRheader::Version() const
{
    return std::string(DataPtr() + VersionOffset, VersionSize);
}

double commonQLRheader::StartTime() const
{
    return TAI93ToJulianDay(FormatConvert_float8(DataPtr() + StartTimeOffset));
}

double commonQLRheader::StopTime() const
{
    return TAI93ToJulianDay(FormatConvert_float8(DataPtr() + StopTimeOffset));
}

commonQLRheader& commonQLRheader::Interval(float interval)
{
    FormatConvert_float4(interval, DataPtr() + IntervalOffset);
    return *this;
}

float commonQLRheader::Interval() const
{
    return FormatConvert_float4(DataPtr() + IntervalOffset);
}

unsigned commonQLRheader::NoURefs() const
{
    return FormatConvert_ulong4(DataPtr() + NoURefsOffset);
}

commonQLRheader& commonQLRheader::NoRecords(unsigned rcds)
{
    FormatConvert_long4(rcds, DataPtr() + NoRecordsOffset);
    return *this;
}

unsigned commonQLRheader::NoRecords() const
{
    return FormatConvert_ulong4(DataPtr() + NoRecordsOffset);
}
