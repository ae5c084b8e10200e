#ifndef TOOLKIT_PRODUCTCHECK_H
#define TOOLKIT_PRODUCTCHECK_H

#include <string>
#include <utility>
#include <vector>

#include "toolkit/products/qlrproduct.h"

namespace toolkit {

// The checks a downstream system runs before it trusts a product pair: the
// layout of each file, the consistency of the pair, and the content faults
// that a run can leave in files that are otherwise whole (non-finite
// numbers, orbit metadata from an element set that did not match, flag
// sequences no repaired stream produces, a stale element set).

struct CheckFinding {
    std::string kind;      // short word: structure, pair, non-finite, orbit-metadata,
                           // flag-sequence, element-age, no-elements, radius,
                           // kinematic, attitude-rate, attitude-kinematic, numbering
    long long record = -1; // index of the data or orbit record concerned, -1 for none
    std::string message;   // one line for people
    bool warning = false;  // true: worth knowing, does not fail the check
    // The numbers behind the finding, by name (printed in the JSON form).
    std::vector<std::pair<std::string, double>> values;
};

// A finding of `kind` on data or orbit record `record` (-1: none).
CheckFinding MakeFinding(const std::string& kind, long long record, const std::string& message,
                         std::vector<std::pair<std::string, double>> values = {},
                         bool warning = false);

struct CheckOptions {
    // Largest distance in days of the element-set epoch from the data span;
    // 0 switches the test off.
    double maxElementAgeDays = 7.0;
    // The run's element set (13 values, as the element reader keeps them),
    // when known: its own hazards for the orbit numbers are then tested.
    std::vector<double> elements;
};

// Layout faults of one file: its size against NoRecords, and for an
// ephemeris file the orbit metadata against the header's orbits. Empty for
// a sound file. A partial file from a run that never finished (headers
// never completed, NoRecords 0) always has some. `orbitHeader` false leaves
// out the tests on the ephemeris subheader's orbits (a file read as another
// kind than its own on request).
std::vector<std::string> StructureProblems(const Product& p, bool orbitHeader = true);

// Every finding on the pair; the check passes when none is a fault. Besides
// the tests above: the states of the ephemeris (statecheck.h), the
// attitudes (attitudecheck.h) and the hazards of its orbit numbers
// (numbering/orbitnumbers.h, warnings).
std::vector<CheckFinding> CheckProducts(const Product& eph, const Product& att,
                                        const CheckOptions& options);

bool HasFault(const std::vector<CheckFinding>& findings);

// The outcome as one JSON object:
// {"ephemeris": path, "attitude": path, "passed": bool, "records": n,
//  "orbits": m, "max_element_age_days": d, "faults": [...], "warnings": [...],
//  "node_offsets": [{"orbit", "record", "crossing_minus_node_s", "numbering",
//  "crossing_tai93"}, ...], "first_orbit_numbering": n}
// (numbering/orbitnumbers.h: each orbit's numbering -1, 0 or 1, the first
// orbit's, null when it cannot be told)
// each finding {"kind", "record" (null for none), "message", "values": {...}};
// non-finite values are written as the strings "nan", "inf", "-inf".
std::string CheckJson(const Product& eph, const Product& att, const CheckOptions& options,
                      const std::vector<CheckFinding>& findings);

} // namespace toolkit

#endif
