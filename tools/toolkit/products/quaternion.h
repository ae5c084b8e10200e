#ifndef TOOLKIT_QUATERNION_H
#define TOOLKIT_QUATERNION_H

namespace toolkit {

// Attitude quaternions with the vector part first and the scalar last,
// q = (q1, q2, q3, q4). A quaternion stands for the direction-cosine matrix
// A(q) that turns reference-frame components into body components:
//   A(q) = (q4^2 - |qv|^2) I + 2 qv qv^T - 2 q4 [qv x].
// Products compose in matrix order: A(QuatProduct(a, b)) = A(a) A(b).

struct Quat {
    double q[4] = {0.0, 0.0, 0.0, 1.0};
};

// A(q) as a row-major 3x3 matrix (no normalisation).
void QuatToMatrix(const Quat& q, double m[3][3]);

// A quaternion with A(q) = m for a proper rotation matrix m (Shepperd's
// method: well conditioned for every rotation). The sign is chosen so that
// the largest component is positive.
Quat QuatFromMatrix(const double m[3][3]);

// a composed after b: A(result) = A(a) A(b).
Quat QuatProduct(const Quat& a, const Quat& b);

// Frame rotation by `angle` about coordinate axis `axis` (1, 2 or 3):
// for axis 3 the matrix rows are (cos, sin, 0), (-sin, cos, 0), (0, 0, 1).
// Continuous in the angle; angle + 4 pi gives the same quaternion.
Quat AxisQuat(int axis, double angle);

} // namespace toolkit

#endif
