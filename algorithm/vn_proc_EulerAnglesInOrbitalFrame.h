#ifndef VN_PROC_EULERANGLESINORBITALFRAME_H
#define VN_PROC_EULERANGLESINORBITALFRAME_H

#include "vn_types.h"

// Attitude in the orbital frame from an inertial position, velocity and
// attitude quaternion (scalar last): elements (1,2), (2,3), (3,1) of the
// orbital-to-body matrix, which for small rotations are the yaw, roll and
// pitch angles in radians (rotation order 3, 1, 2).
array EulerAnglesInOrbitalFrame(carray& position, carray& velocity, carray& quaternion);

#endif
