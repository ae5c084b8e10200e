#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "qlrplot_pairs.h"
#include "toolkit/time/isotime.h"
#include "toolkit/products/qlrproduct.h"
#include "run_program.h"
#include "toolkit/quicklook/geodetic.h"

using namespace toolkit;

namespace {

const std::string kQlrplot = QLRPLOT_PATH;

// ---- geodetic coordinates -------------------------------------------------

TEST(Geodetic, InverseRecoversTheDirectFormulaFromCentreToBeyondGeostationary)
{
    const double lats[] = {-90, -89.999, -64.3, -30, -0.001, 0, 0.001, 12.5, 45, 81.7, 89.9999, 90};
    const double heights[] = {-5000, 0, 700e3, 35786e3, 384e6};
    for (double latDeg : lats)
        for (double h : heights)
            for (double lonDeg : {-179.5, -90.0, 0.0, 33.3, 180.0}) {
                Geodetic g;
                g.latitude = latDeg * M_PI / 180;
                g.longitude = lonDeg * M_PI / 180;
                g.height = h;
                double x, y, z;
                EarthFixedFromGeodetic(g, x, y, z);
                const Geodetic back = GeodeticFromEarthFixed(x, y, z);
                SCOPED_TRACE(std::to_string(latDeg) + " deg, " + std::to_string(h) + " m");
                EXPECT_NEAR(back.latitude, g.latitude, 1e-12);
                EXPECT_NEAR(back.height, h, 1e-3 + 1e-12 * std::fabs(h));
                if (std::fabs(latDeg) < 90) {
                    const double dLon = std::remainder(back.longitude - g.longitude, 2 * M_PI);
                    EXPECT_NEAR(dLon, 0, 1e-12);
                }
            }
}

TEST(Geodetic, WorkedPointsOnTheAxesAndTheEquator)
{
    // The WGS-84 semi-minor axis is 6356752.314245 m.
    Geodetic g = GeodeticFromEarthFixed(0, 0, 6356752.314245 + 700e3);
    EXPECT_DOUBLE_EQ(g.latitude, M_PI / 2);
    EXPECT_NEAR(g.height, 700e3, 1e-6);
    g = GeodeticFromEarthFixed(0, 0, -6356752.314245);
    EXPECT_DOUBLE_EQ(g.latitude, -M_PI / 2);
    EXPECT_NEAR(g.height, 0, 1e-6);
    g = GeodeticFromEarthFixed(0, -(6378137.0 + 700e3), 0);
    EXPECT_NEAR(g.latitude, 0, 1e-15);
    EXPECT_NEAR(g.longitude, -M_PI / 2, 1e-15);
    EXPECT_NEAR(g.height, 700e3, 1e-6);
}

// Under the day's first orbit, the geodetic track of the product's positions
// agrees with pyorbital's SGP4 propagation of the run's own element set (its
// own sidereal time and WGS-84 conversion): a wrong sign or epoch of the
// Earth's rotation would put the points tens of degrees apart. The element
// set holds mean elements and the simulation is two-body, so they agree to
// a few km, not metres.
TEST(Geodetic, TrackAgreesWithAnSgp4PropagationOfTheRunsElementSet)
{
    if (RunProgram({"/usr/bin/python3", "-c", "import pyorbital"}).status != 0)
        GTEST_SKIP() << "python3-pyorbital is missing (apt-get install python3-pyorbital)";
    const std::string pair = ProductPair("day1");
    Product eph;
    std::string error;
    ASSERT_TRUE(ReadProduct(pair + "/x.eph", ProductKind::Ephemeris, eph, error)) << error;
    // The element set's epoch is in trokproc's UTC model, and so are the
    // times handed to pyorbital.
    std::vector<std::string> argv{"/usr/bin/python3", TROK_SOURCE_DIR "/tests/oracles/pyorbital_track.py",
                                  pair + "/x.tle"};
    const size_t picks[] = {0, 700, 1500, 2200, 2900};
    for (size_t i : picks) argv.push_back(IsoUtcFromTai93(eph.records.at(i).tai93, 6));
    const ProgramResult r = RunProgram(argv);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    for (size_t i : picks) {
        double lon = 0, lat = 0, alt = 0;
        ASSERT_TRUE(lines >> lon >> lat >> alt);
        const Geodetic g = GeodeticFromInertial(eph.records[i].v, eph.records[i].tai93);
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_NEAR(g.latitude * 180 / M_PI, lat, 0.15);
        EXPECT_NEAR(std::remainder(g.longitude * 180 / M_PI - lon, 360.0) * std::cos(lat * M_PI / 180), 0, 0.15);
        EXPECT_NEAR(g.height / 1000, alt, 10);
    }
}

// ---- the program ----------------------------------------------------------

std::string Cell(const std::string& html, const std::string& id)
{
    const std::string open = "<td id=\"" + id + "\">";
    const size_t a = html.find(open);
    if (a == std::string::npos) return "(no cell " + id + ")";
    const size_t b = html.find("</td>", a);
    return html.substr(a + open.size(), b - a - open.size());
}

// The first whole number after `label` at the start of a line of qlrdump's
// summary.
long SummaryNumber(const std::string& summary, const std::string& label)
{
    std::smatch m;
    if (!std::regex_search(summary, m, std::regex("(^|\n)" + label + " +([0-9]+)"))) return -1;
    return std::stol(m[2]);
}

long LeadingNumber(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

// Width and height from a PNG's header; 0 x 0 when it is none.
std::pair<unsigned, unsigned> PngSize(const std::string& bytes)
{
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
    auto be = [&](size_t o) {
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(bytes[o + i]);
        return v;
    };
    return {be(16), be(20)};
}

struct Case {
    const char* name;
    bool elements;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class QlrplotPairs : public ::testing::TestWithParam<Case> {};

// Every span: the page names the summary's counts (qlrdump reads the same
// products independently), every plot is a PNG of the size it claims, the
// close-ups are of the largest repaired runs, and the element-set row says
// whether there was one.
TEST_P(QlrplotPairs, PageNamesTheRightCountsAndEveryPlotIsThere)
{
    const Case c = GetParam();
    const std::string pair = ProductPair(c.name);
    const std::string out = FreshTestDir();
    const ProgramResult r = RunProgram({kQlrplot, pair + "/x.eph", pair + "/x.att", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    const ProgramResult s = RunProgram({QLRDUMP_PATH, "--summary", pair + "/x.eph"});
    ASSERT_EQ(s.status, 0) << s.err;
    const std::string html = ReadFile(out + "/report.html");
    EXPECT_NE(html.find("Pair check passed"), std::string::npos);
    EXPECT_EQ(LeadingNumber(Cell(html, "records")), SummaryNumber(s.out, "records"));
    EXPECT_EQ(LeadingNumber(Cell(html, "repaired")), SummaryNumber(s.out, "repaired points"));
    EXPECT_EQ(LeadingNumber(Cell(html, "large-gaps")), SummaryNumber(s.out, "large gaps"));
    EXPECT_EQ(LeadingNumber(Cell(html, "orbits")), SummaryNumber(s.out, "orbits"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(s.out, m, std::regex("interpolated in ([0-9]+) small gaps")));
    EXPECT_EQ(LeadingNumber(Cell(html, "small-gaps")), std::stol(m[1]));
    // One orbit table row per orbit record.
    size_t rows = 0;
    for (size_t p = html.find("<tr><td>"); p != std::string::npos; p = html.find("<tr><td>", p + 1)) ++rows;
    EXPECT_EQ(static_cast<long>(rows), SummaryNumber(s.out, "orbits"));

    if (c.elements) {
        EXPECT_NE(Cell(html, "epoch").find(" UTC, "), std::string::npos) << Cell(html, "epoch");
    } else {
        EXPECT_EQ(Cell(html, "epoch"), "no element set");
        EXPECT_NE(html.find("<td>none</td></tr>"), std::string::npos);
    }

    // Each embedded image is also beside the page, a PNG of the stated size.
    std::vector<std::string> names;
    const std::string img = "<img src=\"data:image/png;base64,";
    for (size_t p = html.find(img); p != std::string::npos; p = html.find(img, p + 1)) {
        const size_t data = p + img.size(), end = html.find('"', data);
        EXPECT_EQ(html.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=", data),
                  end);
        std::smatch fig;
        const std::string rest = html.substr(end, 600);
        ASSERT_TRUE(std::regex_search(rest, fig, std::regex("^\" width=\"([0-9]+)\" height=\"([0-9]+)\"[^>]*>"
                                                          "<figcaption>([a-z0-9]+\\.png):")));
        const std::string file = fig[3];
        names.push_back(file);
        const auto size = PngSize(ReadFile(out + "/" + file));
        EXPECT_EQ(size.first, std::stoul(fig[1])) << file;
        EXPECT_EQ(size.second, std::stoul(fig[2])) << file;
        EXPECT_GE(size.first, 1000u) << file;
    }
    const long repairedRuns = LeadingNumber(Cell(html, "repaired").substr(Cell(html, "repaired").find(" in ") + 4));
    std::vector<std::string> expected = {"attitude.png", "rates.png", "height.png", "groundtrack.png"};
    for (long k = 1; k <= std::min(3L, repairedRuns); ++k) expected.push_back("closeup" + std::to_string(k) + ".png");
    EXPECT_EQ(names, expected);
}

INSTANTIATE_TEST_SUITE_P(Spans, QlrplotPairs,
                         ::testing::Values(Case{"hours2", true}, Case{"day1", true}, Case{"days7", true},
                                           Case{"noelements", false}),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// The gap bars along the top of the first attitude panel: one per gap of
// the week (repaired runs and large gaps), and no two in the same row
// closer than a pixel, although many gaps lie within a pixel or two of
// each other at this span.
TEST(Qlrplot, GapMarkersOfAWeekStayApart)
{
    const std::string pair = ProductPair("days7");
    const std::string out = FreshTestDir();
    ASSERT_EQ(RunProgram({kQlrplot, pair + "/x.eph", pair + "/x.att", "-o", out}).status, 0);
    const std::string gp = ReadFile(out + "/qlrplot.gp");
    const size_t from = gp.find("attitude.png"), to = gp.find("\nplot ", from);
    const std::string panel = gp.substr(from, to - from);
    const std::regex bar("set object rect from first ([0-9.]+), graph ([0-9.]+) to first ([0-9.]+), "
                         "graph [0-9.]+ front");
    std::map<std::string, std::vector<std::pair<double, double>>> rows;
    size_t bars = 0;
    for (auto it = std::sregex_iterator(panel.begin(), panel.end(), bar); it != std::sregex_iterator(); ++it) {
        rows[(*it)[2]].push_back({std::stod((*it)[1]), std::stod((*it)[3])});
        ++bars;
    }
    const ProgramResult s = RunProgram({QLRDUMP_PATH, "--records", pair + "/x.eph"});
    // Repaired runs start at a "rep" record after a non-"rep" one; large gaps
    // end at an "lgb" record.
    size_t gaps = 0;
    bool inRun = false;
    for (size_t p = s.out.find('\n'); p != std::string::npos && p + 1 < s.out.size(); p = s.out.find('\n', p + 1)) {
        const std::string line = s.out.substr(p + 1, s.out.find('\n', p + 1) - p - 1);
        const bool rep = line.find(",rep") != std::string::npos;
        gaps += (rep && !inRun) + (line.find("lgb") != std::string::npos);
        inRun = rep;
    }
    EXPECT_EQ(bars, gaps);
    EXPECT_GE(gaps, 20u);
    EXPECT_GE(rows.size(), 2u) << "no gaps of the week lie close enough to need a second row";
    const double secondsPerPixel = 604800.0 / (1400 * 0.89);
    for (auto& row : rows) {
        std::sort(row.second.begin(), row.second.end());
        for (size_t i = 1; i < row.second.size(); ++i)
            EXPECT_GT(row.second[i].first - row.second[i - 1].second, secondsPerPixel) << "row " << row.first;
        for (const auto& b : row.second) EXPECT_GE(b.second - b.first, 2.9 * secondsPerPixel);
    }
}

// Unusable input: one line naming the file and status 255, no page.
TEST(Qlrplot, UnreadableProductsEndWithAMessageAndStatus255)
{
    const std::string pair = ProductPair("hours2");
    const std::string dir = FreshTestDir();
    WriteFile(dir + "/short.eph", ReadFile(pair + "/x.eph").substr(0, 300));
    const std::string o = dir + "/out";
    struct Bad {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{dir + "/short.eph", pair + "/x.att", "-o", o}, "short.eph"},
        {{dir + "/missing.eph", pair + "/x.att", "-o", o}, "missing.eph"},
        {{pair + "/x.att", pair + "/x.eph", "-o", o}, "not an ephemeris file"},
        {{pair + "/x.eph", pair + "/x.eph", "-o", o}, "not an attitude file"},
        {{pair + "/x.eph", "-o", o}, "give an ephemeris and an attitude file"},
        {{pair + "/x.eph", pair + "/x.att", "--bogus", "-o", o}, "unknown option --bogus"},
        {{pair + "/x.eph", pair + "/x.att", "-o"}, "needs a directory"},
        {{pair + "/x.eph", pair + "/x.att", "-o", dir + "/short.eph"}, "cannot make the directory"},
    };
    for (const Bad& b : cases) {
        std::vector<std::string> argv = {kQlrplot};
        argv.insert(argv.end(), b.args.begin(), b.args.end());
        const ProgramResult r = RunProgram(argv);
        SCOPED_TRACE(b.says);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.err.rfind("qlrplot: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(b.says), std::string::npos) << r.err;
    }
    struct stat st;
    EXPECT_NE(stat((dir + "/out/report.html").c_str(), &st), 0);

    const ProgramResult v = RunProgram({kQlrplot, "--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("qlrplot 1.", 0), 0u) << v.out;
    const ProgramResult h = RunProgram({kQlrplot, "--help"});
    EXPECT_EQ(h.status, 0);
    EXPECT_NE(h.out.find("usage: qlrplot EPH ATT [-o DIR]"), std::string::npos);
}

// A pair that fails the check: status 1, the same reasons as qlrdump gives,
// on standard error and on the page, which is still made with its plots.
TEST(Qlrplot, FailedPairCheckGivesStatus1AndThePageSaysWhy)
{
    const std::string dir = FreshTestDir();
    const std::string eph = ProductPair("day1") + "/x.eph", att = ProductPair("hours2") + "/x.att";
    const ProgramResult r = RunProgram({kQlrplot, eph, att, "-o", dir});
    EXPECT_EQ(r.status, 1) << r.err;
    const ProgramResult q = RunProgram({QLRDUMP_PATH, "--check", eph, att});
    ASSERT_EQ(q.status, 1);
    const std::string html = ReadFile(dir + "/report.html");
    EXPECT_NE(html.find("Pair check failed"), std::string::npos);
    size_t reasons = 0;
    for (size_t p = 0; (p = q.err.find("check failed: ", p)) != std::string::npos; ++reasons) {
        const size_t e = q.err.find('\n', p);
        const std::string why = q.err.substr(p + 14, e - p - 14);
        EXPECT_NE(r.err.find("qlrplot: check failed: " + why + "\n"), std::string::npos) << why;
        if (why.find_first_of("<>&\"") == std::string::npos) {
            EXPECT_NE(html.find("<li>" + why + "</li>"), std::string::npos) << why;
        }
        p = e;
    }
    EXPECT_GE(reasons, 1u);
    EXPECT_EQ(PngSize(ReadFile(dir + "/attitude.png")).first, 1400u);
}

TEST(Qlrplot, WithoutGnuplotSaysHowToInstallIt)
{
    const std::string pair = ProductPair("hours2");
    const std::string dir = FreshTestDir();
    const ProgramResult r = RunProgram({"/usr/bin/env", "PATH=" + dir, kQlrplot, pair + "/x.eph",
                                        pair + "/x.att", "-o", dir});
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.err.find("gnuplot-nox"), std::string::npos) << r.err;
}

} // namespace

namespace {

// Records damaged inside a whole file: a NaN position, an infinite and an
// absurd time, two thousand NaN angles. The plots leave them out (a time
// of 1e300 s once stretched the date axis until gnuplot hung), the page and
// the status report the check's faults.
TEST(Qlrplot, DamagedValuesAreLeftOutOfThePlotsAndReported)
{
    const std::string pair = ProductPair("hours2");
    const std::string dir = FreshTestDir();
    std::string eph = ReadFile(pair + "/x.eph"), att = ReadFile(pair + "/x.att");
    auto putDouble = [](std::string& bytes, size_t at, const char* be) { bytes.replace(at, 8, be, 8); };
    putDouble(eph, 512 + 100 * 64 + 8, "\x7f\xf8\0\0\0\0\0\0");    // x = NaN
    putDouble(eph, 512 + 200 * 64, "\x7f\xf0\0\0\0\0\0\0");        // time = +inf
    putDouble(eph, 512 + 300 * 64, "\x7e\x37\xe4\x3c\x88\x00\x75\x9c");   // time = 1e300
    for (size_t i = 0; i < 2000; ++i) putDouble(att, 512 + i * 64 + 8, "\x7f\xf8\0\0\0\0\0\0");
    WriteFile(dir + "/bad.eph", eph);
    WriteFile(dir + "/bad.att", att);
    const ProgramResult r = RunProgram({kQlrplot, dir + "/bad.eph", dir + "/bad.att", "-o", dir + "/out"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("non-finite"), std::string::npos) << r.err;
    const std::string html = ReadFile(dir + "/out/report.html");
    EXPECT_NE(html.find("Pair check failed"), std::string::npos);
    // The date axis still spans the two hours, not the damaged times.
    const std::string gp = ReadFile(dir + "/out/qlrplot.gp");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(gp, m, std::regex("set xrange \\[([0-9.]+):([0-9.]+)\\]")));
    EXPECT_NEAR(std::stod(m[2]) - std::stod(m[1]), 7200, 10);
    EXPECT_EQ(PngSize(ReadFile(dir + "/out/attitude.png")).first, 1400u);
}

} // namespace
