#ifndef VN_CLASS_EPHEMERISMETADATA_H
#define VN_CLASS_EPHEMERISMETADATA_H

#include <ostream>

#include "vn_class_productblock.h"

// One 32-byte orbit metadata record: orbit number (u32 at 0), 4 spare bytes,
// ascending and descending node times (TAI93 seconds, f64 at 8 and 16) and
// the descending node's east longitude in radians (f64 at 24).
class ephemerismetadata : public productblock
{
public:
    ephemerismetadata();

    ephemerismetadata& OrbitNo(unsigned orbitNo);
    unsigned OrbitNo() const;

    // A TAI Julian day; a negative one means "no ascending node" and is
    // stored as -999.99999999. The getter returns any negative stored value
    // unchanged and converts the others back to a Julian day.
    ephemerismetadata& AscendingTime(double time);
    double AscendingTime() const;
    double AscendingTimeTAI() const;   // the stored seconds

    // A TAI Julian day, converted for every value.
    ephemerismetadata& DescendingTime(double time);
    double DescendingTime() const;

    ephemerismetadata& DescendingLongitude(double lng);
    double DescendingLongitude() const;
};

// Labelled fields, one per line, in the stream's current number format.
std::ostream& operator<<(std::ostream& os, const ephemerismetadata& meta);

#endif
