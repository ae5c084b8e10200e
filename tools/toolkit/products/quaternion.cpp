#include "toolkit/products/quaternion.h"

#include <cassert>
#include <cmath>

namespace toolkit {

void QuatToMatrix(const Quat& quat, double m[3][3])
{
    const double q1 = quat.q[0], q2 = quat.q[1], q3 = quat.q[2], q4 = quat.q[3];
    m[0][0] = q1 * q1 - q2 * q2 - q3 * q3 + q4 * q4;
    m[0][1] = 2.0 * (q1 * q2 + q3 * q4);
    m[0][2] = 2.0 * (q1 * q3 - q2 * q4);
    m[1][0] = 2.0 * (q1 * q2 - q3 * q4);
    m[1][1] = -q1 * q1 + q2 * q2 - q3 * q3 + q4 * q4;
    m[1][2] = 2.0 * (q2 * q3 + q1 * q4);
    m[2][0] = 2.0 * (q1 * q3 + q2 * q4);
    m[2][1] = 2.0 * (q2 * q3 - q1 * q4);
    m[2][2] = -q1 * q1 - q2 * q2 + q3 * q3 + q4 * q4;
}

Quat QuatFromMatrix(const double m[3][3])
{
    // Pick the largest of 4 q4^2 - 1 = trace and 4 qi^2 - 1 = 2 m_ii - trace,
    // take that component from the square root and the others from the
    // off-diagonal sums and differences.
    const double tr = m[0][0] + m[1][1] + m[2][2];
    const double cand[4] = {2 * m[0][0] - tr, 2 * m[1][1] - tr, 2 * m[2][2] - tr, tr};
    int k = 3;
    for (int i = 0; i < 3; ++i)
        if (cand[i] > cand[k]) k = i;
    Quat r;
    double* q = r.q;
    const double big = 0.5 * std::sqrt(1.0 + cand[k]);
    const double f = 0.25 / big;
    // With (i, j, l) the axes in cyclic order from the largest component's:
    // 4 q4 qi = m_jl - m_lj, 4 qi qj = m_ij + m_ji, 4 qi ql = m_il + m_li.
    if (k == 3) {
        q[3] = big;
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3, l = (i + 2) % 3;
            q[i] = (m[j][l] - m[l][j]) * f;
        }
    } else {
        const int i = k, j = (k + 1) % 3, l = (k + 2) % 3;
        q[i] = big;
        q[j] = (m[i][j] + m[j][i]) * f;
        q[l] = (m[i][l] + m[l][i]) * f;
        q[3] = (m[j][l] - m[l][j]) * f;
    }
    return r;
}

Quat QuatProduct(const Quat& a, const Quat& b)
{
    const double* p = a.q;
    const double* q = b.q;
    Quat r;
    // vector: p4 qv + q4 pv - pv x qv; scalar: p4 q4 - pv . qv
    r.q[0] = p[3] * q[0] + q[3] * p[0] - (p[1] * q[2] - p[2] * q[1]);
    r.q[1] = p[3] * q[1] + q[3] * p[1] - (p[2] * q[0] - p[0] * q[2]);
    r.q[2] = p[3] * q[2] + q[3] * p[2] - (p[0] * q[1] - p[1] * q[0]);
    r.q[3] = p[3] * q[3] - (p[0] * q[0] + p[1] * q[1] + p[2] * q[2]);
    return r;
}

Quat AxisQuat(int axis, double angle)
{
    assert(axis >= 1 && axis <= 3);
    Quat r;
    r.q[axis - 1] = std::sin(0.5 * angle);
    r.q[3] = std::cos(0.5 * angle);
    return r;
}

} // namespace toolkit
