#ifndef ORBITLIB_PROC_QUATERNIONTOATTITUDEMTX_H
#define ORBITLIB_PROC_QUATERNIONTOATTITUDEMTX_H

#include <vector>

#include "mathlib_class_matrix.h"

// The 3 x 3 matrix turning inertial components into body components, from an
// attitude quaternion q1..q4 with the scalar part last (at least four
// components, asserted; not normalised here).
matrix QuaternionToAttitudeMtx(const std::vector<double>& q);

#endif
