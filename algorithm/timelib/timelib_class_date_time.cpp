#include "timelib_class_date_time.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

const std::string date_time::monthList[13] = {
    "", "January", "February", "March", "April", "May", "June", "July",
    "August", "September", "October", "November", "December"};

const std::string date_time::dayList[8] = {
    "", "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

namespace {

// Truncates toward zero into an unsigned value; a value that is not a number
// or does not fit (negative years of dates before the common era included)
// gives 0 instead of an undefined conversion.
unsigned int _ToUnsigned(long double value)
{
    if (!std::isfinite(value)) return 0;
    value = std::trunc(value);
    if (value < 0.0L || value > static_cast<long double>(UINT_MAX)) return 0;
    return static_cast<unsigned int>(value);
}

// Truncates toward zero into a signed 64-bit value; non-finite or huge
// values give 0.
long long _ToInteger(long double value)
{
    if (!std::isfinite(value)) return 0;
    value = std::trunc(value);
    if (std::fabs(value) > 9.0e18L) return 0;
    return static_cast<long long>(value);
}

// The `length` characters of `text` at `pos` (fewer, or none, at the end of
// the text), and `pos` moved on by `length`.
std::string _Field(const std::string& text, std::size_t& pos, std::size_t length)
{
    std::string field;
    if (pos < text.size()) field = text.substr(pos, length);
    pos += length;
    return field;
}

void _CvtStr(const std::string& text, std::size_t& pos, std::size_t length, unsigned int& value)
{
    // Fields are at most four digits, so the conversion cannot overflow.
    value = static_cast<unsigned int>(std::atoi(_Field(text, pos, length).c_str()));
}

void _CvtStr(const std::string& text, std::size_t& pos, std::size_t length, double& value)
{
    value = std::atof(_Field(text, pos, length).c_str());
}

// `value` in decimal, padded on the left with "0" to `width` digits.
std::string _Padded(unsigned long long value, std::size_t width)
{
    std::string digits = std::to_string(value);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return digits;
}

const std::string& _Name(const std::string* list, std::size_t count, unsigned int index)
{
    return index < count ? list[index] : list[0];
}

// A month's or a weekday's name as a directive's qualifier asks for it:
// "A" in full, "a" its first three letters, anything else nothing.
std::string _NameText(char qual, const std::string& name)
{
    if (qual == 'A') return name;
    if (qual == 'a') return name.substr(0, 3);
    return "";
}

// Walks a date format: each character outside a directive goes to
// `literal`; each directive, "%", a code and a qualifier (three characters,
// those missing at the end of the format taken as zero), to
// `directive(code, qualifier)`.
template <class Literal, class Directive>
void _WalkFormat(const std::string& format, Literal literal, Directive directive)
{
    const std::size_t n = format.size();
    for (std::size_t i = 0; i < n;) {
        if (format[i] != '%') {
            literal(format[i++]);
            continue;
        }
        const char code = i + 1 < n ? format[i + 1] : '\0';
        const char qual = i + 2 < n ? format[i + 2] : '\0';
        i += 3;
        directive(code, qual);
    }
}

} // namespace

date_time::date_time() { _initial(0.0); }

date_time::date_time(long posixSeconds)
{
    _initial(static_cast<double>(static_cast<long double>(posixSeconds) / 86400.0L + 2440587.5L));
}

date_time::date_time(double julianDay) { _initial(julianDay); }

date_time::date_time(const date_time& other) { _initial(other._time); }

date_time& date_time::operator=(const date_time& other)
{
    _initial(other._time);
    return *this;
}

void date_time::_initial(double julianDay)
{
    _time = julianDay;
    _itime = std::numeric_limits<double>::quiet_NaN();
    _day = 0.0;
    _year = 0;
    _month = 0;
}

date_time date_time::operator+=(double days)
{
    _time += days;
    return *this;
}

date_time date_time::operator-=(double days)
{
    _time -= days;
    return *this;
}

double date_time::operator+(double days) const { return _time + days; }
double date_time::operator-(double days) const { return _time - days; }
double date_time::operator-(const date_time& other) const { return _time - other._time; }

bool date_time::operator==(const date_time& other) const { return _time == other._time; }
bool date_time::operator!=(const date_time& other) const { return _time != other._time; }
bool date_time::operator<(const date_time& other) const { return _time < other._time; }
bool date_time::operator<=(const date_time& other) const { return _time <= other._time; }
bool date_time::operator>(const date_time& other) const { return _time > other._time; }
bool date_time::operator>=(const date_time& other) const { return _time >= other._time; }

date_time date_time::SetJulianDay(double julianDay)
{
    _time = julianDay;
    return *this;
}

date_time date_time::SetGregorianDate(unsigned int year, unsigned int month, unsigned int day,
                                      unsigned int hour, unsigned int minute, double second)
{
    // Day count in unsigned 32-bit arithmetic with truncating division;
    // out-of-range fields wrap and shift the result, by design.
    const unsigned int y = year, m = month;
    const unsigned int count = 367u * y - (7u * (y + (m + 9u) / 12u)) / 4u + (275u * m) / 9u + day;
    const double fraction = (hour + minute / 60.0 + second / 3600.0) / 24.0;
    const double sign = (static_cast<double>(100u * y + m) - 190002.5) < 0.0 ? -1.0 : 1.0;
    _time = count + 1721013.5 + fraction - 0.5 * sign + 0.5;
    return *this;
}

date_time date_time::SetGregorianDate(unsigned int year, std::string month, unsigned int day,
                                      unsigned int hour, unsigned int minute, double second)
{
    return SetGregorianDate(year, _GetNumericMonth(month), day, hour, minute, second);
}

date_time date_time::SetGregorianYearMonthDay(unsigned int year, unsigned int month, double day)
{
    unsigned int hour = 0, minute = 0;
    double second = 0.0;
    const unsigned int wholeDay = _DayToHourMinuteSecond(day, hour, minute, second);
    return SetGregorianDate(year, month, wholeDay, hour, minute, second);
}

date_time date_time::SetGregorianYearMonthDay(unsigned int year, std::string month, double day)
{
    return SetGregorianYearMonthDay(year, _GetNumericMonth(month), day);
}

date_time date_time::SetGregorianYearDaySecond(unsigned int year, unsigned int dayOffset, double second)
{
    SetGregorianDate(year, 1u, 1u, 0u, 0u, 0.0);
    _time += dayOffset + second / 86400.0;
    return *this;
}

date_time& date_time::ConvertStringToDate(const std::string& text, const std::string& format)
{
    unsigned int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0.0;
    std::size_t pos = 0;
    _WalkFormat(format, [&](char) { ++pos; }, [&](char code, char qual) {
        switch (code) {
        case 'Y':
            if (qual == '4') _CvtStr(text, pos, 4, year);
            break;
        case 'M':
            if (qual == 'n') {
                _CvtStr(text, pos, 2, month);
            } else {
                std::size_t at = pos;
                month = _GetNumericMonth(_Field(text, at, 3));
                if (qual == 'A') pos += month != 0 ? monthList[month].size() : 3;
                else if (qual == 'a') pos += 3;
            }
            break;
        case 'D':
            if (qual == 'n') _CvtStr(text, pos, 2, day);
            break;
        case 'h':
            if (qual == 'h') _CvtStr(text, pos, 2, hour);
            break;
        case 'm':
            if (qual == 'm') _CvtStr(text, pos, 2, minute);
            break;
        case 's':
        case 'S':
            // The qualifier is the field width as a digit; anything below "0"
            // reads nothing.
            if (qual >= '0') _CvtStr(text, pos, static_cast<std::size_t>(qual - '0'), second);
            break;
        default:
            break;
        }
    });
    SetGregorianDate(year, month, day, hour, minute, second);
    return *this;
}

double date_time::GetJulianDay() const { return _time; }

void date_time::_GetGregorianYearMonthDay() const
{
    long double z = 0.0L;
    const long double f = std::modf(static_cast<long double>(_time) + 0.5L, &z);
    long double a = z;
    if (z >= 2299161.0L) {
        const long double alpha = std::trunc((z - 1867216.25L) / 36524.25L);
        a = std::trunc(z + 1.0L + alpha - std::trunc(alpha / 4.0L));
    }
    const long double b = a + 1524.0L;
    const long double g = std::trunc((b - 122.1L) / 365.25L);
    const long double h = std::trunc(g * 365.25L);
    const long double e = std::trunc((b - h) / 30.6001L);
    _day = static_cast<double>(b - h - std::trunc(e * 30.6001L) + f);
    const long double month = e <= 13.0L ? e - 1.0L : e - 13.0L;
    _month = _ToUnsigned(month);
    _year = _ToUnsigned(month > 2.0L ? g - 4716.0L : g - 4715.0L);
    _itime = _time;
}

void date_time::GetGregorianYearMonthDay(unsigned int& year, unsigned int& month, double& day) const
{
    // A NaN on either side never compares equal, so it forces a new breakdown.
    if (!(_itime == _time)) _GetGregorianYearMonthDay();
    year = _year;
    month = _month;
    day = _day;
}

unsigned int date_time::_DayToHourMinuteSecond(double day, unsigned int& hour,
                                               unsigned int& minute, double& second)
{
    double whole = 0.0;
    const double fraction = std::modf(day, &whole);
    second = fraction * 86400.0;
    hour = _ToUnsigned(second / 3600.0);
    second -= hour * 3600.0;
    minute = _ToUnsigned(second / 60.0);
    second -= minute * 60.0;
    return _ToUnsigned(whole);
}

void date_time::GetGregorianDate(unsigned int& year, unsigned int& month, unsigned int& day,
                                 unsigned int& hour, unsigned int& minute, double& second) const
{
    double dayWithFraction = 0.0;
    GetGregorianYearMonthDay(year, month, dayWithFraction);
    day = _DayToHourMinuteSecond(dayWithFraction, hour, minute, second);
}

void date_time::GetGregorianYearDaySecond(unsigned int& year, unsigned int& dayOffset, double& second) const
{
    unsigned int month = 0;
    double day = 0.0;
    GetGregorianYearMonthDay(year, month, day);
    date_time newYear;
    newYear.SetGregorianDate(year, 1u, 1u, 0u, 0u, 0.0);
    const double r = newYear._time;
    dayOffset = _ToUnsigned(_time - r);
    second = (_time - (r + dayOffset)) * 86400.0;
}

unsigned int date_time::GetNumericDayofWeek(unsigned int* dayOfWeek) const
{
    // Mathematical modulus, so that Julian days before 0 still give 1 to 7.
    const long long n = _ToInteger(static_cast<long double>(_time) + 0.5L);
    const unsigned int result = static_cast<unsigned int>(((n + 1) % 7 + 7) % 7) + 1u;
    if (dayOfWeek != nullptr) *dayOfWeek = result;
    return result;
}

double date_time::GetJulianDateAt0hr(double* jd0) const
{
    const double result = std::trunc(_time + 0.5) - 0.5;
    if (jd0 != nullptr) *jd0 = result;
    return result;
}

unsigned int date_time::_GetNumericMonth(const std::string& name)
{
    for (unsigned int m = 1; m <= 12; ++m) {
        const std::string& full = monthList[m];
        if (name.size() > full.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k)
            same = std::tolower(static_cast<unsigned char>(name[k])) ==
                   std::tolower(static_cast<unsigned char>(full[k]));
        if (same) return m;
    }
    return 0;
}

std::string date_time::ConvertDateToString(std::string format) const
{
    unsigned int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0.0;
    GetGregorianDate(year, month, day, hour, minute, second);
    const unsigned int weekDay = GetNumericDayofWeek();
    const std::string& monthName = _Name(monthList, 13, month);
    const std::string& dayName = _Name(dayList, 8, weekDay);

    std::string out;
    _WalkFormat(format, [&](char c) { out += c; }, [&](char code, char qual) {
        switch (code) {
        case 'Y':
            if (qual == '4') out += _Padded(year, 4);
            else if (qual == '2') out += _Padded(year % 100u, 2);
            break;
        case 'M':
            out += qual == 'n' ? _Padded(month, 2) : _NameText(qual, monthName);
            break;
        case 'D':
            if (qual == 'n') out += _Padded(day, 2);
            break;
        case 'W':
            out += qual == 'n' ? std::to_string(weekDay) : _NameText(qual, dayName);
            break;
        case 'h':
            if (qual == 'h') out += _Padded(hour, 2);
            break;
        case 'm':
            if (qual == 'm') out += _Padded(minute, 2);
            break;
        case 's':
            out += _Padded(_ToUnsigned(second), 2);
            break;
        case 'S': {
            const unsigned int whole = _ToUnsigned(second);
            out += _Padded(whole, 2);
            out += '.';
            out += _Padded(_ToUnsigned((second - whole) * 1000.0), 3);
            break;
        }
        default:
            break;
        }
    });
    out += '\0';
    return out;
}
