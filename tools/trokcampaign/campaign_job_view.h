#ifndef CAMPAIGN_JOB_VIEW_H
#define CAMPAIGN_JOB_VIEW_H

#include <string>
#include <utility>
#include <vector>

namespace campaign {

// A Slurm job that the campaign's last run left running, as the views show
// it: the fold-in (campaign_foldin.h) finds it, status shows it.
struct SlurmView {
    std::string jobId;     // "" when there is none to follow
    bool active = false;   // tasks of it are still in the queue
    std::vector<std::pair<std::string, std::string>> waiting;   // day, "queued" or "running"
    size_t finished = 0;   // days with a result, or ended without one
};

} // namespace campaign

#endif
