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
// A sun-synchronous weather satellite.
const std::string kSun1 = "1 28654U 05018A   23045.74462234  .00000137  00000-0  96518-4 0  9999";
const std::string kSun2 = "2 28654  98.9954 105.4213 0013862 313.2542  46.7483 14.13124731918598";
// A low, fast-decaying object with a large drag term and second derivative.
const std::string kDrag1 = "1 48275U 21035A   23045.12345678  .01234567  12345-5  28098-4 0  9996";
const std::string kDrag2 = "2 48275  41.4663 193.6214 0001859 285.7166 137.1234 16.22441350 98877";

const double kPi = 3.141592653589793;

std::vector<double> Formattable(double drag, double nddot)
{
    std::vector<double> v(13, 0.0);
    v[6] = drag;
    v[8] = nddot;
    return v;
}

std::string Line1Of(const noradelements& e)
{
    std::string l1, l2;
    e.Get(l1, l2);
    return l1;
}

}  // namespace

// ---------------------------------------------------------------- check digit

TEST(NoradCheckSum, PublishedLinesAndCountingRules)
{
    EXPECT_EQ(CheckSum(kIss1.c_str()), '7');
    EXPECT_EQ(CheckSum(kIss2.c_str()), '7');
    // Digits 1..9 once (45) and two minus signs (2): 47 -> '7'. Letters,
    // blanks, '.' and '+' count nothing.
    std::string line = "ABC 1 2 3 . + 4 5 6 - x 7 8 9 - Z";
    line.resize(68, '.');
    EXPECT_EQ(CheckSum(line.c_str()), '7');
    // Column 69 onwards does not count.
    EXPECT_EQ(CheckSum((line + "999999").c_str()), '7');
    // Short text stops at its end.
    EXPECT_EQ(CheckSum("123"), '6');
    EXPECT_EQ(CheckSum(""), '0');
}

// -------------------------------------------------------------------- parsing

TEST(NoradParse, SpaceStationValuesAndUnits)
{
    const noradelements e(kIss1, kIss2);
    EXPECT_TRUE(!e);  // operator! reports validity
    const std::vector<double> v = e.Get();
    ASSERT_EQ(v.size(), 13u);
    // 15.72125391 rev/day: a period of 91.5957 minutes.
    EXPECT_NEAR(2 * kPi / v[0], 91.595747, 1e-5);
    EXPECT_DOUBLE_EQ(v[1], 0.0006703);
    EXPECT_NEAR(v[2], 0.9013160, 1e-7);      // 51.6416 deg
    EXPECT_NEAR(v[3], 4.3190389, 1e-7);      // 247.4627 deg
    EXPECT_NEAR(v[4], 2.2782830, 1e-7);      // 130.5360 deg
    EXPECT_NEAR(v[5], 5.6728227, 1e-7);      // 325.0288 deg
    EXPECT_DOUBLE_EQ(v[6], -1.1606e-5);
    EXPECT_NEAR(v[7], -6.6116466e-11, 1e-17); // -.00002182 rev/day^2 in rad/min^2
    EXPECT_EQ(v[8], 0.0);
    EXPECT_EQ(v[9], 25544.0);
    EXPECT_EQ(v[10], 8.0);
    EXPECT_DOUBLE_EQ(v[11], 264.51782528);
    EXPECT_EQ(v[12], 56353.0);
}

TEST(NoradParse, SunSynchronousAndHighDragSets)
{
    const noradelements sun(kSun1, kSun2);
    EXPECT_TRUE(!sun);
    std::vector<double> v = sun.Get();
    EXPECT_GT(v[2], kPi / 2);                // retrograde: 98.9954 deg
    EXPECT_NEAR(v[2], 1.7277957, 1e-7);
    EXPECT_NEAR(2 * kPi / v[0], 101.901, 1e-3);  // minutes per revolution
    EXPECT_DOUBLE_EQ(v[6], 9.6518e-5);
    EXPECT_EQ(v[10], 23.0);
    EXPECT_DOUBLE_EQ(v[11], 45.74462234);
    EXPECT_EQ(v[12], 91859.0);

    const noradelements drag(kDrag1, kDrag2);
    EXPECT_TRUE(!drag);
    v = drag.Get();
    EXPECT_DOUBLE_EQ(v[6], 2.8098e-5);
    // 0.12345e-5 rev/day^3 = 2.5977e-15 rad/min^3; .01234567 rev/day^2 = 3.7408e-8 rad/min^2.
    EXPECT_NEAR(v[8], 2.5976671e-15, 1e-21);
    EXPECT_NEAR(v[7], 3.7408436e-8, 1e-14);
    EXPECT_EQ(v[12], 9887.0);                // four-digit revolution number
}

TEST(NoradParse, WrongOrMissingCheckDigitClearsValidity)
{
    std::string bad1 = kIss1;
    bad1[68] = '8';
    EXPECT_FALSE(!noradelements(bad1, kIss2));
    std::string bad2 = kIss2;
    bad2[20] = '5';  // a changed digit, old check digit kept
    EXPECT_FALSE(!noradelements(kIss1, bad2));
    // Lines cut before the check column cannot pass.
    EXPECT_FALSE(!noradelements(kIss1.substr(0, 68), kIss2));
    EXPECT_FALSE(!noradelements(kIss1, kIss2.substr(0, 68)));
    // Sets that were not parsed count as valid.
    EXPECT_TRUE(!noradelements());
    EXPECT_TRUE(!noradelements(std::vector<double>{1, 2}));
}

TEST(NoradParse, ShortLinesKeepUnsuppliedFields)
{
    noradelements e(kIss1, kIss2);
    const std::vector<double> before = e.Get();

    // Only the catalogue number and inclination are present.
    e.Set("1 12345U", "2 12345  10.0000");
    std::vector<double> v = e.Get();
    EXPECT_FALSE(!e);
    EXPECT_EQ(v[9], 12345.0);
    EXPECT_NEAR(v[2], 10.0 * kPi / 180, 1e-15);
    for (int k : {0, 1, 3, 4, 5, 6, 7, 8, 10, 11, 12}) EXPECT_EQ(v[k], before[k]) << k;

    // Lines ending inside the revolution number leave it alone; a line of
    // 68 characters supplies it but has no check digit.
    e.Set(kIss1, "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391999");
    EXPECT_EQ(e.Get()[12], 56353.0);
    e.Set(kIss1, "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.7212539112345");
    EXPECT_EQ(e.Get()[12], 12345.0);
    EXPECT_FALSE(!e);

    e.Set(std::string(), std::string());
    EXPECT_EQ(e.Get()[12], 12345.0);
    EXPECT_FALSE(!e);
}

TEST(NoradParse, VectorFormKeepsAnyLengthAndParsingRestoresThirteen)
{
    noradelements e(std::vector<double>{4.0, 5.0});
    EXPECT_EQ(e.Get(), (std::vector<double>{4.0, 5.0}));
    e.Set(kIss1, kIss2);
    EXPECT_EQ(e.Get().size(), 13u);
    EXPECT_EQ(e.Get()[9], 25544.0);
    noradelements copy;
    copy.Set(e);
    EXPECT_EQ(copy.Get(), e.Get());
}

// ----------------------------------------------------------------- formatting

TEST(NoradFormat, RoundTripOfStandardSets)
{
    // Dropped fields come back blank, the catalogue number loses nothing but
    // the designator, signs are always written, truncation can lower the
    // last digit (.00000137 -> .00000136), check digits are new.
    struct Case { std::string in1, in2, out1, out2; };
    const Case cases[] = {
        {kIss1, kIss2,
         "1 25544           08264.51782528 -.00002182 +00000+0 -11606-4       3           ",
         "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537           "},
        {kSun1, kSun2,
         "1 28654           23045.74462234 +.00000136 +00000+0 +96518-4       6           ",
         "2 28654  98.9954 105.4213 0013862 313.2542  46.7483 14.13124731918598           "},
        {kDrag1, kDrag2,
         "1 48275           23045.12345678 +.01234566 +12345-5 +28098-4       7           ",
         "2 48275  41.4663 193.6214 0001859 285.7166 137.1234 16.22441350 98877           "},
    };
    for (const Case& c : cases) {
        std::string l1, l2;
        noradelements(c.in1, c.in2).Get(l1, l2);
        EXPECT_EQ(l1, c.out1);
        EXPECT_EQ(l2, c.out2);
        // The formatted lines parse back to a valid set.
        EXPECT_TRUE(!noradelements(l1, l2));
    }
}

TEST(NoradFormat, SmallCatalogueNumberIsBlankPadded)
{
    std::vector<double> v(13, 0.0);
    v[9] = 5;
    v[10] = 0;
    std::string l1, l2;
    noradelements(v).Get(l1, l2);
    EXPECT_EQ(l1.substr(0, 20), "1     5           00");
    EXPECT_EQ(l2.substr(0, 8), "2     5 ");
}

TEST(NoradFormat, PackedDecimalFields)
{
    // Zero second derivative and zero drag.
    EXPECT_EQ(Line1Of(noradelements()).substr(44, 17), "+00000+0 +00000+0");
    // 0.28098e-4.
    EXPECT_EQ(Line1Of(noradelements(Formattable(0.28098e-4, 0))).substr(53, 8), "+28098-4");
    EXPECT_EQ(Line1Of(noradelements(Formattable(-0.5, 0))).substr(53, 8), "-50000+0");
    // Exact powers of ten and values of 1 or more give a six-digit mantissa,
    // which pushes the rest of the line one column right.
    EXPECT_EQ(Line1Of(noradelements(Formattable(1e-4, 0))).substr(53, 9), "+100000-4");
    EXPECT_EQ(Line1Of(noradelements(Formattable(2.5, 0))).substr(53, 9), "+250000+0");
}

TEST(NoradFormat, NonFiniteAndHugeValuesStayWithinEightyColumns)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<double>> sets = {
        std::vector<double>(13, nan),
        std::vector<double>(13, inf),
        std::vector<double>(13, -inf),
        std::vector<double>(13, 1e300),
        std::vector<double>(13, -1e300),
        std::vector<double>(13, 5e-324),
        std::vector<double>{1.0},  // too short a vector formats as zeros
    };
    for (const std::vector<double>& v : sets) {
        std::string l1, l2;
        noradelements(v).Get(l1, l2);
        ASSERT_EQ(l1.size(), 80u);
        ASSERT_EQ(l2.size(), 80u);
        EXPECT_EQ(l1[68], CheckSum(l1.c_str()));
        EXPECT_EQ(l2[68], CheckSum(l2.c_str()));
    }
}

TEST(NoradFormat, PrintWritesBothLines)
{
    std::ostringstream os;
    noradelements(kIss1, kIss2).Print(os);
    std::string l1, l2;
    noradelements(kIss1, kIss2).Get(l1, l2);
    EXPECT_EQ(os.str(), l1 + "\n" + l2 + "\n");
}

// ------------------------------------------------------------------ the file

namespace {

struct FileRead {
    noradelements elements;
    std::string out;
    bool good = false;
    bool opened = false;
};

FileRead ReadSet(const std::string& contents, const std::string& name,
                 const noradelements& start = noradelements())
{
    const std::string path = FreshTestDir() + "/tle.txt";
    WriteFile(path, contents);
    FileRead r;
    r.elements = start;
    noradfile f(path, name);
    r.opened = !f.fail();
    testing::internal::CaptureStdout();
    f.read(r.elements);
    r.out = testing::internal::GetCapturedStdout();
    r.good = f.good();
    return r;
}

const std::string kSetA = kIss1 + "\n" + kIss2 + "\n";
const std::string kSetB = kSun1 + "\n" + kSun2 + "\n";
const std::string kSetC = kDrag1 + "\n" + kDrag2 + "\n";

}  // namespace

TEST(NoradFile, NameMatchRules)
{
    // SATX and XSAT are passed over; "SAT (X)" matches.
    FileRead r = ReadSet("SATX\n" + kSetA + "XSAT\n" + kSetB + "SAT (X)\n" + kSetC, "SAT");
    EXPECT_EQ(r.elements.Get()[9], 48275.0);
    EXPECT_EQ(r.out, "SAT (X) MATCHED SAT 0\n" + kDrag1 + kDrag2 + "\n");
    EXPECT_TRUE(r.good);

    // A line that is exactly the name, also with a carriage return.
    r = ReadSet("OTHER\n" + kSetA + "SAT\r\n" + kSetB, "SAT");
    EXPECT_EQ(r.elements.Get()[9], 28654.0);
    r = ReadSet("SAT\n" + kSetA, "SAT");
    EXPECT_EQ(r.elements.Get()[9], 25544.0);

    // The character after the name is looked for at the name's length from
    // the start of the line: "XYZ SAT" has a blank at offset 3.
    r = ReadSet("XYZ SAT\n" + kSetB, "SAT");
    EXPECT_EQ(r.elements.Get()[9], 28654.0);
    EXPECT_EQ(r.out.substr(0, 22), "XYZ SAT MATCHED SAT 4\n");
    // ... and "XYSAT" has 'A' there, so it is passed over.
    r = ReadSet("XYSAT\n" + kSetB, "SAT");
    EXPECT_EQ(r.elements.Get()[9], 0.0);
}

TEST(NoradFile, BlankLinesAreSkipped)
{
    const FileRead r = ReadSet("\n  \nISS (ZARYA)\n\n \t\n" + kIss1 + "\n\n" + kIss2 + "\n",
                               "ISS (ZARYA)");
    EXPECT_TRUE(r.good);
    EXPECT_TRUE(!r.elements);
    EXPECT_EQ(r.elements.Get()[12], 56353.0);
    EXPECT_EQ(r.out, "ISS (ZARYA) MATCHED ISS (ZARYA) 0\n" + kIss1 + kIss2 + "\n");
}

TEST(NoradFile, EmptyOrBlankLeadingNameSearchesDollars)
{
    const std::string contents = "SAT\n" + kSetA + "$$$$\n" + kSetB;
    for (const std::string name : {"", " SAT", "\tSAT"}) {
        const FileRead r = ReadSet(contents, name);
        EXPECT_EQ(r.elements.Get()[9], 28654.0) << '"' << name << '"';
        EXPECT_EQ(r.out.substr(0, 20), "$$$$ MATCHED $$$$ 0\n");
    }
}

TEST(NoradFile, MissingNameLeavesElementsAndEndsStream)
{
    const noradelements start(kSun1, kSun2);
    const FileRead r = ReadSet("SATX\n" + kSetA, "SAT", start);
    EXPECT_FALSE(r.good);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.elements.Get(), start.Get());
    EXPECT_TRUE(!r.elements);
}

TEST(NoradFile, NameAtEndWithoutTwoLinesIsSafe)
{
    const noradelements start(kSun1, kSun2);
    FileRead r = ReadSet("SAT\n" + kIss1 + "\n", "SAT", start);
    EXPECT_FALSE(r.good);
    EXPECT_FALSE(!r.elements);
    EXPECT_EQ(r.elements.Get()[9], 25544.0);   // line 1 still read
    EXPECT_EQ(r.elements.Get()[2], start.Get()[2]);
    r = ReadSet("SAT", "SAT", start);
    EXPECT_FALSE(r.good);
    EXPECT_EQ(r.elements.Get(), start.Get());
}

TEST(NoradFile, BaseAndPrint)
{
    const std::string path = FreshTestDir() + "/tle.txt";
    WriteFile(path, "SAT\n" + kSetA);
    noradfile f(path, "SAT");
    EXPECT_EQ(f.GetFileType(), "norad");
    EXPECT_EQ(f.GetFileName(), path);
    noradelements e;
    testing::internal::CaptureStdout();
    f.read(e);
    testing::internal::GetCapturedStdout();
    std::ostringstream os;
    f.print(os);
    EXPECT_EQ(os.str(), "\nline1 = " + kIss1 + "\nline2 = " + kIss2 + "\n");

    noradfile missing(path + ".absent", "SAT");
    EXPECT_TRUE(missing.fail());
}
