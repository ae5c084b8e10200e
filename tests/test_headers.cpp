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

// TAI Julian day of a UTC time of 2000-01-01, with TAI - UTC = 33.16 s.
double TAIon20000101(double utcSecondsOfDay)
{
    return 2451544.5 + (utcSecondsOfDay + 33.16) / 86400.0;
}

std::string Zeros(size_t n) { return std::string(n, '\0'); }
} // namespace

TEST(CommonHeader, FreshHeaderIsZeroAndNumbersAreBigEndian)
{
    commonQLRheader h;
    ASSERT_EQ(h.DataSize(), 140u);
    EXPECT_EQ(std::string(h.DataPtr(), 140), Zeros(140));
    EXPECT_EQ(h.NoURefs(), 0u);

    h.Interval(1.0f).NoRecords(86400);
    EXPECT_EQ(HexBytes(h.DataPtr() + 128, 4), "3F 80 00 00");
    EXPECT_EQ(HexBytes(h.DataPtr() + 136, 4), "00 01 51 80");
    EXPECT_EQ(h.Interval(), 1.0f);
    EXPECT_EQ(h.NoRecords(), 86400u);
    EXPECT_EQ(HexBytes(h.DataPtr() + 132, 4), "00 00 00 00");
}

TEST(CommonHeader, TextFieldsAreCutToWidthWithoutTerminator)
{
    commonQLRheader h;
    h.SpacecraftID("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123")   // 30 characters
        .Source(std::string(40, 's'))
        .Version("v1.2.3.4.5");
    EXPECT_EQ(h.SpacecraftID(), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(std::string(h.DataPtr() + 72, 32), std::string(32, 's'));
    EXPECT_EQ(h.Version(), "v1.2.3.4");
    EXPECT_EQ(h.DataPtr()[24], '\0');   // nothing spilled into the time range
    EXPECT_EQ(h.DataPtr()[112], '\0');  // nor into the start time

    commonQLRheader s;
    s.SpacecraftID("PELK1");
    EXPECT_EQ(s.SpacecraftID(), "PELK1" + Zeros(19));
    EXPECT_EQ(s.Source(), Zeros(32));
}

TEST(CommonHeader, TimeRangeAtTheOriginShowsTheLastSecondOf1992)
{
    commonQLRheader h;
    h.TimeRange(TAI93Origin, TAIon20000101(12 * 3600 + 30 * 60 + 45.9));
    EXPECT_EQ(HexBytes(h.DataPtr() + 112, 8), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(h.StartTime(), TAI93Origin);

    const std::string expected = std::string("1992-12-31T23:59:59Z to ") + '\0' +
                                 "2000-01-01T12:30:45Z " + '\0' + '\0';
    EXPECT_EQ(h.TimeRange(), expected);
    EXPECT_EQ(std::string(h.DataPtr() + 24, 48), expected);
    EXPECT_EQ(h.DataPtr()[48], '\0');
    EXPECT_EQ(h.DataPtr()[70], '\0');
    EXPECT_NEAR(h.StopTime(), TAIon20000101(12 * 3600 + 30 * 60 + 45.9), 1e-9);
}

TEST(CommonHeader, TimeRangeTruncatesSecondsAndStopsAtItsField)
{
    commonQLRheader h;
    h.Source("SOURCE");
    h.DataPtr()[71] = 'x';
    // 59.99 s is shown as 59, never rounded up into 12:31:00.
    h.TimeRange(TAIon20000101(12 * 3600 + 30 * 60 + 59.99), TAIon20000101(86399.5));
    EXPECT_EQ(h.TimeRange().substr(0, 24), "2000-01-01T12:30:59Z to ");
    EXPECT_EQ(h.TimeRange().substr(25, 21), "2000-01-01T23:59:59Z ");
    EXPECT_EQ(h.DataPtr()[71], 'x');

    // A five-digit year makes both texts longer than their space: they are
    // cut, each still ends in its zero byte, and nothing beyond moves.
    const double year12345 = 2451544.5 + 10345 * 365.2425 + 180;
    h.TimeRange(year12345, year12345);
    const std::string range = h.TimeRange();
    EXPECT_EQ(range.substr(0, 6), "12345-");
    EXPECT_EQ(range.find('\0'), 24u);
    EXPECT_EQ(range.substr(25, 6), "12345-");
    EXPECT_EQ(range.find('\0', 25), 46u);
    EXPECT_EQ(h.DataPtr()[71], 'x');
    EXPECT_EQ(h.Source(), "SOURCE" + Zeros(26));
}

TEST(CommonHeader, TimeRangeOfTimesWithoutCalendarDateIsBounded)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double bad : {nan, inf, -inf, 1e300, -1e300, 0.0}) {
        commonQLRheader h;
        h.Source("SOURCE");
        h.TimeRange(bad, bad);
        const std::string range = h.TimeRange();
        EXPECT_EQ(range.find('\0'), 24u) << bad;
        EXPECT_EQ(range.substr(0, 24), "   0-00-00T00:00:00Z to ") << bad;
        EXPECT_EQ(range.substr(25, 21), "   0-00-00T00:00:00Z ") << bad;
        EXPECT_EQ(range.substr(46), Zeros(2)) << bad;
        EXPECT_EQ(h.Source(), "SOURCE" + Zeros(26)) << bad;
    }
    commonQLRheader h;
    h.TimeRange(nan, TAI93Origin);
    EXPECT_TRUE(std::isnan(h.StartTime()));
    EXPECT_EQ(h.StopTime(), TAI93Origin);
}

TEST(CommonHeader, CopyOwnsItsBytes)
{
    commonQLRheader a;
    a.SpacecraftID("A");
    commonQLRheader b(a);
    b.SpacecraftID("B");
    EXPECT_EQ(a.SpacecraftID()[0], 'A');
    EXPECT_EQ(b.SpacecraftID()[0], 'B');
}

TEST(EphemerisSubheader, OrbitsStoreTheCountFirst)
{
    ephemerissubheader h;
    ASSERT_EQ(h.DataSize(), 372u);
    EXPECT_EQ(std::string(h.DataPtr(), 372), Zeros(372));
    h.Orbits(1000, 1014, 15);
    EXPECT_EQ(HexBytes(h.DataPtr(), 12), "00 00 00 0F 00 00 03 E8 00 00 03 F6");
    EXPECT_EQ(h.Orbits(), (std::vector<unsigned>{1000, 1014, 15}));
}

TEST(EphemerisSubheader, FrameElementsAndEpoch)
{
    ephemerissubheader h;
    h.RefFrame("J2000").KeplerElements({7000e3, 0.001, 1.7, 0.5, -1.0, 2.0});
    EXPECT_EQ(h.RefFrame(), "J2000" + Zeros(3));
    EXPECT_EQ(HexBytes(h.DataPtr() + 20, 8), "41 5A B3 F0 00 00 00 00");   // 7000000.0
    EXPECT_EQ(HexBytes(h.DataPtr() + 52, 8), "BF F0 00 00 00 00 00 00");   // -1.0
    EXPECT_EQ(HexBytes(h.DataPtr() + 60, 8), "40 00 00 00 00 00 00 00");   // 2.0
    EXPECT_EQ(h.KeplerElements(), (std::vector<double>{7000e3, 0.001, 1.7, 0.5, -1.0, 2.0}));
    h.RefFrame("TOOLONGNAME");
    EXPECT_EQ(h.RefFrame(), "TOOLONGN");
    EXPECT_EQ(HexBytes(h.DataPtr() + 20, 1), "41");

    h.EpochTimeTAI(-1.0);
    EXPECT_EQ(HexBytes(h.DataPtr() + 68, 8), "C0 8F 3F FF FF 79 C8 43");
    EXPECT_EQ(h.EpochTimeTAI(), -999.999999);
    h.EpochTimeTAI(0.0);
    EXPECT_EQ(HexBytes(h.DataPtr() + 68, 8), "00 00 00 00 00 00 00 00");
    h.EpochTimeTAI(4.5e8);
    EXPECT_EQ(h.EpochTimeTAI(), 4.5e8);
    h.EpochTimeTAI(std::nan(""));
    EXPECT_TRUE(std::isnan(h.EpochTimeTAI()));

    EXPECT_EQ(h.qaParameters(), std::vector<float>(16, 0.0f));
    EXPECT_EQ(h.qaStatistics(), std::vector<float>(4, 0.0f));
    EXPECT_EQ(std::string(h.DataPtr() + 76, 372 - 76), Zeros(372 - 76));
}

TEST(EphemerisSubheaderDeathTest, KeplerElementsNeedSixValues)
{
    ephemerissubheader h;
    EXPECT_DEATH(h.KeplerElements({1, 2, 3, 4, 5}),
                 "vn_class_ephemerissubheader.*ephemerissubheader& "
                 "ephemerissubheader::KeplerElements\\(carray\\).*kepler.size\\(\\) == 6");
}

TEST(AttitudeSubheader, AngleOrderAndEmptyQualityFields)
{
    attitudesubheader h;
    ASSERT_EQ(h.DataSize(), 372u);
    h.AngleOrder(3, 1, 2);
    EXPECT_EQ(HexBytes(h.DataPtr(), 12), "00 00 00 03 00 00 00 01 00 00 00 02");
    EXPECT_EQ(h.AngleOrder(), (std::vector<unsigned>{3, 1, 2}));
    h.DataPtr()[12] = 0x3F;
    h.DataPtr()[13] = static_cast<char>(0x80);   // first parameter 1.0f
    h.DataPtr()[76] = 0x40;                      // first statistic 2.0f
    std::vector<float> params(16, 0.0f), stats(4, 0.0f);
    params[0] = 1.0f;
    stats[0] = 2.0f;
    EXPECT_EQ(h.qaParameters(), params);
    EXPECT_EQ(h.qaStatistics(), stats);
}
