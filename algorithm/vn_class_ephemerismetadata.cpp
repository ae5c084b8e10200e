#include "vn_class_ephemerismetadata.h"

namespace {

using L = productlayout::OrbitMeta;

const double NoAscendingNode = -999.99999999;

}

ephemerismetadata::ephemerismetadata() : productblock(L::Size) {}

ephemerismetadata& ephemerismetadata::OrbitNo(unsigned orbitNo)
{
    PutU32(L::OrbitNo, orbitNo);
    return *this;
}

unsigned ephemerismetadata::OrbitNo() const { return GetU32(L::OrbitNo); }

ephemerismetadata& ephemerismetadata::AscendingTime(double time)
{
    if (time < 0.0) PutF64(L::AscendingTime, NoAscendingNode);
    else PutTime(L::AscendingTime, time);
    return *this;
}

double ephemerismetadata::AscendingTime() const
{
    const double seconds = GetF64(L::AscendingTime);
    return seconds < 0.0 ? seconds : TAI93ToJulianDay(seconds);
}

double ephemerismetadata::AscendingTimeTAI() const { return GetF64(L::AscendingTime); }

ephemerismetadata& ephemerismetadata::DescendingTime(double time)
{
    PutTime(L::DescendingTime, time);
    return *this;
}

double ephemerismetadata::DescendingTime() const { return GetTime(L::DescendingTime); }

ephemerismetadata& ephemerismetadata::DescendingLongitude(double lng)
{
    PutF64(L::DescendingLongitude, lng);
    return *this;
}

double ephemerismetadata::DescendingLongitude() const { return GetF64(L::DescendingLongitude); }

std::ostream& operator<<(std::ostream& os, const ephemerismetadata& meta)
{
    os << "\nOrbit number   = " << meta.OrbitNo()
       << "\nAsc. Node time = " << meta.AscendingTime()
       << "\nDesc Node Time = " << meta.DescendingTime()
       << "\nDesc Longitude = " << meta.DescendingLongitude() << std::endl;
    return os;
}
