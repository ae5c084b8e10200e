#ifndef TOOLKIT_STATECHECK_H
#define TOOLKIT_STATECHECK_H

#include <functional>
#include <vector>

#include "toolkit/products/productcheck.h"
#include "toolkit/products/qlrproduct.h"

namespace toolkit {

// Whether the states of an ephemeris product are those of a body in orbit
// about the Earth: a corrupted record (a flipped bit in a position, a value
// from another source) shows as a state its neighbours cannot reach.
//
// Neighbouring records at most kStatePairSeconds apart are compared: the
// position of the later one must lie within kPositionTolerance of the
// earlier one moved by the mean of their velocities over the time between
// them (the trapezoid rule, exact to millimetres over a second of a low
// orbit), and the change of velocity within kVelocityTolerance of what
// two-body gravity, taken as the mean of its values at both positions, gives.
// The tolerances lie far above what the product's own repair of small gaps
// leaves (tens of metres and a few cm/s at the end of a 60 s gap) and what a
// receiver's noise or the Earth's oblateness adds, and far below what a
// flipped high bit does (tens of km). A record is named when every compared
// pair it belongs to fails; two records whose only comparison fails are
// named together.
//
// Every finite position must also lie between kLeastOrbitRadius and
// kGreatestOrbitRadius from the Earth's centre.
constexpr double kStatePairSeconds = 10.0;
constexpr double kPositionTolerance = 1000.0;     // m
constexpr double kVelocityTolerance = 1.0;        // m/s
constexpr double kLeastOrbitRadius = 6.4e6;       // m: below 30 km above the equator
constexpr double kGreatestOrbitRadius = 1.5e9;    // m: the Earth's sphere of influence

// The kinematic test of two states: how far the position of b lies from
// that of a moved by the mean of their velocities, and its velocity from
// a's changed by the mean gravity, over the time between them. False when
// they are not compared: b is not later than a, or more than
// kStatePairSeconds later.
bool StateMisfit(const ProductRecord& a, const ProductRecord& b, double& positionOff, double& velocityOff);

// Appends a "radius" fault for every record outside the radii and a
// "kinematic" fault for every record that disagrees with its neighbours
// (the first few of each kind one by one, then a count). `faulty`, when
// given, gets a 1 for every record found at fault (records named together
// included), one entry a record.
void CheckStates(const Product& eph, std::vector<CheckFinding>& out, std::vector<char>* faulty = nullptr);

// Which records a chain of comparisons between neighbours names, shared by
// the checks of states and of attitudes. pairs[i] compares records i and
// i + 1. A record is named when at least one pair it belongs to was
// compared and every compared pair it belongs to failed (`one` gets the
// record and the worse of its pairs, by `badness`); then a failed pair
// whose two records both fit their other neighbours names both (`both`
// gets the pair).
struct PairVerdict {
    bool compared = false, fails = false;
    double badness = 0;
};
void NameMisfits(const std::vector<PairVerdict>& pairs, const std::function<void(size_t, size_t)>& one,
                 const std::function<void(size_t)>& both);

} // namespace toolkit

#endif
