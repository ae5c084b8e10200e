#ifndef MATHLIB_PROC_UNITVECTOR_H
#define MATHLIB_PROC_UNITVECTOR_H

#include "mathlib_class_matrix.h"

// v divided by its length, same shape. v must be a single column (asserted).
// A zero vector gives non-finite elements.
matrix UnitVector(const matrix& v);

#endif
