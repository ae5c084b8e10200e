#include "orbitlib_proc_Convert_RectangularToKepler.h"

#include <cassert>
#include <cmath>

#include "orbitlib_constants.h"

namespace {

// Earth's gravitational parameter, m^3/s^2.
const double mu = 3.9860064e14;

const double pi = twoPi / 2;

// The angle folded into [0, 2 pi). A tiny negative angle would round up to
// 2 pi itself when shifted; it is the same direction as 0.
double _PrincipleAngle(double angle)
{
    double r = std::fmod(angle, twoPi);
    if (r < 0) r += twoPi;
    return r < twoPi ? r : 0.0;
}

// True anomaly in [0, 2 pi) from the eccentric anomaly E and eccentricity e.
double _TrueAnomaly(double E, double e)
{
    double nu = 2 * std::atan(std::sqrt((1 + e) / (1 - e)) * std::tan(E / 2));
    if (nu < 0) nu += twoPi;
    return nu;
}

} // namespace

std::vector<double> Convert_RectangularToKepler(const std::vector<double>& V)
{
    assert(V.size() >= 6);
    const double x = V[0], y = V[1], z = V[2];
    const double xd = V[3], yd = V[4], zd = V[5];

    const double r = std::sqrt(x * x + y * y + z * z);
    const double v2 = xd * xd + yd * yd + zd * zd;
    const double rv = x * xd + y * yd + z * zd;

    // Angular momentum r x v.
    const double hz = x * yd - y * xd;
    const double hx = y * zd - z * yd;
    const double hy = z * xd - x * zd;
    const double h = std::sqrt(hz * hz + hy * hy + hx * hx);

    const double P = h * h / mu;
    const double A = 1 / (2 / r - v2 / mu);
    assert(A>0.);

    // On a circular orbit 1 - P/A is zero and may round to a small negative
    // number; the eccentricity is then 0, not the root of a negative number.
    const double oneMinusPA = 1 - P / A;
    const double e = oneMinusPA > 0 ? std::sqrt(oneMinusPA) : 0.0;
    const double i = std::acos(hz / h);

    double Omega = std::atan2(hx, -hy);
    if (Omega < 0) Omega += twoPi;

    // Argument of latitude. In the equatorial plane (i exactly 0 or pi) the
    // node is undefined and z is 0: the angle is measured in the plane from
    // the direction Omega, in the sense of the motion.
    const double cosO = std::cos(Omega), sinO = std::sin(Omega);
    double sinu;
    if (i != 0 && i != pi)
        sinu = z / (r * std::sin(i));
    else
        sinu = (hz > 0 ? 1 : -1) * (y * cosO - x * sinO) / r;
    const double cosu = (x * cosO + y * sinO) / r;
    const double u = _PrincipleAngle(std::atan2(sinu, cosu));

    const double esinE = rv / std::sqrt(A * mu);
    const double ecosE = 1 - r / A;
    const double E = _PrincipleAngle(std::atan2(esinE, ecosE));
    const double nu = _TrueAnomaly(E, e);

    return {A, e, i, Omega, _PrincipleAngle(u - nu), _PrincipleAngle(E - e * std::sin(E))};
}
