#ifndef CAMPAIGN_ENGINE_H
#define CAMPAIGN_ENGINE_H

#include <string>
#include <vector>

#include "campaign_run_plan.h"

// Where the tasks of a run run: on this machine, or as a Slurm job array.
// The driver (campaign_driver.h) starts an engine once, polls it until
// nothing of the run is left, and stops it when a stop signal comes; what
// each day did, the driver reads from the day's result file.
namespace campaign {

// A day of the run that has ended, as the engine saw it.
struct DayEnd {
    std::string day;
    // Why the day is stopped when it has no result of this run (its task
    // ended before it): the reason its row then gets.
    std::string whyNoResult;
    // The engine's reason wins over a result that says the day was stopped
    // (the engine's own time limit ended the task).
    bool reasonOverStopped = false;
};

class Engine
{
public:
    virtual ~Engine() = default;
    // Starts the work of the plan's days. Throws Failure.
    virtual void Start(const RunPlan& plan) = 0;
    // The days that have ended since the last call, in the order they
    // ended; never blocks for long. Throws Failure.
    virtual std::vector<DayEnd> Poll() = 0;
    // Stops the run's tasks (called once, on a stop signal); the driver
    // goes on polling until Done.
    virtual void Stop() = 0;
    // Before the driver gives up on a failure: nothing of the run may go on
    // unwatched.
    virtual void Abandon() = 0;
    // Nothing of the run is left to wait for.
    virtual bool Done() const = 0;
    // How the run stands when the driver leaves it: "done", or "submitted"
    // for work left to run on, which status and the next run fold in.
    virtual std::string Status() const = 0;
    // How long the driver waits for news when a poll brought none (ms).
    virtual int PollMs() const = 0;
};

} // namespace campaign

#endif
