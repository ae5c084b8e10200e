#include "vn_class_attituderecord.h"

#include <cassert>

#include "vn_proc_FormatConvert.h"

namespace {

const size_t TimeOffset = 0;
const size_t AnglesOffset = 8;
const size_t RatesOffset = 32;
const size_t QaFlagOffset = 56;
const size_t SparesOffset = 60;

const double TAI93Epoch = 2448988.5003125;

void PutThree(carray& values, char* field)
{
    for (size_t k = 0; k < 3; ++k) FormatConvert_float8(values[k], field + 8 * k);
}

std::vector<double> GetThree(const char* field)
{
    return {FormatConvert_float8(field), FormatConvert_float8(field + 8), FormatConvert_float8(field + 16)};
}

}

attituderecord::attituderecord() : storebase(64) {}

attituderecord& attituderecord::Time(double JDtime)
{
    FormatConvert_float8((JDtime - TAI93Epoch) * 86400.0, DataPtr() + TimeOffset);
    return *this;
}

double attituderecord::Time() const
{
    return FormatConvert_float8(DataPtr() + TimeOffset) / 86400.0 + TAI93Epoch;
}

attituderecord& attituderecord::EulerAngles(const carray& angles)
{
    assert(angles.size()==3);
    PutThree(angles, DataPtr() + AnglesOffset);
    return *this;
}

std::vector<double> attituderecord::EulerAngles() const
{
    return GetThree(DataPtr() + AnglesOffset);
}

attituderecord& attituderecord::AngleVelocities(const carray& avel)
{
    assert(avel.size()==3);
    PutThree(avel, DataPtr() + RatesOffset);
    return *this;
}

std::vector<double> attituderecord::AngleVelocities() const
{
    return GetThree(DataPtr() + RatesOffset);
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
