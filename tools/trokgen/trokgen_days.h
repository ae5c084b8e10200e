#ifndef TROKGEN_DAYS_H
#define TROKGEN_DAYS_H

#include <cstdint>
#include <vector>

#include "trokgen_options.h"

namespace trokgen {

// The spacecraft clock's counts of an instant `offset` seconds after the
// start: whole seconds and 1/65536-ish fine steps. The fine count cannot
// show the last 4 ms of a second, so such times are held at its top.
struct ClockCounts {
    uint32_t coarse;
    uint16_t fine;
};
ClockCounts ClockAt(double start, double offset);

// Seconds after the start that the counts stand for.
double ClockOffset(double start, ClockCounts counts);

// The archive's days: the first sample of each day, and one past the last
// day's last sample (days + 1 numbers). A day is a UTC day of the products'
// own model, from the start's time of day to the same time the next day, so
// that every file of an archive holds exactly the packets that a split by
// UTC days (pktmerge's, the campaign's) puts on its date. The first sample
// of each day is sent on its whole second, without jitter.
std::vector<long> ArchiveDayStarts(const Options& o);

} // namespace trokgen

#endif
