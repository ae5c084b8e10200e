#ifndef CAMPAIGN_SLURM_H
#define CAMPAIGN_SLURM_H

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "campaign_catalog.h"
#include "campaign_results.h"
#include "campaign_run.h"
#include "campaign_task.h"

// trokcampaign's Slurm engine: the days of a run as an array job through
// jobs/trokarray.sbatch, followed in the queue, and what the scheduler says
// of its tasks. Only Slurm's own commands are run (sbatch, squeue, sacct,
// scontrol, scancel), found on PATH.
namespace campaign {

// The array job script: $TROKARRAY when set, else jobs/trokarray.sbatch of
// the source tree beside a build folder, else share/trokproc/trokarray.sbatch
// of an installation; "" when none is found.
std::string LocateArrayScript();

struct ArrayJob {
    std::string script;                 // trokarray.sbatch
    std::string list;                   // one line per unit of work
    std::string logDir;                 // the tasks' own logs, JOB_TASK.log
    std::vector<std::string> command;   // run by each task with its lines after it
    size_t tasks = 0;
    int linesPerTask = 1;
    int throttle = 0;                   // tasks at a time; 0: as the cluster allows
    int minutes = 15;                   // time limit of a task
    std::string name;                   // the job's name
    std::vector<std::pair<std::string, std::string>> env;   // added to the job's environment
};

// Submits the job; its id, or false with sbatch's message.
bool SubmitArray(const ArrayJob& job, std::string& jobId, std::string& error);

// The tasks of a job that are still in the queue (pending, running,
// completing), by index, with their state. False with Slurm's message when
// the queue cannot be read; a job the controller no longer knows has no
// tasks in the queue.
bool QueuedTasks(const std::string& jobId, std::map<long, std::string>& tasks, std::string& error);

// How the tasks of a job ended, by index, as "STATE EXITCODE" (for example
// "CANCELLED 0:15"): from the accounting storage when the cluster keeps
// one, else from the controller while it still remembers the job (for
// MinJobAge after its end). `source` names where the answer came from:
// "sacct", "scontrol", or "" when neither knows the job.
std::map<long, std::string> EndedTasks(const std::string& jobId, std::string& source);

// scancel of the whole job.
void CancelJob(const std::string& jobId);

// Submits the plan's days as an array job, each task
// `trokcampaign task CAMPAIGN DAY...` for its --days-per-task days, and
// follows it until no task of it is left in the queue: "done". With
// --no-wait, or when the job is still in the queue two minutes after a stop
// signal cancelled it: "submitted", for status and the next run to fold in.
// Throws Failure.
std::string RunSlurm(const RunOptions& o, const std::string& arrayScript, const std::string& pgsentry,
                     const Plan& plan, Catalog& catalog, std::map<std::string, DayRow>& days, RunState& st);

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
