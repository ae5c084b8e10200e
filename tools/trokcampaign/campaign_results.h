#ifndef CAMPAIGN_RESULTS_H
#define CAMPAIGN_RESULTS_H

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "campaign_catalog.h"

// The days' results as the driver collects them from its tasks: read from
// the days' result files, shown as progress, stored in the catalog as they
// come and, at the end of a run, with the checks between days and the
// report.
namespace campaign {

// What ingestion gives a day that a run makes anew: its level, version and
// the gaps of its level-0 merge (DayRecord's fields of the same names).
struct DayStamp {
    std::string level;
    long long version = 0;
    std::string gaps;
};

// What one run of the driver (or the command that folds in a Slurm job's
// results) changes; written to the catalog as it goes and at the end.
struct RunState {
    std::string campaignDir;
    long long runId = -1;
    std::string runToken;                                    // the run's results carry it
    std::vector<DayRecord*> finished;                        // in the order they finished
    std::map<std::string, std::vector<Node>> nodesOf;        // their node offsets
    size_t stored = 0;                                       // finished days already stored
    std::chrono::steady_clock::time_point lastStore = std::chrono::steady_clock::now();
    std::map<std::string, DayStamp> stamps;                  // of the days ingestion makes
    std::map<std::string, double> madeAt;                    // their products in place (Unix seconds)
    bool quiet = false;                                      // no progress on standard error
};

// The day's result of the run, read into `record`; false when the day has
// none (its task ended before it, or the result is of another run).
bool TakeResult(RunState& st, const std::string& day, DayRecord& record);

// What the catalog keeps of a day that ended with `result`: the result,
// except that a day that came to no verdict (stopped, no space) leaves the
// row of earlier products as it is, as the task left their files. A note
// for the operator in `note` when the row stays, or when the new verdict
// set the day's earlier files aside (run/replaced/DAY).
void Settle(const RunState& st, DayRecord& row, const DayRecord& result, std::string& note);

// `record` as a day of this run that was stopped before its result, and why.
void MarkStopped(const RunState& st, DayRecord& record, const std::string& day, const std::string& packet,
                 const std::string& reason);

// The finished days go to the catalog every few seconds (or now), so that a
// driver that dies keeps most of its work. Throws Failure.
void StoreFinished(Catalog& catalog, RunState& st, bool now);

// The end of a run: the checks between days, every changed row and the
// node offsets into the catalog at once, and the report. Throws Failure.
void CompleteRun(Catalog& catalog, std::map<std::string, DayRecord>& days, RunState& st,
                 const std::vector<DayRecord*>& changed, const CampaignSettings& settings);

// Progress on standard error: one line kept up to date on a terminal,
// otherwise a line per day.
class Progress
{
public:
    explicit Progress(size_t days, bool quiet = false);
    // A day has finished; `note`, when there is one, is said on a line of its own.
    void Day(const DayRecord& record, const std::string& note = "");
    // The terminal's line again (with a line break when `last`).
    void Line(bool last);

private:
    // Standard error goes nowhere any more (a closed pipe or terminal).
    bool Gone();

    size_t total, done = 0, failed = 0;
    bool terminal, gone = false, quiet;
    std::chrono::steady_clock::time_point start;
};

} // namespace campaign

#endif
