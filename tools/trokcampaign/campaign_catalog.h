#ifndef CAMPAIGN_CATALOG_H
#define CAMPAIGN_CATALOG_H

#include <map>
#include <string>
#include <vector>

#include "campaign_record.h"

struct sqlite3;

namespace campaign {

// The campaign's settings (table `campaign`): what the report shows and the
// command that reruns the campaign.
struct CampaignSettings {
    std::string archive, list, elements, config, satellite, max_element_age, command, exports, plots;
};

// A run of the driver (table `runs`).
struct RunRow {
    long long id = -1;
    std::string engine, status, jobId;
};

// How a catalog is opened.
enum class CatalogAccess {
    Create,     // made when missing (run)
    Existing,   // it must exist (status, report)
};

// CAMPAIGN/catalog.sqlite: the tables `days` (one DayRecord a day, its
// columns from campaign_record.h), `nodes`, `runs` and `campaign`, each made
// from its layout when missing and given the columns an earlier catalog
// lacks. Only the driver (or a command that folds in a Slurm job) writes it.
class Catalog
{
public:
    ~Catalog();
    // False with a reason when it cannot be opened or its tables made.
    bool Open(const std::string& path, CatalogAccess access, std::string& error);

    bool LoadDays(std::map<std::string, DayRecord>& days, std::string& error);
    // Writes rows in one transaction, with the node offsets of the days that
    // `nodes` names (replacing their earlier ones).
    bool StoreDays(const std::vector<const DayRecord*>& rows, const std::map<std::string, std::vector<Node>>& nodes,
                   std::string& error);

    CampaignSettings LoadSettings();
    bool StoreSettings(const CampaignSettings& settings, std::string& error);

    // A new run, "running"; its number, or -1.
    long long BeginRun(const std::string& engine, const std::string& command, std::string& error);
    // The Slurm job of a run, once submitted.
    bool SetRunJob(long long runId, const std::string& jobId, std::string& error);
    // The end of a run that a later command saw finish (a Slurm job left
    // running by run --no-wait): its status and the days it ran.
    bool SetRunStatus(long long runId, const std::string& status, long long ran, std::string& error);
    // The run's end: days planned and run, "done", "stopped" or "submitted",
    // the driver's own processor time (its tasks not counted), wall time and
    // peak memory.
    bool EndRun(long long runId, long long planned, long long ran, const std::string& status,
                double driverCpuSeconds, double wallSeconds, long peakKb, std::string& error);
    // The last run; false when there is none.
    bool LastRun(RunRow& run);

private:
    bool Exec(const std::string& sql, std::string& error);
    bool MakeTables(std::string& error);
    bool StoreNodes(const std::string& day, const std::vector<Node>& nodes, std::string& error);
    sqlite3* db = nullptr;
};

} // namespace campaign

#endif
