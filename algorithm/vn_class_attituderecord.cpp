#include "vn_class_attituderecord.h"

#include <cassert>

#include "timelib_proc_TAI93.h"
#include "vn_proc_FormatConvert.h"

namespace {

const size_t TimeOffset = 0;
const size_t AnglesOffset = 8;
const size_t RatesOffset = 32;
const size_t QaFlagOffset = 56;
const size_t SparesOffset = 60;

}

attituderecord::attituderecord() : storebase(64) {}

attituderecord& attituderecord::Time(double JDtime)
{
    FormatConvert_float8(JulianDayToTAI93(JDtime), DataPtr() + TimeOffset);
    return *this;
}

double attituderecord::Time() const
{
    return TAI93ToJulianDay(FormatConvert_float8(DataPtr() + TimeOffset));
}

attituderecord& attituderecord::EulerAngles(const carray& angles)
{
    assert(angles.size()==3);
    FormatConvert_float8(angles, DataPtr() + AnglesOffset);
    return *this;
}

std::vector<double> attituderecord::EulerAngles() const
{
    return FormatConvert_float8(DataPtr() + AnglesOffset, 3);
}

attituderecord& attituderecord::AngleVelocities(const carray& avel)
{
    assert(avel.size()==3);
    FormatConvert_float8(avel, DataPtr() + RatesOffset);
    return *this;
}

std::vector<double> attituderecord::AngleVelocities() const
{
    return FormatConvert_float8(DataPtr() + RatesOffset, 3);
}

attituderecord& attituderecord::QaFlag(unsigned flags)
{
    FormatConvert_long4(flags, DataPtr() + QaFlagOffset);
    return *this;
}

unsigned attituderecord::QaFlag() const
{
    return FormatConvert_ulong4(DataPtr() + QaFlagOffset);
}

char* attituderecord::Spares() { return DataPtr() + SparesOffset; }
const char* attituderecord::Spares() const { return DataPtr() + SparesOffset; }
