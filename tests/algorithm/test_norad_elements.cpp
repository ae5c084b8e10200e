#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "run_program.h"
#include "vn_class_noradfile.h"

namespace {

// Published element set of the space station (check digits 7 and 7).
const std::string kIss1 = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
const std::string kIss2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
// A sun-synchronous satellite.
const std::string kSun1 = "1 28654U 05018A   23045.74462234  .00000137  00000-0  96518-4 0  9999";
const std::string kSun2 = "2 28654  98.9954 105.4213 0013862 313.2542  46.7483 14.13124731918598";
// A low, fast-decaying object: large drag, non-zero second derivative.
const std::string kDrag1 = "1 48275U 21035A   23045.12345678  .01234567  12345-5  28098-4 0  9996";
const std::string kDrag2 = "2 48275  41.4663 193.6214 0001859 285.7166 137.1234 16.22441350 98877";

const double kPi = 3.141592653589793;

std::string Line1WithDrag(double drag)
{
    std::vector<double> v(13, 0.0);
    v[6] = drag;
    std::string l1, l2;
    noradelements(v).Get(l1, l2);
    return l1;
}

}  // namespace

TEST(NoradElements, CheckDigits)
{
    EXPECT_EQ(CheckSum(kIss1.c_str()), '7');
    EXPECT_EQ(CheckSum(kIss2.c_str()), '7');
    // Digits 1..9 once (45) and two minus signs (2); letters, '.', '+' count 0;
    // nothing past column 68 counts.
    std::string line = "ABC 1 2 3 . + 4 5 6 - x 7 8 9 - Z";
    line.resize(68, '.');
    EXPECT_EQ(CheckSum((line + "99").c_str()), '7');
    EXPECT_EQ(CheckSum("123"), '6');  // short text stops at its end

    // operator! gives the validity itself.
    EXPECT_TRUE(!noradelements(kIss1, kIss2));
    EXPECT_FALSE(!noradelements(kIss1.substr(0, 68) + "8", kIss2));
    EXPECT_FALSE(!noradelements(kIss1, kIss2.substr(0, 68)));
}

TEST(NoradElements, ParsedValuesInWorkingUnits)
{
    const std::vector<double> v = noradelements(kIss1, kIss2).Get();
    ASSERT_EQ(v.size(), 13u);
    EXPECT_NEAR(2 * kPi / v[0], 1440 / 15.72125391, 1e-9);  // minutes per revolution
    EXPECT_DOUBLE_EQ(v[1], 0.0006703);
    EXPECT_NEAR(v[2], 0.9013160, 1e-7);                // 51.6416 deg
    EXPECT_DOUBLE_EQ(v[6], -1.1606e-5);
    EXPECT_NEAR(v[7], -6.6116466e-11, 1e-17);          // rev/day^2 -> rad/min^2
    EXPECT_EQ(v[10], 8.0);
    EXPECT_DOUBLE_EQ(v[11], 264.51782528);
    EXPECT_EQ(v[12], 56353.0);
    const std::vector<double> d = noradelements(kDrag1, kDrag2).Get();
    EXPECT_NEAR(d[8], 2.5976671e-15, 1e-21);           // .12345e-5 rev/day^3
    EXPECT_EQ(d[12], 9887.0);
}

TEST(NoradElements, ShortLinesKeepUnsuppliedFieldsAndFailTheCheck)
{
    noradelements e(kIss1, kIss2);
    const std::vector<double> before = e.Get();
    e.Set("1 12345U", "2 12345  10.0000");
    const std::vector<double> v = e.Get();
    EXPECT_FALSE(!e);
    EXPECT_EQ(v[9], 12345.0);
    EXPECT_NEAR(v[2], 10.0 * kPi / 180, 1e-15);
    for (int k : {0, 1, 3, 4, 5, 6, 7, 8, 10, 11, 12}) EXPECT_EQ(v[k], before[k]) << k;
    // A line ending inside the revolution number leaves it alone.
    e.Set(kIss1, kIss2.substr(0, 66));
    EXPECT_EQ(e.Get()[12], 56353.0);
    e.Set(std::string(), std::string());
    EXPECT_EQ(e.Get()[12], 56353.0);
}

TEST(NoradElements, FormatRoundTrip)
{
    // Dropped fields come back blank, signs are always written, truncation
    // can lower a last digit (.00000137 -> .00000136), check digits are new.
    struct Case { std::string in1, in2, out1, out2; };
    const Case cases[] = {
        {kIss1, kIss2,
         "1 25544           08264.51782528 -.00002182 +00000+0 -11606-4       3           ",
         "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537           "},
        {kDrag1, kDrag2,
         "1 48275           23045.12345678 +.01234566 +12345-5 +28098-4       7           ",
         "2 48275  41.4663 193.6214 0001859 285.7166 137.1234 16.22441350 98877           "},
    };
    for (const Case& c : cases) {
        std::string l1, l2;
        noradelements(c.in1, c.in2).Get(l1, l2);
        EXPECT_EQ(l1, c.out1);
        EXPECT_EQ(l2, c.out2);
    }
}

TEST(NoradElements, PackedDecimalFields)
{
    EXPECT_EQ(Line1WithDrag(0).substr(44, 17), "+00000+0 +00000+0");
    EXPECT_EQ(Line1WithDrag(0.28098e-4).substr(53, 8), "+28098-4");
    EXPECT_EQ(Line1WithDrag(-0.5).substr(53, 8), "-50000+0");
    // Exact powers of ten and values of 1 or more shift the line by a column.
    EXPECT_EQ(Line1WithDrag(1e-4).substr(53, 9), "+100000-4");
    EXPECT_EQ(Line1WithDrag(2.5).substr(53, 9), "+250000+0");
}

TEST(NoradElements, NonFiniteAndHugeValuesFormatSafely)
{
    const double inf = std::numeric_limits<double>::infinity();
    for (double x : {std::numeric_limits<double>::quiet_NaN(), inf, -inf, 1e300, -1e300}) {
        std::string l1, l2;
        noradelements(std::vector<double>(13, x)).Get(l1, l2);
        ASSERT_EQ(l1.size(), 80u);
        ASSERT_EQ(l2.size(), 80u);
        EXPECT_EQ(l2[68], CheckSum(l2.c_str()));
    }
}

namespace {

struct FileRead {
    noradelements elements;
    std::string out;
    bool good = false;
};

FileRead ReadSet(const std::string& contents, const std::string& name,
                 const noradelements& start = noradelements())
{
    const std::string path = FreshTestDir() + "/tle.txt";
    WriteFile(path, contents);
    FileRead r;
    r.elements = start;
    noradfile f(path, name);
    testing::internal::CaptureStdout();
    f.read(r.elements);
    r.out = testing::internal::GetCapturedStdout();
    r.good = f.good();
    return r;
}

const std::string kSetA = kIss1 + "\n" + kIss2 + "\n";
const std::string kSetB = kSun1 + "\n" + kSun2 + "\n";

}  // namespace

TEST(NoradFile, NameMatchRules)
{
    FileRead r = ReadSet("SATX\n" + kSetA + "XSAT\n" + kSetA + "SAT (X)\n" + kSetB, "SAT");
    EXPECT_EQ(r.elements.Get()[9], 28654.0);
    EXPECT_EQ(r.out, "SAT (X) MATCHED SAT 0\n" + kSun1 + kSun2 + "\n");
    EXPECT_TRUE(r.good);
    EXPECT_EQ(ReadSet("SAT\r\n" + kSetB, "SAT").elements.Get()[9], 28654.0);
    // The character after the name is taken at the name's length from the
    // start of the line: a blank in "XYZ SAT", an 'A' in "XYSAT".
    r = ReadSet("XYSAT\n" + kSetA + "XYZ SAT\n" + kSetB, "SAT");
    EXPECT_EQ(r.elements.Get()[9], 28654.0);
    EXPECT_EQ(r.out.substr(0, 22), "XYZ SAT MATCHED SAT 4\n");
}

TEST(NoradFile, BlankLinesAndDollarName)
{
    FileRead r = ReadSet("\n  \nSAT\n\n \t\n" + kIss1 + "\n\n" + kIss2 + "\n", "SAT");
    EXPECT_TRUE(!r.elements);
    EXPECT_EQ(r.elements.Get()[12], 56353.0);
    for (const std::string name : {"", " SAT"}) {
        r = ReadSet("SAT\n" + kSetA + "$$$$\n" + kSetB, name);
        EXPECT_EQ(r.out.substr(0, 20), "$$$$ MATCHED $$$$ 0\n");
        EXPECT_EQ(r.elements.Get()[9], 28654.0);
    }
}

TEST(NoradFile, MissingOrTruncatedSet)
{
    const noradelements start(kSun1, kSun2);
    FileRead r = ReadSet("SATX\n" + kSetA, "SAT", start);
    EXPECT_FALSE(r.good);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.elements.Get(), start.Get());
    // A name followed by one line only: line 1 is used, the check fails.
    r = ReadSet("SAT\n" + kIss1 + "\n", "SAT", start);
    EXPECT_FALSE(r.good);
    EXPECT_FALSE(!r.elements);
    EXPECT_EQ(r.elements.Get()[9], 25544.0);
    EXPECT_EQ(r.elements.Get()[2], start.Get()[2]);
}
