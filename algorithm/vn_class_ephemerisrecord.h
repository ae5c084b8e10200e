#ifndef VN_CLASS_EPHEMERISRECORD_H
#define VN_CLASS_EPHEMERISRECORD_H

#include <vector>

#include "vn_class_storebase.h"
#include "vn_types.h"

// One 64-byte ephemeris record: time (TAI93 seconds, f64 at 0), inertial
// position x, y, z in metres (f64 at 8, 16, 24), velocity in metres per
// second (f64 at 32, 40, 48), quality flags (u32 at 56) and 4 spare bytes. Times are taken and
// returned as TAI Julian days. The three-value setters assert that exactly
// three values are given.
class ephemerisrecord : public storebase
{
public:
    // The same type as the global carray, declared here so that assertion
    // messages spell the parameters "const carray&".
    typedef array carray;

    ephemerisrecord();

    ephemerisrecord& time(double JDtime);
    double time() const;

    ephemerisrecord& Position(const carray& pos);
    std::vector<double> Position() const;

    ephemerisrecord& Velocity(const carray& vel);
    std::vector<double> Velocity() const;

    ephemerisrecord& QaFlag(unsigned flags);
    unsigned QaFlag() const;

    char* Spares();
    const char* Spares() const;
};

#endif
