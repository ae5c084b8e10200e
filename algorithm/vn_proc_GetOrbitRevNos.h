#ifndef VN_PROC_GETORBITREVNOS_H
#define VN_PROC_GETORBITREVNOS_H

#include "orbitlib_class_noradelements.h"
#include "vn_class_trokpktprocessor.h"

// The orbit number at the start of the first orbit and at the end of the
// last orbit of the run. The orbit list must not be empty.
void GetOrbitRevNos(trokpktprocessor& processPkt, const noradelements& noradtle,
                    unsigned& begOrbitRev, unsigned& endOrbitRev);

#endif
