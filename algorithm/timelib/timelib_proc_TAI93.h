#ifndef TIMELIB_PROC_TAI93_H
#define TIMELIB_PROC_TAI93_H

// TAI93 seconds: TAI seconds since 1993-01-01 00:00:00 UTC, which is the
// Julian day 2448988.5003125 on the TAI scale (the calendar day plus 27 s).
// The time fields of the product files hold instants in this form.
constexpr double TAI93EpochJulianDay = 2448988.5003125;

// TAI Julian day to TAI93 seconds.
inline double JulianDayToTAI93(double julianDay) { return (julianDay - TAI93EpochJulianDay) * 86400.0; }

// TAI93 seconds to TAI Julian day.
inline double TAI93ToJulianDay(double seconds) { return seconds / 86400.0 + TAI93EpochJulianDay; }

#endif
