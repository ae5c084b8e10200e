#include "vn_proc_EulerAnglesInOrbitalFrame.h"

#include <cassert>
#include <cmath>

namespace {

// The three wanted elements of B * transpose(O), computed on plain doubles
// for every packet. Each value goes through exactly the operations, in the
// same order, that the matrix library performs in InertialToOrbitalMtx,
// QuaternionToAttitudeMtx, transpose and the matrix product (UnitVector
// multiplies by the reciprocal of a magnitude summed from 0.0; a product
// element is a sum from 0.0 over k), so the results are bit for bit those
// of the matrix form, without building nine 3 x 3 and 3 x 1 matrices.

double Norm(const double a[3])
{
    double sum = 0.0;
    for (int k = 0; k < 3; ++k) sum += a[k] * a[k];
    return std::sqrt(sum);
}

void Unit(double a[3])
{
    const double inverse = 1.0 / Norm(a);
    for (int k = 0; k < 3; ++k) a[k] = a[k] * inverse;
}

void Cross(const double u[3], const double v[3], double w[3])
{
    w[0] = u[1] * v[2] - u[2] * v[1];
    w[1] = u[2] * v[0] - u[0] * v[2];
    w[2] = u[0] * v[1] - u[1] * v[0];
}

// Row of B times an axis of O, as one element of the product.
double Dot(double b1, double b2, double b3, const double axis[3])
{
    double s = 0.0;
    s += b1 * axis[0];
    s += b2 * axis[1];
    s += b3 * axis[2];
    return s;
}

void Angles(const double* r, const double* v, const double* q, double* out)
{
    // Orbital axes: z = unit(-r), y = unit(-(r x v)), x = unit(y x z).
    double z[3] = {-r[0], -r[1], -r[2]};
    Unit(z);
    double y[3];
    Cross(r, v, y);
    for (double& e : y) e = -e;
    Unit(y);
    double x[3];
    Cross(y, z, x);
    Unit(x);

    const double q1 = q[0], q2 = q[1], q3 = q[2], q4 = q[3];
    const double q11 = q1 * q1, q22 = q2 * q2, q33 = q3 * q3, q44 = q4 * q4;
    // M(1,2) = row 1 of B . y; M(2,3) = row 2 of B . z; M(3,1) = row 3 of B . x.
    out[0] = Dot(q11 - q22 - q33 + q44, 2 * (q1 * q2 + q3 * q4), 2 * (q1 * q3 - q2 * q4), y);
    out[1] = Dot(2 * (q1 * q2 - q3 * q4), -q11 + q22 - q33 + q44, 2 * (q2 * q3 + q1 * q4), z);
    out[2] = Dot(2 * (q1 * q3 + q2 * q4), 2 * (q2 * q3 - q1 * q4), -q11 - q22 + q33 + q44, x);
}

} // namespace

array EulerAnglesInOrbitalFrame(const trokpacket& pkt)
{
    array angles(3);
    EulerAnglesInOrbitalFrame(pkt, angles);
    return angles;
}

void EulerAnglesInOrbitalFrame(const trokpacket& pkt, array& angles)
{
    // Item list: position 0-2, velocity 3-5, quaternion 6-9.
    const array& p = pkt.ItemList();
    assert(p.size() >= 10);
    angles.resize(3);
    Angles(&p[0], &p[3], &p[6], angles.data());
}

array EulerAnglesInOrbitalFrame(carray& position, carray& velocity, carray& quaternion)
{
    assert(position.size() >= 3 && velocity.size() >= 3 && quaternion.size() >= 4);
    array angles(3);
    Angles(position.data(), velocity.data(), quaternion.data(), angles.data());
    return angles;
}
