#include "vn_class_satpasses.h"

#include <cassert>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>

#include "mathlib_array.h"
#include "orbitlib_proc_Convert_RectangularToKepler.h"
#include "orbitlib_proc_GreenwichHourAngle.h"
#include "timelib_proc_TAI93.h"
#include "timelib_class_date_time.h"
#include "timelib_proc_TAItoUTC.h"

namespace {

const double c_2pi = 6.283185307179586;
const double c_pi = 3.141592653589793;
const double c_minPerDay = 1440.0;
const double c_secPerDay = 86400.0;
const double c_centuryPivot = 50.0;
const double c_nodeDriftPerDay = 0.01728;  // right ascension drift of the node, rad/day
const double c_mu = 3.9860064e14;          // earth's gravitational parameter, m^3/s^2

// Whole revolutions in a quotient, truncated toward zero. A quotient that is
// not finite or does not fit a 32-bit integer (no usable mean motion) counts
// as no revolution.
std::int32_t WholeRevolutions(double quotient)
{
    if (!std::isfinite(quotient)) return 0;
    const double whole = std::trunc(quotient);
    if (whole < static_cast<double>(INT32_MIN) || whole > static_cast<double>(INT32_MAX)) return 0;
    return static_cast<std::int32_t>(whole);
}

// A count taken from an element-set value: truncated, 0 when negative or not
// a number, clamped at the top.
unsigned int WholeCount(double x)
{
    if (!(x >= 0)) return 0;
    if (x >= static_cast<double>(UINT_MAX)) return UINT_MAX;
    return static_cast<unsigned int>(x);
}

// True when position and velocity describe an ellipse about the earth, the
// only states the Kepler conversion accepts.
bool IsClosedOrbit(const std::vector<double>& state)
{
    for (double s : state)
        if (!std::isfinite(s)) return false;
    const double r = std::sqrt(state[0] * state[0] + state[1] * state[1] + state[2] * state[2]);
    const double v2 = state[3] * state[3] + state[4] * state[4] + state[5] * state[5];
    const double inverseA = 2.0 / r - v2 / c_mu;
    return r > 0 && std::isfinite(inverseA) && inverseA > 0;
}

}  // namespace

satpasses::satpasses(const noradelements& noradtle)
    : begTime(0), endTime(0), ascTime(0), dscTime(0), epochRev(0), epochTime(0),
      epochAscTime(0), meanMo(0), wPlusM_Ep(0), wPlusM_Ps(0), rightAsc(0), TAIminusUTC(0)
{
    assert((noradtle.Get()).size() == 13);
    const std::vector<double> V = noradtle.Get();

    epochRev = WholeCount(V[12]);
    meanMo = V[0] * c_minPerDay;
    rightAsc = V[3];

    const unsigned int year = V[10] < c_centuryPivot ? WholeCount(V[10] + 2000)
                                                     : WholeCount(V[10] + 1900);
    date_time epoch;
    epoch.SetGregorianYearDaySecond(year, 0, (V[11] - 1) * c_secPerDay);
    const double epochUTC = epoch.GetJulianDay();
    TAIminusUTC = UTC_TAI_delta(epochUTC);
    epochTime = epochUTC + TAIminusUTC;

    // omega + M is not folded: above 2 pi the node lies more than one
    // revolution before the epoch.
    wPlusM_Ep = V[4] + V[5];
    epochAscTime = epochTime - wPlusM_Ep / meanMo;
}

satpasses& satpasses::SetOrbit(const orbitstuff& orbit)
{
    const trokpacket& begPkt = orbit.beginpkt;
    assert(begPkt.Position().size() == 3);
    assert(begPkt.Velocity().size() == 3);

    begTime = begPkt.TimeTag();
    endTime = orbit.endTime;

    std::vector<double> state = begPkt.Position();
    const std::vector<double> velocity = begPkt.Velocity();
    state.insert(state.end(), velocity.begin(), velocity.end());
    if (!IsClosedOrbit(state)) {
        std::cerr << "\nPacket state is not a closed orbit:" << begPkt << std::endl;
        std::exit(-1);
    }
    begKepler = Convert_RectangularToKepler(state);

    wPlusM_Ps = begKepler[4] + begKepler[5];
    if (wPlusM_Ps > c_2pi) wPlusM_Ps -= c_2pi;

    const double revs = (begTime - epochAscTime) * meanMo / c_2pi;
    ascTime = epochAscTime + WholeRevolutions(revs) * c_2pi / meanMo;
    dscTime = ascTime + c_pi / meanMo;
    return *this;
}

unsigned int satpasses::RevolutionAt(double time) const
{
    if (time == 0) return 0;
    const double revs = (time - epochAscTime) * meanMo / c_2pi;
    // Negative counts wrap as unsigned arithmetic does; a count no lower than
    // -epochRev gives a proper revolution number.
    return epochRev + static_cast<unsigned int>(WholeRevolutions(revs));
}

unsigned int satpasses::BegOrbitRev() const { return RevolutionAt(begTime); }
unsigned int satpasses::EndOrbitRev() const { return RevolutionAt(endTime); }

double satpasses::BegOrbitTime() const { return begTime; }
double satpasses::EndOrbitTime() const { return endTime; }
double satpasses::AscendingNodeTime() const { return ascTime; }
double satpasses::DescendingNodeTime() const { return dscTime; }

double satpasses::DescendingNodeLongitude() const
{
    if (dscTime == 0) return 0;
    const double alpha = rightAsc + (dscTime - epochTime) * c_nodeDriftPerDay;
    const double theta = GreenwichHourAngle(dscTime - TAIminusUTC);
    double lambda = std::fmod(alpha - theta + c_pi, c_2pi);
    if (lambda < 0) lambda += c_2pi;
    if (lambda > c_pi) lambda -= c_2pi;
    return lambda;
}

std::vector<double> satpasses::BegKepler() const
{
    if (begKepler.size() != 6) return std::vector<double>(6, 0.0);
    std::vector<double> k(begKepler);
    k[5] = std::fmod(k[5] - (wPlusM_Ps - wPlusM_Ep), c_2pi);
    if (k[5] < 0) k[5] += c_2pi;
    return k;
}

double satpasses::EpochTimeTAI93() const { return JulianDayToTAI93(epochTime); }

void satpasses::print_state(std::ostream& os) const
{
    os.setf(std::ios::fixed);
    os.setf(std::ios::showpos);
    os << "\nsatpasses state "
       << "\nbegTime   = " << begTime
       << "\nendTime   = " << endTime
       << "\nascTime   = " << ascTime
       << "\ndscTime   = " << dscTime
       << "\nepochRev  = " << epochRev
       << "\nepochTime = " << epochTime
       << "\nepAsctime = " << epochAscTime
       << "\nmeanMO    = " << meanMo
       << "\nwPlusM_Ep = " << wPlusM_Ep
       << "\nwPlusM_Ps = " << wPlusM_Ps
       << "\nrightAsc  = " << rightAsc
       << "\nbegKepler = " << begKepler
       << std::endl;
}

std::ostream& operator<<(std::ostream& os, const satpasses& passes)
{
    os << "\n" << "Beg Orbit Rev = " << passes.BegOrbitRev() << "  Time = " << passes.BegOrbitTime()
       << "\n" << "End Orbit Rev = " << passes.EndOrbitRev() << "  Time = " << passes.EndOrbitTime()
       << "\n" << "Ascending  Node Time = " << passes.AscendingNodeTime()
       << "\n" << "Descending Node Time = " << passes.DescendingNodeTime()
       << "\n" << "Descending Longitude = " << passes.DescendingNodeLongitude()
       << "\n" << "Keplerian  Elements  =\n    " << passes.BegKepler()
       << std::endl;
    return os;
}
