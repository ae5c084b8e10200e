#ifndef CAMPAIGN_CATALOG_H
#define CAMPAIGN_CATALOG_H

#include <map>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace campaign {

// The columns of the table `days`, one row per day of the campaign. The
// task's result file uses the same names.
enum Column {
    C_day, C_outcome, C_reason,
    C_packet_path, C_packet_size, C_packet_sha256, C_packet_signature,
    C_first_packet_tai93, C_last_packet_tai93, C_first_packet_utc, C_last_packet_utc,
    C_element_name, C_element_line1, C_element_line2, C_element_sha256, C_element_epoch_tai93,
    C_element_epoch_utc, C_element_number, C_element_age_days,
    C_config_sha256, C_versions, C_versions_sha256,
    C_engine, C_job_id, C_host, C_run_id,
    C_records, C_repaired_points, C_large_gaps, C_orbits, C_first_orbit, C_last_orbit,
    C_first_node_tai93, C_last_node_tai93, C_max_node_offset_s, C_node_hazards,
    C_first_crossing_tai93, C_last_crossing_tai93, C_first_orbit_numbering, C_last_orbit_numbering,
    C_numbering_warnings,
    C_continuity, C_step_s,
    C_eph_path, C_eph_sha256, C_att_path, C_att_sha256, C_oem_path, C_oem_sha256,
    C_aem_path, C_aem_sha256, C_quicklook_path, C_products_signature,
    C_started_utc, C_finished_utc, C_seconds, C_trokproc_seconds, C_check_seconds,
    C_export_seconds, C_plot_seconds,
    kColumns
};

struct ColumnInfo {
    const char* name;
    char type;   // 'T' text, 'I' integer, 'R' real
};
extern const ColumnInfo kColumnInfo[kColumns];
// The column of a name, or kColumns.
Column ColumnByName(const std::string& name);

// One day: each column a text or SQL NULL (no value).
struct DayRow {
    std::optional<std::string> v[kColumns];
    bool Has(Column c) const { return v[c].has_value() && !v[c]->empty(); }
    std::string Get(Column c) const { return v[c] ? *v[c] : std::string(); }
    double Num(Column c, double fallback = 0) const;
    void Set(Column c, const std::string& value) { v[c] = value; }
    void SetNum(Column c, double value, int decimals);
    void SetInt(Column c, long long value) { v[c] = std::to_string(value); }
    void Clear(Column c) { v[c].reset(); }
};

// The outcomes of a day, in the order the report lists them.
extern const char* const kOutcomes[6];

// The result file of a task: "column<TAB>value" lines; tabs, line breaks
// and backslashes in values escaped as \t, \n, \\. A column that is absent
// stays as it was; the value \N is SQL NULL. The line "nodes" holds the
// per-orbit node offsets as "orbit:record:offset_s:hazard" items joined by
// ';'.
std::string ResultText(const DayRow& row, const std::string& nodes);
bool ParseResult(const std::string& text, DayRow& row, std::string& nodes);

// CAMPAIGN/catalog.sqlite. Only the driver writes it.
class Catalog
{
public:
    ~Catalog();
    // Opens (and creates, with its tables) the catalog; false with a reason.
    bool Open(const std::string& path, bool create, std::string& error);
    bool LoadDays(std::map<std::string, DayRow>& days, std::string& error);
    // Per-orbit node offsets of a day (table `nodes`).
    struct Node {
        long long orbit;
        long long record;   // the orbit's first record: the observed crossing
        double offsetSeconds;
        bool hazard;
    };
    // The nodes of a result file's "nodes" line.
    static std::vector<Node> ParseNodes(const std::string& text);
    // Writes rows in one transaction, with the node offsets of the days that
    // `nodes` names (replacing their earlier ones).
    bool StoreDays(const std::vector<const DayRow*>& rows, const std::map<std::string, std::vector<Node>>& nodes,
                   std::string& error);
    // Key/value settings of the campaign (table `campaign`).
    std::string Setting(const std::string& key);
    bool SetSettings(const std::map<std::string, std::string>& values, std::string& error);
    // A new run in the table `runs`; its number.
    long long BeginRun(const std::string& engine, const std::string& command, std::string& error);
    // The Slurm job of a run, once submitted.
    bool SetRunJob(long long runId, const std::string& jobId, std::string& error);
    // The end of a run that a later command saw finish (a Slurm job left
    // running by run --no-wait): its status and the days it ran.
    bool SetRunStatus(long long runId, const std::string& status, long long ran, std::string& error);
    // The last run: its number, engine, status and Slurm job (false when
    // there is none).
    struct Run {
        long long id = -1;
        std::string engine, status, jobId;
    };
    bool LastRun(Run& run);
    // The run's end: days planned and run, "done", "stopped" or "submitted"
    // (a Slurm job left running), and the
    // driver's own processor time (its tasks not counted), wall time and
    // peak memory.
    bool EndRun(long long runId, long long planned, long long ran, const std::string& status,
                double driverCpuSeconds, double wallSeconds, long peakKb, std::string& error);

private:
    bool Exec(const std::string& sql, std::string& error);
    // Adds the columns that a catalog of an earlier version lacks.
    bool AddMissingColumns(const std::string& table, const std::vector<std::pair<std::string, std::string>>& columns,
                           std::string& error);
    bool StoreNodes(const std::string& day, const std::vector<Node>& nodes, std::string& error);
    sqlite3* db = nullptr;
};

} // namespace campaign

#endif
