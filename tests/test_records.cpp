#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "hex_bytes.h"
#include "vn_class_attituderecord.h"
#include "vn_class_ephemerismetadata.h"
#include "vn_class_ephemerisrecord.h"
#include "vn_proc_FormatConvert.h"

namespace {
const double TAI93Origin = 2448988.5003125;
std::string Zeros(size_t n) { return std::string(n, '\0'); }
} // namespace

TEST(AttitudeRecord, FieldsAtTheirOffsets)
{
    attituderecord r;
    ASSERT_EQ(r.DataSize(), 64u);
    EXPECT_EQ(std::string(r.DataPtr(), 64), Zeros(64));
    r.Time(TAI93Origin + 1.0).EulerAngles({1.0, 2.0, -0.5}).AngleVelocities({0.25, 3.0, -2.0}).QaFlag(0x120);
    EXPECT_EQ(HexBytes(r.DataPtr(), 8), "40 F5 18 00 00 00 00 00");      // 86400 s
    EXPECT_EQ(HexBytes(r.DataPtr() + 8, 8), "3F F0 00 00 00 00 00 00");  // 1.0
    EXPECT_EQ(HexBytes(r.DataPtr() + 16, 8), "40 00 00 00 00 00 00 00"); // 2.0
    EXPECT_EQ(HexBytes(r.DataPtr() + 24, 8), "BF E0 00 00 00 00 00 00"); // -0.5
    EXPECT_EQ(HexBytes(r.DataPtr() + 32, 8), "3F D0 00 00 00 00 00 00"); // 0.25
    EXPECT_EQ(HexBytes(r.DataPtr() + 40, 8), "40 08 00 00 00 00 00 00"); // 3.0
    EXPECT_EQ(HexBytes(r.DataPtr() + 48, 8), "C0 00 00 00 00 00 00 00"); // -2.0
    EXPECT_EQ(HexBytes(r.DataPtr() + 56, 8), "00 00 01 20 00 00 00 00");
    EXPECT_EQ(r.Time(), TAI93Origin + 1.0);
    EXPECT_EQ(r.EulerAngles(), (std::vector<double>{1.0, 2.0, -0.5}));
    EXPECT_EQ(r.AngleVelocities(), (std::vector<double>{0.25, 3.0, -2.0}));
    EXPECT_EQ(r.QaFlag(), 0x120u);
    EXPECT_EQ(r.Spares(), r.DataPtr() + 60);
    const attituderecord& cr = r;
    EXPECT_EQ(std::string(cr.Spares(), 4), Zeros(4));
}

TEST(EphemerisRecord, FieldsAtTheirOffsetsAndReuse)
{
    ephemerisrecord r;
    ASSERT_EQ(r.DataSize(), 64u);
    r.time(TAI93Origin + 1.0).Position({-7000e3, 1.0, 2.0}).Velocity({7500.0, -0.5, 0.25}).QaFlag(0xFFFF);
    EXPECT_EQ(HexBytes(r.DataPtr(), 8), "40 F5 18 00 00 00 00 00");
    EXPECT_EQ(HexBytes(r.DataPtr() + 8, 8), "C1 5A B3 F0 00 00 00 00");  // -7000000.0
    EXPECT_EQ(HexBytes(r.DataPtr() + 32, 8), "40 BD 4C 00 00 00 00 00"); // 7500.0
    EXPECT_EQ(HexBytes(r.DataPtr() + 48, 8), "3F D0 00 00 00 00 00 00"); // 0.25
    EXPECT_EQ(r.Position(), (std::vector<double>{-7000e3, 1.0, 2.0}));
    EXPECT_EQ(r.Velocity(), (std::vector<double>{7500.0, -0.5, 0.25}));

    // The next sample's smaller flags replace the earlier ones entirely.
    r.QaFlag(0x120);
    EXPECT_EQ(HexBytes(r.DataPtr() + 56, 8), "00 00 01 20 00 00 00 00");
    EXPECT_EQ(r.QaFlag(), 0x120u);
    // A time before the TAI93 origin is a negative number of seconds.
    r.time(TAI93Origin - 0.5);
    EXPECT_EQ(HexBytes(r.DataPtr(), 8), "C0 E5 18 00 00 00 00 00");      // -43200 s
    EXPECT_EQ(r.time(), TAI93Origin - 0.5);
}

TEST(EphemerisMetadata, AscendingSentinelAndNodeTimes)
{
    ephemerismetadata m;
    ASSERT_EQ(m.DataSize(), 32u);
    m.OrbitNo(1014).AscendingTime(-999.99999999).DescendingTime(-999.99999999).DescendingLongitude(-3.0);
    EXPECT_EQ(HexBytes(m.DataPtr(), 8), "00 00 03 F6 00 00 00 00");
    EXPECT_EQ(HexBytes(m.DataPtr() + 8, 8), "C0 8F 3F FF FF FE A8 67");
    EXPECT_EQ(m.AscendingTime(), -999.99999999);
    EXPECT_EQ(m.AscendingTimeTAI(), -999.99999999);
    // The descending time has no sentinel: it is converted like any time,
    // to about -2.1168e11 s, and reads back as the Julian day given.
    EXPECT_NEAR(FormatConvert_float8(m.DataPtr() + 16), -2.1168e11, 1e7);
    EXPECT_NEAR(m.DescendingTime(), -999.99999999, 1e-5);
    EXPECT_EQ(HexBytes(m.DataPtr() + 24, 8), "C0 08 00 00 00 00 00 00");
    EXPECT_EQ(m.OrbitNo(), 1014u);

    // Any negative ascending time, the sentinel included, becomes the sentinel.
    m.AscendingTime(-1.0);
    EXPECT_EQ(HexBytes(m.DataPtr() + 8, 8), "C0 8F 3F FF FF FE A8 67");

    // A time before the TAI93 origin stores negative seconds, which then read
    // back unconverted, like the sentinel.
    m.AscendingTime(TAI93Origin - 1.0);
    EXPECT_EQ(HexBytes(m.DataPtr() + 8, 8), "C0 F5 18 00 00 00 00 00");
    EXPECT_EQ(m.AscendingTime(), -86400.0);

    m.AscendingTime(TAI93Origin + 1.0).DescendingTime(TAI93Origin + 0.5);
    EXPECT_EQ(HexBytes(m.DataPtr() + 8, 16), "40 F5 18 00 00 00 00 00 40 E5 18 00 00 00 00 00");
    EXPECT_EQ(m.AscendingTime(), TAI93Origin + 1.0);
    EXPECT_EQ(m.AscendingTimeTAI(), 86400.0);
    EXPECT_EQ(m.DescendingTime(), TAI93Origin + 0.5);
}

TEST(EphemerisMetadata, PrintedForm)
{
    ephemerismetadata m;
    m.OrbitNo(7).AscendingTime(-5.0).DescendingTime(TAI93Origin + 0.5).DescendingLongitude(1.5);
    std::ostringstream os;
    os.precision(12);
    os << m;
    EXPECT_EQ(os.str(), "\nOrbit number   = 7"
                        "\nAsc. Node time = -999.99999999"
                        "\nDesc Node Time = 2448989.00031"
                        "\nDesc Longitude = 1.5\n");
}

TEST(RecordsDeathTest, ThreeValueSettersRejectOtherSizes)
{
    attituderecord a;
    ephemerisrecord e;
    EXPECT_DEATH(a.EulerAngles({1, 2}),
                 "vn_class_attituderecord.*attituderecord& attituderecord::EulerAngles\\(const carray&\\)"
                 ".*angles.size\\(\\)==3");
    EXPECT_DEATH(a.AngleVelocities({1, 2, 3, 4}),
                 "vn_class_attituderecord.*attituderecord& attituderecord::AngleVelocities\\(const carray&\\)"
                 ".*avel.size\\(\\)==3");
    EXPECT_DEATH(e.Position({}),
                 "vn_class_ephemerisrecord.*ephemerisrecord& ephemerisrecord::Position\\(const carray&\\)"
                 ".*pos.size\\(\\)==3");
    EXPECT_DEATH(e.Velocity({1}),
                 "vn_class_ephemerisrecord.*ephemerisrecord& ephemerisrecord::Velocity\\(const carray&\\)"
                 ".*vel.size\\(\\)==3");
}
