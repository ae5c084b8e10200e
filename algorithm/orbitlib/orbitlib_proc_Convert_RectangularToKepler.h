#ifndef ORBITLIB_PROC_CONVERT_RECTANGULARTOKEPLER_H
#define ORBITLIB_PROC_CONVERT_RECTANGULARTOKEPLER_H

#include <vector>

// Inertial state x, y, z (m), vx, vy, vz (m/s) -- at least six components
// (asserted), further ones ignored -- to the classical elements of a closed
// orbit (asserted): semi-major axis (m), eccentricity, inclination, right
// ascension of the ascending node, argument of perigee, mean anomaly; angles
// in radians, the last three in [0, 2 pi).
std::vector<double> Convert_RectangularToKepler(const std::vector<double>& V);

#endif
