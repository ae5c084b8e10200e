#include <gtest/gtest.h>

#include <string>

#include "hex_bytes.h"
#include "run_program.h"
#include "vn_class_attitudefile.h"
#include "vn_class_ephemerisfile.h"

namespace {
const double TAI93Origin = 2448988.5003125;

struct Headers {
    commonQLRheader common;
    ephemerissubheader ephemeris;
    attitudesubheader attitude;
    Headers()
    {
        common.SpacecraftID("PELK").Interval(1.0f).TimeRange(TAI93Origin, TAI93Origin + 1.0);
        ephemeris.RefFrame("J2000").EpochTimeTAI(-1.0);
        attitude.AngleOrder(3, 1, 2);
    }
};
} // namespace

TEST(ProductFiles, LayoutOfBothFilesWithHeadersFinishedAfterTheRecords)
{
    const std::string dir = FreshTestDir();
    Headers h;
    {
        ephemerisfile e(dir + "/eph.dat", h.common, h.ephemeris);
        attitudefile a(dir + "/att.dat", h.common, h.attitude);
        attitudefile empty(dir + "/empty.dat", h.common, h.attitude);
        EXPECT_EQ(e.GetFileType() + " " + a.GetFileType() + " " + a.GetFileName(), "ephemeris attitude " + dir + "/att.dat");
        EXPECT_EQ(h.common.getlock(), 3);
        EXPECT_EQ(h.ephemeris.getlock(), 1);
        ephemerisrecord er;
        for (unsigned k = 0; k < 3; ++k) {
            e.write(er.time(TAI93Origin + k).QaFlag(k));
            a.write(attituderecord());
        }
        ephemerismetadata m;
        e.write(m.OrbitNo(1000)).write(m.OrbitNo(1001));
        EXPECT_FALSE(e.fail() || a.fail());
        h.common.NoRecords(3);
        h.ephemeris.Orbits(1000, 1001, 2).KeplerElements({1, 2, 3, 4, 5, 6});
    }
    EXPECT_EQ(h.common.getlock() + h.ephemeris.getlock() + h.attitude.getlock(), 0);
    h.common.NoRecords(99);   // too late: the writers are gone

    const std::string eph = ReadFile(dir + "/eph.dat"), att = ReadFile(dir + "/att.dat");
    ASSERT_EQ(eph.size(), 512u + 64 * 3 + 32 * 2);
    ASSERT_EQ(att.size(), 512u + 64 * 3);
    EXPECT_EQ(ReadFile(dir + "/empty.dat").size(), 512u);
    EXPECT_EQ(eph.substr(0, 140), att.substr(0, 140));
    EXPECT_EQ(eph.substr(0, 4), "PELK");
    EXPECT_EQ(HexBytes(eph, 128, 12), "3F 80 00 00 00 00 00 00 00 00 00 03");
    EXPECT_EQ(HexBytes(eph, 140, 12), "00 00 00 02 00 00 03 E8 00 00 03 E9");
    EXPECT_EQ(HexBytes(eph, 160, 8), "3F F0 00 00 00 00 00 00");
    EXPECT_EQ(HexBytes(eph, 208, 8), "C0 8F 3F FF FF 79 C8 43");
    EXPECT_EQ(HexBytes(att, 140, 12), "00 00 00 03 00 00 00 01 00 00 00 02");
    EXPECT_EQ(HexBytes(eph, 512 + 64 * 2, 8), "41 05 18 00 00 00 00 00");   // 172800 s
    EXPECT_EQ(HexBytes(eph, 512 + 64 * 2 + 56, 4), "00 00 00 02");
    EXPECT_EQ(HexBytes(eph, 512 + 64 * 3, 4), "00 00 03 E8");
    EXPECT_EQ(HexBytes(eph, 512 + 64 * 3 + 32, 4), "00 00 03 E9");
}

TEST(ProductFiles, CloseRewritesHeadersAndAnExistingFileIsTruncated)
{
    const std::string dir = FreshTestDir(), path = dir + "/att.dat";
    WriteFile(path, std::string(4000, 'x'));
    Headers h;
    {
        attitudefile f(path, h.common, h.attitude);
        f.write(attituderecord());
        h.common.Version("V2");
        f.close();
        f.flush();
        EXPECT_EQ(f.tellp(), 512);
        // Written under its temporary name until the writer goes.
        EXPECT_EQ(ReadFile(dir + "/" + f.File().TempName()).substr(104, 2), "V2");
        EXPECT_EQ(ReadFile(path), std::string(4000, 'x'));
    }
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.size(), 576u);
    EXPECT_EQ(bytes.find('x'), std::string::npos);
}

TEST(ProductFiles, OpenAndWriteFailuresStayInTheStreamState)
{
    Headers h;
    {
        ephemerisfile f(FreshTestDir() + "/missing/eph.dat", h.common, h.ephemeris);
        EXPECT_TRUE(f.fail());
        f.write(ephemerisrecord());
    }
    EXPECT_EQ(h.common.getlock() + h.ephemeris.getlock(), 0);

    ephemerisfile e("/dev/full", h.common, h.ephemeris);
    attitudefile a("/dev/full", h.common, h.attitude);
    ASSERT_FALSE(e.fail());
    e.write(ephemerisrecord()).flush();
    a.write(attituderecord()).flush();
    EXPECT_TRUE(e.fail());
    EXPECT_TRUE(a.fail());
    e.close();   // the rewrite leaves the failure in place
    EXPECT_TRUE(e.fail());
}
