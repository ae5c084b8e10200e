#ifndef MATHLIB_PROC_MAGNITUDE_H
#define MATHLIB_PROC_MAGNITUDE_H

#include "mathlib_array.h"
#include "mathlib_class_matrix.h"

// Euclidean length of a column vector (one column, any number of rows;
// asserted) or of a vector of doubles of any length.
double Magnitude(const matrix& m1);
double Magnitude(const array& v);

#endif
