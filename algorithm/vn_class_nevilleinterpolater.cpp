#include "vn_class_nevilleinterpolater.h"

#include <cassert>
#include <vector>

nevilleinterpolater::nevilleinterpolater(const dblplist* xylist) : xy(xylist), x(0.0) {}

nevilleinterpolater& nevilleinterpolater::setxylist(const dblplist* xylist)
{
    xy = xylist;
    return *this;
}

double nevilleinterpolater::interpolate(double at) const
{
    assert(xy != 0);
    // P(1, 0) has no base case: an empty list cannot be interpolated.
    assert(!xy->empty());
    x = at;
    return P(1, xy->size());
}

double nevilleinterpolater::P(size_t i, size_t j) const
{
    // Bottom-up over the points i to j: after pass L, p[k] holds P(i + k,
    // i + k + L), computed from P(i + k + 1, i + k + L) (p[k + 1]) and
    // P(i + k, i + k + L - 1) (p[k]) by the recursion's own expression, so
    // each P is evaluated once (n(n+1)/2 instead of 2^n - 1 times) and
    // rounds exactly as in the recursive form.
    const size_t n = j - i + 1;
    const size_t stackPoints = 16;
    double stackValues[stackPoints] = {};
    std::vector<double> heapValues;
    double* p = stackValues;
    if (n > stackPoints) {
        heapValues.resize(n);
        p = heapValues.data();
    }
    for (size_t k = 0; k < n; ++k) p[k] = (*xy)[i - 1 + k].second;
    for (size_t L = 1; L < n; ++L) {
        for (size_t k = 0; k + L < n; ++k) {
            const double xi = (*xy)[i - 1 + k].first;
            const double xj = (*xy)[i - 1 + k + L].first;
            p[k] = ((x - xi) * p[k + 1] + (xj - x) * p[k]) / (xj - xi);
        }
    }
    return p[0];
}
