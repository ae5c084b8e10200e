#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "hex_bytes.h"
#include "vn_class_attitudesubheader.h"
#include "vn_class_commonQLRheader.h"
#include "vn_class_ephemerissubheader.h"

namespace {
const double TAI93Origin = 2448988.5003125;
// TAI Julian day of a UTC time of day on 2000-01-01, where TAI - UTC = 33.16 s.
double TAIon2000(double utcSeconds) { return 2451544.5 + (utcSeconds + 33.16) / 86400.0; }
std::string Zeros(size_t n) { return std::string(n, '\0'); }
} // namespace

TEST(CommonHeader, FreshHeaderNumbersAndTextFields)
{
    commonQLRheader h;
    ASSERT_EQ(h.DataSize(), 140u);
    EXPECT_EQ(std::string(h.DataPtr(), 140), Zeros(140));
    h.Interval(1.0f).NoRecords(86400);
    EXPECT_EQ(HexBytes(h.DataPtr() + 128, 12), "3F 80 00 00 00 00 00 00 00 01 51 80");
    EXPECT_EQ(h.Interval(), 1.0f);
    EXPECT_EQ(h.NoRecords(), 86400u);
    EXPECT_EQ(h.NoURefs(), 0u);

    h.SpacecraftID("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123").Source(std::string(40, 's')).Version("v1.2.3.4.5");
    EXPECT_EQ(h.SpacecraftID(), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(std::string(h.DataPtr() + 72, 32), std::string(32, 's'));
    EXPECT_EQ(h.Version(), "v1.2.3.4");
    EXPECT_EQ(h.DataPtr()[24], '\0');   // nothing spilled into the time range
    h.SpacecraftID(std::string(24, '\0')).SpacecraftID("PELK1");
    EXPECT_EQ(h.SpacecraftID(), "PELK1" + Zeros(19));
}

TEST(CommonHeader, TimeRangeAtTheOriginShowsTheLastSecondOf1992)
{
    commonQLRheader h;
    h.TimeRange(TAI93Origin, TAIon2000(12 * 3600 + 30 * 60 + 45.9));
    EXPECT_EQ(HexBytes(h.DataPtr() + 112, 8), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(h.StartTime(), TAI93Origin);
    EXPECT_NEAR(h.StopTime(), TAIon2000(12 * 3600 + 30 * 60 + 45.9), 1e-9);
    EXPECT_EQ(h.TimeRange(), std::string("1992-12-31T23:59:59Z to ") + '\0' + "2000-01-01T12:30:45Z " + Zeros(2));
    EXPECT_EQ(h.DataPtr()[48], '\0');
    EXPECT_EQ(h.DataPtr()[70], '\0');
}

TEST(CommonHeader, TimeRangeTruncatesSecondsAndNeverLeavesItsField)
{
    commonQLRheader h;
    h.Source("SOURCE");
    h.DataPtr()[71] = 'x';
    // 59.99 s is shown as 59, never rounded up into the next minute.
    h.TimeRange(TAIon2000(12 * 3600 + 30 * 60 + 59.99), TAIon2000(86399.5));
    EXPECT_EQ(h.TimeRange().substr(0, 46), std::string("2000-01-01T12:30:59Z to ") + '\0' + "2000-01-01T23:59:59Z ");
    EXPECT_EQ(h.DataPtr()[71], 'x');

    // A five-digit year is cut to the space of each text.
    const double year12345 = 2451544.5 + 10345 * 365.2425 + 180;
    h.TimeRange(year12345, year12345);
    EXPECT_EQ(h.TimeRange().substr(0, 6), "12345-");
    EXPECT_EQ(h.TimeRange().find('\0'), 24u);
    EXPECT_EQ(h.TimeRange().substr(25, 6), "12345-");
    EXPECT_EQ(h.TimeRange().find('\0', 25), 46u);
    EXPECT_EQ(h.DataPtr()[71], 'x');
    EXPECT_EQ(h.Source(), "SOURCE" + Zeros(26));

    // Times without a calendar date keep the layout, with every field 0.
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, -1e300, 0.0}) {
        h.TimeRange(bad, bad);
        EXPECT_EQ(h.TimeRange().substr(0, 47), std::string("   0-00-00T00:00:00Z to ") + '\0' +
                                                   "   0-00-00T00:00:00Z " + '\0') << bad;
        EXPECT_EQ(h.DataPtr()[71], 'x');
    }
}

TEST(EphemerisSubheader, OrbitsElementsAndEpoch)
{
    ephemerissubheader h;
    ASSERT_EQ(h.DataSize(), 372u);
    h.Orbits(1000, 1014, 15).RefFrame("J2000").KeplerElements({7000e3, 0.001, 1.7, 0.5, -1.0, 2.0});
    EXPECT_EQ(HexBytes(h.DataPtr(), 12), "00 00 00 0F 00 00 03 E8 00 00 03 F6");
    EXPECT_EQ(h.Orbits(), (std::vector<unsigned>{1000, 1014, 15}));
    EXPECT_EQ(h.RefFrame(), "J2000" + Zeros(3));
    EXPECT_EQ(HexBytes(h.DataPtr() + 20, 8), "41 5A B3 F0 00 00 00 00");   // 7000000.0
    EXPECT_EQ(HexBytes(h.DataPtr() + 60, 8), "40 00 00 00 00 00 00 00");   // 2.0
    EXPECT_EQ(h.KeplerElements(), (std::vector<double>{7000e3, 0.001, 1.7, 0.5, -1.0, 2.0}));

    h.EpochTimeTAI(-1.0);
    EXPECT_EQ(HexBytes(h.DataPtr() + 68, 8), "C0 8F 3F FF FF 79 C8 43");
    EXPECT_EQ(h.EpochTimeTAI(), -999.999999);
    h.EpochTimeTAI(0.0);
    EXPECT_EQ(HexBytes(h.DataPtr() + 68, 8), "00 00 00 00 00 00 00 00");
    h.EpochTimeTAI(std::nan(""));
    EXPECT_TRUE(std::isnan(h.EpochTimeTAI()));

    EXPECT_EQ(h.qaParameters(), std::vector<float>(16, 0.0f));
    EXPECT_EQ(h.qaStatistics(), std::vector<float>(4, 0.0f));
    EXPECT_EQ(std::string(h.DataPtr() + 76, 296), Zeros(296));
}

TEST(EphemerisSubheaderDeathTest, KeplerElementsNeedSixValues)
{
    ephemerissubheader h;
    EXPECT_DEATH(h.KeplerElements({1, 2, 3, 4, 5}),
                 "vn_class_ephemerissubheader.*ephemerissubheader& "
                 "ephemerissubheader::KeplerElements\\(carray\\).*kepler.size\\(\\) == 6");
}

TEST(AttitudeSubheader, AngleOrderAndQualityFields)
{
    attitudesubheader h;
    ASSERT_EQ(h.DataSize(), 372u);
    h.AngleOrder(3, 1, 2);
    EXPECT_EQ(HexBytes(h.DataPtr(), 12), "00 00 00 03 00 00 00 01 00 00 00 02");
    EXPECT_EQ(h.AngleOrder(), (std::vector<unsigned>{3, 1, 2}));
    h.DataPtr()[12 + 15 * 4] = 0x3F;   // last parameter 0.5f
    h.DataPtr()[76] = 0x40;            // first statistic 2.0f
    EXPECT_EQ(h.qaParameters().back() + h.qaStatistics().front(), 2.5f);
    EXPECT_EQ(h.qaParameters().size() + h.qaStatistics().size(), 20u);
}
