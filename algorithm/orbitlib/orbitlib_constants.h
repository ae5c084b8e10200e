#ifndef ORBITLIB_CONSTANTS_H
#define ORBITLIB_CONSTANTS_H

// Degrees to radians (pi / 180).
inline constexpr double DtR = 0.017453292519943295;

// One full turn in radians (2 pi).
inline constexpr double twoPi = 6.283185307179586;

#endif
