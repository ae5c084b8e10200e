#include "vn_class_buildorbitlist.h"

namespace {

// Crossing state, once per program.
double lastZposition = 0.0;
bool newPass = true;

} // namespace

void buildorbitlist::resetCrossingState()
{
    lastZposition = 0.0;
    newPass = true;
}

bool buildorbitlist::checkpacket(trokpacket& pkt)
{
    const double z = pkt.ItemList()[2]; // position z
    const double t = pkt.TimeTag();
    const bool ascending = z >= 0.0 && lastZposition < 0.0;
    if (ascending)
        newPass = true;
    if (newPass)
    {
        orbitList.emplace_back();
        orbitList.back().beginpkt = pkt;
    }
    if (z <= 0.0 && lastZposition > 0.0)
        orbitList.back().descendingTime = t;
    if (ascending)
        orbitList.back().ascendingTime = t;
    orbitList.back().endTime = t;

    lastZposition = z;
    const bool started = newPass;
    newPass = false;
    return started;
}
