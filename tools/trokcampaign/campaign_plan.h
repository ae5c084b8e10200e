#ifndef CAMPAIGN_PLAN_H
#define CAMPAIGN_PLAN_H

#include <map>
#include <string>
#include <vector>

#include "campaign_elements.h"
#include "campaign_record.h"
#include "campaign_run.h"
#include "campaign_run_plan.h"
#include "campaign_sources.h"

// The planning of `trokcampaign run`: the days of the archive or list, the
// inputs all days share, which days must run, and the plan the tasks read.
namespace campaign {

// The inputs every day of a run shares.
struct RunInputs {
    std::string configSource;                    // --config, absolute; "" for trokproc's defaults
    std::string configText, satellite;
    std::string ageText;                         // --max-element-age as the plan and catalog keep it
    std::string configHash;                      // of the configuration and the age limit
    std::string trokproc, qlrdump, pgsentry;
    std::string qlrplot;                         // "" when it is not found and no plots are wanted
    std::string arrayScript;                     // trokarray.sbatch, for the Slurm engine
    std::string versions, versionsHash;          // the programs' --version lines
    std::string historyPath;                     // --elements, absolute
    ElementHistory history;                      // its element sets of the satellite
};

// Reads the configuration, finds the programs and asks their versions,
// reads the element sets; packet files are read with the satellite's
// layout from here on. Throws Failure.
RunInputs ReadInputs(const RunOptions& o);

// What the planning decides for the catalog's `days`.
struct DayChoice {
    std::vector<std::string> toRun;   // the days to run, in order
    std::vector<DayRecord*> changed;  // rows changed without a run: missing days, products re-signed
};

// The days that are new, out of date or asked for with --redo; the others
// are brought up to date in `days` without a run. Throws Failure.
DayChoice ChooseDays(const RunOptions& o, const RunInputs& in, const std::map<std::string, std::string>& planned,
                     std::map<std::string, DayRecord>& days, const std::string& campaignDir);

// The plan of run `runId` (bound to `runToken`) that its tasks read: the
// run's settings and its days with their packet files.
RunPlan TaskPlan(const RunOptions& o, const RunInputs& in, const std::string& campaignDir, long long runId,
                 const std::string& runToken, const std::vector<std::string>& toRun,
                 const std::map<std::string, std::string>& planned);

} // namespace campaign

#endif
