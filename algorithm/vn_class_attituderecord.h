#ifndef VN_CLASS_ATTITUDERECORD_H
#define VN_CLASS_ATTITUDERECORD_H

#include <vector>

#include "vn_class_storebase.h"
#include "vn_types.h"

// One 64-byte attitude record: time (TAI93 seconds, f64 at 0), three
// attitude angles (f64 at 8, 16, 24), three attitude rates (f64 at 32, 40,
// 48), quality flags (u32 at 56) and 4 spare bytes. Times are taken and
// returned as TAI Julian days. The three-value setters assert that exactly
// three values are given.
class attituderecord : public storebase
{
public:
    // The same type as the global carray, declared here so that assertion
    // messages spell the parameters "const carray&".
    typedef array carray;

    attituderecord();

    attituderecord& Time(double JDtime);
    double Time() const;

    attituderecord& EulerAngles(const carray& angles);
    std::vector<double> EulerAngles() const;

    attituderecord& AngleVelocities(const carray& avel);
    std::vector<double> AngleVelocities() const;

    attituderecord& QaFlag(unsigned flags);
    unsigned QaFlag() const;

    char* Spares();
    const char* Spares() const;
};

#endif
