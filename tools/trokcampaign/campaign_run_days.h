#ifndef CAMPAIGN_RUN_DAYS_H
#define CAMPAIGN_RUN_DAYS_H

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "campaign_catalog.h"
#include "campaign_folder.h"
#include "campaign_plan.h"
#include "campaign_results.h"
#include "platform/lock_file.h"

// The steps of `trokcampaign run` that ingestion (campaign_ingest.h) runs
// too: the campaign held, its satellite kept, and a run of given days.
namespace campaign {

// The campaign folder, made and held (the private-folder rule), and locked
// for this command. Throws Failure.
void HoldCampaign(const RunOptions& o, CampaignFolder& folder, platform::LockFile& lock);

// A campaign holds one satellite's products: the first run or ingestion
// fixes it, and a command for another is refused here, before anything in
// the campaign changes. Throws Failure.
void RefuseOtherSatellite(const CampaignFolder& folder, const std::string& satellite);

// The catalog opened (made when missing) and its days loaded. Throws Failure.
void OpenCatalog(const CampaignFolder& folder, Catalog& catalog, std::map<std::string, DayRecord>& days);

// What a command that feeds a run adds to it.
struct RunHooks {
    // Once the days to run are known, before their tasks start: the stamps
    // of the days made (RunState::stamps).
    std::function<void(const std::vector<std::string>& toRun, RunState& st)> beforeRun;
    // Once the run's rows are in the catalog, its own last.
    std::function<void(Catalog& catalog, std::map<std::string, DayRecord>& days, RunState& st)> afterRun;
};

// A run of the held campaign over `planned` (each day with its packet
// file): an earlier run folded in, the inputs recorded, the days chosen and
// run, the rows and the report written. The exit status. Throws Failure.
int RunDays(const RunOptions& o, const RunInputs& in, const CampaignFolder& folder, Catalog& catalog,
            std::map<std::string, DayRecord>& days, const std::map<std::string, std::string>& planned,
            const RunHooks& hooks, std::chrono::steady_clock::time_point runStart);

} // namespace campaign

#endif
