#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mathlib_class_matrix.h"
#include "orbitlib_proc_Convert_RectangularToKepler.h"
#include "orbitlib_proc_GreenwichHourAngle.h"
#include "orbitlib_proc_InertialToOrbitalMtx.h"
#include "orbitlib_proc_QuaternionToAttitudeMtx.h"
#include "vn_class_trokpacket.h"
#include "vn_proc_EulerAnglesInOrbitalFrame.h"

namespace {

const double mu = 3.9860064e14;
const double pi = 3.14159265358979323846;
const double deg = pi / 180;

// Kepler's equation by Newton iteration.
double EccentricAnomaly(double M, double e)
{
    double E = M;
    for (int k = 0; k < 50; ++k) E -= (E - e * std::sin(E) - M) / (1 - e * std::cos(E));
    return E;
}

// State vector from elements through the perifocal unit vectors P and Q.
std::vector<double> State(double a, double e, double i, double Om, double w, double M)
{
    const double E = EccentricAnomaly(M, e);
    const double b = std::sqrt(1 - e * e);
    const double r = a * (1 - e * std::cos(E));
    const double xp = a * (std::cos(E) - e), yp = a * b * std::sin(E);
    const double s = std::sqrt(mu * a) / r;
    const double vxp = -s * std::sin(E), vyp = s * b * std::cos(E);
    const double cO = std::cos(Om), sO = std::sin(Om), cw = std::cos(w), sw = std::sin(w);
    const double ci = std::cos(i), si = std::sin(i);
    const double P[3] = {cO * cw - sO * sw * ci, sO * cw + cO * sw * ci, sw * si};
    const double Q[3] = {-cO * sw - sO * cw * ci, -sO * sw + cO * cw * ci, cw * si};
    std::vector<double> state(6);
    for (int k = 0; k < 3; ++k) {
        state[k] = xp * P[k] + yp * Q[k];
        state[k + 3] = vxp * P[k] + vyp * Q[k];
    }
    return state;
}

// Difference of two angles folded into (-pi, pi].
double AngleDiff(double a, double b)
{
    return std::remainder(a - b, 2 * pi);
}

void ExpectElements(const std::vector<double>& got, double a, double e, double i, double Om, double w,
                    double M)
{
    ASSERT_EQ(got.size(), 6u);
    EXPECT_NEAR(got[0] / a, 1.0, 1e-12);
    EXPECT_NEAR(got[1], e, 1e-12);
    EXPECT_NEAR(got[2], i, 1e-12);
    EXPECT_NEAR(AngleDiff(got[3], Om), 0.0, 1e-11);
    EXPECT_NEAR(AngleDiff(got[4], w), 0.0, 1e-9);
    EXPECT_NEAR(AngleDiff(got[5], M), 0.0, 1e-9);
    for (int k = 3; k < 6; ++k) EXPECT_TRUE(got[k] >= 0.0 && got[k] < 2 * pi) << got[k];
}

// Published apparent or mean sidereal time given as h, m, s, in radians.
double Hms(double h, double m, double s)
{
    return (h * 3600 + m * 60 + s) / 86400 * 2 * pi;
}

// IAU 1982 mean sidereal time in the degree form counted from J2000.0, plus
// the equation of the equinoxes from the four leading nutation terms.
double ApparentSiderealTime(double jd)
{
    const double t = (jd - 2451545.0) / 36525;
    const double gmstDeg = 280.46061837 + 360.98564736629 * (jd - 2451545.0) + 0.000387933 * t * t -
                           t * t * t / 38710000;
    const double node = (125.04452 - 1934.136261 * t) * deg;
    const double sunL = (280.4665 + 36000.7698 * t) * deg;
    const double moonL = (218.3165 + 481267.8813 * t) * deg;
    const double dpsiArcsec = -17.20 * std::sin(node) - 1.32 * std::sin(2 * sunL) -
                              0.23 * std::sin(2 * moonL) + 0.21 * std::sin(2 * node);
    const double eps = (23.0 + 26.0 / 60 + 21.448 / 3600 - 46.8150 / 3600 * t) * deg;
    const double eqeqDeg = dpsiArcsec / 3600 * std::cos(eps);
    return std::fmod(std::fmod(gmstDeg + eqeqDeg, 360.0) + 360.0, 360.0) * deg;
}

void ExpectMatrix(const matrix& m, const std::vector<double>& rowMajor, double tol)
{
    ASSERT_EQ(m.rowsize() * 10 + m.colsize(), 33u);
    for (size_t k = 0; k < 9; ++k) EXPECT_NEAR(m.putarray()[k], rowMajor[k], tol) << "element " << k;
}

} // namespace

TEST(KeplerConversion, InclinedAndRetrogradeOrbitsReturnTheirElements)
{
    ExpectElements(Convert_RectangularToKepler(State(7.0e6, 0.01, 0.9, 1.2, 2.5, 4.0)), 7.0e6, 0.01, 0.9,
                   1.2, 2.5, 4.0);
    // Sun-synchronous, nearly circular and retrograde.
    ExpectElements(Convert_RectangularToKepler(State(7.18e6, 0.0012, 98.7 * deg, 5.9, 0.3, 6.0)), 7.18e6,
                   0.0012, 98.7 * deg, 5.9, 0.3, 6.0);
    // Strongly eccentric, with a seventh component that is ignored.
    std::vector<double> longer = State(2.4e7, 0.7, 63.4 * deg, 0.5, 270 * deg, 0.2);
    longer.push_back(1e30);
    ExpectElements(Convert_RectangularToKepler(longer), 2.4e7, 0.7, 63.4 * deg, 0.5, 270 * deg, 0.2);
    // Negative angles come back in the first turn.
    ExpectElements(Convert_RectangularToKepler(State(7.0e6, 0.05, 0.5, -0.1, -0.1, -0.1)), 7.0e6, 0.05, 0.5,
                   2 * pi - 0.1, 2 * pi - 0.1, 2 * pi - 0.1);
}

TEST(KeplerConversion, EquatorialOrbitsMeasureFromTheNodeDirection)
{
    // In the equator only the sum (prograde) or difference (retrograde) of
    // node and perigee angles is defined.
    std::vector<double> pro = State(4.2164e7, 0.2, 0.0, 0.7, 1.1, 2.0);
    const std::vector<double> p = Convert_RectangularToKepler(pro);
    EXPECT_NEAR(p[0] / 4.2164e7, 1.0, 1e-12);
    EXPECT_NEAR(p[1], 0.2, 1e-12);
    EXPECT_EQ(p[2], 0.0);
    EXPECT_NEAR(AngleDiff(p[3] + p[4], 1.8), 0.0, 1e-10);
    EXPECT_NEAR(AngleDiff(p[5], 2.0), 0.0, 1e-10);

    std::vector<double> retro = State(7.0e6, 0.1, pi, 0.7, 1.1, 2.0);
    retro[2] = retro[5] = 0.0;   // exactly in the equator
    const std::vector<double> q = Convert_RectangularToKepler(retro);
    EXPECT_NEAR(q[1], 0.1, 1e-12);
    EXPECT_EQ(q[2], pi);
    EXPECT_NEAR(AngleDiff(q[3] - q[4], 0.7 - 1.1), 0.0, 1e-10);
    EXPECT_NEAR(AngleDiff(q[5], 2.0), 0.0, 1e-10);
}

TEST(KeplerConversion, CircularStateRoundingBelowZeroGivesZeroEccentricity)
{
    // On this circular state 1 - P/A comes out as -2.2e-16.
    const double R = 7002000, V = 7544.9773892721005;
    const double h = R * V, A = 1 / (2 / R - V * V / mu);
    ASSERT_LT(1 - h * h / mu / A, 0.0);

    const std::vector<double> k = Convert_RectangularToKepler({R, 0, 0, 0, V, 0});
    EXPECT_EQ(k[1], 0.0);
    for (double x : k) EXPECT_TRUE(std::isfinite(x));
    EXPECT_NEAR(k[0], R, 1e-6);
    // Position on the x axis, moving along y: the satellite is at the node.
    EXPECT_NEAR(AngleDiff(k[3] + k[4] + k[5], 0.0), 0.0, 1e-12);
}

TEST(KeplerConversionDeathTest, ShortVectorsAndOpenOrbitsStop)
{
    EXPECT_DEATH(Convert_RectangularToKepler({7e6, 0, 0, 0, 7500}), "Assertion `V.size\\(\\) >= 6' failed");
    // Faster than escape velocity.
    EXPECT_DEATH(Convert_RectangularToKepler({7e6, 0, 0, 0, 11000, 0}), "Assertion `A>0\\.' failed");
}

TEST(SiderealAngle, MatchesPublishedValuesAndTheIauFormula)
{
    // Midnight, 1987 April 10: mean 13h10m46.3668s, apparent 13h10m46.1351s.
    EXPECT_NEAR(GreenwichHourAngle(2446895.5), Hms(13, 10, 46.1351), 2e-6);
    // 2000 January 1, 0h UT: mean 6h39m52.2707s; 12h UT: mean 280.46061837
    // deg. The nutation term (about -6e-5 rad) is included.
    EXPECT_NEAR(GreenwichHourAngle(2451544.5), Hms(6, 39, 52.2707) - 6.2e-5, 1e-5);
    EXPECT_NEAR(GreenwichHourAngle(2451545.0), 280.46061837 * deg - 6.2e-5, 1e-5);

    const double days[] = {2451545.0, 2446896.30625, 2448988.5003125, 2458849.9, 2460310.123456,
                           2462502.75, 2436204.5};
    for (double jd : days) {
        const double g = GreenwichHourAngle(jd);
        EXPECT_NEAR(AngleDiff(g, ApparentSiderealTime(jd)), 0.0, 1e-5) << "JD " << jd;
        EXPECT_TRUE(g >= 0.0 && g < 2 * pi) << g;
    }
}

TEST(FrameMatrices, OrbitalAxesFollowPositionAndVelocity)
{
    // Prograde equatorial orbit at longitude a: x along the motion, y to the
    // south (against the orbit normal), z to the Earth's centre.
    const double a = 0.6, R = 7.0e6, V = 7500;
    const matrix O = InertialToOrbitalMtx({R * std::cos(a), R * std::sin(a), 0},
                                          {-V * std::sin(a), V * std::cos(a), 0});
    ExpectMatrix(O, {-std::sin(a), std::cos(a), 0, 0, 0, -1, -std::cos(a), -std::sin(a), 0}, 1e-15);
}

TEST(FrameMatrices, QuaternionGivesInertialToBodyMatrix)
{
    ExpectMatrix(QuaternionToAttitudeMtx({0, 0, 0, 1}), {1, 0, 0, 0, 1, 0, 0, 0, 1}, 0);
    // Body x, y, z along inertial y, -z, -x.
    ExpectMatrix(QuaternionToAttitudeMtx({-0.5, -0.5, 0.5, 0.5}), {0, 1, 0, 0, 0, -1, -1, 0, 0}, 0);
    // No normalisation: the matrix scales with the squared length.
    ExpectMatrix(QuaternionToAttitudeMtx({0, 0, 0, 2}), {4, 0, 0, 0, 4, 0, 0, 0, 4}, 0);
}

TEST(FrameMatricesDeathTest, QuaternionNeedsFourComponents)
{
    EXPECT_DEATH(QuaternionToAttitudeMtx({0, 0, 1}), "Assertion `q.size\\(\\) >= 4' failed");
}

TEST(AttitudeAngles, SmallRotationsAboutEachOrbitalAxis)
{
    // Here the orbital frame coincides with the inertial one.
    const std::vector<double> r{0, 0, -7.0e6}, v{7500, 0, 0};
    const double t = 0.01, s = std::sin(t / 2), c = std::cos(t / 2);
    struct Case {
        std::vector<double> q;
        std::vector<double> expected;   // yaw, roll, pitch
    } cases[] = {
        {{0, 0, 0, 1}, {0, 0, 0}},
        {{0, 0, s, c}, {std::sin(t), 0, 0}},
        {{s, 0, 0, c}, {0, std::sin(t), 0}},
        {{0, s, 0, c}, {0, 0, std::sin(t)}},
    };
    for (const Case& k : cases) {
        const array got = EulerAnglesInOrbitalFrame(r, v, k.q);
        ASSERT_EQ(got.size(), 3u);
        for (size_t j = 0; j < 3; ++j) EXPECT_NEAR(got[j], k.expected[j], 1e-16) << j;
    }
}

TEST(AttitudeAngles, BodyAlignedWithOrbitalFrameGivesZero)
{
    // At (R, 0, 0) moving along y the orbital axes are inertial y, -z, -x,
    // which is the body frame of this quaternion.
    const array got = EulerAnglesInOrbitalFrame({7.0e6, 0, 0}, {0, 7500, 0}, {-0.5, -0.5, 0.5, 0.5});
    for (double x : got) EXPECT_NEAR(x, 0.0, 1e-16);
    // Seen from 0.01 rad further along the orbit the same body frame is
    // pitched about the orbit normal (orbital y) only.
    const double a = 0.01;
    const array turned = EulerAnglesInOrbitalFrame({7.0e6 * std::cos(a), 7.0e6 * std::sin(a), 0},
                                                   {-7500 * std::sin(a), 7500 * std::cos(a), 0},
                                                   {-0.5, -0.5, 0.5, 0.5});
    EXPECT_NEAR(turned[0], 0.0, 1e-16);
    EXPECT_NEAR(turned[1], 0.0, 1e-16);
    EXPECT_NEAR(turned[2], std::sin(a), 1e-15);
}

TEST(AttitudeAngles, TakenFromThePacketFields)
{
    // Yaw of 0.01 rad with the orbital frame along the inertial axes.
    const double t = 0.01;
    trokpacket pkt;
    pkt.ItemList() = {0, 0, -7.0e6, 7500, 0, 0, 0, 0, std::sin(t / 2), std::cos(t / 2), 1, 2, 3};
    const array got = EulerAnglesInOrbitalFrame(pkt);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_NEAR(got[0], std::sin(t), 1e-16);
    EXPECT_NEAR(got[1], 0.0, 1e-16);
    EXPECT_NEAR(got[2], 0.0, 1e-16);
}

// The per-packet form works on plain doubles; its values must be those of the
// matrix form (O and B from the library, B * transpose(O)) to the last bit,
// since the products are compared byte for byte between versions.
TEST(AttitudeAngles, BitIdenticalToTheMatrixForm)
{
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    std::vector<std::vector<double>> states;
    for (int k = 0; k < 40; ++k) {
        const double a = 6.9e6 + 1.1e5 * k, e = 0.002 * (k % 7), i = 3.0 * k * deg;
        states.push_back(State(a, e, i, 17.0 * k * deg, 29.0 * k * deg, 41.0 * k * deg));
    }
    states.push_back({0, 0, -7.0e6, 7500, 0, 0});       // zeros: -0.0 against +0.0 sums
    states.push_back({-0.0, 7.0e6, 0.0, 0, -0.0, 7500});
    states.push_back({0, 0, 0, 7500, 0, 0});            // zero position: not-a-number
    int checked = 0;
    std::vector<std::vector<double>> itemLists;   // for the form that takes many points at once
    std::vector<std::vector<double>> expectedAll;
    for (size_t n = 0; n < states.size(); ++n) {
        const std::vector<double> r(states[n].begin(), states[n].begin() + 3);
        const std::vector<double> v(states[n].begin() + 3, states[n].begin() + 6);
        const double h = 0.37 * static_cast<double>(n);
        std::vector<double> q{std::sin(h) * 0.6, std::cos(3 * h) * 0.3, -0.1 * h, 0.0};
        q[3] = std::sqrt(std::fabs(1 - q[0] * q[0] - q[1] * q[1] - q[2] * q[2]));
        if (n % 5 == 0) q = {0, 0, 0, 1};
        if (n % 11 == 3) q = {0.0, -0.0, 0.0, -1.0};
        const matrix M = QuaternionToAttitudeMtx(q) * transpose(InertialToOrbitalMtx(r, v));
        const double expected[3] = {M(1, 2), M(2, 3), M(3, 1)};

        trokpacket pkt;
        pkt.ItemList() = {r[0], r[1], r[2], v[0], v[1], v[2], q[0], q[1], q[2], q[3], 0, 0, 0};
        array intoBuffer{9, 9, 9, 9};
        EulerAnglesInOrbitalFrame(pkt, intoBuffer);
        const array forms[3] = {EulerAnglesInOrbitalFrame(r, v, q), EulerAnglesInOrbitalFrame(pkt),
                                intoBuffer};
        for (const array& got : forms) {
            ASSERT_EQ(got.size(), 3u);
            for (size_t j = 0; j < 3; ++j)
                EXPECT_TRUE(same(got[j], expected[j]) || (std::isnan(got[j]) && std::isnan(expected[j])))
                    << "state " << n << " angle " << j << ": " << got[j] << " vs " << expected[j];
        }
        itemLists.push_back(pkt.ItemList());
        expectedAll.push_back({expected[0], expected[1], expected[2]});
        ++checked;
    }
    EXPECT_EQ(checked, 43);
    // Many points at once, in groups side by side and one by one: every
    // count up to nine, then all of them.
    for (size_t count : {1, 2, 3, 4, 5, 6, 7, 8, 9, 43}) {
        std::vector<const double*> in;
        std::vector<std::vector<double>> got(count, std::vector<double>(3, 9.0));
        std::vector<double*> out;
        for (size_t n = 0; n < count; ++n) {
            const size_t at = (n * 7 + count) % itemLists.size();   // mixed, not in order
            in.push_back(itemLists[at].data());
            out.push_back(got[n].data());
        }
        EulerAnglesInOrbitalFrame(in.data(), out.data(), count);
        for (size_t n = 0; n < count; ++n) {
            const size_t at = (n * 7 + count) % itemLists.size();
            for (size_t j = 0; j < 3; ++j)
                EXPECT_TRUE(same(got[n][j], expectedAll[at][j]) ||
                            (std::isnan(got[n][j]) && std::isnan(expectedAll[at][j])))
                    << count << " points, state " << at << " angle " << j;
        }
    }
    // And on 20,000 orbits and attitudes of a fixed pseudo-random sequence,
    // against the form for one packet: rounding differences are rare, and
    // would show here.
    std::mt19937_64 random(20260601);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const size_t many = 20000;
    std::vector<std::vector<double>> lists(many), got(many, std::vector<double>(3));
    std::vector<const double*> in;
    std::vector<double*> out;
    for (size_t n = 0; n < many; ++n) {
        lists[n] = {7e6 * unit(random), 7e6 * unit(random), 7e6 * unit(random), 7.5e3 * unit(random),
                    7.5e3 * unit(random), 7.5e3 * unit(random), unit(random), unit(random),
                    unit(random), unit(random), 0, 0, 0};
        in.push_back(lists[n].data());
        out.push_back(got[n].data());
    }
    EulerAnglesInOrbitalFrame(in.data(), out.data(), many);
    size_t differ = 0;
    trokpacket pkt;
    array one(3);
    for (size_t n = 0; n < many; ++n) {
        pkt.ItemList() = lists[n];
        EulerAnglesInOrbitalFrame(pkt, one);
        for (size_t j = 0; j < 3; ++j) differ += !same(got[n][j], one[j]);
    }
    EXPECT_EQ(differ, 0u);
}
