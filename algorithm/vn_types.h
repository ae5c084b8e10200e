#ifndef VN_TYPES_H
#define VN_TYPES_H

#include <string>
#include <utility>
#include <vector>

#include "mathlib_array.h"

// A string of 8-bit characters.
typedef std::string cstring;

// Interpolation points (x, y).
typedef std::vector<std::pair<double, double>> dblplist;

#endif
