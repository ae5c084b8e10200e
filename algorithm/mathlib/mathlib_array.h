#ifndef MATHLIB_ARRAY_H
#define MATHLIB_ARRAY_H

#include <ostream>
#include <vector>

#ifdef NDEBUG
#error "assertions are part of the behaviour and must stay on"
#endif

// A vector of doubles (positions, velocities, quaternions, rates, angles,
// element sets; components in the order x, y, z) and its constant form.
typedef std::vector<double> array;
typedef const std::vector<double> carray;

// Writes each element with the stream's current formatting and one blank,
// one more blank after the last, then flushes; no line end.
std::ostream& operator<<(std::ostream& os, carray& values);

#endif
