#include "toolkit/quicklook/geodetic.h"

#include <cmath>

#include "orbitlib_proc_GreenwichHourAngle.h"
#include "timelib_proc_TAI93.h"
#include "timelib_proc_TAItoUTC.h"

namespace toolkit {

namespace {
const double kE2 = kWgs84F * (2.0 - kWgs84F);   // first eccentricity squared
}

Geodetic GeodeticFromEarthFixed(double x, double y, double z)
{
    Geodetic g;
    const double p = std::hypot(x, y);
    g.longitude = std::atan2(y, x);
    if (p < 1e-9) {   // on the axis: the pole's side decides
        g.latitude = z >= 0 ? M_PI / 2 : -M_PI / 2;
        g.height = std::fabs(z) - kWgs84A * (1.0 - kWgs84F);
        return g;
    }
    // Fixed-point iteration on the latitude; converges to rounding within a
    // few steps for any point outside the Earth's core.
    double lat = std::atan2(z, p * (1.0 - kE2));
    double n = kWgs84A, h = 0;
    for (int i = 0; i < 20; ++i) {
        const double s = std::sin(lat);
        n = kWgs84A / std::sqrt(1.0 - kE2 * s * s);
        h = p / std::cos(lat) - n;
        const double next = std::atan2(z, p * (1.0 - kE2 * n / (n + h)));
        const bool done = std::fabs(next - lat) < 1e-15;
        lat = next;
        if (done) break;
    }
    const double s = std::sin(lat), c = std::cos(lat);
    n = kWgs84A / std::sqrt(1.0 - kE2 * s * s);
    // Height from whichever coordinate is better conditioned at this latitude.
    g.height = std::fabs(c) > 0.7 ? p / c - n : z / s - n * (1.0 - kE2);
    g.latitude = lat;
    return g;
}

void EarthFixedFromGeodetic(const Geodetic& g, double& x, double& y, double& z)
{
    const double s = std::sin(g.latitude), c = std::cos(g.latitude);
    const double n = kWgs84A / std::sqrt(1.0 - kE2 * s * s);
    x = (n + g.height) * c * std::cos(g.longitude);
    y = (n + g.height) * c * std::sin(g.longitude);
    z = (n * (1.0 - kE2) + g.height) * s;
}

Geodetic GeodeticFromInertial(const double r[3], double tai93)
{
    const double theta = GreenwichHourAngle(TAItoUTC(TAI93ToJulianDay(tai93)));
    const double c = std::cos(theta), s = std::sin(theta);
    return GeodeticFromEarthFixed(c * r[0] + s * r[1], -s * r[0] + c * r[1], r[2]);
}

} // namespace toolkit
