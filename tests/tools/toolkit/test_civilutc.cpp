// Civil UTC from the leap-second table against published leap-second dates.
#include <gtest/gtest.h>

#include <string>

#include "run_program.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/unixtime.h"

using namespace toolkit;

namespace {

// The published table, as committed for the tests.
const char* kTable = TEST_LEAPSECONDS;

// 2017-01-01 00:00:00 UTC as TAI93: 8766 days after 1993-01-01 00:00 UTC,
// when TAI-UTC had grown from 27 s to 37 s.
const double kNewYear2017 = 8766 * 86400.0 + 10.0;

std::string WriteTable(const std::string& dir, const std::string& name, const std::string& text)
{
    const std::string path = dir + "/" + name;
    WriteFile(path, text);
    return path;
}

} // namespace

TEST(CivilUtc, PublishedTableGivesPublishedOffsets)
{
    const LeapSeconds table = LoadLeapSeconds(kTable);
    ASSERT_EQ(table.error, "");
    EXPECT_EQ(table.entries.size(), 28u);
    int dat = 0;
    // 1999-06-01 00:00 UTC: 2342 days after 1993-01-01, TAI-UTC 32 s.
    ASSERT_TRUE(TaiMinusUtcAtTai93(table, 2342 * 86400.0 + 5.0, dat));
    EXPECT_EQ(dat, 32);
    EXPECT_EQ(IsoCivilUtcFromTai93(table, 2342 * 86400.0 + 5.0, 0), "1999-06-01T00:00:00");
    ASSERT_TRUE(TaiMinusUtcAtTai93(table, kNewYear2017, dat));
    EXPECT_EQ(dat, 37);
    // 2026-06-01 00:00 UTC: 12204 days after 1993-01-01.
    ASSERT_TRUE(TaiMinusUtcAtTai93(table, 12204 * 86400.0 + 10.0, dat));
    EXPECT_EQ(dat, 37);
    EXPECT_EQ(IsoCivilUtcFromTai93(table, 12204 * 86400.0 + 10.0, 3), "2026-06-01T00:00:00.000");
}

TEST(CivilUtc, InsertedLeapSecondIsSecondSixty)
{
    const LeapSeconds table = LoadLeapSeconds(kTable);
    int dat = 0;
    ASSERT_TRUE(TaiMinusUtcAtTai93(table, kNewYear2017 - 1.5, dat));
    EXPECT_EQ(dat, 36);
    EXPECT_EQ(IsoCivilUtcFromTai93(table, kNewYear2017 - 2.0, 0), "2016-12-31T23:59:59");
    EXPECT_EQ(IsoCivilUtcFromTai93(table, kNewYear2017 - 0.75, 2), "2016-12-31T23:59:60.25");
    EXPECT_EQ(IsoCivilUtcFromTai93(table, kNewYear2017, 0), "2017-01-01T00:00:00");
    double tai93 = 0;
    ASSERT_TRUE(Tai93FromCivilUtcNtp(table, 3692217600.0, tai93));   // 1 Jan 2017 in NTP seconds
    EXPECT_EQ(tai93, kNewYear2017);
}

TEST(CivilUtc, ExpiredMissingAndDamagedTablesWarnWithoutFailing)
{
    const std::string dir = FreshTestDir();
    // Expiry 2020-01-01 (NTP 3786825600): expired for a "now" of 2026, sound for 2019.
    const std::string expired = WriteTable(dir, "leap-expired.list",
        "# test table\n#@\t3786825600\n2272060800\t10\t# 1 Jan 1972\n3692217600\t37\t# 1 Jan 2017\n");
    const LeapSeconds t = LoadLeapSeconds(expired);
    ASSERT_TRUE(t.error.empty()) << t.error;
    EXPECT_EQ(t.entries.size(), 2u);
    EXPECT_EQ(LeapSecondsWarning(t, 1780000000.0),
              "leap-second table " + expired + " expired on 2020-01-01: civil UTC after that date "
              "misses any leap second announced since");
    EXPECT_EQ(LeapSecondsWarning(t, 1560000000.0), "");

    const LeapSeconds missing = LoadLeapSeconds(dir + "/no-such-table");
    EXPECT_NE(LeapSecondsWarning(missing, 0).find("cannot be read"), std::string::npos);
    int dat = 0;
    EXPECT_FALSE(TaiMinusUtcAtTai93(missing, kNewYear2017, dat));
    EXPECT_EQ(IsoCivilUtcFromTai93(missing, kNewYear2017, 0), "(no date)");

    const LeapSeconds damaged = LoadLeapSeconds(WriteTable(dir, "leap-damaged.list",
        "2272060800\t10\n2287785600 eleven\n"));
    EXPECT_EQ(damaged.error, "line 2 is not \"NTP-seconds TAI-UTC\" in increasing order");
    EXPECT_TRUE(damaged.entries.empty());
    const LeapSeconds unordered = LoadLeapSeconds(WriteTable(dir, "leap-unordered.list",
        "3692217600\t37\n2272060800\t10\n"));
    EXPECT_FALSE(unordered.error.empty());
    // Before the first entry (1972) there is no civil UTC from the table.
    EXPECT_FALSE(TaiMinusUtcAtTai93(t, -700000000.0, dat));
}

// "Today" for the expiry check comes from TROK_LEAPSECONDS_NOW when set; the
// table committed for the tests expires on 2026-06-28.
TEST(CivilUtc, ExpiryIsJudgedAtTheHooksToday)
{
    const LeapSeconds table = LoadLeapSeconds(kTable);
    const struct {
        const char* now;
        bool expired;
    } cases[] = {
        {"1780272000", false},   // 2026-06-01, the tests' today
        {"1782518400", false},   // 2026-06-27
        {"1782604801", true},    // one second into 2026-06-28
        {"1782864000", true},    // 2026-07-01
    };
    for (const auto& c : cases) {
        setenv("TROK_LEAPSECONDS_NOW", c.now, 1);
        const std::string warning = LeapSecondsWarning(table);
        EXPECT_EQ(warning.empty(), !c.expired) << c.now << ": " << warning;
        if (c.expired) {
            EXPECT_NE(warning.find(" expired on 2026-06-28: "), std::string::npos) << warning;
        }
    }
    UseTestLeapSeconds();
}

// Civil UTC where the system's table (the tests' table) places the instant,
// the products' model before it begins in 1972, each labelled with its scale.
TEST(CivilUtc, LabelledTextNamesTheScaleItShows)
{
    EXPECT_EQ(LabelledUtcFromTai93(kNewYear2017 - 0.75, 2), "2016-12-31T23:59:60.25 UTC");
    EXPECT_EQ(IsoCivilOrModelUtcFromTai93(kNewYear2017 - 0.75, 2), "2016-12-31T23:59:60.25");
    // Early on 1968-01-01: 25 years and 7 leap days before 1993.
    const std::string model = LabelledUtcFromTai93(-(25 * 365 + 7) * 86400.0, 0);
    EXPECT_EQ(model.substr(0, 11), "1968-01-01T") << model;
    EXPECT_EQ(model.substr(19), " UTC (trokproc's model)") << model;
    EXPECT_EQ(LabelledUtcFromTai93(0.0 / 0.0, 3), "(no date) UTC (trokproc's model)");
}

TEST(CivilUtc, UnixSecondsAsTextFromTheEpochToTheLastSecondOf9999)
{
    EXPECT_EQ(IsoUtcFromUnixSeconds(0), "1970-01-01T00:00:00");
    EXPECT_EQ(IsoUtcFromUnixSeconds(1780272000), "2026-06-01T00:00:00");
    EXPECT_EQ(IsoUtcFromUnixSeconds(253402300799), "9999-12-31T23:59:59");
    const std::string now = IsoUtcNow();
    EXPECT_EQ(now.size(), 20u) << now;
    EXPECT_EQ(now.back(), 'Z') << now;
}
