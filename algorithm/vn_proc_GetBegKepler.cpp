#include "vn_proc_GetBegKepler.h"

#include <cassert>

#include "vn_class_satpasses.h"

array GetBegKepler(trokpktprocessor& processPkt, const noradelements& noradtle)
{
    assert(!processPkt.GetOrbitList().empty());
    const orbitstuff first = processPkt.GetOrbitList().front();
    satpasses pass(noradtle);
    return pass.SetOrbit(first).BegKepler();
}
