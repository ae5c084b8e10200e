#ifndef VN_CLASS_TROKINTERPOLATOR_H
#define VN_CLASS_TROKINTERPOLATOR_H

#include <array>

#include "vn_class_exttrokpacket.h"
#include "vn_class_nevilleinterpolater_2.h"
#include "vn_class_windowbuffer.h"
#include "vn_types.h"

// Interpolates all thirteen values of a telemetry packet over time (Julian
// day), each value on its own by the polynomial through the loaded packets.
class trokinterpolator
{
public:
    static const unsigned nvalues = 13;

    // Replaces the points by those of every packet of `wb`, oldest first.
    void load(const windowbuffer<exttrokpacket>& wb);

    // The thirteen values at time t. The quaternion is not renormalised.
    array interpolate(double t);

private:
    std::array<nevilleinterpolater_2, nvalues> interpolators;
};

#endif
