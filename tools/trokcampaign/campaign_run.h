#ifndef CAMPAIGN_RUN_H
#define CAMPAIGN_RUN_H

#include <string>
#include <vector>

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
    // ingest and watch (campaign_ingest.h): the inbox, the hours after a
    // day's last arrival that make it final, and no word on success.
    std::string inbox;
    double finalAfter = 24.0;
    bool quiet = false;
    bool move = false;            // taken dumps removed from the inbox
    // The command that makes the campaign's days again (the report's redo
    // line), when it is not this one less --redo.
    std::vector<std::string> redoCommand;
};

// `trokcampaign run`: on a campaign of recorder dumps (neither --archive
// nor --list) the days are made again from their kept dumps
// (campaign_ingest.h). Otherwise it plans, runs the days that need it, checks across days,
// writes the catalog and the report. The exit status.
int RunCampaign(const RunOptions& options);

} // namespace campaign

#endif
