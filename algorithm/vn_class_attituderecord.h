#ifndef VN_CLASS_ATTITUDERECORD_H
#define VN_CLASS_ATTITUDERECORD_H

#include <cassert>
#include <vector>

#include "vn_class_datarecord.h"
#include "vn_types.h"

// One 64-byte attitude record: time (TAI93 seconds, f64 at 0), three
// attitude angles (f64 at 8, 16, 24), three attitude rates (f64 at 32, 40,
// 48), quality flags (u32 at 56) and 4 spare bytes. Times are taken and
// returned as TAI Julian days. The three-value setters assert that exactly
// three values are given. The accessors are inline: the product run sets
// every field for every sample.
class attituderecord : public datarecord<attituderecord>
{
public:
    // The same type as the global carray, declared here so that assertion
    // messages spell the parameters "const carray&".
    typedef array carray;

    attituderecord& Time(double JDtime)
    {
        PutTime(L::Time, JDtime);
        return *this;
    }
    double Time() const { return GetTime(L::Time); }

    attituderecord& EulerAngles(const carray& angles)
    {
        assert(angles.size()==3);
        PutF64s(L::FirstTriple, angles);
        return *this;
    }
    std::vector<double> EulerAngles() const { return GetF64s(L::FirstTriple); }

    attituderecord& AngleVelocities(const carray& avel)
    {
        assert(avel.size()==3);
        PutF64s(L::SecondTriple, avel);
        return *this;
    }
    std::vector<double> AngleVelocities() const { return GetF64s(L::SecondTriple); }
};

#endif
