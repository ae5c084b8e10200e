#include "vn_class_ephemerisrecord.h"

#include <cassert>

#include "vn_proc_FormatConvert.h"

namespace {

const size_t TimeOffset = 0;
const size_t PositionOffset = 8;
const size_t VelocityOffset = 32;
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

ephemerisrecord::ephemerisrecord() : storebase(64) {}

ephemerisrecord& ephemerisrecord::time(double JDtime)
{
    FormatConvert_float8((JDtime - TAI93Epoch) * 86400.0, DataPtr() + TimeOffset);
    return *this;
}

double ephemerisrecord::time() const
{
    return FormatConvert_float8(DataPtr() + TimeOffset) / 86400.0 + TAI93Epoch;
}

ephemerisrecord& ephemerisrecord::Position(const carray& pos)
{
    assert(pos.size()==3);
    PutThree(pos, DataPtr() + PositionOffset);
    return *this;
}

std::vector<double> ephemerisrecord::Position() const
{
    return GetThree(DataPtr() + PositionOffset);
}

ephemerisrecord& ephemerisrecord::Velocity(const carray& vel)
{
    assert(vel.size()==3);
    PutThree(vel, DataPtr() + VelocityOffset);
    return *this;
}

std::vector<double> ephemerisrecord::Velocity() const
{
    return GetThree(DataPtr() + VelocityOffset);
}

ephemerisrecord& ephemerisrecord::QaFlag(unsigned flags)
{
    FormatConvert_long4(flags, DataPtr() + QaFlagOffset);
    return *this;
}

unsigned ephemerisrecord::QaFlag() const
{
    return FormatConvert_ulong4(DataPtr() + QaFlagOffset);
}

char* ephemerisrecord::Spares() { return DataPtr() + SparesOffset; }
const char* ephemerisrecord::Spares() const { return DataPtr() + SparesOffset; }
