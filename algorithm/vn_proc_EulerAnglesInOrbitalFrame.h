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

// The same for `count` points at once, each given by its item list (as a
// trokpacket holds it: position 0-2, velocity 3-5, quaternion 6-9), into
// three angles each; faster than one by one.
void EulerAnglesInOrbitalFrame(const double* const itemLists[], double* const angles[], size_t count);

#endif
