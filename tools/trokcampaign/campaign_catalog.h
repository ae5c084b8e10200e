#ifndef CAMPAIGN_CATALOG_H
#define CAMPAIGN_CATALOG_H

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "campaign_record.h"

struct sqlite3;

namespace platform {
class Folder;
}

namespace campaign {

// The campaign's settings (table `campaign`): what the report shows and the
// command that reruns the campaign.
struct CampaignSettings {
    std::string archive, list, elements, config, satellite, max_element_age, command, exports, plots;
    std::string inbox, final_after;   // of a campaign of recorder dumps (campaign_ingest.h)
};

// A run of the driver (table `runs`).
struct RunRow {
    long long id = -1;
    std::string engine, status, jobId, token;
};

// A recorder dump the campaign has taken (table `dumps`), known by the
// SHA-256 of its content; `days` are the UTC days its telemetry touches,
// joined by ','.
struct DumpRow {
    std::string sha256, name, arrived_utc, first_packet_utc, last_packet_utc, days;
    long long deliveries = 1;
    std::string outcome, reason;   // "taken", "foreign" or "refused", and why
};

// A version of a day's products (table `versions`).
struct VersionRow {
    std::string day;
    long long version = 0;
    std::string level;             // "nrt" or "final"
    long long dumps = 0;           // how many dumps it was made from
    std::string l0_sha256, eph_sha256, att_sha256, outcome, made_utc;
    std::optional<double> latency_s;
};

// A file of the inbox already looked at (table `inbox`): its name, the
// signature it had (platform/file_signature.h) and its content's hash.
struct InboxRow {
    std::string name, signature, sha256, seen_utc;
};

// How a catalog is opened.
enum class CatalogAccess {
    Create,     // made when missing (run)
    Existing,   // it must exist; written (a command that folds in a run)
    ReadOnly,   // it must exist; only read (status, report)
};

// The layout this version makes and reads (PRAGMA user_version); a catalog
// of a higher one, or with a column this version does not know, is refused.
constexpr int kCatalogLayout = 2;

// CAMPAIGN/catalog.sqlite: the tables `days` (one DayRecord a day, its
// columns from campaign_record.h), `nodes`, `runs` and `campaign`, each made
// from its layout and given the columns an earlier catalog lacks. Only the
// driver (or a command that folds in a run) writes it.
//
// The catalog is a file of the user's own, readable by the user alone
// (0600, set at every open), in the campaign folder that the private-folder
// rule holds (platform/private_folder.h), with SQLite's rollback journal
// (catalog.sqlite-journal, made by SQLite with the catalog's mode). Before
// SQLite opens it, the catalog must be a regular file of the user's with no
// other name and no link in its place, and a journal, write-ahead log or
// shared-memory file beside it must be one too: another user's would be
// replayed into the catalog. A new catalog is made whole under another
// name and renamed into place, so that an empty catalog.sqlite is never a
// new one but one emptied: refused. Every write is a transaction that takes
// the write lock first (BEGIN IMMEDIATE); while another program holds the
// catalog, the catalog waits, saying so once, until it is free or a stop
// signal has come.
class Catalog
{
public:
    Catalog() = default;
    ~Catalog();
    Catalog(const Catalog&) = delete;
    Catalog& operator=(const Catalog&) = delete;

    // The catalog of the campaign folder held open. False with a reason.
    bool Open(const platform::Folder& campaign, CatalogAccess access, std::string& error);
    // The same for the catalog at `path`, its folder held as a private one.
    bool Open(const std::string& path, CatalogAccess access, std::string& error);

    // The days; false with a reason when the catalog cannot be read or a
    // row's day is no day.
    bool LoadDays(std::map<std::string, DayRecord>& days, std::string& error);
    // Writes rows in one transaction, with the node offsets of the days that
    // `nodes` names (replacing their earlier ones).
    bool StoreDays(const std::vector<const DayRecord*>& rows, const std::map<std::string, std::vector<Node>>& nodes,
                   std::string& error);

    CampaignSettings LoadSettings();
    bool StoreSettings(const CampaignSettings& settings, std::string& error);

    // A new run, "running", bound to `token`; its number, or -1.
    long long BeginRun(const std::string& engine, const std::string& command, const std::string& token,
                       std::string& error);
    // The Slurm job of a run, once submitted.
    bool SetRunJob(long long runId, const std::string& jobId, std::string& error);
    // The end of a run that a later command saw finish (a Slurm job left
    // running by run --no-wait, or a run whose driver was killed): its
    // status and the days it ran.
    bool SetRunStatus(long long runId, const std::string& status, long long ran, std::string& error);
    // The run's end: days planned and run, "done", "stopped" or "submitted",
    // the driver's own processor time (its tasks not counted), wall time and
    // peak memory.
    bool EndRun(long long runId, long long planned, long long ran, const std::string& status,
                double driverCpuSeconds, double wallSeconds, long peakKb, std::string& error);
    // The last run; false when there is none.
    bool LastRun(RunRow& run);

    // The dumps, versions and inbox files (empty in a catalog of before
    // ingestion); false with a reason.
    bool LoadDumps(std::map<std::string, DumpRow>& dumps, std::string& error);
    bool LoadVersions(std::vector<VersionRow>& versions, std::string& error);
    bool LoadInbox(std::map<std::string, InboxRow>& inbox, std::string& error);
    // What a pass of ingestion has made, in one transaction: the new
    // versions, the dumps (each replacing its row) and the inbox's files.
    bool StoreIngest(const std::vector<VersionRow>& versions, const std::vector<DumpRow>& dumps,
                     const std::vector<InboxRow>& inbox, std::string& error);

    // Called by SQLite while another program holds the catalog.
    bool KeepWaiting(int count);

private:
    bool OpenDatabase(const platform::Folder& campaign, const std::string& name, CatalogAccess access,
                      std::string& error);
    bool MakeNew(const platform::Folder& campaign, std::string& error);
    bool CheckLayout(std::string& error);
    bool Upgrade(std::string& error);
    bool Exec(const std::string& sql, std::string& error);
    // `body` in one transaction that holds the write lock from its start.
    bool Write(const std::function<bool(std::string&)>& body, std::string& error);
    bool StoreNodes(const std::string& day, const std::vector<Node>& nodes, std::string& error);
    void Close();

    sqlite3* db = nullptr;
    std::string path;                                        // for messages
    std::map<std::string, std::vector<std::string>> have;    // the columns of each table, as found
    long long layout = 0;                                    // the layout version, as found
    std::chrono::steady_clock::time_point waitingSince;
    bool saidWaiting = false;
};

} // namespace campaign

#endif
