#ifndef PIPELINE_TIME_LIMIT_H
#define PIPELINE_TIME_LIMIT_H

namespace pipeline {

// A batch system's time limit as the job sees it: the instant from which a
// SIGTERM is that limit rather than a stop. GNU parallel's --timeout,
// Slurm's limit (its early signal before the end), scancel and a person's
// kill all send SIGTERM; only its time tells them apart. A SIGTERM from one
// second before the instant on is the limit: the scheduler's clock and ours
// are read at different moments.
class TimeLimit
{
public:
    // No limit: every SIGTERM is a stop.
    TimeLimit() = default;

    // `seconds` after `start` (seconds since 1970): --time-limit.
    static TimeLimit After(double start, double seconds);
    // The instant in TROK_TIME_LIMIT_AT (whole seconds since 1970), which
    // trokarray.sbatch sets from the task's end time; none when it is unset
    // or not a number.
    static TimeLimit FromEnvironment();
    // The earlier of two limits (a limit before none).
    TimeLimit Earlier(const TimeLimit& other) const;

    bool Set() const { return at > 0; }
    // The stop signal `sig`, come at `when` (seconds since 1970), is the
    // time limit.
    bool Reached(int sig, double when) const;

private:
    double at = 0;
};

// Seconds since 1970, now.
double Now();

} // namespace pipeline

#endif
