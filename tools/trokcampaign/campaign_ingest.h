#ifndef CAMPAIGN_INGEST_H
#define CAMPAIGN_INGEST_H

#include <memory>
#include <string>
#include <vector>

#include "campaign_folder.h"
#include "campaign_run.h"

// A campaign fed by recorder dumps as they arrive: `trokcampaign ingest`
// takes the inbox's new dumps (campaign_dumps.h), and for every day they
// touch rebuilds the day's level-0 file from all its dumps
// (campaign_level0.h) and runs the day as `run` does, which gives the day a
// new version. A version is "nrt" while the day may still receive data, and
// "final" after `close`, or once the day has ended and --final-after hours
// have passed since the last arrival of a dump for it; a dump for a final
// day makes a new final version (a revision). A dump counts as taken (its
// row in `dumps`) only in the transaction that records the version made
// from it, so that a command killed at any point takes it again next time.
namespace campaign {

// `trokcampaign ingest`: one pass over the inbox. The exit status.
int IngestCommand(const RunOptions& options);
// `trokcampaign watch`: a pass at start, then one whenever a file is
// written or renamed into the inbox (and once a minute, for the days that
// become final), until SIGTERM or SIGINT (status 0).
int WatchCommand(const RunOptions& options);
// `trokcampaign close CAMPAIGN DAY...`: the final version of these days now.
int CloseCommand(const std::string& campaign, const std::vector<std::string>& days);
// `trokcampaign run` without --archive or --list on a campaign of dumps:
// the days made again from their kept dumps (those out of date, and those
// of --redo), each a new version at its level.
int RunFromDumps(const RunOptions& options);

struct RunInputs;

// What the passes of watch share: the inputs of the last pass (the
// programs' versions, the configuration, the element sets), taken again
// while the programs, the configuration and the history are the files they
// were, so that a pass does not ask every program its version again.
struct InputsCache {
    std::string signature;
    std::shared_ptr<const RunInputs> inputs;
};

// One pass of ingestion over `inbox`, the stop signals held by the caller
// (watch). The exit status. Throws Failure.
int IngestOnce(const RunOptions& options, const platform::Folder& inbox, InputsCache& cache);

// `run --archive` or `--list` on a campaign of dumps is refused. Throws Failure.
void RefuseDumpCampaign(const CampaignFolder& folder);

} // namespace campaign

#endif
