#include "mathlib_array.h"

std::ostream& operator<<(std::ostream& os, carray& values)
{
    for (double v : values) os << v << ' ';
    os << ' ';
    return os << std::flush;
}
