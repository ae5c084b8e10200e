// trokgen --archive: a day a file of one continuous orbit that drifts as an
// oblate Earth makes it drift, with a history of element sets that SGP4
// tools read and that trokproc numbers and locates orbits from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "run_program.h"
#include "timelib_proc_TAItoUTC.h"
#include "toolkit/products/qlrproduct.h"
#include "toolkit/time/utcday.h"
#include "vn_class_packetfile.h"
#include "vn_class_satpasses.h"
#include "vn_class_trokpacket.h"

using namespace toolkit;

namespace {

const double kDeg = M_PI / 180.0;

ProgramResult Gen(const std::string& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), TROKGEN_PATH);
    return RunProgram(args, dir);
}

// Every `step`-th packet of a file.
std::vector<trokpacket> ReadPackets(const std::string& path, size_t step = 1)
{
    packetfile file(path, trokpacket::apid);
    EXPECT_TRUE(file.good()) << path;
    std::vector<trokpacket> out;
    trokpacket pkt;
    for (size_t n = 0; n < file.NoPackets(); n += step) {
        file.ReadPacket(pkt, n);
        out.push_back(pkt);
    }
    return out;
}

std::string DayFile(int day) { return "arc/2026/06/" + std::string(day < 10 ? "0" : "") + std::to_string(day) + ".pkt"; }

struct ElementSet {
    std::string line1, line2;
    std::vector<double> v;
    double epoch = 0;   // TAI93 seconds, as trokproc converts it
};

std::vector<ElementSet> ReadHistory(const std::string& path)
{
    std::vector<ElementSet> out;
    std::istringstream in(ReadFile(path));
    std::string name, l1, l2;
    while (std::getline(in, name) && std::getline(in, l1) && std::getline(in, l2)) {
        EXPECT_EQ(name, "VORN");
        ElementSet s;
        s.line1 = l1;
        s.line2 = l2;
        const noradelements set(l1, l2);
        EXPECT_TRUE(!set) << "check digits of " << l1;
        s.v = set.Get();
        s.epoch = satpasses(set).EpochTimeTAI93();
        out.push_back(s);
    }
    return out;
}

// Point-mass gravity and the Earth's oblateness (J2), m/s^2.
void Acceleration(const double r[3], double a[3])
{
    const double mu = 3.986004418e14, j2 = 1.08262668e-3, re = 6378137.0;
    const double r2 = r[0] * r[0] + r[1] * r[1] + r[2] * r[2], rn = std::sqrt(r2);
    const double k = 1.5 * j2 * re * re / r2, z2 = r[2] * r[2] / r2;
    for (int j = 0; j < 3; ++j)
        a[j] = -mu * r[j] / (r2 * rn) * (1.0 + k * ((j == 2 ? 3.0 : 1.0) - 5.0 * z2));
}

// State after `seconds` by classical Runge-Kutta steps of at most 0.1 s.
void Propagate(double state[6], double seconds)
{
    const int steps = static_cast<int>(std::ceil(std::fabs(seconds) / 0.1));
    const double h = seconds / steps;
    for (int s = 0; s < steps; ++s) {
        double k[4][6], y[6];
        for (int stage = 0; stage < 4; ++stage) {
            const double f = stage == 0 ? 0.0 : stage == 3 ? 1.0 : 0.5;
            for (int j = 0; j < 6; ++j) y[j] = state[j] + (stage ? f * h * k[stage - 1][j] : 0.0);
            for (int j = 0; j < 3; ++j) k[stage][j] = y[3 + j];
            Acceleration(y, &k[stage][3]);
        }
        for (int j = 0; j < 6; ++j) state[j] += h / 6.0 * (k[0][j] + 2 * k[1][j] + 2 * k[2][j] + k[3][j]);
    }
}

double Seconds(const trokpacket& p) { return p.CoarseTime() + p.FineTime() * 1.52e-5; }

// The first and the last packet of a file.
std::vector<trokpacket> Ends(const std::string& path)
{
    packetfile file(path, trokpacket::apid);
    std::vector<trokpacket> out(2);
    file.ReadPacket(out[0], file.BegPacket());
    file.ReadPacket(out[1], file.EndPacket());
    EXPECT_TRUE(file.good()) << path;
    return out;
}

// trokproc on a day of the archive with an element file of one set.
ProgramResult RunDay(const std::string& dir, int day, const std::string& tle, const std::string& out)
{
    WriteFile(dir + "/" + out + ".cfg", "-packetfile " + DayFile(day) + "\n-noradfile " + tle +
                                            "\n-noradsatname VORN\n-ephemerisfile " + out +
                                            ".eph\n-attitudefile " + out + ".att\n");
    return RunProgram({TROKPROC_PATH, "-configfile", out + ".cfg"}, dir);
}

} // namespace

TEST(TrokgenArchive, TenDaysOfOneOrbitWithAHistoryOfElementSets)
{
    const std::string dir = FreshTestDir();
    ProgramResult r = Gen(dir, {"--archive", "arc", "--days", "10", "--tle", "hist.tle",
                                "--small-gaps", "6", "--repeats", "3", "--seed", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("trokgen: arc: 10 days from 2026-06-01T00:00:00.000 UTC, ", 0), 0u) << r.out;

    // Each file holds its UTC day of the products' model (the days pktmerge
    // and the campaign cut at): it starts on the first whole second at or
    // after the day's midnight, the file before ends before it, and the
    // orbit runs on across midnight as a point mass and an oblate Earth move
    // it (a restart from the first day's state would put it thousands of km
    // away).
    std::vector<trokpacket> before = Ends(dir + "/" + DayFile(1));
    const double start = Seconds(before.front());
    EXPECT_GE(start - 1104537627.0, toolkit::DayStartTai93("2026-06-01"));
    EXPECT_LT(start - 1104537627.0, toolkit::DayStartTai93("2026-06-01") + 1e-4);
    for (int day = 2; day <= 10; ++day) {
        SCOPED_TRACE(DayFile(day));
        const std::vector<trokpacket> pkts = Ends(dir + "/" + DayFile(day));
        const double midnight = toolkit::DayStartTai93(toolkit::DayNumber("2026-06-01") + day - 1) + 1104537627.0;
        EXPECT_GE(Seconds(pkts.front()), midnight);
        EXPECT_LT(Seconds(pkts.front()), midnight + 1.0);
        EXPECT_LT(Seconds(before.back()), midnight);
        EXPECT_EQ(std::fmod(Seconds(pkts.front()) - start, 1.0), 0.0);
        const trokpacket& last = before.back();
        double state[6];
        for (int j = 0; j < 3; ++j) {
            state[j] = last.Position()[j];
            state[3 + j] = last.Velocity()[j];
        }
        Propagate(state, Seconds(pkts.front()) - Seconds(last));
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(state[j], pkts.front().Position()[j], 0.5);
            EXPECT_NEAR(state[3 + j], pkts.front().Velocity()[j], 0.05);
        }
        before = pkts;
    }

    // The history: a set every one to two days at any time of day, one of
    // them twice, shuffled; revolution numbers at the rate of the orbit.
    const std::vector<ElementSet> history = ReadHistory(dir + "/hist.tle");
    std::map<std::string, int> seen;
    std::vector<ElementSet> sets;
    bool shuffled = false;
    for (size_t i = 0; i < history.size(); ++i) {
        if (seen[history[i].line1]++ == 0) sets.push_back(history[i]);
        shuffled |= i > 0 && history[i].epoch < history[i - 1].epoch;
    }
    EXPECT_EQ(history.size(), sets.size() + 1) << "one set twice";
    EXPECT_TRUE(shuffled);
    ASSERT_GE(sets.size(), 5u);
    std::sort(sets.begin(), sets.end(),
              [](const ElementSet& a, const ElementSet& b) { return a.epoch < b.epoch; });
    for (size_t i = 0; i < sets.size(); ++i) {
        const double dayFraction = sets[i].v[11] - std::floor(sets[i].v[11]);
        EXPECT_GT(dayFraction, 0.01);
        EXPECT_LT(dayFraction, 0.99);
        if (i == 0) continue;
        const double days = (sets[i].epoch - sets[i - 1].epoch) / 86400.0;
        EXPECT_GE(days, 1.0);
        EXPECT_LE(days, 2.0);
        EXPECT_NEAR(sets[i].v[12] - sets[i - 1].v[12], days * 14.57, 1.0);
    }

    // The same arguments give the same bytes.
    for (const std::string name : {"a", "b"})
        ASSERT_EQ(Gen(dir, {"--archive", name, "--days", "2", "--tle", name + ".tle", "--seed", "3"}).status, 0);
    EXPECT_EQ(ReadFile(dir + "/a/2026/06/02.pkt"), ReadFile(dir + "/b/2026/06/02.pkt"));
    EXPECT_EQ(ReadFile(dir + "/a.tle"), ReadFile(dir + "/b.tle"));
}

TEST(TrokgenArchive, EverySetReadsInSgp4ToolsAndFollowsTheOrbit)
{
    if (RunProgram({"/usr/bin/python3", "-c", "import sgp4, skyfield"}).status != 0)
        GTEST_SKIP() << "python3-sgp4 or python3-skyfield is missing "
                        "(apt-get install python3-sgp4 python3-skyfield)";
    const std::string dir = FreshTestDir();
    ProgramResult r = Gen(dir, {"--archive", "arc", "--days", "10", "--tle", "hist.tle", "--seed", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    // States every quarter hour, with their time on the epochs' scale
    // (trokproc's UTC, in which trokgen writes the epochs).
    std::string states;
    for (int day = 1; day <= 10; ++day) {
        const std::vector<trokpacket> pkts = ReadPackets(dir + "/" + DayFile(day), 900);
        for (size_t i = 0; i < pkts.size(); ++i) {
            const double utc = TAItoUTC(pkts[i].TimeTag());
            const double whole = std::floor(utc);
            char line[160];
            std::snprintf(line, sizeof line, "%.1f %.12f %.3f %.3f %.3f\n", whole, utc - whole,
                          pkts[i].Position()[0], pkts[i].Position()[1], pkts[i].Position()[2]);
            states += line;
        }
    }
    WriteFile(dir + "/states", states);
    r = RunProgram({"/bin/sh", "-c",
                    "/usr/bin/python3 " TROK_SOURCE_DIR "/tests/oracles/sgp4_sets.py hist.tle < states"},
                   dir);
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    size_t count = 0;
    for (std::string epoch, readers, worst; lines >> epoch >> readers;) {
        size_t near = 0;
        lines >> near >> worst;
        ++count;
        EXPECT_EQ(readers, "sgp4,skyfield") << epoch;
        // Within a day of its epoch SGP4 puts the spacecraft within the few
        // km of its short-periodic terms, which the simulation leaves out.
        ASSERT_GT(near, 50u) << epoch;
        EXPECT_LT(std::stod(worst), 10.0) << epoch;
    }
    EXPECT_EQ(count, ReadHistory(dir + "/hist.tle").size());
}

// The node drifts as the product run's node model drifts it: the
// descending-node longitude of one orbit from a set five days old differs
// from that of a set of the same day by no more than the Earth turns
// between their predicted node times. (The model runs the node times at the
// set's mean motion, the anomalistic one, while the nodes come a nodal
// period apart, 3.5 s longer: an old set predicts them early.)
TEST(TrokgenArchive, AnOldSetPutsTheDescendingNodeWhereItsNodeTimeSays)
{
    const std::string dir = FreshTestDir();
    ProgramResult r = Gen(dir, {"--archive", "arc", "--days", "8", "--tle", "hist.tle", "--seed", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<ElementSet> sets = ReadHistory(dir + "/hist.tle");
    std::sort(sets.begin(), sets.end(),
              [](const ElementSet& a, const ElementSet& b) { return a.epoch < b.epoch; });
    // The latest set, and one four and a half to six and a half days older.
    const ElementSet& fresh = sets.back();
    const ElementSet* old = nullptr;
    for (const ElementSet& s : sets)
        if (fresh.epoch - s.epoch >= 4.5 * 86400 && fresh.epoch - s.epoch <= 6.5 * 86400) old = &s;
    ASSERT_NE(old, nullptr);
    const std::vector<trokpacket> first = Ends(dir + "/" + DayFile(1));
    const int day = 1 + static_cast<int>((fresh.epoch + 1104537627.0 - Seconds(first.front())) / 86400);

    std::vector<Product> products;
    for (const ElementSet* s : {&fresh, old}) {
        const std::string name = s == old ? "old" : "fresh";
        WriteFile(dir + "/" + name + ".tle", "VORN\n" + s->line1 + "\n" + s->line2 + "\n");
        r = RunDay(dir, day, name + ".tle", name);
        ASSERT_EQ(r.status, 0) << r.err;
        Product p;
        std::string error;
        ASSERT_TRUE(ReadProduct(dir + "/" + name + ".eph", ProductKind::Ephemeris, p, error)) << error;
        products.push_back(p);
    }
    const double age = (fresh.epoch - old->epoch) / 86400.0;
    const double earthRate = 7.2921159e-5;   // rad/s, sidereal
    ASSERT_EQ(products[0].orbits.size(), products[1].orbits.size());
    std::printf("  set ages 0 and %.2f days, day %d: orbit, longitude difference and node time "
                "difference\n", age, day);
    for (size_t k = 1; k < products[0].orbits.size(); ++k) {
        const OrbitRecord& a = products[0].orbits[k];
        const OrbitRecord& b = products[1].orbits[k];
        const double longitude = std::remainder(b.descendingLongitude - a.descendingLongitude, 2 * M_PI);
        const double early = b.descendingTai93 - a.descendingTai93;
        std::printf("  %5u  %8.4f deg  %9.3f s\n", a.orbitNo, longitude / kDeg, early);
        EXPECT_LT(std::fabs(longitude + earthRate * early) / kDeg, 0.1) << "orbit " << a.orbitNo;
    }
}

TEST(TrokgenArchive, FaultsOnChosenDaysAndAStretchWithoutElementSets)
{
    const std::string dir = FreshTestDir();
    ProgramResult r = Gen(dir, {"--archive", "plain", "--days", "4", "--seed", "8"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Gen(dir, {"--archive", "arc", "--days", "4", "--seed", "8", "--tle", "hist.tle",
                  "--time-fault-days", "1", "--flip-days", "2", "--cut-days", "3",
                  "--tle-gap-days", "2-3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(", 1 time fault, 1 flipped bit, 1 day cut short; "), std::string::npos) << r.out;

    // Day 1: one time that does not increase; trokproc refuses the day.
    const std::vector<trokpacket> day1 = ReadPackets(dir + "/" + DayFile(1));
    size_t backwards = 0;
    for (size_t i = 1; i < day1.size(); ++i) backwards += day1[i].TimeTag() <= day1[i - 1].TimeTag();
    EXPECT_EQ(backwards, 1u);
    // Day 2: a whole day whose check fails on one record.
    r = RunDay(dir, 2, "noTLE", "d2");
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunProgram({QLRDUMP_PATH, "--check", "d2.eph", "d2.att"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("does not fit its neighbours' positions and velocities"), std::string::npos)
        << r.err;
    // Day 3: broken off inside a packet.
    const std::string day3 = ReadFile(dir + "/" + DayFile(3));
    EXPECT_NE(day3.size() % 126, 0u);
    EXPECT_LT(day3.size(), 86400u * 126u);
    // Day 4 is the day without those faults, byte for byte.
    EXPECT_EQ(ReadFile(dir + "/" + DayFile(4)), ReadFile(dir + "/plain/2026/06/04.pkt"));
    // No set has its epoch on days 2 and 3.
    const double dayOne = Seconds(day1.front()) - 1104537627.0;
    for (const ElementSet& s : ReadHistory(dir + "/hist.tle")) {
        const int day = 1 + static_cast<int>((s.epoch - dayOne) / 86400);
        EXPECT_TRUE(day == 1 || day == 4) << s.line1;
    }

    // A day outside the archive is refused.
    r = Gen(dir, {"--archive", "x", "--days", "3", "--cut-days", "4"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "trokgen: day 4 lies beyond the 3 days of the archive\n");
}
