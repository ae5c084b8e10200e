#include <gtest/gtest.h>

#include "timelib_proc_TAItoUTC.h"

namespace {
// 00:00 UTC on 1 January of the years below.
const double JD1972 = 2441317.5, JD1993 = 2448988.5, JD2000 = 2451544.5, JD2008 = 2454466.5,
             JD2012 = 2455927.5;
}

TEST(TimeScales, OffsetMatchesTabulatedValues)
{
    EXPECT_NEAR(UTC_TAI_delta(JD1972) * 86400.0, 11.81, 0.005);
    EXPECT_NEAR(UTC_TAI_delta(JD1993) * 86400.0, 27.43, 0.005);
    EXPECT_NEAR(UTC_TAI_delta(JD2000) * 86400.0, 33.16, 0.005);
    EXPECT_NEAR(UTC_TAI_delta(JD2008) * 86400.0, 40.035, 0.0005);
    EXPECT_NEAR(UTC_TAI_delta(JD2012) * 86400.0, 43.60, 0.005);
}

TEST(TimeScales, OffsetHasItsMinimumAtTheOriginAndGrowsOnBothSides)
{
    const double origin = 2394566.0;
    EXPECT_DOUBLE_EQ(UTC_TAI_delta(origin) * 86400.0, -32.18);
    const double century = 36525.0;
    EXPECT_GT(UTC_TAI_delta(origin - century), UTC_TAI_delta(origin));
    EXPECT_NEAR(UTC_TAI_delta(origin - century), UTC_TAI_delta(origin + century), 1e-12);
}

TEST(TimeScales, TAItoUTCSubtractsTheOffset)
{
    // 1993-01-01 00:00 read as TAI lies 27.43 s later than the same reading in UTC.
    EXPECT_NEAR((JD1993 - TAItoUTC(JD1993)) * 86400.0, 27.43, 0.005);
    // The TAI93 origin (27 s after the calendar day began, on the TAI scale)
    // is 23:59:59.57 UTC of the day before, not midnight.
    EXPECT_NEAR((TAItoUTC(2448988.5003125) - JD1993) * 86400.0, -0.43, 0.005);
}

TEST(TimeScales, ConversionsAreInverseToDoubleResolution)
{
    for (double utc : {JD1972 + 0.25, JD2000 + 0.5, JD2012 + 100.75}) {
        const double tai = utc + UTC_TAI_delta(utc);
        EXPECT_NEAR(TAItoUTC(tai), utc, 2e-9) << utc;
    }
}
