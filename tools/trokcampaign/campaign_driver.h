#ifndef CAMPAIGN_DRIVER_H
#define CAMPAIGN_DRIVER_H

#include <map>
#include <string>

#include "campaign_engine.h"
#include "campaign_results.h"

namespace campaign {

// Runs the plan's days on `engine` to their end: each day that ends gets
// its result of this run, or is stopped with the engine's reason, into
// `days`, `st` and (every few seconds) the catalog, with progress on
// standard error. A stop signal stops the engine once; the driver then
// waits for what it has started. The run's status as the engine leaves it
// ("done" or "submitted"). Throws Failure, after the engine has abandoned
// its tasks.
std::string DriveRun(Engine& engine, const RunPlan& plan, Catalog& catalog, std::map<std::string, DayRecord>& days,
                     RunState& st);

// One day's end (the day's packet file `packet`) folded into `days` and
// `st` (Settle, campaign_results.h); the day as it ended, and a note for the
// operator.
DayRecord FoldIn(const DayEnd& end, const std::string& packet, std::map<std::string, DayRecord>& days, RunState& st,
                 std::string& note);

} // namespace campaign

#endif
