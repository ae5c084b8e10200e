#ifndef TOOLKIT_GEODETIC_H
#define TOOLKIT_GEODETIC_H

namespace toolkit {

// Earth-fixed geometry for the tools: where a product's inertial position
// lies over the WGS-84 ellipsoid.

struct Geodetic {
    double latitude = 0;    // geodetic, radians, -pi/2 to pi/2
    double longitude = 0;   // radians, -pi to pi (east positive)
    double height = 0;      // metres above the ellipsoid, along its normal
};

// WGS-84 semi-major axis (m) and flattening.
inline constexpr double kWgs84A = 6378137.0;
inline constexpr double kWgs84F = 1.0 / 298.257223563;

// Geodetic coordinates of an Earth-fixed position (metres), exact to well
// under a millimetre from the centre's neighbourhood out to the Moon.
Geodetic GeodeticFromEarthFixed(double x, double y, double z);

// Earth-fixed position of geodetic coordinates (the direct formula).
void EarthFixedFromGeodetic(const Geodetic& g, double& x, double& y, double& z);

// Geodetic coordinates under an inertial (true-of-date equator) position at
// an instant given as TAI93 seconds: the Earth turned by the library's
// Greenwich sidereal angle at universal time (the program's TAI-UTC model).
Geodetic GeodeticFromInertial(const double r[3], double tai93);

} // namespace toolkit

#endif
