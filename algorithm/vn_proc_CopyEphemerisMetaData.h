#ifndef VN_PROC_COPYEPHEMERISMETADATA_H
#define VN_PROC_COPYEPHEMERISMETADATA_H

#include "orbitlib_class_noradelements.h"
#include "vn_class_configurationlist.h"
#include "vn_class_ephemerisfile.h"
#include "vn_class_trokpktprocessor.h"

// Appends one metadata record per orbit of the processor's orbit list to the
// ephemeris file: orbit number, node times and descending-node longitude
// from the element set, or fixed fill values when no element file was read.
// Must follow CopyFiles. "-debug_1" prints each pass state on standard
// output, "-diag_2" each pass on standard error.
void CopyEphemerisMetaData(trokpktprocessor& pktprocessor, const noradelements& noradtle,
                           ephemerisfile& efile, const cfg_list& configList,
                           bool noradFileExists);

#endif
