#ifndef CAMPAIGN_FOLDIN_H
#define CAMPAIGN_FOLDIN_H

#include <map>
#include <string>

#include "campaign_catalog.h"
#include "campaign_job_view.h"

// A Slurm job that the campaign's last run left running (run --no-wait, or
// a run that waited for it and was killed), folded into the catalog as a
// step of the command that finds it (run, status, report), before that
// command's own work or view.
namespace campaign {

// Folds in what the job has finished (`view`: the job as the scheduler and
// the tasks' results show it): the results of its days and, for days
// whose task left the queue without a result, the scheduler's account
// (days stopped). Once no task is left in the queue the run is complete:
// checks between days, catalog and report. With `write` false nothing is
// written (another trokcampaign holds the campaign) and `days` stays as it
// was. False with a reason when the plan cannot be read or Slurm cannot be
// asked.
bool FoldInSlurmJob(Catalog& catalog, const std::string& campaignDir, std::map<std::string, DayRecord>& days,
                    bool write, SlurmView& view, std::string& error);

} // namespace campaign

#endif
