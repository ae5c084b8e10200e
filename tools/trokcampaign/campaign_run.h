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

} // namespace campaign

#endif
