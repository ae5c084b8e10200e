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

// The squared magnitude as UnitVector sums it: from 0.0, x, y, z in turn.
inline double SquaredLength(double x, double y, double z)
{
    double sum = 0.0;
    sum += x * x;
    sum += y * y;
    sum += z * z;
    return sum;
}

inline Vec Unit(Vec a)
{
    const double inverse = 1.0 / std::sqrt(SquaredLength(a.x, a.y, a.z));
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

// The three wanted elements from the quaternion (the rows of B) and the
// orbital axes.
inline void Elements(const double* q, const Vec& x, const Vec& y, const Vec& z, double* out)
{
    const double q1 = q[0], q2 = q[1], q3 = q[2], q4 = q[3];
    const double q11 = q1 * q1, q22 = q2 * q2, q33 = q3 * q3, q44 = q4 * q4;
    // M(1,2) = row 1 of B . y; M(2,3) = row 2 of B . z; M(3,1) = row 3 of B . x.
    out[0] = Dot(q11 - q22 - q33 + q44, 2 * (q1 * q2 + q3 * q4), 2 * (q1 * q3 - q2 * q4), y);
    out[1] = Dot(2 * (q1 * q2 - q3 * q4), -q11 + q22 - q33 + q44, 2 * (q2 * q3 + q1 * q4), z);
    out[2] = Dot(2 * (q1 * q3 + q2 * q4), 2 * (q2 * q3 - q1 * q4), -q11 - q22 + q33 + q44, x);
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

    Elements(q, x, y, z, out);
}

// Angles of several points at once, step by step across the points: each
// point goes through exactly the operations of Angles, but the chains of
// square roots and divisions of different points (each of one waiting for
// the other) stand side by side, so the processor overlaps them.
const size_t lanes = 4;

void AnglesSideBySide(const double* const items[lanes], double* const out[lanes])
{
    double zx[lanes], zy[lanes], zz[lanes], yx[lanes], yy[lanes], yz[lanes];
    double xx[lanes], xy[lanes], xz[lanes], sum[lanes], inverse[lanes];
    for (size_t k = 0; k < lanes; ++k) {
        const double* r = items[k];
        const double* v = items[k] + 3;
        zx[k] = -r[0];
        zy[k] = -r[1];
        zz[k] = -r[2];
        yx[k] = -(r[1] * v[2] - r[2] * v[1]);
        yy[k] = -(r[2] * v[0] - r[0] * v[2]);
        yz[k] = -(r[0] * v[1] - r[1] * v[0]);
    }
    for (size_t k = 0; k < lanes; ++k) sum[k] = SquaredLength(zx[k], zy[k], zz[k]);
    for (size_t k = 0; k < lanes; ++k) inverse[k] = 1.0 / std::sqrt(sum[k]);
    for (size_t k = 0; k < lanes; ++k) {
        zx[k] = zx[k] * inverse[k];
        zy[k] = zy[k] * inverse[k];
        zz[k] = zz[k] * inverse[k];
        sum[k] = SquaredLength(yx[k], yy[k], yz[k]);
    }
    for (size_t k = 0; k < lanes; ++k) inverse[k] = 1.0 / std::sqrt(sum[k]);
    for (size_t k = 0; k < lanes; ++k) {
        yx[k] = yx[k] * inverse[k];
        yy[k] = yy[k] * inverse[k];
        yz[k] = yz[k] * inverse[k];
        xx[k] = yy[k] * zz[k] - yz[k] * zy[k];
        xy[k] = yz[k] * zx[k] - yx[k] * zz[k];
        xz[k] = yx[k] * zy[k] - yy[k] * zx[k];
        sum[k] = SquaredLength(xx[k], xy[k], xz[k]);
    }
    for (size_t k = 0; k < lanes; ++k) inverse[k] = 1.0 / std::sqrt(sum[k]);
    for (size_t k = 0; k < lanes; ++k) {
        const Vec x = {xx[k] * inverse[k], xy[k] * inverse[k], xz[k] * inverse[k]};
        const Vec y = {yx[k], yy[k], yz[k]};
        const Vec z = {zx[k], zy[k], zz[k]};
        Elements(items[k] + 6, x, y, z, out[k]);
    }
}

} // namespace

void EulerAnglesInOrbitalFrame(const double* const itemLists[], double* const angles[], size_t count)
{
    size_t i = 0;
    for (; i + lanes <= count; i += lanes) AnglesSideBySide(itemLists + i, angles + i);
    for (; i < count; ++i) Angles(itemLists[i], itemLists[i] + 3, itemLists[i] + 6, angles[i]);
}

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
