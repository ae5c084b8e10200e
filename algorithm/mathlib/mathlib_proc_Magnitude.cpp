#include "mathlib_proc_Magnitude.h"

#include <cassert>
#include <cmath>

// Both forms add the squares of the elements in element order, in double
// precision, and take the square root of the sum.

double Magnitude(const array& v)
{
    double sum = 0.0;
    for (double x : v) sum += x * x;
    return std::sqrt(sum);
}

// A matrix must be a single column, of any number of rows; any other shape
// is a programming error and stops the program. The elements (r, 1) are
// read through the matrix's element access for r from 1 to the number of
// rows.

double Magnitude(const matrix& m1)
{
    assert(m1.colsize() == 1);
    double sum = 0.0;
    for (size_t r = 1; r <= m1.rowsize(); ++r) sum += m1(r, 1) * m1(r, 1);
    return std::sqrt(sum);
}
