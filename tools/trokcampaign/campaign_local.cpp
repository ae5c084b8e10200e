#include "campaign_local.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "campaign_failure.h"
#include "platform/program_lookup.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"

namespace campaign {

namespace {

// Between the SIGTERM to a task and the SIGKILL of what is left of it.
const double kTaskGraceSeconds = 10.0;

} // namespace

LocalEngine::LocalEngine(const std::string& pgsentryPath, int jobs, double dayTimeout)
    : pgsentry(pgsentryPath), self(platform::SelfPath()),
      slots(jobs > 0 ? jobs : static_cast<int>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)))), timeout(dayTimeout)
{
}

void LocalEngine::Start(const RunPlan& plan)
{
    campaign = plan.settings.campaign;
    daysPerTask = plan.settings.daysPerTask;
    for (const auto& d : plan.days) days.push_back(d.first);
    if (!taskLog.Open(campaign + "/run/tasks.log")) Fail(taskLog.Name() + ": " + taskLog.Error());
}

void LocalEngine::StartTasks()
{
    while (!stopped && next < days.size() && static_cast<int>(running.size()) < slots) {
        Task t;
        for (int k = 0; k < daysPerTask && next < days.size(); ++k) t.days.push_back(days[next++]);
        platform::ChildSpec launch;
        launch.argv = {pgsentry, self, "task", campaign};
        launch.argv.insert(launch.argv.end(), t.days.begin(), t.days.end());
        launch.out = launch.err = taskLog.Fd();
        launch.limit = timeout * static_cast<double>(t.days.size());
        launch.group = true;
        // A stopped task writes its days' results once what it runs has
        // ended: time for that on a busy machine before it is killed.
        launch.grace = kTaskGraceSeconds;
        // A driver killed outright takes its tasks with it (pgsentry passes
        // the SIGTERM on to the task and what it runs).
        launch.parentDeathSignal = SIGTERM;
        if (!t.child.Start(launch)) Fail(pgsentry + ": cannot start a task: " + std::strerror(t.child.End().error));
        running.push_back(t);
    }
}

// The days of a task that has ended: each with a result of this run, or
// stopped for the reason the task's end gives.
std::vector<DayEnd> LocalEngine::Ended(const Task& t) const
{
    const platform::ChildEnd& end = t.child.End();
    const std::string why =
        end.timedOut ? "time limit of " + toolkit::FixedText(timeout * static_cast<double>(t.days.size()), 0) +
                           " s reached"
        : stopped    ? "the campaign was stopped"
                     : "the task ended with status " + std::to_string(end.ShellStatus()) + " before the day's result";
    std::vector<DayEnd> ended;
    for (const std::string& d : t.days) ended.push_back({d, why, end.timedOut});
    return ended;
}

std::vector<DayEnd> LocalEngine::Poll()
{
    StartTasks();
    std::vector<DayEnd> ended;
    for (size_t i = 0; i < running.size();) {
        if (!running[i].child.Poll()) {
            ++i;
            continue;
        }
        const std::vector<DayEnd> of = Ended(running[i]);
        ended.insert(ended.end(), of.begin(), of.end());
        running.erase(running.begin() + static_cast<long>(i));
    }
    if (Done() && taskLog.IsOpen() && !taskLog.Commit()) toolkit::Warn(taskLog.Name() + ": " + taskLog.Error());
    return ended;
}

void LocalEngine::Stop()
{
    stopped = true;
    next = days.size();
    for (Task& t : running) t.child.Terminate();
}

// Every running task stopped and reaped, so that none runs on unwatched;
// their days count as stopped at the next run.
void LocalEngine::Abandon()
{
    for (Task& t : running) t.child.Terminate();
    for (Task& t : running) t.child.Wait();
    running.clear();
    next = days.size();
}

} // namespace campaign
