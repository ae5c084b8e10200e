#ifndef VN_CLASS_EPHEMERISSUBHEADER_H
#define VN_CLASS_EPHEMERISSUBHEADER_H

#include <string>
#include <vector>

#include "vn_class_subheader.h"
#include "vn_types.h"

// The 372-byte subheader of the ephemeris file. Layout: orbit count, first
// and last orbit (u32 at 0, 4, 8), reference frame name (8 bytes at 12), six
// Kepler elements (f64 at 20..60), element epoch in TAI93 seconds (f64 at
// 68), quality parameters (16 floats at 76) and statistics (4 floats at
// 140), which stay zero; the rest is spare.
class ephemerissubheader : public subheader<productlayout::EphemerisSub>
{
public:
    // The count is stored first in the file although it is passed last.
    ephemerissubheader& Orbits(unsigned begOrbit, unsigned endOrbit, unsigned orbitCnt);
    std::vector<unsigned> Orbits() const;   // (first, last, count)

    ephemerissubheader& RefFrame(const std::string& rframe);   // at most 8 characters
    std::string RefFrame() const;                               // the whole 8-byte field

    // Exactly six elements, stored in the order given; any other count fails
    // an assertion.
    ephemerissubheader& KeplerElements(carray kepler);
    std::vector<double> KeplerElements() const;

    // Stored unchanged, except that a negative epoch becomes -999.999999.
    ephemerissubheader& EpochTimeTAI(double time);
    double EpochTimeTAI() const;
};

#endif
