#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "timelib_class_date_time.h"

// Reference Julian days are published values (Meeus, Astronomical Algorithms,
// and the usual epochs): 2000-01-01 00:00 = 2451544.5, 1970-01-01 = 2440587.5,
// 1993-01-01 = 2448988.5, 2008-01-01 = 2454466.5,
// 1582-10-15 = 2299160.5 (first Gregorian day, a Friday).

namespace {

date_time FromFields(unsigned y, unsigned mo, unsigned d, unsigned h = 0, unsigned mi = 0, double s = 0.0)
{
    date_time t;
    t.SetGregorianDate(y, mo, d, h, mi, s);
    return t;
}

// The calendar breakdown of a Julian day as text, without the terminator.
std::string Text(double jd)
{
    const std::string s = date_time(jd).ConvertDateToString("%Y4-%Mn-%Dn %hh:%mm");
    return s.substr(0, s.size() - 1);
}

} // namespace

TEST(DateTime, KnownEpochsFromFieldsAndClock)
{
    EXPECT_EQ(FromFields(2000, 1, 1).GetJulianDay(), 2451544.5);
    EXPECT_EQ(FromFields(1993, 1, 1).GetJulianDay(), 2448988.5);
    EXPECT_EQ(date_time(0L).GetJulianDay(), 2440587.5);
    EXPECT_EQ(date_time(86400L * 10957).GetJulianDay(), 2451544.5);  // 2000-01-01 by the clock
    EXPECT_EQ(date_time().GetJulianDay(), 0.0);
    // 2100 is not a leap year; the conversion treats it as one.
    EXPECT_EQ(FromFields(2100, 2, 28).GetJulianDay(), 2488127.5);
    EXPECT_EQ(FromFields(2100, 3, 1).GetJulianDay(), 2488128.5 + 1.0);
}

TEST(DateTime, MinutesAndSecondsCountInTheDayFraction)
{
    // 12:30 is 0.5 h past noon: a truncated minute term would drop it.
    EXPECT_NEAR(FromFields(2000, 1, 1, 12, 30, 0.0).GetJulianDay(), 2451545.0 + 0.5 / 24, 1e-9);
    EXPECT_NEAR(FromFields(2024, 3, 5, 7, 8, 9.0).GetJulianDay(), 2460374.5 + 25689.0 / 86400, 1e-9);
    // Out-of-range fields fold into the day: minute 75 is 01:15.
    EXPECT_NEAR(FromFields(2000, 1, 1, 0, 75, 0.0).GetJulianDay(), 2451544.5 + 1.25 / 24, 1e-9);
}

TEST(DateTime, BreakdownAcrossCalendarReform)
{
    unsigned y, mo;
    double day;
    date_time(2299160.5).GetGregorianYearMonthDay(y, mo, day);
    EXPECT_EQ(day, 15.0);
    EXPECT_EQ(Text(2299160.5), "1582-10-15 00:00");
    EXPECT_EQ(Text(2299159.5), "1582-10-04 00:00");  // last day of the Julian calendar
    EXPECT_EQ(Text(2451604.25), "2000-02-29 18:00");
}

TEST(DateTime, CalendarRoundTripsInsideWindow)
{
    const unsigned dates[][3] = {{1800, 3, 1}, {1900, 2, 28}, {1900, 3, 1}, {1958, 1, 1},
                                 {2000, 2, 29}, {2038, 1, 19}, {2100, 2, 28}};
    for (const auto& d : dates) {
        unsigned y, mo, day, h, mi;
        double s;
        FromFields(d[0], d[1], d[2], 6, 30, 15.0).GetGregorianDate(y, mo, day, h, mi, s);
        EXPECT_TRUE(y == d[0] && mo == d[1] && day == d[2] && h == 6 && mi == 30) << d[0] << d[1];
        EXPECT_NEAR(s, 15.0, 1e-4);
    }
}

TEST(DateTime, ArithmeticInDaysAndExactComparison)
{
    date_time a(2451544.5);
    EXPECT_EQ(a + 1.5, 2451546.0);
    EXPECT_EQ(a - 0.5, 2451544.0);
    EXPECT_EQ(a.ConvertDateToString("%Dn"), std::string("01\0", 3));
    const date_time b = (a += 2.0);  // the cached breakdown must follow the change
    EXPECT_EQ(a.ConvertDateToString("%Dn"), std::string("03\0", 3));
    EXPECT_EQ(b - date_time(2451544.5), 2.0);
    const date_time c(std::nextafter(2451546.5, 3e6));
    EXPECT_TRUE(b != c && b < c && b <= c && c > b && c >= b && !(b == c));
    EXPECT_TRUE(b == a && b <= a && b >= a);
}

TEST(DateTime, DayOfYearOffsetIsZeroBased)
{
    date_time t;
    EXPECT_EQ(t.SetGregorianYearDaySecond(2008, 0, 0.0).GetJulianDay(), 2454466.5);
    EXPECT_EQ(Text(t.SetGregorianYearDaySecond(2008, 59, 0.0).GetJulianDay()), "2008-02-29 00:00");
    t.SetGregorianYearDaySecond(2008, 365, 43200.0);  // 31 December, noon
    unsigned y, n;
    double s;
    t.GetGregorianYearDaySecond(y, n, s);
    EXPECT_EQ(y, 2008u); EXPECT_EQ(n, 365u); EXPECT_NEAR(s, 43200.0, 1e-4);
    // Seconds alone may carry the day: 1.5 days of seconds into 1993.
    t.SetGregorianYearDaySecond(1993, 0, 129600.0);
    EXPECT_EQ(t.GetJulianDay(), 2448990.0);
}

TEST(DateTime, DayOfWeekAndMidnight)
{
    EXPECT_EQ(date_time(2451544.5).GetNumericDayofWeek(), 7u);  // Saturday
    EXPECT_EQ(date_time(2451545.5).GetNumericDayofWeek(), 1u);  // Sunday
    unsigned stored = 0;
    EXPECT_EQ(date_time(2440587.9).GetNumericDayofWeek(&stored) * 10 + stored, 55u);  // Thursday
    EXPECT_EQ(date_time(2299160.5).GetNumericDayofWeek(), 6u);  // Friday
    double jd0 = 0.0;
    EXPECT_EQ(date_time(2451545.3).GetJulianDateAt0hr(&jd0) - jd0, 0.0);
    EXPECT_EQ(jd0, 2451544.5);
    EXPECT_EQ(date_time(2451545.5).GetJulianDateAt0hr(), 2451545.5);
}

TEST(DateTime, MonthNamesMatchByCaseInsensitivePrefix)
{
    date_time t;
    EXPECT_EQ(t.SetGregorianDate(2000, "ma", 1, 0, 0, 0.0).GetJulianDay(), 2451604.5);  // March
    EXPECT_EQ(t.SetGregorianDate(2000, "", 1, 0, 0, 0.0).GetJulianDay(), 2451544.5);    // January
    EXPECT_EQ(t.SetGregorianDate(2000, "JUN", 1, 0, 0, 0.0).GetJulianDay(), 2451696.5);
    EXPECT_EQ(t.SetGregorianDate(2000, "Mayday", 1, 0, 0, 0.0).GetJulianDay(),
              FromFields(2000, 0, 1).GetJulianDay());
    EXPECT_EQ(t.SetGregorianYearMonthDay(2000, "december", 31.75).GetJulianDay(), 2451910.25);
}

TEST(DateTime, FormatterCodesAndTerminator)
{
    const std::string s = date_time(2451544.5).ConvertDateToString("%Y4/%Mn/%Dn %hh:%mm:%ss");
    EXPECT_EQ(s, std::string("2000/01/01 00:00:00\0", 20));
    // 1969-07-20 (a Sunday) 18:11:15, a day fraction exact in binary.
    const date_time moon(2440422.5 + 0.7578125);
    EXPECT_EQ(moon.ConvertDateToString("%WA %Wa %Wn|%MA %Ma|%Y2|%S3|%hh%mm"),
              std::string("Sunday Sun 1|July Jul|69|15.000|1811\0", 37));
    // Unknown codes and qualifiers produce nothing; a cut-off code is safe.
    EXPECT_EQ(date_time(2451544.5).ConvertDateToString("a%Q1b%Yxc%Mzd%hm%"),
              std::string("abcd\0", 5));
}

TEST(DateTime, FormatterTruncatesSeconds)
{
    // Set to 12:00:30, the stored day breaks down to 29.99999... seconds.
    const date_time t = FromFields(2000, 1, 1, 12, 0, 30.0);
    EXPECT_EQ(t.ConvertDateToString("%hh:%mm:%ss %S3"), std::string("12:00:29 29.999\0", 16));
}

TEST(DateTime, FormatterAndBreakdownSafeOutsideCalendarRange)
{
    const double odd[] = {std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(), -1e6, 1e300, -1e300};
    for (double jd : odd) {
        EXPECT_EQ(date_time(jd).ConvertDateToString("%Y4 %MA %WA %S3").back(), '\0');
        EXPECT_LE(date_time(jd).GetNumericDayofWeek() - 1u, 6u);
    }
    EXPECT_EQ(Text(std::numeric_limits<double>::quiet_NaN()), "0000-00-00 00:00");
}

TEST(DateTime, ParserFieldWidthsAndMonthNames)
{
    date_time t;
    t.ConvertStringToDate("2024/03/05 07:08:09", "%Y4/%Mn/%Dn %hh:%mm:%s2");
    EXPECT_NEAR(t.GetJulianDay(), 2460374.5 + 25689.0 / 86400, 1e-9);
    // %s6 reads six characters of fractional seconds.
    t.ConvertStringToDate("2000-01-01T00:00:07.250", "%Y4-%Mn-%DnT%hh:%mm:%s6");
    EXPECT_NEAR(t.GetJulianDay(), 2451544.5 + 7.25 / 86400, 1e-10);
    // %MA advances by the whole name, %Ma by three, plain %M not at all.
    EXPECT_EQ(t.ConvertStringToDate("05September2024", "%Dn%MA%Y4").GetJulianDay(), 2460558.5);
    EXPECT_EQ(t.ConvertStringToDate("05sep2024", "%Dn%Ma%Y4").GetJulianDay(), 2460558.5);
    EXPECT_EQ(t.ConvertStringToDate("Sep", "%M.").GetJulianDay(), FromFields(0, 9, 0).GetJulianDay());
    // A name that matches nothing gives month 0 and skips three characters.
    EXPECT_EQ(t.ConvertStringToDate("01Xyz2000", "%Dn%MA%Y4").GetJulianDay(),
              FromFields(2000, 0, 1).GetJulianDay());
    // Codes that read nothing leave the position; plain characters skip one unchecked.
    EXPECT_EQ(t.ConvertStringToDate("2000x01x02", "%Y2%Wn%Y4?%Mn?%Dn").GetJulianDay(), 2451545.5);
}

TEST(DateTime, ParserReadsFieldsPastTheEndAsZero)
{
    date_time t;
    // Day 0 of March 2024 folds back to 29 February.
    EXPECT_NO_THROW(t.ConvertStringToDate("2024/03", "%Y4/%Mn/%Dn %hh:%mm:%s6"));
    EXPECT_EQ(t.GetJulianDay(), 2460369.5);
    EXPECT_NO_THROW(t.ConvertStringToDate("", "%Y4%MA%Ma%s9 %"));
}
