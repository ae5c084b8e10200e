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
        common.SpacecraftID("PELK").Source("STATION").Version("V1").Interval(1.0f);
        common.TimeRange(TAI93Origin, TAI93Origin + 1.0);
        ephemeris.RefFrame("J2000").EpochTimeTAI(-1.0);
        attitude.AngleOrder(3, 1, 2);
    }
};
} // namespace

TEST(AttitudeFile, HeadersOnlyMakeA512ByteFileAndLocksAreReleased)
{
    const std::string path = FreshTestDir() + "/att.dat";
    Headers h;
    {
        attitudefile f(path, h.common, h.attitude);
        EXPECT_FALSE(f.fail());
        EXPECT_EQ(f.GetFileType(), "attitude");
        EXPECT_EQ(f.GetFileName(), path);
        EXPECT_EQ(h.common.getlock(), 1);
        EXPECT_EQ(h.attitude.getlock(), 1);
    }
    EXPECT_EQ(h.common.getlock(), 0);
    EXPECT_EQ(h.attitude.getlock(), 0);
    const std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 512u);
    EXPECT_EQ(bytes.substr(0, 4), "PELK");
    EXPECT_EQ(HexBytes(bytes, 128, 4), "3F 80 00 00");
    EXPECT_EQ(HexBytes(bytes, 140, 12), "00 00 00 03 00 00 00 01 00 00 00 02");
    EXPECT_EQ(bytes.substr(152), std::string(360, '\0'));
}

TEST(EphemerisFile, RecordsThenMetadataAndFinalHeaders)
{
    const std::string dir = FreshTestDir();
    Headers h;
    {
        ephemerisfile f(dir + "/eph.dat", h.common, h.ephemeris);
        EXPECT_EQ(f.GetFileType(), "ephemeris");
        ephemerisrecord r;
        for (unsigned k = 0; k < 3; ++k) f.write(r.time(TAI93Origin + k).QaFlag(k));
        ephemerismetadata m;
        f.write(m.OrbitNo(1000)).write(m.OrbitNo(1001));
        EXPECT_FALSE(f.fail());
        // Known only now, after the records: reaches the file through the
        // rewrite of the headers.
        h.common.NoRecords(3);
        h.ephemeris.Orbits(1000, 1001, 2).KeplerElements({1, 2, 3, 4, 5, 6});
    }
    h.common.NoRecords(99);   // too late: the writer is gone
    const std::string bytes = ReadFile(dir + "/eph.dat");
    ASSERT_EQ(bytes.size(), 512u + 64 * 3 + 32 * 2);
    EXPECT_EQ(HexBytes(bytes, 136, 4), "00 00 00 03");
    EXPECT_EQ(HexBytes(bytes, 140, 12), "00 00 00 02 00 00 03 E8 00 00 03 E9");
    EXPECT_EQ(HexBytes(bytes, 160, 8), "3F F0 00 00 00 00 00 00");
    EXPECT_EQ(HexBytes(bytes, 208, 8), "C0 8F 3F FF FF 79 C8 43");
    EXPECT_EQ(HexBytes(bytes, 512 + 64 * 2, 8), "41 05 18 00 00 00 00 00");   // 172800 s
    EXPECT_EQ(HexBytes(bytes, 512 + 64 * 2 + 56, 4), "00 00 00 02");
    EXPECT_EQ(HexBytes(bytes, 512 + 64 * 3, 4), "00 00 03 E8");
    EXPECT_EQ(HexBytes(bytes, 512 + 64 * 3 + 32, 4), "00 00 03 E9");
}

TEST(ProductFiles, CommonHeaderIsTheSameInBothFilesAndLocksCount)
{
    const std::string dir = FreshTestDir();
    Headers h;
    {
        ephemerisfile e(dir + "/eph.dat", h.common, h.ephemeris);
        attitudefile a(dir + "/att.dat", h.common, h.attitude);
        EXPECT_EQ(h.common.getlock(), 2);
        attituderecord ar;
        ephemerisrecord er;
        for (int k = 0; k < 5; ++k) {
            a.write(ar);
            e.write(er);
        }
        h.common.NoRecords(5);
    }
    EXPECT_EQ(h.common.getlock(), 0);
    const std::string eph = ReadFile(dir + "/eph.dat"), att = ReadFile(dir + "/att.dat");
    EXPECT_EQ(eph.size(), 512u + 5 * 64);
    EXPECT_EQ(att.size(), 512u + 5 * 64);
    EXPECT_EQ(eph.substr(0, 140), att.substr(0, 140));
    EXPECT_EQ(eph.substr(0, 140), std::string(h.common.DataPtr(), 140));
}

TEST(ProductFiles, CloseRewritesHeadersAndAnExistingFileIsTruncated)
{
    const std::string path = FreshTestDir() + "/att.dat";
    WriteFile(path, std::string(4000, 'x'));
    Headers h;
    {
        attitudefile f(path, h.common, h.attitude);
        f.write(attituderecord());
        h.common.Version("V2");
        f.close();
        f.flush();
        const std::string mid = ReadFile(path);
        ASSERT_EQ(mid.size(), 576u);
        EXPECT_EQ(mid.substr(104, 2), "V2");
        EXPECT_EQ(f.tellp(), 512);
    }
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.size(), 576u);
    EXPECT_EQ(bytes.find('x'), std::string::npos);
}

TEST(ProductFiles, OpenFailureShowsInStreamStateOnly)
{
    Headers h;
    {
        ephemerisfile f(FreshTestDir() + "/missing/eph.dat", h.common, h.ephemeris);
        EXPECT_TRUE(f.fail());
        f.write(ephemerisrecord());
    }
    EXPECT_EQ(h.common.getlock(), 0);
    EXPECT_EQ(h.ephemeris.getlock(), 0);
}

TEST(ProductFiles, WriteFailureStaysVisibleAfterFlushAndClose)
{
    Headers h;
    ephemerisfile e("/dev/full", h.common, h.ephemeris);
    attitudefile a("/dev/full", h.common, h.attitude);
    ASSERT_FALSE(e.fail());
    ephemerisrecord er;
    e.write(er);
    a.write(attituderecord());
    e.flush();
    a.flush();
    EXPECT_TRUE(e.fail());
    EXPECT_TRUE(a.fail());
    e.close();
    e.flush();
    EXPECT_TRUE(e.fail());
}
