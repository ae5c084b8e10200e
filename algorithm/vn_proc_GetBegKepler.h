#ifndef VN_PROC_GETBEGKEPLER_H
#define VN_PROC_GETBEGKEPLER_H

#include "orbitlib_class_noradelements.h"
#include "vn_class_trokpktprocessor.h"
#include "vn_types.h"

// The six Kepler elements at the start of the first orbit, with the element
// set's argument of latitude. The orbit list must not be empty.
array GetBegKepler(trokpktprocessor& processPkt, const noradelements& noradtle);

#endif
