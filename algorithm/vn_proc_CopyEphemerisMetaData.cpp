#include "vn_proc_CopyEphemerisMetaData.h"

#include <iostream>

#include "vn_class_ephemerismetadata.h"
#include "vn_class_satpasses.h"

namespace {
// Fill values of a run without elements: a Julian day of -999.99999999 for
// both node times (stored as the ascending sentinel, and converted as a time
// for the descending node) and -999 degrees as longitude.
const double cst_noNodeTime = -999.99999999;
const double cst_noLongitude = -17.43583922742335;
} // namespace

void CopyEphemerisMetaData(trokpktprocessor& pktprocessor, const noradelements& noradtle,
                           ephemerisfile& efile, const cfg_list& configList,
                           bool noradFileExists)
{
    ephemerismetadata metaRcd;
    satpasses pass(noradtle);
    const bool printPass = configList.getvalue("-diag_2") == "yes";
    const bool debug1 = configList.getvalue("-debug_1") == "yes";

    const std::vector<orbitstuff>& orbits = pktprocessor.GetOrbitList();
    for (size_t k = 0; k < orbits.size(); ++k) {
        pass.SetOrbit(orbits[k]);
        if (debug1) pass.print_state(std::cout);
        if (printPass) std::cerr << "\ndiag_2 SatPass[" << k << "]\n" << pass << std::endl;
        if (noradFileExists) {
            metaRcd.OrbitNo(pass.BegOrbitRev())
                .AscendingTime(pass.AscendingNodeTime())
                .DescendingTime(pass.DescendingNodeTime())
                .DescendingLongitude(pass.DescendingNodeLongitude());
        } else {
            metaRcd.OrbitNo(1)
                .AscendingTime(cst_noNodeTime)
                .DescendingTime(cst_noNodeTime)
                .DescendingLongitude(cst_noLongitude);
        }
        efile.write(metaRcd);
    }
}
