// Civil UTC printed to a given number of decimals next to an inserted leap
// second, from the published leap-second table (as the test's own file).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "run_program.h"
#include "toolkit/time/civilutc.h"

using namespace toolkit;

namespace {

// The IERS table as published (leap-seconds.list), with its expiry.
const char* const kPublished =
    "#@\t3991593600\n"
    "2272060800\t10\t# 1 Jan 1972\n2287785600\t11\t# 1 Jul 1972\n2303683200\t12\t# 1 Jan 1973\n"
    "2335219200\t13\t# 1 Jan 1974\n2366755200\t14\t# 1 Jan 1975\n2398291200\t15\t# 1 Jan 1976\n"
    "2429913600\t16\t# 1 Jan 1977\n2461449600\t17\t# 1 Jan 1978\n2492985600\t18\t# 1 Jan 1979\n"
    "2524521600\t19\t# 1 Jan 1980\n2571782400\t20\t# 1 Jul 1981\n2603318400\t21\t# 1 Jul 1982\n"
    "2634854400\t22\t# 1 Jul 1983\n2698012800\t23\t# 1 Jul 1985\n2776982400\t24\t# 1 Jan 1988\n"
    "2840140800\t25\t# 1 Jan 1990\n2871676800\t26\t# 1 Jan 1991\n2918937600\t27\t# 1 Jul 1992\n"
    "2950473600\t28\t# 1 Jul 1993\n2982009600\t29\t# 1 Jul 1994\n3029443200\t30\t# 1 Jan 1996\n"
    "3076704000\t31\t# 1 Jul 1997\n3124137600\t32\t# 1 Jan 1999\n3345062400\t33\t# 1 Jan 2006\n"
    "3439756800\t34\t# 1 Jan 2009\n3550089600\t35\t# 1 Jul 2012\n3644697600\t36\t# 1 Jul 2015\n"
    "3692217600\t37\t# 1 Jan 2017\n";

// TAI93 seconds at which the leap seconds 2015-06-30T23:59:60 and
// 2016-12-31T23:59:60 UTC begin: 8216 and 8766 days after 1993-01-01
// 00:00 UTC, less one second, plus TAI-UTC then (36 and 37 s) less 27 s.
const double kLeap2015 = 8216 * 86400.0 + 8.0;
const double kLeap2016 = 8766 * 86400.0 + 9.0;
// 2016-07-01T00:00:00 UTC, after a June without a leap second.
const double kJuly2016 = 8582 * 86400.0 + 9.0;

} // namespace

TEST(LeapSecondRounding, TimesRoundIntoSecondSixtyNotIntoTheNextDay)
{
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/leap-seconds.list", kPublished);
    const LeapSeconds table = LoadLeapSeconds(dir + "/leap-seconds.list");
    ASSERT_TRUE(table.error.empty()) << table.error;
    const struct {
        double tai93;
        int decimals;
        const char* utc;
    } cases[] = {
        {kLeap2016 - 9e-6, 3, "2016-12-31T23:59:60.000"},
        {kLeap2016 - 0.0004, 3, "2016-12-31T23:59:60.000"},
        {kLeap2016 - 0.0006, 3, "2016-12-31T23:59:59.999"},
        {kLeap2016 - 0.4, 0, "2016-12-31T23:59:60"},
        {kLeap2016 - 0.6, 0, "2016-12-31T23:59:59"},
        {kLeap2016 + 0.5, 3, "2016-12-31T23:59:60.500"},
        {kLeap2016 + 0.9996, 3, "2017-01-01T00:00:00.000"},
        {kLeap2016 + 1.0, 6, "2017-01-01T00:00:00.000000"},
        {kLeap2015 - 2e-5, 3, "2015-06-30T23:59:60.000"},
        {kLeap2015 - 2e-5, 6, "2015-06-30T23:59:59.999980"},
        {kJuly2016 - 0.0004, 3, "2016-07-01T00:00:00.000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsoCivilUtcFromTai93(table, c.tai93, c.decimals), c.utc)
            << c.tai93 << " to " << c.decimals << " decimals";

    // Through qlrdump: the first sample of a run started 2016-12-31 at
    // 23:59:59.999991 UTC (1861920036 TAI seconds since 1958).
    ProgramResult r = RunProgram({TROKGEN_PATH, "--out", "l.pkt", "--tle", "l.tle", "--config",
                                  "l.cfg", "--seconds", "60", "--start", "1861920036"},
                                 dir);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(RunProgram({TROKPROC_PATH, "-configfile", "l.cfg"}, dir).status, 0);
    setenv("TROK_LEAPSECONDS", (dir + "/leap-seconds.list").c_str(), 1);
    r = RunProgram({QLRDUMP_PATH, "--header", "l.eph"}, dir);
    unsetenv("TROK_LEAPSECONDS");
    EXPECT_NE(r.out.find("StartTime     757382408.999991 s TAI93 = 2017-01-01T00:00:36.000 TAI = "
                         "2016-12-31T23:59:60.000 UTC\n"),
              std::string::npos)
        << r.out;
}
