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

// A vector of three components held in registers.
struct Vec {
    double x, y, z;
};

inline Vec Unit(Vec a)
{
    double sum = 0.0;
    sum += a.x * a.x;
    sum += a.y * a.y;
    sum += a.z * a.z;
    const double inverse = 1.0 / std::sqrt(sum);
    return {a.x * inverse, a.y * inverse, a.z * inverse};
}

inline Vec Cross(const Vec& u, const Vec& v)
{
    return {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}

// Row of B times an axis of O, as one element of the product.
inline double Dot(double b1, double b2, double b3, const Vec& axis)
{
    double s = 0.0;
    s += b1 * axis.x;
    s += b2 * axis.y;
    s += b3 * axis.z;
    return s;
}

void Angles(const double* r, const double* v, const double* q, double* out)
{
    // Orbital axes: z = unit(-r), y = unit(-(r x v)), x = unit(y x z).
    const Vec position = {r[0], r[1], r[2]};
    const Vec velocity = {v[0], v[1], v[2]};
    const Vec z = Unit({-position.x, -position.y, -position.z});
    const Vec h = Cross(position, velocity);
    const Vec y = Unit({-h.x, -h.y, -h.z});
    const Vec x = Unit(Cross(y, z));

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

void EulerAnglesInOrbitalFrame(const double* position, const double* velocity, const double* quaternion,
                               double* angles)
{
    Angles(position, velocity, quaternion, angles);
}
