#ifndef CAMPAIGN_LOCAL_H
#define CAMPAIGN_LOCAL_H

#include <string>
#include <vector>

#include "campaign_engine.h"
#include "platform/atomic_file.h"
#include "platform/child_process.h"

namespace campaign {

// The local engine: the plan's days in tasks of --days-per-task days, each
// `pgsentry trokcampaign task CAMPAIGN DAY...` in a process group of its
// own, `jobs` at a time, with `timeout` seconds per day (SIGTERM to the
// task, then SIGKILL to its group). A task's output goes to run/tasks.log.
// Stop ends the tasks and starts no more; the days of a task that ended
// without their results are stopped, and why.
class LocalEngine : public Engine
{
public:
    LocalEngine(const std::string& pgsentry, int jobs, double timeout);
    void Start(const RunPlan& plan) override;
    std::vector<DayEnd> Poll() override;
    void Stop() override;
    void Abandon() override;
    bool Done() const override { return next == days.size() && running.empty(); }
    std::string Status() const override { return "done"; }
    int PollMs() const override { return 250; }

private:
    struct Task {
        platform::Child child;
        std::vector<std::string> days;
    };
    void StartTasks();
    std::vector<DayEnd> Ended(const Task& task) const;

    std::string pgsentry, self, campaign;
    int slots;
    double timeout;
    int daysPerTask = 1;
    std::vector<std::string> days;
    size_t next = 0;
    bool stopped = false;
    std::vector<Task> running;
    platform::AtomicFile taskLog;
};

} // namespace campaign

#endif
