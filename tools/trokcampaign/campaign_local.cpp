#include "campaign_local.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "campaign_failure.h"
#include "platform/atomic_file.h"
#include "platform/child_process.h"
#include "platform/program_lookup.h"
#include "platform/stop_signals.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"

namespace campaign {

namespace {

// A task: `pgsentry trokcampaign task CAMPAIGN DAY...`, a process group of
// its own, under its days' time limit (SIGTERM, then SIGKILL to the group).
struct Task {
    platform::Child child;
    std::vector<std::string> days;
};

// Before the driver gives up (a task that cannot start, a catalog that
// cannot be written): every running task is stopped and reaped, so that no
// task runs on unwatched; their days count as stopped at the next run.
void StopAll(std::vector<Task>& running)
{
    for (Task& t : running) t.child.Terminate();
    for (Task& t : running) t.child.Wait();
    running.clear();
}

// The days of a task that has ended (under the time limit `limit`): each
// its result of this run, or stopped when the task ended before it.
void Collect(const Task& t, double limit, const std::map<std::string, std::string>& packets,
             std::map<std::string, DayRow>& days, RunState& st, Progress& progress)
{
    const bool timedOut = t.child.End().timedOut;
    const int exitStatus = t.child.End().ShellStatus();
    for (const std::string& d : t.days) {
        DayRow& row = days[d];
        DayRow fresh;
        if (!TakeResult(st, d, fresh) || (timedOut && fresh.Get(C_outcome) == "stopped")) {
            // No result of this run: the task was stopped before it.
            MarkStopped(st, row, d, packets.at(d),
                        timedOut ? "time limit of " + toolkit::FixedText(limit, 0) + " s reached" :
                        platform::StopSignals::Noted() ? "the campaign was stopped" :
                        "the task ended with status " + std::to_string(exitStatus) + " before the day's result");
            st.nodesOf.erase(d);
        } else {
            row = fresh;
        }
        st.finished.push_back(&row);
        progress.Day(row);
    }
}

} // namespace

void RunLocal(const RunOptions& o, const std::string& pgsentry, const Plan& plan, Catalog& catalog,
              std::map<std::string, DayRow>& days, RunState& st)
{
    const std::map<std::string, std::string> packets(plan.days.begin(), plan.days.end());
    Progress progress(plan.days.size());
    const std::string self = platform::SelfPath();
    const int slots = o.jobs > 0 ? o.jobs : std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    platform::AtomicFile taskLog;
    if (!taskLog.Open(st.campaignDir + "/run/tasks.log")) Fail(taskLog.Name() + ": " + taskLog.Error());
    std::vector<Task> running;
    size_t next = 0;
    try {
        while (next < plan.days.size() || !running.empty()) {
            while (!platform::StopSignals::Noted() && next < plan.days.size() && static_cast<int>(running.size()) < slots) {
                Task t;
                for (int k = 0; k < o.daysPerTask && next < plan.days.size(); ++k) t.days.push_back(plan.days[next++].first);
                platform::ChildSpec spec;
                spec.argv = {pgsentry, self, "task", st.campaignDir};
                spec.argv.insert(spec.argv.end(), t.days.begin(), t.days.end());
                spec.out = spec.err = taskLog.Fd();
                spec.limit = o.timeout * static_cast<double>(t.days.size());
                spec.group = true;
                if (!t.child.Start(spec))
                    Fail(pgsentry + ": cannot start a task: " + std::strerror(t.child.End().error));
                running.push_back(t);
            }
            if (platform::StopSignals::Noted())
                for (Task& t : running) t.child.Terminate();

            // Reap whatever ended; the time limits.
            bool reaped = false;
            for (size_t i = 0; i < running.size();) {
                if (!running[i].child.Poll()) {
                    ++i;
                    continue;
                }
                const Task t = running[i];
                running.erase(running.begin() + static_cast<long>(i));
                Collect(t, o.timeout * static_cast<double>(t.days.size()), packets, days, st, progress);
                reaped = true;
            }
            StoreFinished(catalog, st, false);
            if (platform::StopSignals::Noted() && next < plan.days.size()) next = plan.days.size();
            if (!reaped && !running.empty()) {
                progress.Line(false);
                platform::StopSignals::Doze(250);
            }
        }
    } catch (const Failure&) {
        StopAll(running);
        throw;
    }
    progress.Line(true);
    if (!taskLog.Commit()) toolkit::Warn(taskLog.Name() + ": " + taskLog.Error());
}

} // namespace campaign
