#ifndef VN_PROC_EULERANGLESINORBITALFRAME_H
#define VN_PROC_EULERANGLESINORBITALFRAME_H

#include "vn_class_trokpacket.h"
#include "vn_types.h"

// Attitude in the orbital frame: elements (1,2), (2,3), (3,1) of the
// orbital-to-body matrix B * transpose(O), with O = InertialToOrbitalMtx and
// B = QuaternionToAttitudeMtx, which for small rotations are the yaw, roll
// and pitch angles in radians (rotation order 3, 1, 2). No inverse
// trigonometric function is applied.
array EulerAnglesInOrbitalFrame(const trokpacket& pkt);

// The same into angles (resized to 3), without allocating once it holds 3.
void EulerAnglesInOrbitalFrame(const trokpacket& pkt, array& angles);

// The same from an inertial position, velocity and attitude quaternion
// (scalar last).
array EulerAnglesInOrbitalFrame(carray& position, carray& velocity, carray& quaternion);

// The same on plain values: three of position, three of velocity, four of
// the quaternion in, three angles out.
void EulerAnglesInOrbitalFrame(const double* position, const double* velocity, const double* quaternion,
                               double* angles);

#endif
