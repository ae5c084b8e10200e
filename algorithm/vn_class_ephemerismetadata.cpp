#include "vn_class_ephemerismetadata.h"

#include "timelib_proc_TAI93.h"
#include "vn_proc_FormatConvert.h"

namespace {

const size_t OrbitNoOffset = 0;
const size_t AscendingOffset = 8;
const size_t DescendingOffset = 16;
const size_t LongitudeOffset = 24;

const double NoAscendingNode = -999.99999999;

}

ephemerismetadata::ephemerismetadata() : storebase(32) {}

ephemerismetadata& ephemerismetadata::OrbitNo(unsigned orbitNo)
{
    FormatConvert_long4(orbitNo, DataPtr() + OrbitNoOffset);
    return *this;
}

unsigned ephemerismetadata::OrbitNo() const
{
    return FormatConvert_ulong4(DataPtr() + OrbitNoOffset);
}

ephemerismetadata& ephemerismetadata::AscendingTime(double time)
{
    const double seconds = time < 0.0 ? NoAscendingNode : JulianDayToTAI93(time);
    FormatConvert_float8(seconds, DataPtr() + AscendingOffset);
    return *this;
}

double ephemerismetadata::AscendingTime() const
{
    const double seconds = FormatConvert_float8(DataPtr() + AscendingOffset);
    return seconds < 0.0 ? seconds : TAI93ToJulianDay(seconds);
}

double ephemerismetadata::AscendingTimeTAI() const
{
    return FormatConvert_float8(DataPtr() + AscendingOffset);
}

ephemerismetadata& ephemerismetadata::DescendingTime(double time)
{
    FormatConvert_float8(JulianDayToTAI93(time), DataPtr() + DescendingOffset);
    return *this;
}

double ephemerismetadata::DescendingTime() const
{
    return TAI93ToJulianDay(FormatConvert_float8(DataPtr() + DescendingOffset));
}

ephemerismetadata& ephemerismetadata::DescendingLongitude(double lng)
{
    FormatConvert_float8(lng, DataPtr() + LongitudeOffset);
    return *this;
}

double ephemerismetadata::DescendingLongitude() const
{
    return FormatConvert_float8(DataPtr() + LongitudeOffset);
}

std::ostream& operator<<(std::ostream& os, const ephemerismetadata& meta)
{
    os << "\nOrbit number   = " << meta.OrbitNo()
       << "\nAsc. Node time = " << meta.AscendingTime()
       << "\nDesc Node Time = " << meta.DescendingTime()
       << "\nDesc Longitude = " << meta.DescendingLongitude() << std::endl;
    return os;
}
