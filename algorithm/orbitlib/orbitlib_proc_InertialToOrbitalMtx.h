#ifndef ORBITLIB_PROC_INERTIALTOORBITALMTX_H
#define ORBITLIB_PROC_INERTIALTOORBITALMTX_H

#include <vector>

#include "mathlib_class_matrix.h"

// The 3 x 3 matrix turning inertial components into orbital-frame ones, from
// position and velocity (three components each). Rows: x along the velocity
// of a circular orbit, y opposite to the orbit normal, z towards the Earth's
// centre. A zero position or momentum gives non-finite elements.
matrix InertialToOrbitalMtx(const std::vector<double>& position, const std::vector<double>& velocity);

#endif
