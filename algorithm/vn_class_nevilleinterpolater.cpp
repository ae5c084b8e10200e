#include "vn_class_nevilleinterpolater.h"

#include <cassert>

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
    const std::pair<double, double>& pi = (*xy)[i - 1];
    if (i == j)
        return pi.second;
    const double xj = (*xy)[j - 1].first;
    const double left = P(i + 1, j);
    const double right = P(i, j - 1);
    return ((x - pi.first) * left + (xj - x) * right) / (xj - pi.first);
}
