#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "hex_bytes.h"
#include "vn_class_attituderecord.h"
#include "vn_class_ephemerismetadata.h"
#include "vn_class_ephemerisrecord.h"
#include "vn_proc_FormatConvert.h"

static const double TAI93Origin = 2448988.5003125;

TEST(Records, AttitudeAndEphemerisFieldsAtTheirOffsets)
{
    attituderecord a;
    ephemerisrecord e;
    ASSERT_EQ(a.DataSize(), 64u);
    ASSERT_EQ(e.DataSize(), 64u);
    a.Time(TAI93Origin + 1.0).EulerAngles({1.0, 2.0, -0.5}).AngleVelocities({0.25, 3.0, -2.0}).QaFlag(0xFFFF);
    e.time(TAI93Origin - 0.5).Position({-7000e3, 1.0, 2.0}).Velocity({7500.0, -0.5, 0.25}).QaFlag(0x120);
    a.QaFlag(0x120);   // a later, smaller value replaces the earlier one whole
    EXPECT_EQ(HexBytes(a.DataPtr(), 64),
              "40 F5 18 00 00 00 00 00 3F F0 00 00 00 00 00 00 40 00 00 00 00 00 00 00 "
              "BF E0 00 00 00 00 00 00 3F D0 00 00 00 00 00 00 40 08 00 00 00 00 00 00 "
              "C0 00 00 00 00 00 00 00 00 00 01 20 00 00 00 00");
    EXPECT_EQ(HexBytes(e.DataPtr(), 16), "C0 E5 18 00 00 00 00 00 C1 5A B3 F0 00 00 00 00");  // -43200 s, -7e6 m
    EXPECT_EQ(HexBytes(e.DataPtr() + 32, 8), "40 BD 4C 00 00 00 00 00");                     // 7500 m/s
    EXPECT_EQ(HexBytes(e.DataPtr() + 56, 8), "00 00 01 20 00 00 00 00");
    EXPECT_EQ(a.Time(), TAI93Origin + 1.0);
    EXPECT_EQ(e.time(), TAI93Origin - 0.5);
    EXPECT_EQ(a.EulerAngles(), (std::vector<double>{1.0, 2.0, -0.5}));
    EXPECT_EQ(a.AngleVelocities(), (std::vector<double>{0.25, 3.0, -2.0}));
    EXPECT_EQ(e.Position(), (std::vector<double>{-7000e3, 1.0, 2.0}));
    EXPECT_EQ(e.Velocity(), (std::vector<double>{7500.0, -0.5, 0.25}));
    EXPECT_EQ(a.QaFlag(), 0x120u);
    EXPECT_EQ(e.Spares(), e.DataPtr() + 60);
    EXPECT_EQ(static_cast<const attituderecord&>(a).Spares(), a.DataPtr() + 60);
}

TEST(RecordsDeathTest, ThreeValueSettersRejectOtherSizes)
{
    attituderecord a;
    ephemerisrecord e;
    EXPECT_DEATH(a.EulerAngles({1, 2}), "vn_class_attituderecord.*attituderecord& "
                 "attituderecord::EulerAngles\\(const carray&\\).*angles.size\\(\\)==3");
    EXPECT_DEATH(a.AngleVelocities({1, 2, 3, 4}), "vn_class_attituderecord.*attituderecord& "
                 "attituderecord::AngleVelocities\\(const carray&\\).*avel.size\\(\\)==3");
    EXPECT_DEATH(e.Position({}), "vn_class_ephemerisrecord.*ephemerisrecord& "
                 "ephemerisrecord::Position\\(const carray&\\).*pos.size\\(\\)==3");
    EXPECT_DEATH(e.Velocity({1}), "vn_class_ephemerisrecord.*ephemerisrecord& "
                 "ephemerisrecord::Velocity\\(const carray&\\).*vel.size\\(\\)==3");
}

TEST(EphemerisMetadata, AscendingSentinelAndNodeTimes)
{
    ephemerismetadata m;
    ASSERT_EQ(m.DataSize(), 32u);
    m.OrbitNo(1014).AscendingTime(-999.99999999).DescendingTime(-999.99999999).DescendingLongitude(-3.0);
    EXPECT_EQ(HexBytes(m.DataPtr(), 16), "00 00 03 F6 00 00 00 00 C0 8F 3F FF FF FE A8 67");
    EXPECT_EQ(HexBytes(m.DataPtr() + 24, 8), "C0 08 00 00 00 00 00 00");
    EXPECT_EQ(m.AscendingTime(), -999.99999999);
    EXPECT_EQ(m.OrbitNo(), 1014u);
    // The descending time has no sentinel: it is converted like any time.
    EXPECT_NEAR(FormatConvert_float8(m.DataPtr() + 16), -2.1168e11, 1e7);
    EXPECT_NEAR(m.DescendingTime(), -999.99999999, 1e-5);

    m.AscendingTime(-1.0);
    EXPECT_EQ(HexBytes(m.DataPtr() + 8, 8), "C0 8F 3F FF FF FE A8 67");
    // Before the TAI93 origin: negative seconds, read back unconverted.
    m.AscendingTime(TAI93Origin - 1.0);
    EXPECT_EQ(m.AscendingTime(), -86400.0);
    m.AscendingTime(TAI93Origin + 1.0).DescendingTime(TAI93Origin + 0.5);
    EXPECT_EQ(HexBytes(m.DataPtr() + 8, 16), "40 F5 18 00 00 00 00 00 40 E5 18 00 00 00 00 00");
    EXPECT_EQ(m.AscendingTime(), TAI93Origin + 1.0);
    EXPECT_EQ(m.AscendingTimeTAI(), 86400.0);
    EXPECT_EQ(m.DescendingTime(), TAI93Origin + 0.5);

    std::ostringstream os;
    os.precision(12);
    os << m.AscendingTime(-5.0).DescendingLongitude(1.5);
    EXPECT_EQ(os.str(), "\nOrbit number   = 1014\nAsc. Node time = -999.99999999"
                        "\nDesc Node Time = 2448989.00031\nDesc Longitude = 1.5\n");
}
