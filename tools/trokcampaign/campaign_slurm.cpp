#include "campaign_slurm.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "campaign_failure.h"
#include "campaign_fields.h"
#include "campaign_report.h"
#include "platform/atomic_stream.h"
#include "platform/child_process.h"
#include "platform/file_reading.h"
#include "platform/make_dirs.h"
#include "platform/path_names.h"
#include "platform/program_lookup.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/shell_quote.h"

namespace campaign {

namespace {

// Runs a Slurm command (from PATH: they are the cluster's, not ours), `env`
// set in its environment; its standard output and error, and whether it
// ended with status 0. One that is not there says so, with `missing` set.
bool Ask(const std::vector<std::string>& argv, std::string& out,
         const std::vector<std::pair<std::string, std::string>>& env = {}, bool* missing = nullptr)
{
    platform::ChildSpec spec;
    spec.argv = argv;
    spec.argv[0] = platform::FindOnPath(argv[0]);
    spec.env = env;
    if (missing) *missing = spec.argv[0].empty();
    if (spec.argv[0].empty()) {
        out = argv[0] + ": not found on PATH (is Slurm installed here?)";
        return false;
    }
    const platform::ChildEnd r = platform::RunChild(spec, &out, true);
    if (!r.started) out = argv[0] + ": cannot start: " + std::strerror(r.error);
    return r.status == 0;
}

bool Whole(const std::string& s, long& v)
{
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    v = std::atol(s.c_str());
    return true;
}

} // namespace

std::string LocateArrayScript()
{
    const std::string found = platform::FindOwnProgram("trokarray.sbatch", "TROKARRAY");
    if (!found.empty()) return found;
    const std::string here = platform::DirName(platform::SelfPath());
    for (const std::string& candidate :
         {here + "/../jobs/trokarray.sbatch", here + "/../share/trokproc/trokarray.sbatch"})
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    return "";
}

bool SubmitArray(const ArrayJob& job, std::string& jobId, std::string& error)
{
    std::string range = "0-" + std::to_string(job.tasks - 1);
    if (job.throttle > 0) range += "%" + std::to_string(job.throttle);
    std::vector<std::string> argv = {"sbatch", "--parsable", "--array=" + range,
                                     "--job-name=" + job.name, "--time=" + std::to_string(job.minutes),
                                     "--output=/dev/null", job.script, "--command", job.list, job.logDir, "--"};
    argv.insert(argv.end(), job.command.begin(), job.command.end());
    std::vector<std::pair<std::string, std::string>> env = job.env;
    env.emplace_back("TROK_LINES_PER_TASK", std::to_string(job.linesPerTask));
    std::string out;
    bool missing = false;
    const bool ok = Ask(argv, out, env, &missing);
    // --parsable prints "JOBID" or "JOBID;CLUSTER" as its last line.
    std::string last;
    for (const std::string& line : Lines(out))
        if (!FirstLine(line).empty()) last = FirstLine(line);
    long id = 0;
    const std::string digits = last.substr(0, last.find(';'));
    if (ok && Whole(digits, id)) {
        jobId = digits;
        return true;
    }
    error = missing ? out : "sbatch failed: " + (last.empty() ? "no message" : last);
    return false;
}

bool QueuedTasks(const std::string& jobId, std::map<long, std::string>& tasks, std::string& error)
{
    tasks.clear();
    std::string out;
    // -r: one line for each pending task of an array instead of a range.
    if (!Ask({"squeue", "-h", "-r", "-j", jobId, "-o", "%K %T"}, out)) {
        if (out.find("Invalid job id") != std::string::npos) return true;   // long gone
        error = "squeue: " + (FirstLine(out).empty() ? "failed" : FirstLine(out));
        return false;
    }
    for (const std::string& line : Lines(out)) {
        const size_t space = line.find(' ');
        long task = 0;
        if (space != std::string::npos && Whole(line.substr(0, space), task)) tasks[task] = line.substr(space + 1);
    }
    return true;
}

std::map<long, std::string> EndedTasks(const std::string& jobId, std::string& source)
{
    std::map<long, std::string> ended;
    std::string out;
    // With accounting storage: one row per task, "JOB_TASK|STATE|EXIT".
    if (Ask({"sacct", "-j", jobId, "-X", "-n", "-P", "-o", "JobID,State,ExitCode"}, out)) {
        for (const std::string& line : Lines(out)) {
            const size_t bar1 = line.find('|'), bar2 = line.rfind('|');
            if (bar1 == std::string::npos || bar2 == bar1 || line.compare(0, jobId.size() + 1, jobId + "_") != 0)
                continue;
            long task = 0;
            if (!Whole(line.substr(jobId.size() + 1, bar1 - jobId.size() - 1), task)) continue;
            // "CANCELLED by 0" says who; the state is the first word.
            std::string state = line.substr(bar1 + 1, bar2 - bar1 - 1);
            state = state.substr(0, state.find(' '));
            ended[task] = state + " " + line.substr(bar2 + 1);
        }
        if (!ended.empty()) {
            source = "sacct";
            return ended;
        }
    }
    // Without: the controller's record of each task, while it keeps it.
    if (Ask({"scontrol", "-o", "show", "job", jobId}, out)) {
        for (const std::string& line : Lines(out)) {
            std::map<std::string, std::string> field = KeyValues(line, ' ');
            long task = 0;
            if (field["ArrayJobId"] != jobId || !Whole(field["ArrayTaskId"], task)) continue;
            const std::string state = field["JobState"];
            if (state == "PENDING" || state == "RUNNING" || state == "COMPLETING" || state == "CONFIGURING") continue;
            ended[task] = state + " " + field["ExitCode"];
        }
        if (!ended.empty()) source = "scontrol";
    }
    return ended;
}

void CancelJob(const std::string& jobId)
{
    std::string out;
    Ask({"scancel", jobId}, out);
}

namespace {

// A Slurm run as its plan describes it: the days in the order of the job's
// list, days_per_task of them to a task.
struct SlurmRun {
    std::string jobId;
    int daysPerTask = 1;
    std::vector<std::pair<std::string, std::string>> days;   // day, packet file
};

std::string TaskName(const SlurmRun& run, long task) { return run.jobId + "_" + std::to_string(task); }

// Folds in what a Slurm job has finished: each day with a result of the run,
// and each day whose task has left the queue without one, as stopped with
// the scheduler's account of the task. `settled` holds the days already
// folded in. The days still queued or running go to `waiting` (day, state).
void CollectSlurm(RunState& st, const SlurmRun& run, const std::map<long, std::string>& queued,
                  std::map<std::string, DayRow>& days, std::set<std::string>& settled, Progress* progress,
                  std::vector<std::pair<std::string, std::string>>* waiting)
{
    std::map<long, std::string> ended;
    bool asked = false;
    std::string source;
    for (size_t i = 0; i < run.days.size(); ++i) {
        const std::string& day = run.days[i].first;
        if (settled.count(day)) continue;
        const long task = static_cast<long>(i) / run.daysPerTask;
        auto q = queued.find(task);
        if (q != queued.end() && q->second == "PENDING") {
            if (waiting) waiting->emplace_back(day, "queued");
            continue;
        }
        DayRow& row = days[day];
        if (!TakeResult(st, day, row)) {
            if (q != queued.end()) {
                if (waiting) waiting->emplace_back(day, "running");
                continue;
            }
            // The task has left the queue without this day's result.
            if (!asked) {
                ended = EndedTasks(run.jobId, source);
                asked = true;
            }
            const std::string name = TaskName(run, task);
            auto e = ended.find(task);
            std::string reason;
            if (e != ended.end()) {
                reason = "the Slurm task " + name + " ended " + e->second + " before the day's result";
            } else {
                const bool logged = access((st.campaignDir + "/run/slurm/" + name + ".log").c_str(), F_OK) == 0;
                reason = logged ? "the Slurm task " + name + " ended before the day's result (see run/slurm/" +
                                      name + ".log)"
                                : "the Slurm task " + name + " ended without starting";
            }
            MarkStopped(st, row, day, run.days[i].second, reason);
        }
        settled.insert(day);
        st.finished.push_back(&row);
        if (progress) progress->Day(row);
    }
}

bool ReadSlurmRun(const std::string& campaignDir, const Catalog::Run& last, SlurmRun& run, std::string& error)
{
    std::string text;
    Plan plan;
    if (!platform::ReadWholeFile(PlanPath(campaignDir), text, error) || !ParsePlan(text, plan)) {
        error = PlanPath(campaignDir) + ": cannot read the plan of Slurm job " + last.jobId +
                (error.empty() ? "" : ": " + error);
        return false;
    }
    if (plan.settings["run_id"] != std::to_string(last.id)) {
        error = PlanPath(campaignDir) + ": not the plan of run " + std::to_string(last.id) + " (Slurm job " +
                last.jobId + ")";
        return false;
    }
    run.jobId = last.jobId;
    run.daysPerTask = std::max(1, std::atoi(plan.settings["days_per_task"].c_str()));
    run.days = plan.days;
    return true;
}

// Submits the job of the plan's days; the job as the engine follows it.
SlurmRun Submit(const RunOptions& o, const std::string& arrayScript, const std::string& pgsentry, const Plan& plan,
                Catalog& catalog, RunState& st)
{
    std::string list, error;
    for (const auto& d : plan.days) list += d.first + "\n";
    const std::string listPath = st.campaignDir + "/run/days.list";
    if (!platform::WriteFileAtomically(listPath, list, error)) Fail(listPath + ": cannot write: " + error);
    const platform::MadeDirs made = platform::MakeDirs(st.campaignDir + "/run/slurm");
    if (!made.ok) Fail(st.campaignDir + "/run/slurm: " + made.Reason());
    ArrayJob job;
    job.script = arrayScript;
    job.list = listPath;
    job.logDir = st.campaignDir + "/run/slurm";
    job.command = {platform::SelfPath(), "task", st.campaignDir};
    job.linesPerTask = o.daysPerTask;
    job.tasks = (plan.days.size() + static_cast<size_t>(o.daysPerTask) - 1) / static_cast<size_t>(o.daysPerTask);
    job.throttle = o.jobs;
    // The task's time: its days at --timeout each, and two minutes
    // for the early SIGTERM's lead and Slurm's own start.
    job.minutes = static_cast<int>(std::ceil((o.timeout * o.daysPerTask + 120.0) / 60.0));
    job.name = "trokcampaign";
    job.env = {{"PGSENTRY", pgsentry}};
    SlurmRun run;
    run.daysPerTask = o.daysPerTask;
    run.days = plan.days;
    if (!SubmitArray(job, run.jobId, error))
        Fail(error + (job.tasks > 1000 ? " (" + std::to_string(job.tasks) +
                                             " tasks: more --days-per-task make fewer)" : ""));
    if (!catalog.SetRunJob(st.runId, run.jobId, error)) Fail(st.campaignDir + "/catalog.sqlite: " + error);
    const size_t n = plan.days.size();
    toolkit::Say("Slurm job " + run.jobId + ": " + std::to_string(job.tasks) + " task" + (job.tasks == 1 ? "" : "s") +
                 " for " + std::to_string(n) + " day" + (n == 1 ? "" : "s") +
                 (o.noWait ? "; trokcampaign status " + toolkit::ShellQuote(o.out) + " follows it" : ""));
    return run;
}

// Follows the job in the queue, folding in its days as they finish, until
// none of its tasks is left: "done". A stop signal cancels the job; when it
// has still not left the queue two minutes later: "submitted".
std::string Follow(const SlurmRun& run, Catalog& catalog, std::map<std::string, DayRow>& days, RunState& st)
{
    Progress progress(run.days.size());
    std::string status = "done", error;
    std::set<std::string> settled;
    bool cancelled = false;
    auto stopAsked = std::chrono::steady_clock::now();
    for (;;) {
        std::map<long, std::string> queued;
        if (!QueuedTasks(run.jobId, queued, error)) {
            if (!cancelled) CancelJob(run.jobId);
            Fail(error + " (Slurm job " + run.jobId + " cancelled)");
        }
        if (platform::StopSignals::Noted() && !cancelled) {
            CancelJob(run.jobId);
            cancelled = true;
            stopAsked = std::chrono::steady_clock::now();
        }
        // The job's tasks that left the queue meanwhile are folded in after
        // another look at the queue, so that a task's last result is not
        // taken for missing.
        CollectSlurm(st, run, queued, days, settled, &progress, nullptr);
        StoreFinished(catalog, st, false);
        if (queued.empty()) break;
        if (cancelled &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - stopAsked).count() > 120.0) {
            status = "submitted";   // left for status to fold in
            break;
        }
        progress.Line(false);
        platform::StopSignals::Doze(2000);
    }
    progress.Line(true);
    return status;
}

} // namespace

std::string RunSlurm(const RunOptions& o, const std::string& arrayScript, const std::string& pgsentry,
                     const Plan& plan, Catalog& catalog, std::map<std::string, DayRow>& days, RunState& st)
{
    const SlurmRun run = Submit(o, arrayScript, pgsentry, plan, catalog, st);
    // With --no-wait the job runs on; status and the next run fold it in.
    return o.noWait ? "submitted" : Follow(run, catalog, days, st);
}

bool ReconcileSlurm(Catalog& catalog, const std::string& campaignDir, std::map<std::string, DayRow>& days,
                    bool write, SlurmView& view, std::string& error)
{
    view = SlurmView();
    Catalog::Run last;
    // A job left by run --no-wait, or by a run that waited for it and was
    // killed (its row still says running: only one run holds the campaign).
    if (!catalog.LastRun(last) || last.engine != "slurm" || last.jobId.empty() ||
        (last.status != "submitted" && last.status != "running"))
        return true;
    SlurmRun run;
    if (!ReadSlurmRun(campaignDir, last, run, error)) return false;
    std::map<long, std::string> queued;
    if (!QueuedTasks(run.jobId, queued, error)) return false;
    RunState st;
    st.campaignDir = campaignDir;
    st.runId = last.id;
    std::set<std::string> settled;
    std::vector<std::pair<std::string, std::string>> waiting;
    // Without the right to write, the rows are read into a copy.
    std::map<std::string, DayRow> copy;
    std::map<std::string, DayRow>& rows = write ? days : copy;
    if (!write) copy = days;
    CollectSlurm(st, run, queued, rows, settled, nullptr, &waiting);
    view.jobId = run.jobId;
    view.active = !queued.empty();
    view.waiting = waiting;
    view.finished = st.finished.size();
    if (!write) return true;
    try {
        if (view.active) {
            StoreFinished(catalog, st, true);
            std::string e;
            catalog.StoreDays({}, st.nodesOf, e);
        } else {
            CompleteRun(catalog, days, st, {}, ReportSettings(catalog));
            if (!catalog.SetRunStatus(last.id, "done", static_cast<long long>(run.days.size()), error)) return false;
        }
    } catch (const Failure& f) {
        error = f.message;
        return false;
    }
    return true;
}

} // namespace campaign
