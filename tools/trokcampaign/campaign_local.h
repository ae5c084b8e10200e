#ifndef CAMPAIGN_LOCAL_H
#define CAMPAIGN_LOCAL_H

#include <map>
#include <string>

#include "campaign_catalog.h"
#include "campaign_results.h"
#include "campaign_run.h"
#include "campaign_task.h"

namespace campaign {

// The local engine: the plan's days in tasks of --days-per-task days, each
// `pgsentry trokcampaign task CAMPAIGN DAY...` in a process group of its
// own, -j at a time, with --timeout per day. A stop signal ends the tasks
// and starts no more; the days of a task that ended without their results
// are stopped. Every finished day goes to `days`, `st` and the catalog.
// Throws Failure.
void RunLocal(const RunOptions& o, const std::string& pgsentry, const Plan& plan, Catalog& catalog,
              std::map<std::string, DayRow>& days, RunState& st);

} // namespace campaign

#endif
