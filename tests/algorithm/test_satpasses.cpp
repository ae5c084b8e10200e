#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "timelib_proc_TAItoUTC.h"
#include "vn_class_orbitstuff.h"
#include "vn_class_satpasses.h"

namespace {

const double kPi = 3.141592653589793;
const double kMu = 3.9860064e14;
// 15 revolutions per day: one revolution is 1/15 day.
const double kPeriod = 1.0 / 15;

std::vector<double> Elements(double year, double day, double wPlusM, double rev = 1000)
{
    std::vector<double> v(13, 0.0);
    v[0] = 15 * 2 * kPi / 1440;  // rad/min
    v[3] = 0.5;
    v[4] = wPlusM / 2;
    v[5] = wPlusM - v[4];
    v[10] = year;
    v[11] = day;
    v[12] = rev;
    return v;
}

double EpochTAI(const satpasses& s) { return s.EpochTimeTAI93() / 86400 + 2448988.5003125; }

// First packet at `time` on a circular 7000 km orbit inclined 60 degrees.
orbitstuff Orbit(double time, double end = 0)
{
    orbitstuff o;
    const double v = std::sqrt(kMu / 7.0e6);
    const double state[6] = {7.0e6, 0, 0, 0, v * std::cos(kPi / 3), v * std::sin(kPi / 3)};
    for (int k = 0; k < 6; ++k) o.beginpkt.ItemList()[k] = state[k];
    o.beginpkt.TimeTag(time);
    o.endTime = end == 0 ? time : end;
    return o;
}

}  // namespace

TEST(SatPasses, EpochCenturyPivotAndDayOfYear)
{
    // 49 is 2049, 50 is 1950; day 1.5 is 1 January 12:00 UTC.
    const struct { double year; double utcJD; } cases[] = {
        {49, 2469443.0}, {50, 2433283.0}, {0, 2451545.0}};
    for (const auto& c : cases) {
        const satpasses s(noradelements(Elements(c.year, 1.5, 0)));
        EXPECT_NEAR(EpochTAI(s) - UTC_TAI_delta(c.utcJD), c.utcJD, 1e-8) << c.year;
    }
    // 1993-01-01 00:00 UTC: about 27.43 s TAI - UTC, less the 27 s by which
    // the TAI93 origin follows that midnight.
    EXPECT_NEAR(satpasses(noradelements(Elements(93, 1.0, 0))).EpochTimeTAI93(), 0.43, 0.006);
}

TEST(SatPasses, CountingNodeBeforeEpochFromUnfoldedPhase)
{
    satpasses a(noradelements(Elements(10, 100.0, 1.5 * kPi)));  // 0.75 rev back
    a.SetOrbit(Orbit(EpochTAI(a) + 0.1 * kPeriod));
    EXPECT_NEAR(a.AscendingNodeTime(), EpochTAI(a) - 0.75 * kPeriod, 1e-8);
    EXPECT_EQ(a.BegOrbitRev(), 1000u);
    satpasses b(noradelements(Elements(10, 100.0, 2.5 * kPi)));  // 1.25 rev back
    b.SetOrbit(Orbit(EpochTAI(b) - 1.2 * kPeriod));
    EXPECT_NEAR(b.AscendingNodeTime(), EpochTAI(b) - 1.25 * kPeriod, 1e-8);
    EXPECT_EQ(b.BegOrbitRev(), 1000u);
    b.SetOrbit(Orbit(EpochTAI(b) + 0.1 * kPeriod));
    EXPECT_EQ(b.BegOrbitRev(), 1001u);
}

TEST(SatPasses, RevolutionNumbersAndNodeTimes)
{
    satpasses s(noradelements(Elements(10, 100.0, 0, 5000)));
    const double node = EpochTAI(s);
    // Each orbit ends 3.2 revolutions after its first packet; before the node
    // the quotient truncates toward zero.
    const struct { double revs; unsigned int rev, endRev; double asc; } cases[] = {
        {0.999, 5000, 5004, 0}, {1.001, 5001, 5004, 1}, {20.5, 5020, 5023, 20},
        {-0.5, 5000, 5002, 0}, {-0.999, 5000, 5002, 0}, {-1.5, 4999, 5001, -1}};
    for (const auto& c : cases) {
        s.SetOrbit(Orbit(node + c.revs * kPeriod, node + (c.revs + 3.2) * kPeriod));
        EXPECT_EQ(s.BegOrbitRev(), c.rev) << c.revs;
        EXPECT_EQ(s.EndOrbitRev(), c.endRev) << c.revs;
        EXPECT_NEAR(s.AscendingNodeTime(), node + c.asc * kPeriod, 1e-8) << c.revs;
        EXPECT_NEAR(s.DescendingNodeTime() - s.AscendingNodeTime(), kPeriod / 2, 1e-9);
    }
}

TEST(SatPasses, LongitudeRangeAndStepPerRevolution)
{
    satpasses s(noradelements(Elements(20, 200.0, 1.0)));
    EXPECT_EQ(s.DescendingNodeLongitude(), 0.0);
    // The earth turns 2 pi * 1.0027379093 a day under a node drifting 0.01728.
    const double step = -(2 * kPi * 1.0027379093 - 0.01728) * kPeriod;
    double previous = 0;
    for (int k = 0; k < 40; ++k) {
        s.SetOrbit(Orbit(EpochTAI(s) + (k + 0.3) * kPeriod));
        const double lon = s.DescendingNodeLongitude();
        EXPECT_GT(lon, -kPi);
        EXPECT_LE(lon, kPi);
        if (k > 0) {
            EXPECT_NEAR(std::remainder(lon - previous, 2 * kPi), step, 1e-6) << k;
        }
        previous = lon;
    }
}

TEST(SatPasses, BegKeplerHasPacketShapeAndElementSetPhase)
{
    satpasses s(noradelements(Elements(10, 100.0, 1.0)));
    EXPECT_EQ(s.BegKepler(), std::vector<double>(6, 0.0));
    s.SetOrbit(Orbit(EpochTAI(s) + 0.5));
    const std::vector<double> k = s.BegKepler();
    ASSERT_EQ(k.size(), 6u);
    EXPECT_NEAR(k[0], 7.0e6, 1.0);
    EXPECT_NEAR(k[2], kPi / 3, 1e-9);
    EXPECT_GE(k[5], 0.0);
    EXPECT_NEAR(std::remainder(k[4] + k[5] - 1.0, 2 * kPi), 0.0, 1e-9);
}

TEST(SatPasses, NoUsableMeanMotionCountsNoRevolutions)
{
    satpasses zero(noradelements{});  // no set found in the file
    zero.SetOrbit(Orbit(2455000.5, 2455000.6));
    EXPECT_EQ(zero.BegOrbitRev(), 0u);
    EXPECT_EQ(zero.EndOrbitRev(), 0u);
    std::vector<double> v = Elements(10, 100.0, 1.0, 777);
    for (double motion : {0.0, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
        v[0] = motion;
        satpasses s{noradelements(v)};
        s.SetOrbit(Orbit(EpochTAI(s) + 100));
        EXPECT_EQ(s.BegOrbitRev(), 777u) << motion;
    }
}

TEST(SatPassesDeathTest, OpenOrbitStateStopsTheRun)
{
    const double r = 7.0e6, escape = std::sqrt(2 * kMu / r);
    const std::vector<std::vector<double>> states = {
        {r, 0, 0, 0, escape, 0},                                            // parabolic
        {0, 0, 0, 0, 7000, 0},                                              // zero position
        {r, 0, 0, std::numeric_limits<double>::quiet_NaN(), 7000, 0}};     // corrupt velocity
    for (const std::vector<double>& st : states) {
        satpasses s(noradelements(Elements(10, 100.0, 0)));
        orbitstuff o = Orbit(2455000.5);
        for (int k = 0; k < 6; ++k) o.beginpkt.ItemList()[k] = st[k];
        EXPECT_EXIT(s.SetOrbit(o), testing::ExitedWithCode(255),
                    "\nPacket state is not a closed orbit:.*trok_position");
    }
}

TEST(SatPasses, PrintedFormsBeforeAnyOrbit)
{
    const satpasses s(noradelements(Elements(10, 100.0, 0, 42)));
    std::ostringstream op;
    op << s;
    EXPECT_EQ(op.str(),
              "\nBeg Orbit Rev = 0  Time = 0\nEnd Orbit Rev = 0  Time = 0"
              "\nAscending  Node Time = 0\nDescending Node Time = 0"
              "\nDescending Longitude = 0\nKeplerian  Elements  =\n    0 0 0 0 0 0  \n");
    std::ostringstream ps;
    s.print_state(ps);
    EXPECT_TRUE((ps.flags() & std::ios::fixed) && (ps.flags() & std::ios::showpos));
    const std::string text = ps.str();
    EXPECT_EQ(text.rfind("\nsatpasses state \nbegTime   = +0.000000\nendTime   = +0.000000", 0), 0u);
    EXPECT_NE(text.find("\nmeanMO    = +94.247780\n"), std::string::npos);  // 15 * 2 pi
    EXPECT_EQ(text.substr(text.size() - 15), "\nbegKepler =  \n");
}
