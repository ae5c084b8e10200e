#ifndef CAMPAIGN_RUN_H
#define CAMPAIGN_RUN_H

#include <map>
#include <string>
#include <vector>

#include "campaign_catalog.h"

namespace campaign {

struct RunOptions {
    std::string archive, list, elements, out, config;
    std::string engine = "local";
    int jobs = 0;                 // 0: one per core
    int daysPerTask = 1;
    bool exports = false, plots = false, noWait = false;
    double maxElementAge = 7.0;
    double timeout = 600.0;       // seconds per day
    std::vector<std::string> redo;   // days to run whatever their state
    std::vector<std::string> argv;   // the command line, for the redo command
};

// `trokcampaign run`: plans, runs the days that need it, checks across days,
// writes the catalog and the report. The exit status.
int RunCampaign(const RunOptions& options);

// A step between two consecutive days, as `continuity` states it.
// Largest time step between the last packet of one day and the first of the
// next that is still no hole (seconds): the long-gap threshold of a run.
constexpr double kHoleSeconds = 60.0;

// Fills `continuity` and `step_s` of every day from the day before it:
// "ok", or what breaks: a missing or failed day before, a hole or an
// overlap in time, orbit numbers that do not continue. `days` in order.
void CrossDayChecks(std::map<std::string, DayRow>& days);

// The orbit numbers from one day into the next: "" when they continue, or
// the jump with the causes the numbering model has for it.
std::string OrbitContinuity(const DayRow& before, const DayRow& row);

// A Slurm job of the campaign's last run that run --no-wait left running,
// as the scheduler and the tasks' results show it.
struct SlurmView {
    std::string jobId;     // "" when there is none to follow
    bool active = false;   // tasks of it are still in the queue
    std::vector<std::pair<std::string, std::string>> waiting;   // day, "queued" or "running"
    size_t finished = 0;   // days with a result, or ended without one
};

// Folds in what the Slurm job of the last run has finished: the results of
// its days and, for days whose task left the queue without a result, the
// scheduler's account (days stopped). Once no task is left in the queue the
// run is complete: checks between days, catalog and report. With `write`
// false nothing is written (another trokcampaign holds the campaign).
// False with a reason when the plan cannot be read or Slurm cannot be asked.
bool ReconcileSlurm(Catalog& catalog, const std::string& campaignDir, std::map<std::string, DayRow>& days,
                    bool write, SlurmView& view, std::string& error);

} // namespace campaign

#endif
