#include "campaign_slurm.h"

#include <unistd.h>

#include <cmath>

#include "campaign_failure.h"
#include "campaign_result_file.h"
#include "campaign_slurm_commands.h"
#include "platform/atomic_stream.h"
#include "platform/make_dirs.h"
#include "platform/program_lookup.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/shell_quote.h"

namespace campaign {

SlurmEngine::SlurmEngine(const SlurmSubmission& s) : submission(s), ours(true) {}

SlurmEngine::SlurmEngine(const std::string& job) : jobId(job) {}

void SlurmEngine::Start(const RunPlan& plan)
{
    campaign = plan.settings.campaign;
    runId = plan.settings.runId;
    runToken = plan.settings.runToken;
    daysPerTask = plan.settings.daysPerTask;
    for (const auto& d : plan.days) days.push_back(d.first);
    if (ours) Submit(plan);
}

// The job of the plan's days, submitted; the catalog told its id.
void SlurmEngine::Submit(const RunPlan& plan)
{
    std::string list, error;
    for (const std::string& d : days) list += d + "\n";
    const std::string listPath = campaign + "/run/days.list";
    if (!platform::WriteFileAtomically(listPath, list, error)) Fail(listPath + ": cannot write: " + error);
    const platform::MadeDirs made = platform::MakeDirs(campaign + "/run/slurm");
    if (!made.ok) Fail(campaign + "/run/slurm: " + made.Reason());
    ArrayJob job;
    job.script = submission.arrayScript;
    job.list = listPath;
    job.logDir = campaign + "/run/slurm";
    job.command = {platform::SelfPath(), "task", campaign};
    job.linesPerTask = daysPerTask;
    job.tasks = (days.size() + static_cast<size_t>(daysPerTask) - 1) / static_cast<size_t>(daysPerTask);
    job.throttle = submission.throttle;
    // The task's time: its days at --timeout each, and two minutes for the
    // early SIGTERM's lead and Slurm's own start.
    job.minutes = static_cast<int>(std::ceil((submission.timeout * daysPerTask + 120.0) / 60.0));
    job.name = "trokcampaign";
    job.env = {{"PGSENTRY", submission.pgsentry}};
    if (!SubmitArray(job, jobId, error))
        Fail(error + (job.tasks > 1000 ? " (" + std::to_string(job.tasks) + " tasks: more --days-per-task make fewer)"
                                       : ""));
    if (submission.submitted) submission.submitted(jobId);
    const size_t n = plan.days.size();
    toolkit::Say("Slurm job " + jobId + ": " + std::to_string(job.tasks) + " task" + (job.tasks == 1 ? "" : "s") +
                 " for " + std::to_string(n) + " day" + (n == 1 ? "" : "s") +
                 (submission.noWait ? "; trokcampaign status " + toolkit::ShellQuote(submission.out) + " follows it"
                                    : ""));
}

// Why the days of a task that has left the queue have no result.
std::string SlurmEngine::WhyNoResult(long task)
{
    if (!asked) {
        std::string source;
        ended = EndedTasks(jobId, source);
        asked = true;
    }
    const std::string name = jobId + "_" + std::to_string(task);
    const auto e = ended.find(task);
    if (e != ended.end()) return "the Slurm task " + name + " ended " + e->second + " before the day's result";
    const bool logged = access((campaign + "/run/slurm/" + name + ".log").c_str(), F_OK) == 0;
    return logged ? "the Slurm task " + name + " ended before the day's result (see run/slurm/" + name + ".log)"
                  : "the Slurm task " + name + " ended without starting";
}

std::vector<DayEnd> SlurmEngine::Poll()
{
    std::map<long, std::string> tasks;
    std::string error;
    if (!QueuedTasks(jobId, tasks, error)) {
        if (ours && !cancelled) CancelJob(jobId);
        Fail(ours ? error + " (Slurm job " + jobId + " cancelled)" : error);
    }
    polled = true;
    queued = !tasks.empty();
    waiting.clear();
    std::vector<DayEnd> ends;
    for (size_t i = 0; i < days.size(); ++i) {
        const std::string& day = days[i];
        if (settled.count(day)) continue;
        const long task = static_cast<long>(i) / daysPerTask;
        const auto q = tasks.find(task);
        if (q != tasks.end() && q->second == "PENDING") {
            waiting.emplace_back(day, "queued");
            continue;
        }
        // The results are read after the queue.
        if (HasResult(campaign, runId, runToken, day)) {
            ends.push_back({day, "", false});
        } else if (q != tasks.end()) {
            waiting.emplace_back(day, "running");
            continue;
        } else {
            ends.push_back({day, WhyNoResult(task), false});
        }
        settled.insert(day);
    }
    return ends;
}

void SlurmEngine::Stop()
{
    if (cancelled) return;
    CancelJob(jobId);
    cancelled = true;
    cancelledAt = std::chrono::steady_clock::now();
}

// The job runs on: its run's row still says running, so status and the next
// run fold it in.
void SlurmEngine::Abandon() {}

bool SlurmEngine::Done() const
{
    if (submission.noWait && ours) return true;
    if (polled && !queued) return true;
    return cancelled && std::chrono::duration<double>(std::chrono::steady_clock::now() - cancelledAt).count() > 120.0;
}

std::string SlurmEngine::Status() const { return polled && !queued && !(submission.noWait && ours) ? "done" : "submitted"; }

} // namespace campaign
