#ifndef VN_CLASS_EPHEMERISRECORD_H
#define VN_CLASS_EPHEMERISRECORD_H

#include <cassert>
#include <vector>

#include "vn_class_datarecord.h"
#include "vn_types.h"

// One 64-byte ephemeris record: time (TAI93 seconds, f64 at 0), inertial
// position x, y, z in metres (f64 at 8, 16, 24), velocity in metres per
// second (f64 at 32, 40, 48), quality flags (u32 at 56) and 4 spare bytes.
// Times are taken and returned as TAI Julian days (the time accessors are
// spelt in lower case here, unlike the attitude record's). The three-value
// setters assert that exactly three values are given. The accessors are
// inline: the product run sets every field for every sample.
class ephemerisrecord : public datarecord<ephemerisrecord>
{
public:
    // The same type as the global carray, declared here so that assertion
    // messages spell the parameters "const carray&".
    typedef array carray;

    ephemerisrecord& time(double JDtime)
    {
        PutTime(L::Time, JDtime);
        return *this;
    }
    double time() const { return GetTime(L::Time); }

    ephemerisrecord& Position(const carray& pos)
    {
        assert(pos.size()==3);
        PutF64s(L::FirstTriple, pos);
        return *this;
    }
    std::vector<double> Position() const { return GetF64s(L::FirstTriple); }

    ephemerisrecord& Velocity(const carray& vel)
    {
        assert(vel.size()==3);
        PutF64s(L::SecondTriple, vel);
        return *this;
    }
    std::vector<double> Velocity() const { return GetF64s(L::SecondTriple); }
};

#endif
