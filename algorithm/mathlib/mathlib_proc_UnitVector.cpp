#include "mathlib_proc_UnitVector.h"

#include <cassert>

#include "mathlib_proc_Magnitude.h"

// The division is the matrix library's: every element is multiplied by the
// reciprocal of the length. A zero vector therefore yields infinite or
// not-a-number elements, which are passed on without a report.
//
// Only a column vector is accepted; any other shape is a programming error
// and stops the program.

matrix UnitVector(const matrix& v)
{
    assert(v.colsize() == 1);
    return v / Magnitude(v);
}
