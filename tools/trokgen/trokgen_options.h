#ifndef TROKGEN_OPTIONS_H
#define TROKGEN_OPTIONS_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// trokgen's command line and the constants its units share.
namespace trokgen {

const double kEquatorialRadius = 6378137.0;
const double kDeg = 0.017453292519943295;
const double kTwoPi = 6.283185307179586;
const double kFineStep = 1.52e-5;
const unsigned kOtherApid = 1010;
const long kDay = 86400;
// TAI93 zero (1993-01-01 00:00:27 TAI) in TAI seconds since 1958.
const double kTai93From1958 = 1104537627.0;

struct Options {
    std::string out, tle, config, eph, att, name, designator, archive;
    std::string dumps;     // recorder dumps of the span into this folder
    long seconds = 18000;
    long days = 0;         // archive: number of daily files
    std::vector<long> dayStarts;   // archive: each day's first sample, and the end
    double start = -1.0;   // TAI seconds since 1958; negative: the default date
    uint64_t seed = 1;
    double jitterMs = 20.0;
    long smallGaps = 0, largeGaps = 0, repeats = 0, otherApid = 0;
    bool timeFault = false, pelk = false, twoBody = false;
    double altitudeKm = 700.0, ecc = 0.0012, inclDeg = 98.2, raanDeg = 120.0, argpDeg = 90.0,
           meanAnomalyDeg = 0.0, wobble = 1.0;
    double wobbleDeg[3] = {-1.0, -1.0, -1.0};   // negative: the simulator's own amplitudes
    long rev = 10000, catalog = 43210, elementNumber = 999;
    // Archive days (1 to days) that get a fault of their own.
    std::set<long> timeFaultDays, flipDays, cutDays, tleGapDays;
};

// The options of the command line, checked; every mistake ends the program
// with one message (status 255).
Options ParseOptions(int argc, char** argv);

} // namespace trokgen

#endif
