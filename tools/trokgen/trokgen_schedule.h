#ifndef TROKGEN_SCHEDULE_H
#define TROKGEN_SCHEDULE_H

#include <map>
#include <set>
#include <vector>

#include "trokgen_options.h"
#include "trokgen_random.h"

namespace trokgen {

// What happens to the nominal sample k (k-th second of the span).
struct Schedule {
    std::vector<char> dropped;     // lost in a gap
    std::set<long> repeated;       // sent twice
    std::vector<long> othersAfter; // another application's packets after sample k
    std::set<long> timeFaults;     // these samples carry an earlier time
    std::map<long, int> flipped;   // a position bit of weight 2^value metres flipped
};

// Where the span's gaps, repeats, other packets and faults go.
Schedule MakeSchedule(const Options& o, Random& rng);

} // namespace trokgen

#endif
