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
    // The crossing state is shared by every list of the program: a list
    // that is still empty opens its first orbit whatever the state says.
    const bool opens = newPass || orbitList.empty();
    if (opens)
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
    newPass = false;
    return opens;
}
