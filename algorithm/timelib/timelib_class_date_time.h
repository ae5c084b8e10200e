#ifndef TIMELIB_CLASS_DATE_TIME_H
#define TIMELIB_CLASS_DATE_TIME_H

#include <string>

// One instant as a Julian day number (day boundaries at .5), converted to and
// from Gregorian calendar fields, day of year, day of week and text. The time
// scale is whatever the caller's Julian day counts.
//
// The calendar breakdown is computed on the first calendar query and kept
// until the Julian day changes; const queries fill it, so one object must not
// be queried from two threads at once.
//
// Setting from calendar fields is exact from 1800-03-01 to 2100-02-28 and off
// by whole days outside (the century rule is ignored). Fields are not range
// checked: out-of-range values are folded into the Julian day.
class date_time
{
public:
    // Month and day names, indexed from 1 (entry 0 is empty); days run from
    // 1 = Sunday to 7 = Saturday.
    static const std::string monthList[13];
    static const std::string dayList[8];

    date_time();                      // Julian day 0.0
    explicit date_time(long posixSeconds);  // seconds since 1970-01-01 00:00
    explicit date_time(double julianDay);
    date_time(const date_time& other); // copies the instant, not the cache
    date_time& operator=(const date_time& other);

    // Days, not seconds. The compound forms return a copy of the result; the
    // plain forms return the shifted Julian day.
    date_time operator+=(double days);
    date_time operator-=(double days);
    double operator+(double days) const;
    double operator-(double days) const;
    double operator-(const date_time& other) const;

    // Exact comparisons of the Julian day, without tolerance.
    bool operator==(const date_time& other) const;
    bool operator!=(const date_time& other) const;
    bool operator<(const date_time& other) const;
    bool operator<=(const date_time& other) const;
    bool operator>(const date_time& other) const;
    bool operator>=(const date_time& other) const;

    // Setters return a copy of the updated object.
    date_time SetJulianDay(double julianDay);
    date_time SetGregorianDate(unsigned int year, unsigned int month, unsigned int day,
                               unsigned int hour, unsigned int minute, double second);
    // The month by name: any case-insensitive prefix of a name (0 if none).
    date_time SetGregorianDate(unsigned int year, std::string month, unsigned int day,
                               unsigned int hour, unsigned int minute, double second);
    // Day of month with its fraction of a day.
    date_time SetGregorianYearMonthDay(unsigned int year, unsigned int month, double day);
    date_time SetGregorianYearMonthDay(unsigned int year, std::string month, double day);
    // dayOffset counts whole days after 1 January (0 is 1 January itself);
    // second counts from that day's midnight.
    date_time SetGregorianYearDaySecond(unsigned int year, unsigned int dayOffset, double second);

    // Parses `text` under `format`:
    //   %Y4 year (4 characters), %Mn month (2), %MA month name (advances by
    //   the full name, or 3 when no month matches), %Ma month name (3), %M
    //   with any other qualifier: month name without advancing, %Dn %hh %mm
    //   (2 each), %s or %S with a digit q: seconds from q characters. Other
    //   codes read nothing; any other character skips one text character
    //   unchecked. A field past the end of the text reads as 0.
    date_time& ConvertStringToDate(const std::string& text, const std::string& format);

    double GetJulianDay() const;
    void GetGregorianYearMonthDay(unsigned int& year, unsigned int& month, double& day) const;
    void GetGregorianDate(unsigned int& year, unsigned int& month, unsigned int& day,
                          unsigned int& hour, unsigned int& minute, double& second) const;
    void GetGregorianYearDaySecond(unsigned int& year, unsigned int& dayOffset, double& second) const;
    // 1 (Sunday) to 7 (Saturday); also stored through `dayOfWeek` if not null.
    unsigned int GetNumericDayofWeek(unsigned int* dayOfWeek = nullptr) const;
    // Julian day of the preceding midnight; also stored through `jd0` if not null.
    double GetJulianDateAt0hr(double* jd0 = nullptr) const;

    // Text of the date under `format`; the result always ends in one NUL
    // character after the visible text. Codes (a "%" always consumes the two
    // characters after it): %Y4 year, %Y2 year mod 100, %Mn month, %MA and %Ma
    // full and 3-letter month name, %Dn day, %Wn day of week, %WA and %Wa full
    // and 3-letter day name, %hh hour, %mm minute (numbers zero-padded to 2,
    // the year to 4), %s? whole seconds, %S? seconds with thousandths (both
    // truncated). Any other code produces nothing.
    std::string ConvertDateToString(std::string format) const;

private:
    void _initial(double julianDay);
    void _GetGregorianYearMonthDay() const;
    static unsigned int _DayToHourMinuteSecond(double day, unsigned int& hour,
                                               unsigned int& minute, double& second);
    static unsigned int _GetNumericMonth(const std::string& name);

    double _time;
    mutable double _itime;   // the Julian day the cache below belongs to
    mutable double _day;
    mutable unsigned int _year;
    mutable unsigned int _month;
};

#endif
