#ifndef TOOLKIT_AEM_H
#define TOOLKIT_AEM_H

#include <ostream>
#include <string>
#include <vector>

#include "toolkit/products/oem.h"
#include "toolkit/products/qlrproduct.h"
#include "toolkit/products/quaternion.h"

namespace toolkit {

// CCSDS Attitude Ephemeris Message (KVN) from an ephemeris and attitude
// product pair, and the recovery of the whole attitude from the three matrix
// elements an attitude record stores.

// Largest attitude angle, about each axis of the rotation order 3, 1, 2, for
// which the three stored elements determine the rotation: 30 degrees. Within
// this cube the map from the angles to the elements has a positive Jacobian
// determinant (at least 0.12, at the corners), so no two attitudes in it share
// their elements; beyond it they may.
constexpr double kMaxRecoverableAngle = 0.5235987755982988;

// The orbital-to-body rotation whose elements (1,2), (2,3) and (3,1) are
// e[0], e[1] and e[2]: the matrix R3(yaw) R1(roll) R2(pitch) (frame rotations)
// with all three angles within kMaxRecoverableAngle. Returns false, with the
// reason in `why`, when no such rotation exists (the elements are not finite,
// or belong to a larger attitude, which they do not determine uniquely) or
// the solution does not reproduce the elements to 1e-12.
bool RecoverOrbitalAttitude(const double e[3], double matrix[3][3], double yawRollPitch[3],
                            std::string& why);

// Inertial-to-orbital matrix of a position and velocity: rows x, y, z with
// z towards the Earth's centre, y against the orbit normal, x = y cross z.
// False when the position or the angular momentum is zero.
bool OrbitalFrame(const double pos[3], const double vel[3], double matrix[3][3]);

struct AemOptions : MessageOptions {
    bool orbitalFrame = false;   // body relative to the local orbital frame, not EME2000
};

// The attitude quaternion of every record, inertial (or, with
// `orbitalFrame`, orbital) to body, into `quaternions`. Returns why the pair
// cannot be exported, naming the first record whose rotation cannot be
// recovered (or whose values are unusable), and leaves `quaternions` empty
// then; "" when every record can be.
std::string AemQuaternions(const Product& eph, const Product& att, bool orbitalFrame,
                           std::vector<Quat>& quaternions);

// Writes the AEM: header, then per segment of the ephemeris product a
// metadata block (frames, TAI, START_TIME and STOP_TIME, QUATERNION) and a
// data block of epoch Q1 Q2 Q3 QC lines, from the quaternions AemQuaternions
// gave for the same frame.
void WriteAem(std::ostream& os, const Product& eph, const std::vector<Quat>& quaternions,
              const AemOptions& options);

} // namespace toolkit

#endif
