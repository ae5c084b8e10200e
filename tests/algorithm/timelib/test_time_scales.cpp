#include <gtest/gtest.h>

#include "timelib_proc_TAItoUTC.h"

// 00:00 UTC on 1 January of 1972, 1993, 2000, 2008 and 2012.
static const double JD1972 = 2441317.5, JD1993 = 2448988.5, JD2000 = 2451544.5;

TEST(TimeScales, OffsetMatchesTabulatedValues)
{
    EXPECT_NEAR(UTC_TAI_delta(JD1972) * 86400.0, 11.81, 0.005);
    EXPECT_NEAR(UTC_TAI_delta(JD1993) * 86400.0, 27.43, 0.005);
    EXPECT_NEAR(UTC_TAI_delta(JD2000) * 86400.0, 33.16, 0.005);
    EXPECT_NEAR(UTC_TAI_delta(2454466.5) * 86400.0, 40.035, 0.0005);
    EXPECT_NEAR(UTC_TAI_delta(2455927.5) * 86400.0, 43.60, 0.005);
    // Minimum at 1843-12-31 12:00, growing again before it.
    EXPECT_DOUBLE_EQ(UTC_TAI_delta(2394566.0) * 86400.0, -32.18);
    EXPECT_NEAR(UTC_TAI_delta(2394566.0 - 36525.0), UTC_TAI_delta(2394566.0 + 36525.0), 1e-12);
}

TEST(TimeScales, TAItoUTCIsTheInverseOfAddingTheOffset)
{
    EXPECT_NEAR((JD1993 - TAItoUTC(JD1993)) * 86400.0, 27.43, 0.005);
    // The TAI93 origin is 23:59:59.57 UTC of the day before, not midnight.
    EXPECT_NEAR((TAItoUTC(2448988.5003125) - JD1993) * 86400.0, -0.43, 0.005);
    for (double utc : {JD1972 + 0.25, JD2000 + 0.5, JD1993 + 7000.75})
        EXPECT_NEAR(TAItoUTC(utc + UTC_TAI_delta(utc)), utc, 2e-9) << utc;
}
