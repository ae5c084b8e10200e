// Element files written by trokgen: complete two-line sets that trokproc and
// an independent orbit library (pyorbital, Debian python3-pyorbital) read.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "run_program.h"
#include "toolkit/time/civilutc.h"
#include "toolkit/time/isotime.h"
#include "toolkit/products/qlrproduct.h"
#include "toolkit/numbering/tle.h"

using namespace toolkit;

namespace {

const char* const kPython = "/usr/bin/python3";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

ProgramResult Shell(const std::string& command, const std::string& dir)
{
    return RunProgram({"/bin/sh", "-c", command}, dir);
}

} // namespace

// The ISS set of 2008-09-20 as published with the format's description,
// with the identification fields and check digit blanked and filled again.
TEST(ElementSetIdentity, RefillsAPublishedLineToTheByte)
{
    const std::string published =
        "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
    std::string blank = published;
    for (size_t c : {7u, 62u, 68u}) blank[c] = ' ';
    blank.replace(9, 8, "        ");
    blank.replace(64, 4, "    ");
    ElementSetIdentity id;
    id.designator = "98067A";
    id.elementNumber = 292;
    EXPECT_EQ(CompleteLine1(blank, id), published);

    // A three-letter piece fills columns 10-17 exactly; a one-digit set number
    // stands right-aligned.
    id.designator = "98067ABC";
    id.elementNumber = 7;
    const std::string other = CompleteLine1(blank, id);
    EXPECT_EQ(other.substr(9, 8), "98067ABC");
    EXPECT_EQ(other.substr(62, 6), "0    7");
    EXPECT_EQ(other.size(), published.size());
    // A '+' sign of a mantissa becomes the published blank.
    std::string plus = blank;
    plus[33] = '+';
    plus[53] = '+';
    id.designator = "98067A";
    id.elementNumber = 292;
    const std::string signless = CompleteLine1(plus, id);
    EXPECT_EQ(signless[33], ' ');
    EXPECT_EQ(signless[53], ' ');
    EXPECT_EQ(signless[44], ' ');

    EXPECT_TRUE(ValidDesignator("26001A"));
    EXPECT_TRUE(ValidDesignator("98067ABC"));
    for (const char* bad : {"", "26001", "2600A", "26001a", "26001ABCD", "26-01A", "26001A1"})
        EXPECT_FALSE(ValidDesignator(bad)) << bad;
}

TEST(Trokgen, ElementLinesHaveEveryColumnInItsPlace)
{
    const std::string dir = FreshTestDir();
    // The element file of trokgen with these options besides the epoch's.
    auto elementLines = [&](const std::string& name, const std::vector<std::string>& extra) {
        std::vector<std::string> argv = {TROKGEN_PATH, "--out", name + ".pkt", "--tle", name + ".tle", "--seconds",
                                         "20", "--start", "2026-03-05T06:00:00Z", "--rev", "321"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const ProgramResult r = RunProgram(argv, dir);
        EXPECT_EQ(r.status, 0) << r.err;
        return Lines(ReadFile(dir + "/" + name + ".tle"));
    };
    std::vector<std::string> tle = elementLines("a", {});
    ASSERT_EQ(tle.size(), 3u);
    // Defaults: unclassified, launch 001 piece A of the epoch's year, type 0, set 999.
    EXPECT_EQ(tle[1].substr(0, 18), "1 43210U 26001A   ");
    EXPECT_EQ(tle[1].substr(18, 14), "26064.25000000");
    EXPECT_EQ(tle[1].substr(32, 29), "  .00000000  00000+0  00000+0");
    EXPECT_EQ(tle[1].substr(61, 7), " 0  999");
    EXPECT_EQ(tle[2].substr(63, 5), "  321");
    noradelements defaults(tle[1], tle[2]);
    EXPECT_TRUE(!defaults) << "check digits";

    std::vector<std::string> other = elementLines("b", {"--designator", "24117BC", "--element-number", "42"});
    ASSERT_EQ(other.size(), 3u);
    EXPECT_EQ(other[1].substr(9, 8), "24117BC ");
    EXPECT_EQ(other[1].substr(61, 7), " 0   42");
    // Only the identification fields and the check digit differ, and the
    // element values read from both are the same.
    for (size_t c = 0; c < 64; ++c) {
        if (c >= 9 && c <= 16) continue;
        EXPECT_EQ(other[1][c], tle[1][c]) << "column " << c + 1;
    }
    EXPECT_EQ(other[2], tle[2]);
    noradelements named(other[1], other[2]);
    EXPECT_TRUE(!named) << "check digits";
    EXPECT_EQ(named.Get(), defaults.Get());

    ProgramResult r;
    for (const char* bad : {"2611", "26001a"}) {
        r = RunProgram({TROKGEN_PATH, "--out", "c.pkt", "--designator", bad}, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "trokgen: --designator takes an international designator such as 26001A "
                         "(two digits of the launch year, three of the launch, one to three capital "
                         "letters), not \"" + std::string(bad) + "\"\n");
    }
    r = RunProgram({TROKGEN_PATH, "--out", "c.pkt", "--element-number", "10000"}, dir);
    EXPECT_EQ(r.status, 255);
}

namespace {

struct OrbitComparison {
    unsigned product = 0;   // the product's orbit number
    int pyorbital = 0;      // pyorbital's at the middle of the orbit
    double offset = 0;      // pyorbital's ascending node minus the product's, s
    double period = 0;      // s
    double civilAhead = 0;  // civil UTC minus trokproc's UTC at the product's node, s
};

// How far civil UTC (leap-second table) is ahead of trokproc's own UTC model
// at a TAI93 instant; NaN when the table does not cover it.
double CivilMinusModelUtc(double tai93)
{
    CalendarTime civil, model;
    const std::string civilText = IsoCivilUtcFromTai93(SystemLeapSeconds(), tai93, 6);
    if (!ParseIsoTime(civilText, civil) || !ParseIsoTime(IsoUtcFromTai93(tai93, 6), model))
        return std::nan("");
    return Tai58FromUtc(civil) - Tai58FromUtc(model);
}

// Generates a day with `orbitOptions`, runs trokproc, and asks pyorbital
// about the middle of every orbit of the ephemeris product.
std::vector<OrbitComparison> CompareWithPyorbital(const std::string& dir,
                                                  const std::vector<std::string>& orbitOptions)
{
    std::vector<std::string> gen = {TROKGEN_PATH, "--out", "day.pkt", "--tle", "day.tle",
                                    "--config", "configfile", "--seconds", "86400",
                                    "--small-gaps", "3", "--large-gaps", "1", "--seed", "19"};
    gen.insert(gen.end(), orbitOptions.begin(), orbitOptions.end());
    ProgramResult r = RunProgram(gen, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    r = RunProgram({TROKPROC_PATH, "-configfile", "configfile"}, dir);
    EXPECT_EQ(r.status, 0) << r.err;

    Product eph;
    std::string error;
    EXPECT_TRUE(ReadProduct(dir + "/day.eph", ProductKind::Ephemeris, eph, error)) << error;
    std::vector<OrbitComparison> out;
    const size_t n = eph.orbits.size();
    if (n < 2) {
        ADD_FAILURE() << "fewer than two orbits in the product";
        return out;
    }
    std::string times;
    for (size_t k = 0; k < n; ++k) {
        const double node = eph.orbits[k].ascendingTai93;
        // The product's nodes follow each other at the constant mean motion.
        const double period =
            (eph.orbits[n - 1].ascendingTai93 - eph.orbits[0].ascendingTai93) / (n - 1);
        OrbitComparison c;
        c.product = eph.orbits[k].orbitNo;
        c.period = period;
        c.civilAhead = CivilMinusModelUtc(node);
        out.push_back(c);
        times += std::to_string(c.product) + " " + IsoUtcFromTai93(node + period / 2, 6) + " " +
                 IsoUtcFromTai93(node, 6) + "\n";
    }
    WriteFile(dir + "/times", times);
    r = Shell(std::string(kPython) + " " TROK_SOURCE_DIR "/tests/oracles/pyorbital_orbits.py day.tle VORN "
                                     "< times",
              dir);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    EXPECT_EQ(lines.size(), n) << r.out << r.err;
    for (size_t k = 0; k < lines.size() && k < n; ++k) {
        unsigned given = 0;
        int number = 0;
        double offset = 0;
        EXPECT_EQ(std::sscanf(lines[k].c_str(), "%u %d %lf", &given, &number, &offset), 3)
            << lines[k];
        EXPECT_EQ(given, out[k].product);
        out[k].pyorbital = number;
        out[k].offset = offset;
    }
    return out;
}

// One line per orbit, for the test log: number, offset in s and in % of the
// orbit, both in the element set's time scale (trokproc's UTC, in which
// trokgen writes the epoch), and the offset a user sees who reads the
// product's node in civil UTC while the SGP4 tool takes the epoch as civil UTC.
void Report(const char* title, const std::vector<OrbitComparison>& orbits)
{
    std::printf("%s\n  orbit  pyorbital  node offset (s)  (%% of orbit)  in civil UTC (s)\n",
                title);
    for (const OrbitComparison& c : orbits)
        std::printf("  %5u  %9d  %15.3f  %12.3f  %16.3f\n", c.product, c.pyorbital, c.offset,
                    100.0 * c.offset / c.period, c.offset - c.civilAhead);
    std::fflush(stdout);
}

bool HavePyorbital(std::string& why)
{
    struct stat st;
    if (stat(kPython, &st) != 0) {
        why = "/usr/bin/python3 is missing (apt-get install python3-pyorbital)";
        return false;
    }
    const ProgramResult r = RunProgram({kPython, "-c", "import pyorbital"});
    if (r.status != 0) {
        why = "python3-pyorbital is not installed (apt-get install python3-pyorbital): " + r.err;
        return false;
    }
    return true;
}

// The tests that ask pyorbital: skipped where it is not installed.
class PyorbitalOrbits : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!HavePyorbital(why)) GTEST_SKIP() << why;
    }

    // A day with `orbitOptions` compared orbit by orbit and reported under
    // `title`: orbit k is number first + k in the product, and pyorbital
    // gives it the same number at mid-orbit.
    static std::vector<OrbitComparison> SameNumbers(const char* title,
                                                    const std::vector<std::string>& orbitOptions,
                                                    unsigned first)
    {
        const std::vector<OrbitComparison> orbits = CompareWithPyorbital(FreshTestDir(), orbitOptions);
        Report(title, orbits);
        for (size_t k = 0; k < orbits.size(); ++k) {
            EXPECT_EQ(orbits[k].product, first + k);
            EXPECT_EQ(orbits[k].pyorbital, static_cast<int>(orbits[k].product));
        }
        return orbits;
    }
};

} // namespace

// pyorbital propagates the mean elements with SGP4, trokproc predicts nodes
// two-body: the numbers must agree in the middle of every orbit, and the
// nodes differ by a small, slowly growing part of an orbit.
TEST_F(PyorbitalOrbits, LowEarthOrbitDayNumbersAgreeAtMidOrbit)
{
    const std::vector<OrbitComparison> orbits =
        SameNumbers("low Earth orbit, 700 km, e 0.0012, a day:", {"--rev", "5000"}, 5000u);
    ASSERT_EQ(orbits.size(), 15u);
    for (size_t k = 0; k < orbits.size(); ++k)
        EXPECT_LT(std::abs(orbits[k].offset), 0.02 * orbits[k].period) << "orbit " << k;
}

TEST_F(PyorbitalOrbits, EccentricOrbitDayNumbersAgreeAtMidOrbit)
{
    const std::vector<OrbitComparison> orbits =
        SameNumbers("eccentric orbit, a 10378 km, e 0.35, a day:",
                    {"--altitude", "4000", "--ecc", "0.35", "--incl", "63.4", "--rev", "20"}, 20u);
    ASSERT_EQ(orbits.size(), 9u);
    // The product counts nodes from the mean argument of latitude, which
    // leads or lags the true one by up to e / pi of an orbit.
    for (size_t k = 0; k < orbits.size(); ++k)
        EXPECT_LT(std::abs(orbits[k].offset), 0.2 * orbits[k].period) << "orbit " << k;
    // Kepler's equation: with perigee 90 degrees past the node the true node
    // is at true anomaly -90 degrees, mean anomaly M = E - e sin E; the
    // product puts it at mean anomaly -90 degrees. SGP4's mean elements move
    // the node by a few seconds more.
    const double e = 0.35, pi = 3.141592653589793;
    const double bigE = 2.0 * std::atan(std::sqrt((1 - e) / (1 + e)) * std::tan(-pi / 4));
    const double meanAtNode = bigE - e * std::sin(bigE);
    const double expected = (meanAtNode + pi / 2) / (2 * pi) * orbits[0].period;
    EXPECT_NEAR(orbits[0].offset, expected, 10.0) << "Kepler's equation gives " << expected << " s";
}
