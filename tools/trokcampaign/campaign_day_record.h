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

// The products are named as the day's folder will hold them, relative to
// the campaign folder (days/DAY/...); `madeEph` is the ephemeris product as
// made (in the day's work folder). A day whose files could not be written
// (trokproc's "File Write failed", a full file system or quota) is
// no-space.
void RecordPrograms(const pipeline::DayRun& run, const std::string& madeEph, const std::string& day,
                    DayRecord& record, std::vector<Node>& nodes);

// The text (a program's message, a write's error) says the file system is
// full or the quota spent.
bool NoSpaceText(const std::string& text);

// The records, repaired points, large gaps and orbits of the day's
// ephemeris product, read from it.
void RecordProductCounts(const std::string& ephemeris, DayRecord& record);

} // namespace campaign

#endif
