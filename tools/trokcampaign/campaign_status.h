#ifndef CAMPAIGN_STATUS_H
#define CAMPAIGN_STATUS_H

#include <map>
#include <string>

#include "campaign_job_view.h"
#include "campaign_record.h"

// `trokcampaign status`, a view of the catalog's days and of the Slurm job
// its last run left (as the fold-in found it); it reaches no engine.
namespace campaign {

// The number of days and their span, the count of each outcome, the Slurm
// job, and a line for each day that is not ok or does not continue the
// day before.
std::string StatusText(const std::map<std::string, DayRecord>& days, const SlurmView& view);

// status --json: the counts, the Slurm job, and every column of every day.
std::string StatusJson(const std::string& campaignDir, const std::map<std::string, DayRecord>& days,
                       const SlurmView& view);

} // namespace campaign

#endif
