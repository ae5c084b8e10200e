// The UTC days every program cuts the time line into: calendar days of the
// products' own TAI-UTC model, the same in the merge, the archive and the
// campaign.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "toolkit/time/utcday.h"

using namespace toolkit;

TEST(UtcDay, CalendarDaysAndTheirNumbers)
{
    for (const char* good : {"1958-01-01", "2000-02-29", "2024-02-29", "2099-12-31", "2026-06-01"})
        EXPECT_TRUE(ValidDay(good)) << good;
    for (const char* bad : {"1957-12-31", "2100-01-01", "1900-02-29", "2026-02-29", "2026-04-31", "2026-13-01",
                            "2026-6-01", "2026-06-01T", "", "2026/06/01", "20260601"})
        EXPECT_FALSE(ValidDay(bad)) << bad;
    // Days since 1970-01-01, counted by Python's datetime.
    const struct {
        const char* day;
        long number;
    } known[] = {{"1958-01-01", -4383}, {"1970-01-01", 0}, {"2000-02-29", 11016}, {"2026-06-01", 20605},
                 {"2099-12-31", 47481}};
    for (const auto& k : known) {
        EXPECT_EQ(DayNumber(k.day), k.number) << k.day;
        EXPECT_EQ(DayText(k.number), k.day);
    }
}

// Every instant belongs to the day whose midnight is at or before it and
// whose next midnight is after it (the campaign dates its days by the same
// functions).
TEST(UtcDay, InstantsFallOnTheSideOfTheMidnightsTheCampaignUses)
{
    for (long day = DayNumber("1958-01-02"); day < DayNumber("2099-12-31"); day += 997) {
        const std::string text = DayText(day);
        const double midnight = DayStartTai93(day);
        EXPECT_EQ(midnight, DayStartTai93(text));
        EXPECT_EQ(UtcDayOfTai93(midnight), day) << text;
        EXPECT_EQ(UtcDayOfTai93(std::nextafter(midnight, -1e300)), day - 1) << text;
        EXPECT_EQ(UtcDayOfTai93(midnight + 43200.0), day) << text;
        const double next = DayStartTai93(day + 1);
        EXPECT_EQ(UtcDayOfTai93(std::nextafter(next, -1e300)), day) << text;
        // A model day lasts a day give or take the model's drift.
        EXPECT_NEAR(next - midnight, 86400.0, 0.01) << text;
    }
}
