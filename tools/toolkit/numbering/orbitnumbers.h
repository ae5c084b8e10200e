#ifndef TOOLKIT_ORBITNUMBERS_H
#define TOOLKIT_ORBITNUMBERS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/products/productcheck.h"
#include "toolkit/products/qlrproduct.h"

namespace toolkit {

// How the orbits of an ephemeris product meet the nodes its element set
// predicts. The product run starts an orbit at the first record past each
// ascending crossing of the equator and numbers it by the whole revolutions
// from the set's node to that record, counted toward zero; its metadata
// hold the predicted ascending node of that count and the descending node
// half a revolution later. A crossing that comes before the node predicted
// for it (mean and true anomaly differ, the perigee drifts, the set ages)
// counts one revolution short, so the orbit carries the previous
// revolution's number; before the set's epoch, a crossing after its node
// counts one long and the orbit carries the next one.

struct NodeOffset {
    size_t orbit = 0;         // index of the orbit record
    uint32_t number = 0;      // its orbit number
    size_t record = 0;        // its first data record: the observed crossing
    double crossingTai93 = 0; // that record's time
    // Seconds from the predicted ascending node nearest the crossing to the
    // crossing; negative when the crossing comes first.
    double offset = 0;
    // 0: the orbit carries the number of that node; -1: the previous
    // revolution's; +1: the next one's.
    int numbering = 0;
};

// Every orbit that begins at an observed crossing (all but the first) with
// its offset. Empty for a run without element set, and when the orbit
// records do not match the crossings in the data records. The nearest
// predicted node is the orbit's own while the set's predictions have
// drifted less than half a revolution from the crossings (for a low orbit
// about 58 days of set age: the set's mean motion is the anomalistic one,
// the nodes come a nodal period apart).
std::vector<NodeOffset> NodeOffsets(const Product& eph);

// How the first orbit, under way when the data begin, is numbered: 0 when
// it carries its own revolution's number, 1 the next one's, -1 the
// previous one's. Its number is right when it is one less than the right
// number of the orbit after it, the first that begins at a crossing. False
// when there is no such orbit (`offsets` as NodeOffsets gives them).
bool FirstOrbitNumbering(const Product& eph, const std::vector<NodeOffset>& offsets, int& numbering);

// The numbering model's view of an element set.
struct SetNumbering {
    double argpPlusMeanRad = 0;   // argument of perigee plus mean anomaly, not folded
    double periodSeconds = 0;     // a revolution at the set's mean motion (0 without one)
    // The ascending node its revolution numbers count from: the epoch less
    // omega + M of a revolution.
    double countNodeTai93 = 0;

    double ArgpPlusMeanDeg() const;
    // Omega + M of 360 degrees or more: the set's node is taken a
    // revolution early, and every orbit number is one higher than SGP4
    // tools count.
    bool CountsHigh() const;
};
// From the 13 values in the order the element reader keeps them, and the
// epoch as the product run converts it.
SetNumbering NumberingOfSet(const std::vector<double>& elements, double epochTai93);

// Appends a "numbering" warning for every orbit that carries another
// revolution's number (the first orbit, which begins inside a revolution,
// when its number is not one less than the right number of the next), and
// one when the element set (13 values in the
// order the element reader keeps them, in options.elements) has an argument
// of perigee plus mean anomaly of 360 degrees or more, which puts the set's
// node a revolution early and every orbit number one higher than SGP4 tools
// count.
void CheckOrbitNumbers(const Product& eph, const CheckOptions& options,
                       std::vector<CheckFinding>& out);

// The element set in `path` (a two-line element file) whose epoch, as the
// product run converts it, is `epochTai93`; false with a reason in `error`
// when the file cannot be read or holds none.
bool ElementSetOfEpoch(const std::string& path, double epochTai93, std::vector<double>& elements,
                       std::string& error);

} // namespace toolkit

#endif
