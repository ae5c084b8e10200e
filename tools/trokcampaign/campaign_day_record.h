#ifndef CAMPAIGN_DAY_RECORD_H
#define CAMPAIGN_DAY_RECORD_H

#include <string>
#include <vector>

#include "campaign_record.h"
#include "pipeline/day_steps.h"

// How the programs of a day ran, in the catalog's words: its outcome and
// reason, its products and timings, the check's node offsets and numbering
// warnings (toolkit/numbering/orbitnumbers.h, through the check's JSON).
namespace campaign {

// The products are named relative to the campaign folder (days/DAY/...).
void RecordPrograms(const pipeline::DayRun& run, const std::string& campaignDir, const std::string& day,
                    DayRecord& record, std::vector<Node>& nodes);

// The records, repaired points, large gaps and orbits of the day's
// ephemeris product, read from it.
void RecordProductCounts(const std::string& ephemeris, DayRecord& record);

} // namespace campaign

#endif
