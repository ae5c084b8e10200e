#ifndef VN_CLASS_NEVILLEINTERPOLATER_H
#define VN_CLASS_NEVILLEINTERPOLATER_H

#include <cstddef>

#include "vn_types.h"

// The value of the polynomial through a list of (x, y) points by Neville's
// scheme (n(n+1)/2 evaluations of the recursion for n points). The list belongs to the caller,
// who keeps it alive while it is bound. Interpolating without a bound list, or
// over an empty one, is a program error (assertion).
class nevilleinterpolater
{
public:
    explicit nevilleinterpolater(const dblplist* xylist);

    nevilleinterpolater& setxylist(const dblplist* xylist);

    double interpolate(double at) const;

private:
    // Neville's P(i, j) at x over points i to j, counted from 1.
    double P(size_t i, size_t j) const;

    const dblplist* xy;
    mutable double x;
};

#endif
