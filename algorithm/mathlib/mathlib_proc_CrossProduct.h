#ifndef MATHLIB_PROC_CROSSPRODUCT_H
#define MATHLIB_PROC_CROSSPRODUCT_H

#include "mathlib_class_matrix.h"

// U x V as a new 3 x 1 matrix, from elements (1..3, 1) of each argument;
// further rows and columns are ignored.
matrix CrossProduct(const matrix& U, const matrix& V);

#endif
