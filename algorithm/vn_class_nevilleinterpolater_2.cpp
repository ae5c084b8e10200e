#include "vn_class_nevilleinterpolater_2.h"

nevilleinterpolater_2::nevilleinterpolater_2() : nev(&xylist) {}

nevilleinterpolater_2& nevilleinterpolater_2::addtolist(double x, double y)
{
    xylist.emplace_back(x, y);
    return *this;
}

// Keeps the capacity, so that reloading the same number of points allocates
// nothing.
void nevilleinterpolater_2::clearlist() { xylist.clear(); }

size_t nevilleinterpolater_2::listsize() const { return xylist.size(); }

double nevilleinterpolater_2::interpolate(double x) const { return nev.interpolate(x); }
