#ifndef VN_CLASS_ORBITSTUFF_H
#define VN_CLASS_ORBITSTUFF_H

#include "vn_class_trokpacket.h"

// One orbit of the data: its first point, the time of its latest point, and
// the times (Julian days) at which the ascending and descending node crossings
// were seen, 0 when not seen in this orbit.
struct orbitstuff
{
    trokpacket beginpkt;
    double endTime = 0.0;
    double ascendingTime = 0.0;
    double descendingTime = 0.0;
};

#endif
