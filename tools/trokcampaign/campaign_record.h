#ifndef CAMPAIGN_RECORD_H
#define CAMPAIGN_RECORD_H

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "pipeline/outcome.h"

namespace toolkit {
class JsonWriter;
}

// A day of the campaign as the catalog's table `days`, the tasks' result
// files and status --json hold it: one typed field per column, named as
// the column, and one table of the columns from which the schema, the
// result file, the catalog's rows and the JSON all come.
namespace campaign {

using pipeline::Outcome;

// The outcomes a day of the catalog has, in the order the report and
// status list them. A day stopped at the time limit is stopped (its reason
// says so); trokproc's other failures are input-refused; a day that found
// its file system full is no-space, and runs again.
extern const Outcome kCatalogOutcomes[7];

// A field that may be NULL.
using Text = std::optional<std::string>;
using Integer = std::optional<long long>;
using Real = std::optional<double>;

struct DayRecord {
    std::string day;   // YYYY-MM-DD, the key
    std::optional<Outcome> outcome;
    Text reason;
    Text packet_path;
    Integer packet_size;
    Text packet_sha256, packet_signature;
    Real first_packet_tai93, last_packet_tai93;
    Text first_packet_utc, last_packet_utc;
    Text element_name, element_line1, element_line2, element_sha256;
    Real element_epoch_tai93;
    Text element_epoch_utc;
    Integer element_number;
    Real element_age_days;
    Text config_sha256, versions, versions_sha256;
    Text engine, job_id, host;
    Integer run_id;
    Integer records, repaired_points, large_gaps, orbits, first_orbit, last_orbit;
    Real first_node_tai93, last_node_tai93, max_node_offset_s;
    Integer node_hazards;
    Real first_crossing_tai93, last_crossing_tai93;
    Integer first_orbit_numbering, last_orbit_numbering;
    Text numbering_warnings;
    Text continuity;
    Real step_s;
    Text eph_path, eph_sha256, att_path, att_sha256, oem_path, oem_sha256, aem_path, aem_sha256;
    Text quicklook_path, products_signature;
    Text manifest_sha256, result_sha256;   // the day's manifest.json and result.txt
    Text started_utc, finished_utc;
    Real seconds, trokproc_seconds, check_seconds, export_seconds, plot_seconds;
    // A campaign fed by recorder dumps (campaign_ingest.h): the day's level
    // ("nrt" or "final"), its version, and the gaps its level-0 merge left
    // ("START-END" TAI93 seconds, joined by ';').
    Text level;
    Integer version;
    Text gaps;

    bool Is(Outcome o) const { return outcome && *outcome == o; }
    // The outcome's word, "" for a day without one (never run).
    std::string OutcomeText() const { return outcome ? pipeline::OutcomeName(*outcome) : ""; }
    // The day made products: ok or check-failed.
    bool MadeProducts() const { return Is(Outcome::Ok) || Is(Outcome::CheckFailed); }
    // The day's work did not come to a verdict (stopped, or no space): what
    // it made is not put in place, and it runs again.
    bool Unfinished() const { return Is(Outcome::Stopped) || Is(Outcome::NoSpace); }
};

// A text field that holds something (neither NULL nor empty).
inline bool Filled(const Text& t) { return t && !t->empty(); }
// A real value for a field: NULL for one that is not finite.
Real Finite(double value);
// `value` as a column of `decimals` keeps it (the text a result file
// holds, read back): a field set by the driver is rounded as a task's is.
double Rounded(double value, int decimals);

// One column: its name and the field it is.
struct Column {
    using Field = std::variant<std::string DayRecord::*, std::optional<Outcome> DayRecord::*, Text DayRecord::*,
                               Integer DayRecord::*, Real DayRecord::*>;
    const char* name;
    Field field;
    int decimals;   // of a real: the digits the result file keeps

    // The SQL type: TEXT, INTEGER or REAL.
    const char* SqlType() const;
    bool IsKey() const { return std::holds_alternative<std::string DayRecord::*>(field); }
};
// The columns, in the table's order.
const std::vector<Column>& Columns();

// A column's value as text (NULL as nullopt); and set from text, as the
// result file and older catalogs hold it (a number that does not read as
// one, or an outcome word that is none, is NULL).
std::optional<std::string> ColumnText(const DayRecord& record, const Column& column);
void SetColumnText(DayRecord& record, const Column& column, const std::optional<std::string>& text);

// The record as one JSON object, every column by name (numbers as
// numbers, NULL as null).
void WriteDayJson(toolkit::JsonWriter& json, const DayRecord& record);

// The check's node offsets of a day (table `nodes`): every orbit after the
// first, its observed crossing minus the predicted node nearest it.
struct Node {
    long long orbit = 0;
    long long record = 0;   // the orbit's first record: the observed crossing
    double offsetSeconds = 0;
    bool hazard = false;    // the orbit carries another revolution's number
};
// As the result file's "nodes" line holds them: "orbit:record:offset_s:hazard"
// items joined by ';'.
std::string NodesText(const std::vector<Node>& nodes);
std::vector<Node> ParseNodes(const std::string& text);

// A task's result file: "column<TAB>value" lines, each value escaped as
// toolkit/cli/tab_fields.h says, \N for NULL, then the lines "nodes" and
// "run_token" (the run's token, which binds the result to its run). A
// column that is absent stays as it was in `record`.
std::string ResultText(const DayRecord& record, const std::vector<Node>& nodes, const std::string& runToken = "");
// False for a text that is no whole result (cut short, no column).
bool ParseResult(const std::string& text, DayRecord& record, std::vector<Node>& nodes,
                 std::string* runToken = nullptr);

} // namespace campaign

#endif
