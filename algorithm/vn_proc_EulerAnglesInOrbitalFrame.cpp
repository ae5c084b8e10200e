#include "vn_proc_EulerAnglesInOrbitalFrame.h"

#include "mathlib_class_matrix.h"
#include "orbitlib_proc_InertialToOrbitalMtx.h"
#include "orbitlib_proc_QuaternionToAttitudeMtx.h"

array EulerAnglesInOrbitalFrame(const trokpacket& pkt)
{
    return EulerAnglesInOrbitalFrame(pkt.Position(), pkt.Velocity(), pkt.Attitude());
}

// O turns inertial components into orbital-frame ones and B turns them into
// body ones, so B * transpose(O) turns orbital-frame components into body
// ones. The 3 x 3 matrices live inside their objects: no heap use here.
array EulerAnglesInOrbitalFrame(carray& position, carray& velocity, carray& quaternion)
{
    const matrix O = InertialToOrbitalMtx(position, velocity);
    const matrix B = QuaternionToAttitudeMtx(quaternion);
    const matrix M = B * transpose(O);
    return {M(1, 2), M(2, 3), M(3, 1)};
}
