#ifndef VN_CLASS_BUILDORBITLIST_H
#define VN_CLASS_BUILDORBITLIST_H

#include <vector>

#include "vn_class_orbitstuff.h"
#include "vn_class_trokpacket.h"

// Divides the points of a run into orbits at the ascending node crossings
// (z of the position turning from negative to zero or positive). The first
// point always opens the first orbit. The crossing state (the previous z and
// whether a new orbit is due) exists once per program, not per list.
class buildorbitlist
{
public:
    // Adds one point; true when it opened a new orbit.
    bool checkpacket(trokpacket& pkt);

    const std::vector<orbitstuff>& getorbitlist() const { return orbitList; }

    // Puts the program-wide crossing state back to its starting values
    // (previous z 0, new orbit due), for a new run or a test.
    static void resetCrossingState();

private:
    std::vector<orbitstuff> orbitList;
};

#endif
