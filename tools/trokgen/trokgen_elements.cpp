// Element sets of the simulated orbit.
#include "trokgen_elements.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "orbitlib_class_noradelements.h"
#include "timelib_class_date_time.h"
#include "timelib_proc_TAItoUTC.h"
#include "toolkit/numbering/tle.h"

using namespace toolkit;

namespace trokgen {

namespace {

// The epoch of an element set for the instant `dt` seconds after the start:
// UTC of trokproc's own time model, as a day of year to 1e-8 day, which is
// what trokproc reads back. `shifted` is that rounded epoch in seconds after
// the start (a few milliseconds from dt).
struct Epoch {
    unsigned year = 0;
    double dayOfYear = 0;
    double shifted = 0;
};

Epoch EpochNear(const Options& o, double dt)
{
    const double jdTai = 2436204.5 + (o.start + dt) / 86400.0;
    date_time utc(TAItoUTC(jdTai));
    unsigned year = 0, dayOffset = 0;
    double second = 0;
    utc.GetGregorianYearDaySecond(year, dayOffset, second);
    Epoch e;
    e.year = year;
    e.dayOfYear = std::round((dayOffset + 1 + second / 86400.0) * 1e8) / 1e8;
    date_time rounded;
    rounded.SetGregorianYearDaySecond(year, 0, (e.dayOfYear - 1.0) * 86400.0);
    const double jdUtc = rounded.GetJulianDay();
    const double jdTaiEpoch = jdUtc + UTC_TAI_delta(jdUtc);
    e.shifted = dt + (jdTaiEpoch - jdTai) * 86400.0;
    return e;
}

double Folded(double angle)
{
    double r = std::fmod(angle, kTwoPi);
    return r < 0 ? r + kTwoPi : r;
}

// The angles of a set as its lines print them (1e-4 degree), in [0, 360):
// a mean anomaly a hair below 360 degrees would print as 360.0000, which no
// catalogue writes and which readers take as a whole turn more.
void RoundAngles(std::vector<double>& v)
{
    for (size_t j = 2; j <= 5; ++j) {
        double deg = std::round(v[j] / kDeg * 1e4) / 1e4;
        if (deg >= 360.0) deg -= 360.0;
        v[j] = deg * kDeg;
    }
}

std::string TrimRight(std::string s)
{
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

} // namespace

// Element set of a two-body orbit at the first sample: its osculating
// elements, the mean anomaly moved to the rounded epoch.
std::vector<double> TwoBodyElementSet(const Options& o, const OrbitSimulator& sim)
{
    const Epoch epoch = EpochNear(o, 0.0);
    const double shift = epoch.shifted;   // seconds, a few milliseconds
    const KeplerOrbit& k = sim.Orbit();
    double m = std::fmod(k.meanAnomaly + sim.MeanMotion() * shift, kTwoPi);
    if (m < 0) m += kTwoPi;
    std::vector<double> v(13, 0.0);
    v[0] = sim.MeanMotion() * 60.0;   // rad/min
    // Printed through truncation: a hair above keeps the last digit.
    v[1] = k.e + 1e-12;
    v[2] = k.i;
    v[3] = k.raan;
    v[4] = k.argp;
    v[5] = m;
    v[9] = static_cast<double>(o.catalog);
    v[10] = epoch.year % 100;
    v[11] = epoch.dayOfYear;
    v[12] = static_cast<double>(o.rev);
    return v;
}

// Element set of the drifting orbit at the epoch nearest `dt`: its mean
// elements there as SGP4 reads them, and the number of the revolution in
// progress (one more at every ascending node since the start, where
// revolution --rev is in progress). SGP4 takes the mean motion as Kozai's
// and adds long-period terms of the third zonal harmonic (J3) to the
// eccentricity vector and to the mean longitude; the set carries those
// terms taken away, so that SGP4 puts the spacecraft where the simulator
// does.
std::vector<double> MeanElementSet(const Options& o, const OrbitSimulator& sim, double dt)
{
    const Epoch epoch = EpochNear(o, dt);
    const KeplerOrbit k = sim.ElementsAt(epoch.shifted);
    const double j3oj2 = -0.00000253881 / kSimJ2;   // WGS-72, as SGP4
    const double si = std::sin(k.i), ci = std::cos(k.i);
    const double aycof = -0.5 * j3oj2 * si;
    const double xlcof = -0.25 * j3oj2 * si * (3.0 + 5.0 * ci) / (1.0 + ci);
    const double temp = 1.0 / (k.a / kSimJ2Radius * (1.0 - k.e * k.e));
    const double axn = k.e * std::cos(k.argp);
    const double ayn = k.e * std::sin(k.argp) - temp * aycof;
    const double argp = std::atan2(ayn, axn);
    std::vector<double> v(13, 0.0);
    v[0] = KozaiMeanMotion(sim.MeanMotion() * 60.0, k.e, k.i);
    v[1] = std::sqrt(axn * axn + ayn * ayn) + 1e-12;
    v[2] = k.i;
    v[3] = Folded(k.raan);
    v[4] = Folded(argp);
    v[5] = Folded(k.meanAnomaly + k.argp - argp - temp * xlcof * axn);
    v[9] = static_cast<double>(o.catalog);
    v[10] = epoch.year % 100;
    v[11] = epoch.dayOfYear;
    const double nodes = std::floor(sim.ArgumentOfLatitude(epoch.shifted) / kTwoPi) -
                         std::floor(sim.ArgumentOfLatitude(0.0) / kTwoPi);
    v[12] = static_cast<double>(o.rev) + nodes;
    RoundAngles(v);
    return v;
}

// A set as the catalogue would publish it: small errors of orbit
// determination in every element, the sum of perigee and mean anomaly (the
// place along the orbit) held more tightly than either.
void Perturb(std::vector<double>& v, Random& rng)
{
    const double perigee = rng.Within(-0.05, 0.05) * kDeg;
    v[0] *= 1.0 + rng.Within(-7e-8, 7e-8);
    v[1] = std::max(0.0, v[1] + rng.Within(-2e-6, 2e-6));
    v[2] += rng.Within(-5e-4, 5e-4) * kDeg;
    v[3] = Folded(v[3] + rng.Within(-5e-4, 5e-4) * kDeg);
    v[4] = Folded(v[4] + perigee);
    v[5] = Folded(v[5] - perigee + rng.Within(-2e-3, 2e-3) * kDeg);
    RoundAngles(v);
}

// The name line and the two element lines of a set.
std::string ElementText(const Options& o, const std::vector<double>& values, int elementNumber)
{
    noradelements set(values);
    std::string line1, line2;
    set.Get(line1, line2);
    ElementSetIdentity id;
    id.designator = o.designator;
    if (id.designator.empty()) {
        char def[8];
        std::snprintf(def, sizeof def, "%02d001A", static_cast<int>(values[10]));
        id.designator = def;
    }
    id.elementNumber = elementNumber;
    line1 = CompleteLine1(line1, id);
    return o.name + "\n" + TrimRight(line1) + "\n" + TrimRight(line2) + "\n";
}

} // namespace trokgen
