#ifndef VN_CLASS_NEVILLEINTERPOLATER_2_H
#define VN_CLASS_NEVILLEINTERPOLATER_2_H

#include <cstddef>

#include "vn_class_nevilleinterpolater.h"
#include "vn_types.h"

// A Neville interpolator that owns its list of points. Not copyable: the inner
// interpolator refers to this object's own list.
class nevilleinterpolater_2
{
public:
    nevilleinterpolater_2();
    nevilleinterpolater_2(const nevilleinterpolater_2&) = delete;
    nevilleinterpolater_2& operator=(const nevilleinterpolater_2&) = delete;

    nevilleinterpolater_2& addtolist(double x, double y);
    void clearlist();
    size_t listsize() const;

    // The polynomial through all points of the list, at x. The list must not
    // be empty.
    double interpolate(double x) const;

private:
    nevilleinterpolater nev;
    dblplist xylist;
};

#endif
