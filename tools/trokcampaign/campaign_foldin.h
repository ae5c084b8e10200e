#ifndef CAMPAIGN_FOLDIN_H
#define CAMPAIGN_FOLDIN_H

#include <map>
#include <string>

#include "campaign_catalog.h"
#include "campaign_job_view.h"

// A run that the campaign's last run left unfinished, folded into the
// catalog as a step of the command that finds it (run, status, report),
// before that command's own work or view: a Slurm job left running (run
// --no-wait, or a run that waited for it and was killed), or a run whose
// driver was killed (its row still says running while nobody holds the
// campaign), whose tasks ended with it.
namespace campaign {

// Folds in what the run has finished. For a Slurm job (`view`: the job as
// the scheduler and the tasks' results show it): the results of its days
// and, for days whose task left the queue without a result, the
// scheduler's account (days stopped); once no task is left in the queue
// the run is complete. For a killed driver: the results its tasks wrote
// (Settle, campaign_results.h), then the run is complete and "interrupted".
// A complete run has its checks between days, catalog and report. With
// `write` false nothing is written (another trokcampaign holds the
// campaign: a run still going) and `days` stays as it was; with
// `tasksGone` false (a task of the run still holds a day) a killed
// driver's run is left as it is. False with a reason when the plan cannot
// be read or Slurm cannot be asked.
bool FoldInEarlierRun(Catalog& catalog, const std::string& campaignDir, std::map<std::string, DayRecord>& days,
                      bool write, bool tasksGone, SlurmView& view, std::string& error);

} // namespace campaign

#endif
