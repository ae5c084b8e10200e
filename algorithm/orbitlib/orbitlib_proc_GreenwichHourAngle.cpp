#include "orbitlib_proc_GreenwichHourAngle.h"

#include <cmath>

#include "orbitlib_constants.h"

namespace {

const double rToD = 57.29577951308232;     // degrees per radian
const double solarDay = 1.0027379093;      // sidereal to solar rate

// The angle folded into [0, 2 pi); a tiny negative angle that would round up
// to 2 pi is the same direction as 0.
double PositivePrincipleAngle(double angle)
{
    double r = std::fmod(angle, twoPi);
    if (r < 0) r += twoPi;
    return r < twoPi ? r : 0.0;
}

} // namespace

// Mean sidereal time at the preceding midnight, advanced at the sidereal
// rate through the day, plus the equation of the equinoxes from the leading
// nutation terms.
double GreenwichHourAngle(double jd)
{
    const double d = jd - 2451545.5;
    const double j0 = std::trunc(jd + 0.5) - 0.5;
    const double f = jd - j0;
    const double T = (j0 - 2451545.0) / 36525;

    const double gmstSeconds = 24110.54841 + 8640184.812866 * T + 0.093104 * T * T - 6.2e-6 * T * T * T;
    const double gmst0 = gmstSeconds / 86400 * 360;

    const double L = std::fmod(280.46592 + 0.9856473516 * d, 360.0);        // Sun's mean longitude
    const double g = std::fmod(357.52772 + 0.9856002831 * d, 360.0);        // Sun's mean anomaly
    const double Lm = std::fmod(218.31643 + 13.17639648 * d, 360.0);       // Moon's mean longitude
    const double Om = std::fmod(125.04452 - 0.0529537648 * d, 360.0);      // Moon's node

    const double dpsi = (-17.1996 * std::sin(Om / rToD) + 0.2062 * std::sin(2 * Om / rToD) -
                         1.3187 * std::sin(2 * L / rToD) + 0.1426 * std::sin(g / rToD) -
                         0.2274 * std::sin(2 * Lm / rToD)) / 3600;
    const double eps = 23.439291 - 3.56e-7 * d + (9.2025 * std::cos(Om / rToD) + 0.5736 * std::cos(2 * L / rToD)) / 3600;

    const double angle = dpsi * std::cos(eps / rToD) + gmst0 + f * 360 * solarDay;
    return PositivePrincipleAngle(angle / rToD);
}
