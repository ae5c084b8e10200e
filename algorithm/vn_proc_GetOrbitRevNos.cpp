#include "vn_proc_GetOrbitRevNos.h"

#include <cassert>

#include "vn_class_satpasses.h"

void GetOrbitRevNos(trokpktprocessor& processPkt, const noradelements& noradtle,
                    unsigned& begOrbitRev, unsigned& endOrbitRev)
{
    const std::vector<orbitstuff>& orbits = processPkt.GetOrbitList();
    assert(!orbits.empty());
    const size_t end = orbits.size() - 1;
    satpasses pass(noradtle);
    begOrbitRev = pass.SetOrbit(orbits[0]).BegOrbitRev();
    endOrbitRev = pass.SetOrbit(orbits[end]).EndOrbitRev();
}
