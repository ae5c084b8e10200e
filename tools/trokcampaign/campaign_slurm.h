#ifndef CAMPAIGN_SLURM_H
#define CAMPAIGN_SLURM_H

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "campaign_engine.h"

namespace campaign {

// How the Slurm engine submits a run: through trokarray.sbatch --command,
// one array task per --days-per-task days, each task
// `pgsentry trokcampaign task CAMPAIGN DAY...` on its lines of
// run/days.list, its log in run/slurm/JOB_TASK.log.
struct SlurmSubmission {
    std::string arrayScript, pgsentry;
    int throttle = 0;         // tasks at a time (-j); 0: as the cluster allows
    double timeout = 600;     // seconds per day
    bool noWait = false;      // submit and leave the job to run on
    std::string out;          // --out as given, for the message that names it
    // Told the job's id once it is submitted (the catalog keeps it).
    std::function<void(const std::string& jobId)> submitted;
};

// The Slurm engine. Its days map to tasks through the list, so the mapping
// needs nothing from the scheduler. A poll looks at the queue (squeue) for
// the tasks still pending or running and then at the days' results, so
// that a task that left the queue between the two looks has written its
// last result already; a day whose task has left the queue without its
// result is stopped with the scheduler's account of the task (sacct, else
// scontrol, else its log). Stop cancels the job (scancel) and waits up to
// two minutes for it to leave the queue; after that, or with --no-wait,
// the run is left "submitted".
class SlurmEngine : public Engine
{
public:
    // A new job, submitted when it starts.
    explicit SlurmEngine(const SlurmSubmission& submission);
    // A job already submitted (run --no-wait), followed.
    explicit SlurmEngine(const std::string& jobId);

    void Start(const RunPlan& plan) override;
    std::vector<DayEnd> Poll() override;
    void Stop() override;
    void Abandon() override;
    bool Done() const override;
    std::string Status() const override;
    int PollMs() const override { return 2000; }

    const std::string& JobId() const { return jobId; }
    // After a poll: the days still waiting, with "queued" or "running", and
    // whether any task of the job is still in the queue.
    const std::vector<std::pair<std::string, std::string>>& Waiting() const { return waiting; }
    bool Queued() const { return queued; }

private:
    void Submit(const RunPlan& plan);
    std::string WhyNoResult(long task);

    SlurmSubmission submission;
    bool ours = false;   // submitted by this engine
    std::string jobId, campaign, runToken;
    long long runId = -1;
    int daysPerTask = 1;
    std::vector<std::string> days;
    std::set<std::string> settled;
    std::vector<std::pair<std::string, std::string>> waiting;
    bool polled = false, queued = true, cancelled = false;
    std::chrono::steady_clock::time_point cancelledAt;
    std::map<long, std::string> ended;   // the scheduler's account, asked once
    bool asked = false;
};

} // namespace campaign

#endif
