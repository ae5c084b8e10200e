// A run with a two-line element set over several orbits of a circular
// orbit, checked against the orbit the packets were built from.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "orbitlib_class_noradelements.h"
#include "product_reader.h"
#include "run_program.h"
#include "toolkit/packets/packetbuilder.h"

using namespace toolkit;

namespace {

const std::string kProg = TROKPROC_PATH;
const double kMu = 3.9860064e14;
const double kPi = 3.141592653589793;
const double kTwoPi = 6.283185307179586;
const double kDeg = kPi / 180.0;
const double kTAI93 = 2448988.5003125;
const double kEpoch1958 = 2436204.5;

// The element set: 14.5 revolutions a day, i 98.2 deg, node 40 deg, at its
// ascending node (w + M = 0) at 2024-01-10 00:00 UTC, revolution 1000.
struct Scenario {
    std::string line1, line2;
    double n;            // rad/s
    double radius;       // m
    double incl, raan;   // rad
    double epochUtc;     // Julian day, UTC
    double epochTai;     // Julian day, TAI
    double epochCoarse;  // packet seconds of the epoch

    Scenario()
    {
        std::vector<double> v(13, 0.0);
        v[0] = 14.5 * kTwoPi / 1440.0;
        v[2] = 98.2 * kDeg;
        v[3] = 40.0 * kDeg;
        v[9] = 12345;
        v[10] = 24;
        v[11] = 10.0;
        v[12] = 1000;
        noradelements(v).Get(line1, line2);
        // The orbit follows the elements as the text carries them.
        const std::vector<double> parsed = noradelements(line1, line2).Get();
        n = parsed[0] / 60.0;
        incl = parsed[2];
        raan = parsed[3];
        radius = std::cbrt(kMu / (n * n));
        epochUtc = 2460319.5;   // 2024-01-10 00:00 UTC
        // TAI - UTC of the system's smooth offset model at the epoch.
        const long double t = (epochUtc - 2394566.0L) / 365.25L;
        const double delta = static_cast<double>(0.2685L * t * t / 100.0L - 32.18L);
        epochTai = epochUtc + delta / 86400.0;
        epochCoarse = (epochTai - kEpoch1958) * 86400.0;
    }

    double Period() const { return kTwoPi / n; }

    // Circular orbit: the ascending node at the epoch and every period after.
    TelemetrySample Sample(uint32_t coarse) const
    {
        const double u = n * (coarse - epochCoarse);
        const double cO = std::cos(raan), sO = std::sin(raan), ci = std::cos(incl), si = std::sin(incl);
        const double cu = std::cos(u), su = std::sin(u), v = radius * n;
        TelemetrySample s;
        s.coarse = coarse;
        s.pos[0] = radius * (cO * cu - sO * su * ci);
        s.pos[1] = radius * (sO * cu + cO * su * ci);
        s.pos[2] = radius * su * si;
        s.vel[0] = v * (-cO * su - sO * cu * ci);
        s.vel[1] = v * (-sO * su + cO * cu * ci);
        s.vel[2] = v * cu * si;
        s.quat[3] = 1.0;
        return s;
    }

    double Tai93(double coarse) const { return (kEpoch1958 - kTAI93) * 86400.0 + coarse; }
};

// Greenwich mean sidereal angle, IAU 1982, in its degree form.
double Gmst(double jdUt)
{
    const double d = jdUt - 2451545.0, t = d / 36525.0;
    const double deg = 280.46061837 + 360.98564736629 * d + 0.000387933 * t * t - t * t * t / 38710000.0;
    return std::fmod(deg, 360.0) * kDeg;
}

double Wrap(double a)
{
    a = std::fmod(a, kTwoPi);
    if (a <= -kPi) a += kTwoPi;
    if (a > kPi) a -= kTwoPi;
    return a;
}

struct Products {
    ProgramResult result;
    std::string eph;
};

Products RunScenario(const Scenario& sc, const std::string& satName, const std::string& extra = "")
{
    const std::string dir = FreshTestDir();
    PacketFileBuilder packets;
    // From 2.3 to 5.1 periods after the epoch, every 100 s (all gaps large).
    const uint32_t first = static_cast<uint32_t>(sc.epochCoarse + 2.3 * sc.Period());
    const uint32_t last = static_cast<uint32_t>(sc.epochCoarse + 5.1 * sc.Period());
    for (uint32_t c = first; c <= last; c += 100) packets.AddTelemetry(sc.Sample(c));
    packets.WriteTo(dir + "/in.pkt");
    WriteFile(dir + "/in.tle", "\n" + satName + "\n" + sc.line1 + "\n\n" + sc.line2 + "\n");
    WriteFile(dir + "/configfile", "-packetfile in.pkt\n-noradfile in.tle\n-ephemerisfile out.eph\n"
                                   "-attitudefile out.att\n" + extra);
    Products p;
    p.result = RunProgram({kProg}, dir);
    if (p.result.status == 0) p.eph = ReadFile(dir + "/out.eph");
    return p;
}

} // namespace

TEST(ProductRunWithElements, OrbitNumbersNodesAndKeplerElements)
{
    const Scenario sc;
    Products p = RunScenario(sc, "VORN", "-diag_2 yes\n");
    ASSERT_EQ(p.result.status, 0) << p.result.err;
    EXPECT_EQ(p.result.out, "VORN MATCHED VORN 0\n" + sc.line1 + sc.line2 + "\n");

    const uint32_t n = BeU32(p.eph, 136);
    const size_t meta = kHeaderBytes + n * kRecordBytes;
    ASSERT_EQ((p.eph.size() - meta) % kMetaBytes, 0u);
    ASSERT_EQ((p.eph.size() - meta) / kMetaBytes, 4u);   // start, then nodes 3, 4, 5

    // Subheader: count (difference of the numbers), first, last.
    EXPECT_EQ(BeU32(p.eph, 140), 3u);
    EXPECT_EQ(BeU32(p.eph, 144), 1002u);
    EXPECT_EQ(BeU32(p.eph, 148), 1005u);
    EXPECT_NEAR(BeF64(p.eph, 208), (sc.epochTai - kTAI93) * 86400.0, 1e-4);

    // Kepler elements of the first packet, with the element set's w + M.
    const double a = BeF64(p.eph, 160), e = BeF64(p.eph, 168), i = BeF64(p.eph, 176);
    const double raan = BeF64(p.eph, 184), w = BeF64(p.eph, 192), m = BeF64(p.eph, 200);
    EXPECT_NEAR(a / sc.radius, 1.0, 1e-9);
    EXPECT_LT(e, 1e-6);
    EXPECT_NEAR(i, sc.incl, 1e-9);
    EXPECT_NEAR(raan, sc.raan, 1e-9);
    EXPECT_NEAR(std::sin(w + m), 0.0, 1e-6);
    EXPECT_NEAR(std::cos(w + m), 1.0, 1e-6);

    for (uint32_t k = 0; k < 4; ++k) {
        const size_t r = meta + k * kMetaBytes;
        const double rev = 2 + k;   // revolutions since the epoch's node
        EXPECT_EQ(BeU32(p.eph, r), 1000u + rev) << k;
        const double asc = sc.Tai93(sc.epochCoarse + rev * sc.Period());
        const double dsc = asc + sc.Period() / 2;
        EXPECT_NEAR(BeF64(p.eph, r + 8), asc, 1e-3) << k;
        EXPECT_NEAR(BeF64(p.eph, r + 16), dsc, 1e-3) << k;
        // East longitude of the descending node: right ascension of the node
        // (drifting 0.01728 rad/day) plus pi, less the sidereal angle.
        const double dscJdTai = dsc / 86400.0 + kTAI93;
        const double drift = (dscJdTai - sc.epochTai) * 0.01728;
        const double dscJdUtc = dscJdTai - (sc.epochTai - sc.epochUtc);
        const double lon = Wrap(sc.raan + drift + kPi - Gmst(dscJdUtc));
        EXPECT_NEAR(Wrap(BeF64(p.eph, r + 24) - lon), 0.0, 1.5e-4) << k;
        EXPECT_GT(BeF64(p.eph, r + 24), -kPi);
        EXPECT_LE(BeF64(p.eph, r + 24), kPi);
    }

    // One pass dump per orbit, in order.
    size_t at = 0;
    for (int k = 0; k < 4; ++k) {
        const size_t found = p.result.err.find("\ndiag_2 SatPass[" + std::to_string(k) + "]\n", at);
        ASSERT_NE(found, std::string::npos) << k;
        at = found + 1;
    }
}

TEST(ProductRunWithElements, MissingSatelliteRunsOnZeroElements)
{
    const Scenario sc;
    Products p = RunScenario(sc, "OTHER");
    ASSERT_EQ(p.result.status, 0) << p.result.err;
    EXPECT_EQ(p.result.out, "");
    EXPECT_EQ(p.result.err, "");
    // No mean motion: every revolution number is that of the empty set.
    EXPECT_EQ(BeU32(p.eph, 140), 1u);
    EXPECT_EQ(BeU32(p.eph, 144), 0u);
    EXPECT_EQ(BeU32(p.eph, 148), 0u);
    const size_t meta = kHeaderBytes + BeU32(p.eph, 136) * kRecordBytes;
    for (size_t r = meta; r < p.eph.size(); r += kMetaBytes) EXPECT_EQ(BeU32(p.eph, r), 0u);
}
