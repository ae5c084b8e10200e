#ifndef CAMPAIGN_RUN_PLAN_H
#define CAMPAIGN_RUN_PLAN_H

#include <string>
#include <utility>
#include <vector>

// What the driver hands every task of a run: CAMPAIGN/run/plan.tsv, the
// settings as "name<TAB>value" lines, then one "day<TAB>DAY<TAB>PACKETFILE"
// line per day to run (fields escaped as toolkit/cli/tab_fields.h says).
namespace campaign {

struct RunSettings {
    long long runId = -1;
    std::string runToken;         // binds the run's results to it (random, never reused)
    std::string campaign, satellite;
    std::string config;           // the run's copy of the configuration (run/configfile)
    std::string configSource;     // --config, absolute; "" for trokproc's defaults
    std::string configSha256;     // of the configuration and the age limit
    std::string versions, versionsSha256;   // the programs' --version lines
    double maxElementAge = 7;     // days; 0: no limit
    bool exports = false, plots = false;
    std::string engine;
    std::string trokproc, qlrdump, qlrplot;
    std::string elements;         // the run's element sets (run/elements.tle)
    std::string history;          // --elements, absolute
    int daysPerTask = 1;

    // The age limit as the plan, the catalog and the check's command line
    // write it ("7.000000").
    std::string MaxElementAgeText() const;
};

struct RunPlan {
    RunSettings settings;
    std::vector<std::pair<std::string, std::string>> days;   // day, packet file
};

std::string PlanPath(const std::string& campaign);
std::string PlanText(const RunPlan& plan);
// False for a text that is no whole plan.
bool ParsePlan(const std::string& text, RunPlan& plan);
// The plan of the campaign's last run; false when it cannot be read (the
// reason in `error`, empty for a plan cut short). Only a file of the
// user's own is read.
bool ReadPlan(const std::string& campaign, RunPlan& plan, std::string& error);

} // namespace campaign

#endif
