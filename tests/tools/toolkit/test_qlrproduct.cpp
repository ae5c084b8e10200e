// The tools' product reader against trokproc's own writers: every field the
// writers encode is decoded back where the reader looks for it.
#include <gtest/gtest.h>

#include <string>

#include "run_program.h"
#include "toolkit/products/qlrproduct.h"
#include "vn_class_attitudefile.h"
#include "vn_class_ephemerisfile.h"

using namespace toolkit;

namespace {

const double TAI93Origin = 2448988.5003125;   // TAI93 zero as a TAI Julian day

// A day later than TAI93 zero by `seconds`.
double Day(double seconds) { return TAI93Origin + seconds / 86400.0; }

Product Read(const std::string& path)
{
    Product p;
    std::string error;
    EXPECT_TRUE(ReadProduct(path, ProductKind::Unknown, p, error)) << error;
    return p;
}

} // namespace

TEST(QlrProduct, ReadsBackEveryFieldTheWritersEncode)
{
    const std::string dir = FreshTestDir();
    commonQLRheader common;
    ephemerissubheader ephHeader;
    attitudesubheader attHeader;
    common.SpacecraftID("QORAL6").Source("MERV ground").Version("v1.9").TimeRange(Day(86400), Day(86401));
    common.Interval(0.5f);
    ephHeader.RefFrame("J2000").EpochTimeTAI(4321.25);
    attHeader.AngleOrder(2, 3, 1);
    {
        ephemerisfile eph(dir + "/p.eph", common, ephHeader);
        attitudefile att(dir + "/p.att", common, attHeader);
        ephemerisrecord e;
        attituderecord a;
        eph.write(e.time(Day(86400)).Position({1.5, -2.5, 3.5}).Velocity({-4.5, 5.5, -6.5}).QaFlag(0x120));
        att.write(a.Time(Day(86400)).EulerAngles({0.25, -0.5, 0.75}).AngleVelocities({-1, 2, -3}).QaFlag(0x120));
        eph.write(e.time(Day(86401)).QaFlag(0x40));
        att.write(a.Time(Day(86401)).QaFlag(0x40));
        ephemerismetadata m;
        eph.write(m.OrbitNo(7001).AscendingTime(Day(86300)).DescendingTime(Day(89300)).DescendingLongitude(-2.75));
        eph.write(m.OrbitNo(7002).AscendingTime(-1.0));
        common.NoRecords(2);
        ephHeader.Orbits(7001, 7002, 2).KeplerElements({7000e3, 0.001, 1.7, 0.1, 0.2, 0.3});
    }

    const Product e = Read(dir + "/p.eph");
    const Product a = Read(dir + "/p.att");
    ASSERT_EQ(e.kind, ProductKind::Ephemeris);
    ASSERT_EQ(a.kind, ProductKind::Attitude);
    EXPECT_TRUE(e.problems.empty() && a.problems.empty());
    EXPECT_EQ(e.fileSize, 512u + 2 * 64 + 2 * 32);
    EXPECT_EQ(a.fileSize, 512u + 2 * 64);

    const CommonHeader& h = e.header;
    EXPECT_EQ(h.spacecraftId, std::string("QORAL6") + std::string(18, '\0'));
    EXPECT_EQ(h.source, std::string("MERV ground") + std::string(21, '\0'));
    EXPECT_EQ(h.version, std::string("v1.9") + std::string(4, '\0'));
    EXPECT_EQ(h.timeRange.substr(0, 25), std::string("1993-01-01T23:59:59Z to \0", 25));
    EXPECT_NEAR(h.startTai93, 86400.0, 1e-4);
    EXPECT_NEAR(h.stopTai93, 86401.0, 1e-4);
    EXPECT_EQ(h.interval, 0.5f);
    EXPECT_EQ(h.noURefs, 0u);
    EXPECT_EQ(h.noRecords, 2u);
    EXPECT_EQ(e.commonBytes, a.commonBytes);

    EXPECT_EQ(e.eph.orbitCount, 2u);
    EXPECT_EQ(e.eph.firstOrbit, 7001u);
    EXPECT_EQ(e.eph.lastOrbit, 7002u);
    EXPECT_EQ(e.eph.refFrame, std::string("J2000\0\0\0", 8));
    const double kepler[6] = {7000e3, 0.001, 1.7, 0.1, 0.2, 0.3};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(e.eph.kepler[i], kepler[i]) << i;
    EXPECT_EQ(e.eph.epochTai93, 4321.25);
    EXPECT_EQ(a.att.angleOrder[0] * 100 + a.att.angleOrder[1] * 10 + a.att.angleOrder[2], 231u);

    ASSERT_EQ(e.records.size(), 2u);
    ASSERT_EQ(a.records.size(), 2u);
    const double ephValues[6] = {1.5, -2.5, 3.5, -4.5, 5.5, -6.5};
    const double attValues[6] = {0.25, -0.5, 0.75, -1, 2, -3};
    for (int j = 0; j < 6; ++j) {
        EXPECT_EQ(e.records[0].v[j], ephValues[j]) << j;
        EXPECT_EQ(a.records[0].v[j], attValues[j]) << j;
    }
    EXPECT_NEAR(e.records[1].tai93, 86401.0, 1e-4);
    EXPECT_EQ(e.records[1].tai93, a.records[1].tai93);
    EXPECT_EQ(e.records[0].flags, 0x120u);
    EXPECT_EQ(a.records[1].flags, 0x40u);

    ASSERT_EQ(e.orbits.size(), 2u);
    EXPECT_EQ(e.orbits[0].orbitNo, 7001u);
    EXPECT_NEAR(e.orbits[0].ascendingTai93, 86300.0, 1e-4);
    EXPECT_NEAR(e.orbits[0].descendingTai93, 89300.0, 1e-4);
    EXPECT_EQ(e.orbits[0].descendingLongitude, -2.75);
    EXPECT_EQ(e.orbits[1].orbitNo, 7002u);
    EXPECT_EQ(e.orbits[1].ascendingTai93, -999.99999999);
}
