#include "orbitlib_proc_QuaternionToAttitudeMtx.h"

#include <cassert>

matrix QuaternionToAttitudeMtx(const std::vector<double>& q)
{
    assert(q.size() >= 4);
    const double q1 = q[0], q2 = q[1], q3 = q[2], q4 = q[3];
    const double q11 = q1 * q1, q22 = q2 * q2, q33 = q3 * q3, q44 = q4 * q4;

    matrix B(3, 3, 0.0);
    B.getarray(q11 - q22 - q33 + q44, 2 * (q1 * q2 + q3 * q4), 2 * (q1 * q3 - q2 * q4),
               2 * (q1 * q2 - q3 * q4), -q11 + q22 - q33 + q44, 2 * (q2 * q3 + q1 * q4),
               2 * (q1 * q3 + q2 * q4), 2 * (q2 * q3 - q1 * q4), -q11 - q22 + q33 + q44);
    return B;
}
