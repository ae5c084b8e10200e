#ifndef TOOLKIT_ATTITUDECHECK_H
#define TOOLKIT_ATTITUDECHECK_H

#include <vector>

#include "toolkit/products/productcheck.h"
#include "toolkit/products/qlrproduct.h"

namespace toolkit {

// Whether the records of an attitude product are those of a rigid body
// turning as its own rates say: a corrupted record (bytes of another
// packet spliced in, a flipped bit) shows as rates no spacecraft has, or as
// an attitude its neighbours cannot reach at their rates.
//
// Every record's rates (the body's angular velocity) must stay below
// kMaxAttitudeRate in magnitude. Neighbouring records at most
// kStatePairSeconds apart are compared: each of the three stored elements
// of the orbital-to-body matrix may change by no more than the angle the
// body turns relative to the orbital frame between them (a matrix element
// never moves further than the rotation between two matrices), and that
// angle is at most the time between them times the larger of their two
// rates, kAttitudeRateSlack times over to allow for a change of rate in
// between, plus the turn of the orbital frame (at most
// kMaxOrbitalFrameRate) and kAttitudeTolerance. The bound lies far above
// what a nadir-pointing spacecraft, its wobble or the repair of small gaps
// does (a few milliradians a second) and far below a spliced record's
// tenths of a radian. Records are named as the state test names them.
constexpr double kMaxAttitudeRate = 1.0;          // rad/s (57 deg/s)
constexpr double kMaxOrbitalFrameRate = 0.002;    // rad/s: sqrt(2 mu / r^3) at the least orbit radius is 0.00175
constexpr double kAttitudeRateSlack = 2.0;
constexpr double kAttitudeTolerance = 0.01;       // rad

// The largest angle (rad) a body turns, relative to a frame that itself
// turns at most at `frameRate`, between two samples `dt` seconds apart
// whose rates have the magnitudes rateA and rateB (rad/s).
double AttitudeTurnAllowed(double dt, double rateA, double rateB, double frameRate);

// Appends an "attitude-rate" fault for every record whose rates exceed the
// bound and an "attitude-kinematic" fault for every record that disagrees
// with its neighbours (the first few of each kind one by one, then a
// count). Records marked in `skip` (the ephemeris records the state test
// found at fault: their orbital frame, and so their angles, are wrong with
// them) and records with values that are not finite are left out.
void CheckAttitudes(const Product& att, std::vector<CheckFinding>& out, const std::vector<char>* skip = nullptr);

} // namespace toolkit

#endif
