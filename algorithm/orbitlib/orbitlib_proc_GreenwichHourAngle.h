#ifndef ORBITLIB_PROC_GREENWICHHOURANGLE_H
#define ORBITLIB_PROC_GREENWICHHOURANGLE_H

// Greenwich apparent sidereal angle, radians in [0, 2 pi), at a Julian day
// taken as universal time (the caller chooses the scale).
double GreenwichHourAngle(double jd);

#endif
