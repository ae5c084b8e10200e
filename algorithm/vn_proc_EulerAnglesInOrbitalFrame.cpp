#include "vn_proc_EulerAnglesInOrbitalFrame.h"

#include "mathlib_class_matrix.h"
#include "orbitlib_proc_InertialToOrbitalMtx.h"
#include "orbitlib_proc_QuaternionToAttitudeMtx.h"

array EulerAnglesInOrbitalFrame(carray& position, carray& velocity, carray& quaternion)
{
    const matrix O = InertialToOrbitalMtx(position, velocity);
    const matrix B = QuaternionToAttitudeMtx(quaternion);
    const matrix M = B * transpose(O);
    return {M(1, 2), M(2, 3), M(3, 1)};
}
