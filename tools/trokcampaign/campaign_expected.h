#ifndef CAMPAIGN_EXPECTED_H
#define CAMPAIGN_EXPECTED_H

#include <map>
#include <string>
#include <vector>

#include "campaign_record.h"

// What a day of recorder dumps that is not final still waits for: the
// gaps its level-0 merge left, and the stretches of the day before its
// first packet and after its last one.
namespace campaign {

// "1 h 57 min missing 18:41-20:38" for each stretch of the day, in order
// (times of the day's UTC; a stretch under a minute to the second).
std::vector<std::string> MissingStretches(const DayRecord& day);

// "2026-06-01 nrt v11: 1 h 57 min missing 18:41-20:38" (stretches joined
// by ", "; "nothing missing" when there are none), a line for each day of
// the campaign's dumps that is not final.
std::vector<std::string> StillExpected(const std::map<std::string, DayRecord>& days);

} // namespace campaign

#endif
