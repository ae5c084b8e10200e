// What happens to each sample of the span.
#include "trokgen_schedule.h"

#include <string>

#include "toolkit/cli/cli.h"

using namespace toolkit;

namespace trokgen {

namespace {

// Places `count` runs of lost samples of length [minLen, maxLen] so that
// every run has at least `margin` kept samples on either side.
void PlaceGaps(Schedule& s, Random& rng, long count, long minLen, long maxLen, const char* what)
{
    const long n = static_cast<long>(s.dropped.size());
    const long margin = 10;
    for (long g = 0; g < count; ++g) {
        bool placed = false;
        for (int attempt = 0; attempt < 10000 && !placed; ++attempt) {
            const long len = rng.Between(minLen, maxLen);
            if (n - 2 * margin - len < 1) break;
            const long first = rng.Between(margin, n - margin - len);
            bool clear = true;
            for (long k = first - margin; k < first + len + margin && clear; ++k)
                clear = !s.dropped[k];
            if (!clear) continue;
            for (long k = first; k < first + len; ++k) s.dropped[k] = 1;
            placed = true;
        }
        if (!placed)
            Fail(std::string("the span is too short for the ") + what + " asked for: raise --seconds");
    }
}

// A kept sample picked at random, away from the ends.
long KeptSample(const Schedule& s, Random& rng)
{
    const long n = static_cast<long>(s.dropped.size());
    for (int attempt = 0; attempt < 100000; ++attempt) {
        const long k = rng.Between(1, n - 2);
        if (!s.dropped[k]) return k;
    }
    Fail("no sample left to alter");
}

// A sample of archive day `day` (0-based) with ten kept, unaltered samples
// on either side, so that nothing else disturbs what is done to it.
long QuietSample(const Schedule& s, Random& rng, long day)
{
    for (int attempt = 0; attempt < 100000; ++attempt) {
        const long k = day * kDay + rng.Between(20, kDay - 21);
        bool quiet = true;
        for (long j = k - 10; j <= k + 10 && quiet; ++j)
            quiet = !s.dropped[static_cast<size_t>(j)] && !s.repeated.count(j) &&
                    !s.timeFaults.count(j) && !s.flipped.count(j);
        if (quiet) return k;
    }
    Fail("no undisturbed sample left on day " + std::to_string(day + 1));
}

} // namespace

Schedule MakeSchedule(const Options& o, Random& rng)
{
    Schedule s;
    s.dropped.assign(static_cast<size_t>(o.seconds), 0);
    PlaceGaps(s, rng, o.largeGaps, 90, 900, "large gaps");
    PlaceGaps(s, rng, o.smallGaps, 1, 40, "small gaps");
    for (long r = 0; r < o.repeats; ++r) s.repeated.insert(KeptSample(s, rng));
    for (long r = 0; r < o.otherApid; ++r) s.othersAfter.push_back(rng.Between(0, o.seconds - 1));
    if (o.timeFault && o.archive.empty()) {
        // Not the first kept sample: it needs a predecessor to go back past.
        long k;
        do k = KeptSample(s, rng);
        while (k < 3);
        s.timeFaults.insert(k);
    }
    if (o.archive.empty()) return s;
    // Faults of chosen days come from a stream of their own, so that asking
    // for them leaves the rest of the archive as it was.
    Random days(o.seed ^ 0x13198A2E03707344ULL);
    std::set<long> timeFaultDays = o.timeFaultDays;
    if (o.timeFault) timeFaultDays.insert(days.Between(1, o.days));
    for (long d : timeFaultDays) s.timeFaults.insert(QuietSample(s, days, d - 1));
    for (long d : o.flipDays)
        s.flipped[QuietSample(s, days, d - 1)] = static_cast<int>(days.Between(15, 21));
    return s;
}

} // namespace trokgen
