#include "orbitlib_proc_InertialToOrbitalMtx.h"

#include "mathlib_proc_CrossProduct.h"
#include "mathlib_proc_UnitVector.h"

matrix InertialToOrbitalMtx(const std::vector<double>& position, const std::vector<double>& velocity)
{
    const matrix r(3, 1, position);
    const matrix v(3, 1, velocity);

    const matrix z = UnitVector(-r);
    const matrix y = UnitVector(-CrossProduct(r, v));
    const matrix x = UnitVector(CrossProduct(y, z));

    matrix O(3, 3, 0.0);
    O.subarray(1, 1) = x++;
    O.subarray(2, 1) = y++;
    O.subarray(3, 1) = z++;
    return O;
}
