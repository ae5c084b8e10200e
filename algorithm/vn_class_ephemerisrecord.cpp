#include "vn_class_ephemerisrecord.h"

#include <cassert>

#include "timelib_proc_TAI93.h"
#include "vn_proc_FormatConvert.h"

namespace {

const size_t TimeOffset = 0;
const size_t PositionOffset = 8;
const size_t VelocityOffset = 32;
const size_t QaFlagOffset = 56;
const size_t SparesOffset = 60;

}

ephemerisrecord::ephemerisrecord() : storebase(64) {}

ephemerisrecord& ephemerisrecord::time(double JDtime)
{
    FormatConvert_float8(JulianDayToTAI93(JDtime), DataPtr() + TimeOffset);
    return *this;
}

double ephemerisrecord::time() const
{
    return TAI93ToJulianDay(FormatConvert_float8(DataPtr() + TimeOffset));
}

ephemerisrecord& ephemerisrecord::Position(const carray& pos)
{
    assert(pos.size()==3);
    FormatConvert_float8(pos, DataPtr() + PositionOffset);
    return *this;
}

std::vector<double> ephemerisrecord::Position() const
{
    return FormatConvert_float8(DataPtr() + PositionOffset, 3);
}

ephemerisrecord& ephemerisrecord::Velocity(const carray& vel)
{
    assert(vel.size()==3);
    FormatConvert_float8(vel, DataPtr() + VelocityOffset);
    return *this;
}

std::vector<double> ephemerisrecord::Velocity() const
{
    return FormatConvert_float8(DataPtr() + VelocityOffset, 3);
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
