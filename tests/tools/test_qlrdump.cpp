#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "hex_bytes.h"
#include "run_program.h"
#include "toolkit/time/isotime.h"
#include "vn_class_attitudefile.h"
#include "vn_class_commonQLRheader.h"
#include "vn_class_ephemerisfile.h"
#include "vn_class_quality_flags.h"
#include "vn_proc_FormatConvert.h"

using namespace toolkit;

namespace {

const std::string kQlrdump = QLRDUMP_PATH;

// TAI93 zero as the writers' Julian day constant. A Julian day of kC plus a
// multiple of 1/128 day is exact, and so is its conversion: every time below
// is stored as exactly 86400 + 675 k seconds.
const double kC = 2448988.5003125;
const int kSteps[5] = {0, 1, 2, 4, 5};
const uint32_t kFlags[5] = {0, quality_flags::sgf, quality_flags::rep,
                             quality_flags::sgb | quality_flags::lgf, quality_flags::lgb};

double RecordJD(int i) { return kC + 1.0 + kSteps[i] / 128.0; }

// Writes a five-record ephemeris file with two orbits and its attitude file
// through the product writers.
void WritePair(const std::string& eph, const std::string& att)
{
    commonQLRheader common;
    ephemerissubheader ephHeader;
    attitudesubheader attHeader;
    common.SpacecraftID("QORAL6").Source("MERV").Version("1.0");
    common.TimeRange(RecordJD(0), RecordJD(4)).Interval(1.0f);
    ephHeader.RefFrame("J2000").EpochTimeTAI(86400.0);
    attHeader.AngleOrder(3, 1, 2);
    {
        ephemerisfile efile(eph, common, ephHeader);
        attitudefile afile(att, common, attHeader);
        ephemerisrecord er;
        attituderecord ar;
        for (int i = 0; i < 5; ++i) {
            er.time(RecordJD(i)).Position({7000000.125 + i, -1234.5, 0.25 * i});
            er.Velocity({1.5, -7500.0, 2.0 * i}).QaFlag(kFlags[i]);
            ar.Time(RecordJD(i)).EulerAngles({1e-3, -2e-3 * i, 3e-3});
            ar.AngleVelocities({-1.0595e-3, 2e-6, 0.0}).QaFlag(kFlags[i]);
            efile.write(er);
            afile.write(ar);
        }
        ephemerismetadata meta;
        meta.OrbitNo(10000).AscendingTime(-999.99999999).DescendingTime(RecordJD(1));
        efile.write(meta.DescendingLongitude(-0.5));
        meta.OrbitNo(10001).AscendingTime(RecordJD(2)).DescendingTime(RecordJD(4));
        efile.write(meta.DescendingLongitude(1.0));
        common.NoRecords(5);
        ephHeader.Orbits(10000, 10001, 1);
        ephHeader.KeplerElements({7078137.0, 0.0012, 1.7139133254584316, 2.0943951023931953,
                                  1.5707963267948966, 0.5});
    }
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) parts.push_back(part);
    return parts;
}

// The lines of `text` from the one equal to `first` up to the next empty line.
std::vector<std::string> Section(const std::string& text, const std::string& first)
{
    std::vector<std::string> out;
    bool in = false;
    for (const std::string& line : Split(text, '\n')) {
        if (line == first) in = true;
        if (in && line.empty()) break;
        if (in) out.push_back(line);
    }
    return out;
}

class QlrDump : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = FreshTestDir();
        eph = dir + "/p.eph";
        att = dir + "/p.att";
        WritePair(eph, att);
        // A leap-second table of our own (1972, 1992-07-01; valid to 2100),
        // so that civil UTC does not depend on the machine's tzdata.
        WriteFile(dir + "/leap-seconds.list",
                  "#@\t6311433600\n2272060800\t10\n2918937600\t27\n");
        setenv("TROK_LEAPSECONDS", (dir + "/leap-seconds.list").c_str(), 1);
    }
    void TearDown() override { UseTestLeapSeconds(); }
    ProgramResult Run(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{kQlrdump};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv, dir);
    }
    // Rewrites `n` bytes of a file at `offset`.
    void Patch(const std::string& path, size_t offset, const std::string& bytes)
    {
        std::string b = ReadFile(path);
        b.replace(offset, bytes.size(), bytes);
        WriteFile(path, b);
    }
    std::string U32(uint32_t v)
    {
        return EncodedBytes<4>([](uint32_t x, char* b) { FormatConvert_long4(x, b); }, v);
    }
    std::string F64(double v)
    {
        return EncodedBytes<8>([](double x, char* b) { FormatConvert_float8(x, b); }, v);
    }
    std::string dir, eph, att;
};

} // namespace

TEST(IsoTime, TaiAndUtcTextOfTai93Seconds)
{
    // TAI93 zero is 1993-01-01 00:00:27 TAI, and 1992-12-31 23:59:59.57 UTC
    // under the smooth offset model (27.43 s at that date).
    EXPECT_EQ(IsoTaiFromTai93(0.0, 3), "1993-01-01T00:00:27.000");
    EXPECT_EQ(IsoUtcFromTai93(0.0, 2), "1992-12-31T23:59:59.57");
    EXPECT_EQ(IsoTaiFromTai93(-27.0, 0), "1993-01-01T00:00:00");
    // Rounding carries through the minute, hour, day and year.
    EXPECT_EQ(IsoTaiFromTai93(86372.9996, 3), "1993-01-02T00:00:00.000");
    EXPECT_EQ(IsoTaiFromTai93(-27.0004, 3), "1993-01-01T00:00:00.000");
    EXPECT_EQ(IsoTaiFromTai93(-27.4, 0), "1993-01-01T00:00:00");
    EXPECT_EQ(IsoTaiFromTai93(-28.0, 0), "1992-12-31T23:59:59");
    // 2000-01-01 00:00:00 TAI: 2556 days after 1993-01-01 (1996 a leap year).
    EXPECT_EQ(IsoTaiFromTai93(2556.0 * 86400 - 27, 0), "2000-01-01T00:00:00");
    EXPECT_EQ(IsoTaiFromTai93(std::nan(""), 3), "(no date)");
    EXPECT_EQ(IsoTaiFromTai93(-2.1168e11, 3), "(no date)");

    CalendarTime t;
    ASSERT_TRUE(ParseIsoTime("2000-02-29T12:30:15.25Z", t));
    EXPECT_EQ(t.year * 10000 + t.month * 100 + t.day, 20000229);
    EXPECT_EQ(t.hour * 100 + t.minute, 1230);
    EXPECT_DOUBLE_EQ(t.second, 15.25);
    for (const char* bad : {"1999-02-29", "2026-13-01", "2026-01-01T24:00", "2026-1-01",
                            "2026-01-01T10:00:61", "2026-01-01X", "1957-12-31", ""})
        EXPECT_FALSE(ParseIsoTime(bad, t)) << bad;
    // 1972-01-01 00:00 UTC in TAI seconds since 1958: 5113 days plus the
    // model's 11.81 s offset at that date.
    ASSERT_TRUE(ParseIsoTime("1972-01-01", t));
    EXPECT_NEAR(Tai58FromUtc(t), 5113.0 * 86400 + 11.81, 0.01);
}

TEST_F(QlrDump, ShowsHeadersRecordsAndOrbitsOfAnEphemerisFile)
{
    const ProgramResult r = Run({"p.eph"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("kind          ephemeris\n"), std::string::npos);
    EXPECT_NE(r.out.find("size          896 bytes: 512 header bytes, 5 records of 64 bytes, "
                         "2 orbit records of 32 bytes"),
              std::string::npos);
    EXPECT_NE(r.out.find("SpacecraftID  \"QORAL6\"\n"), std::string::npos);
    // The writer's UTC range text, its zero bytes shown.
    EXPECT_NE(r.out.find("TimeRange     \"1993-01-01T23:59:59Z to \\0"
                         "1993-01-02T00:56:14Z \""),
              std::string::npos)
        << r.out;
    // Civil UTC: TAI-UTC was 27 s from 1992-07-01 to 1993-07-01.
    EXPECT_NE(r.out.find("StartTime     86400.000000 s TAI93 = 1993-01-02T00:00:27.000 TAI = "
                         "1993-01-02T00:00:00.000 UTC\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("1993-01-02T00:56:14Z \" (UTC of the product's own TAI-UTC model)\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("NoRecords     5\n"), std::string::npos);
    EXPECT_NE(r.out.find("Orbits        first 10000, last 10001, count 1\n"), std::string::npos);
    EXPECT_NE(r.out.find("RefFrame      \"J2000\"\n"), std::string::npos);
    EXPECT_NE(r.out.find("a = 7078137.000 m, e = 0.0012000, i = 98.2000 deg, node = 120.0000 deg"),
              std::string::npos);

    const std::vector<std::string> rec = Section(r.out, "[records]");
    ASSERT_EQ(rec.size(), 7u);
    EXPECT_EQ(rec[1], "tai93_s,tai,x_m,y_m,z_m,vx_m_s,vy_m_s,vz_m_s,flags,flag_names");
    EXPECT_EQ(rec[2], "86400.000000,1993-01-02T00:00:27.000000,7000000.125,-1234.500,0.000,"
                      "1.500000,-7500.000000,0.000000,0,");
    EXPECT_EQ(rec[3].substr(0, 40), "87075.000000,1993-01-02T00:11:42.000000,");
    EXPECT_EQ(Split(rec[3], ',').back(), "sgf");
    EXPECT_EQ(Split(rec[4], ',').back(), "rep");
    EXPECT_EQ(rec[5].substr(0, 40), "89100.000000,1993-01-02T00:45:27.000000,");
    EXPECT_EQ(Split(rec[5], ',')[8], "640");
    EXPECT_EQ(Split(rec[5], ',')[9], "sgb|lgf");
    EXPECT_EQ(Split(rec[6], ',')[9], "lgb");

    const std::vector<std::string> orb = Section(r.out, "[orbits]");
    ASSERT_EQ(orb.size(), 4u);
    // No ascending crossing in these records: no node offsets.
    EXPECT_EQ(orb[2], "10000,-1000.000000,none,87075.000000,1993-01-02T00:11:15.000 UTC,-28.6479,")
        << "the ascending sentinel is shown as none";
    EXPECT_EQ(orb[3], "10001,87750.000000,1993-01-02T00:22:30.000 UTC,89775.000000,"
                      "1993-01-02T00:56:15.000 UTC,57.2958,");
}

TEST_F(QlrDump, AttitudeFileKindSectionsAndSummary)
{
    ProgramResult r = Run({"--records", "p.att"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> rows = Split(r.out, '\n');
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], "tai93_s,tai,angle_axis3,angle_axis1,angle_axis2,rate1,rate2,rate3,flags,"
                       "flag_names");
    const std::vector<std::string> f = Split(rows[2], ',');
    EXPECT_DOUBLE_EQ(std::stod(f[3]), -2e-3);
    EXPECT_DOUBLE_EQ(std::stod(f[5]), -1.0595e-3);
    EXPECT_EQ(f[9], "sgf");

    // The attitude file read as an ephemeris file, on request.
    r = Run({"--kind", "eph", "--header", "p.att"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("kind          ephemeris"), std::string::npos);

    r = Run({"--summary", "p.eph", "p.att"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("records          5, 1993-01-02T00:00:00.000 to 1993-01-02T00:56:15.000 UTC"),
              std::string::npos);
    EXPECT_NE(r.out.find("repaired points  1 (interpolated in 1 small gaps)"), std::string::npos);
    EXPECT_NE(r.out.find("large gaps       1 (675.0 s without data)"), std::string::npos);
    EXPECT_NE(r.out.find("orbits           2 (header: first 10000, last 10001)"), std::string::npos);
    EXPECT_NE(r.out.find("  10001  1993-01-02T00:22:30.000 UTC"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pair check       passed"), std::string::npos);
}

TEST_F(QlrDump, CheckPassesOnASoundPairAndNamesEachFault)
{
    ProgramResult r = Run({"--check", "p.eph", "p.att"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "qlrdump: check passed: 5 records, 2 orbits\n");

    const std::string goodEph = ReadFile(eph), goodAtt = ReadFile(att);
    struct Fault {
        const char* what;
        std::string file;
        size_t offset;
        std::string bytes;
        const char* reason;
    };
    const Fault faults[] = {
        {"time going back", att, 512 + 64 * 3, F64(87000.0), "attitude record 3 has time 87000"},
        {"same time twice", eph, 512 + 64 * 1, F64(86400.0), "ephemeris record 1 has time 86400"},
        {"flags differ", att, 512 + 64 * 2 + 56, U32(0), "record 2 has flags 32 in the ephemeris"},
        {"times differ", att, 512 + 64 * 4, F64(89100.5),
         "record 4 has time 89775.000000 s in the ephemeris file but 89100.500000"},
        {"header differs", att, 72, "KIRU", "common headers of the two files differ (Source)"},
        {"record count", eph, 136, U32(9), "NoRecords is 9 but the file holds 896 bytes"},
        {"unknown flag", eph, 512 + 56, U32(0x1), "unknown flag bits (bit0)"},
        {"start time", eph, 112, F64(86401.0), "StartTime 86401.000000 s is not the first"},
    };
    for (const Fault& f : faults) {
        Patch(f.file, f.offset, f.bytes);
        r = Run({"--check", "p.eph", "p.att"});
        EXPECT_EQ(r.status, 1) << f.what;
        EXPECT_NE(r.err.find(std::string("qlrdump: check failed: ")), std::string::npos) << f.what;
        EXPECT_NE(r.err.find(f.reason), std::string::npos) << f.what << ": " << r.err;
        WriteFile(eph, goodEph);
        WriteFile(att, goodAtt);
    }

    // Sizes: an attitude file cut by a record, metadata that are not whole
    // records, and the two files given the wrong way round.
    WriteFile(att, goodAtt.substr(0, goodAtt.size() - 64));
    r = Run({"--check", "p.eph", "p.att"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("attitude file: NoRecords is 5 but the file holds 768 bytes, room for 4"),
              std::string::npos);
    WriteFile(att, goodAtt);
    WriteFile(eph, goodEph + "12345");
    r = Run({"--check", "p.eph", "p.att"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the 69 bytes after the 5 records of NoRecords are not whole"),
              std::string::npos);
    WriteFile(eph, goodEph);
    r = Run({"--check", "p.att", "p.eph"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\"p.att\" is an attitude file, not an ephemeris file"), std::string::npos);
}

TEST_F(QlrDump, DamagedOrForeignInputIsRefusedWithStatus255)
{
    const std::string good = ReadFile(eph);
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;
    };
    // Seeded garbage: a byte pattern that is no header.
    std::string garbage(4096, '\0');
    uint32_t x = 12345;
    for (char& c : garbage) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(0x80 | (x >> 24));
    }
    std::string huge = good;
    huge.replace(136, 4, U32(0xFFFFFFFFu));
    const Case cases[] = {
        {"header cut", good.substr(0, 300), "holds 300 bytes, fewer than the 512"},
        {"empty", "", "holds 0 bytes"},
        {"records cut", good.substr(0, 700), "NoRecords is 5 but the file holds 700 bytes"},
        {"garbage", garbage, "is neither an ephemeris file"},
        {"absurd record count", huge, "NoRecords is 4294967295"},
    };
    for (const Case& c : cases) {
        WriteFile(eph, c.bytes);
        for (const char* mode : {"--header", "--oem", "--summary"}) {
            const ProgramResult r = Run({mode, "p.eph"});
            EXPECT_EQ(r.status, 255) << c.what << " " << mode;
            EXPECT_EQ(r.signal, 0) << c.what << " " << mode;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
        }
    }
    ProgramResult r = Run({"no-such-file"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "qlrdump: cannot read \"no-such-file\": No such file or directory\n");
    r = Run({"--oem", "p.att"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "qlrdump: \"p.att\" is an attitude file, not an ephemeris file\n");
    r = Run({"--check", "p.att"});
    EXPECT_EQ(r.status, 255);
    r = Run({"--frobnicate", "p.att"});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("unknown option --frobnicate"), std::string::npos);
}

TEST_F(QlrDump, OemExportInKilometresWithTaiEpochs)
{
    const ProgramResult r = Run({"--oem", "p.eph", "--out", "p.oem", "--object-id", "2026-999A"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Split(ReadFile(dir + "/p.oem"), '\n');
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "CCSDS_OEM_VERS = 2.0");
    // Record 3 is followed by a large gap: two segments, the second of one
    // point, so of interpolation degree 0.
    const std::string text = ReadFile(dir + "/p.oem");
    const std::vector<std::string> meta = Section(text, "META_START");
    const std::vector<std::string> expected = {
        "META_START",
        "COMMENT Segment 1 of 2: records 0 to 3",
        "OBJECT_NAME = QORAL6",
        "OBJECT_ID = 2026-999A",
        "CENTER_NAME = EARTH",
        "REF_FRAME = EME2000",
        "TIME_SYSTEM = TAI",
        "START_TIME = 1993-01-02T00:00:27.000000",
        "STOP_TIME = 1993-01-02T00:45:27.000000",
        "INTERPOLATION = LAGRANGE",
        "INTERPOLATION_DEGREE = 3",
        "META_STOP"};
    EXPECT_EQ(meta, expected);
    const std::vector<std::string> second =
        Section(text.substr(text.find("META_START", text.find("META_STOP"))), "META_START");
    ASSERT_EQ(second.size(), 12u);
    EXPECT_EQ(second[1], "COMMENT Segment 2 of 2: records 4 to 4");
    EXPECT_EQ(second[7], "START_TIME = 1993-01-02T00:56:42.000000");
    EXPECT_EQ(second[8], "STOP_TIME = 1993-01-02T00:56:42.000000");
    EXPECT_EQ(second[10], "INTERPOLATION_DEGREE = 0");
    std::vector<std::string> data;
    for (const std::string& l : lines)
        if (l.size() > 4 && l.compare(0, 4, "1993") == 0) data.push_back(l);
    ASSERT_EQ(data.size(), 5u);
    EXPECT_EQ(data[0], "1993-01-02T00:00:27.000000 7000.000125 -1.234500 0.000000 0.001500000 "
                       "-7.500000000 0.000000000");
    EXPECT_EQ(data[4].substr(0, 27), "1993-01-02T00:56:42.000000 ");
}

TEST_F(QlrDump, CivilUtcWarnsOfAnExpiredOrMissingLeapSecondTable)
{
    // A table that ends in 2020 still gives 1993's offset, with a warning;
    // without a table the product's own UTC model stands in.
    WriteFile(dir + "/leap.list", "#@\t3786825600\n2272060800\t10\n2918937600\t27\n");
    setenv("TROK_LEAPSECONDS", (dir + "/leap.list").c_str(), 1);
    ProgramResult r = Run({"--summary", "p.eph"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("records          5, 1993-01-02T00:00:00.000 to"), std::string::npos);
    EXPECT_NE(r.err.find("qlrdump: warning: leap-second table"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("expired on 2020-01-01"), std::string::npos) << r.err;
    setenv("TROK_LEAPSECONDS", (dir + "/no-such.list").c_str(), 1);
    r = Run({"--header", "p.eph"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("TAI = 1993-01-01T23:59:59.568 UTC\n"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("cannot be read"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one warning: " << r.err;
}
