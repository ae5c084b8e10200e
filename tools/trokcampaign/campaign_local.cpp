#include "campaign_local.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "campaign_util.h"
#include "toolkit/cli/cli.h"
#include "toolkit/cli/text.h"
#include "vn_class_outputfile.h"

extern char** environ;

namespace campaign {

namespace {

struct Task {
    pid_t pid = -1;
    std::vector<std::string> days;
    std::chrono::steady_clock::time_point started, termSent;
    double limit = 0;
    bool timedOut = false, termed = false;
};

// Starts `argv` with standard input from /dev/null and standard output and
// error to `logFd`, with the stop signals at their defaults; 0, or the
// error number. posix_spawn: no copy of the driver's memory for each task.
int Spawn(const std::vector<std::string>& argv, int logFd, pid_t& pid)
{
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&files, logFd, 1);
    posix_spawn_file_actions_adddup2(&files, logFd, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    const int spawned = posix_spawn(&pid, args[0], &files, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    return spawned;
}

// Sends SIGTERM to a task (pgsentry passes it to its whole group).
void Terminate(Task& t)
{
    if (t.termed) return;
    kill(t.pid, SIGTERM);
    t.termed = true;
    t.termSent = std::chrono::steady_clock::now();
}

// pgsentry leaves as soon as it has passed SIGTERM on: its group gets a
// moment to clean up, then what is left of it is killed.
void EndGroup(pid_t group)
{
    bool left = kill(-group, 0) == 0;
    for (int k = 0; k < 100 && left; ++k) {
        usleep(20000);
        left = kill(-group, 0) == 0;
    }
    if (left) kill(-group, SIGKILL);
}

// Before the driver gives up (a task that cannot start, a catalog that
// cannot be written): every running task is stopped and reaped, so that no
// task runs on unwatched; their days count as stopped at the next run.
void StopAll(std::vector<Task>& running)
{
    for (Task& t : running) Terminate(t);
    for (Task& t : running) {
        int ws = 0;
        while (waitpid(t.pid, &ws, 0) < 0 && errno == EINTR) {
        }
        EndGroup(t.pid);
    }
    running.clear();
}

// Time limits: SIGTERM, then SIGKILL to the group 2 s later.
void EnforceLimits(std::vector<Task>& running)
{
    const auto now = std::chrono::steady_clock::now();
    for (Task& t : running) {
        if (!t.termed && std::chrono::duration<double>(now - t.started).count() > t.limit) {
            t.timedOut = true;
            Terminate(t);
        } else if (t.termed && std::chrono::duration<double>(now - t.termSent).count() > 2.0) {
            kill(-t.pid, SIGKILL);
            kill(t.pid, SIGKILL);
        }
    }
}

// The days of a task that ended with `exitStatus`: each its result of this
// run, or stopped when the task ended before it.
void Collect(const Task& t, int exitStatus, const std::map<std::string, std::string>& packets,
             std::map<std::string, DayRow>& days, RunState& st, Progress& progress)
{
    for (const std::string& d : t.days) {
        DayRow& row = days[d];
        DayRow fresh;
        if (!TakeResult(st, d, fresh) || (t.timedOut && fresh.Get(C_outcome) == "stopped")) {
            // No result of this run: the task was stopped before it.
            MarkStopped(st, row, d, packets.at(d),
                        t.timedOut ? "time limit of " + toolkit::FixedText(t.limit, 0) + " s reached" :
                        StopRequest() ? "the campaign was stopped" :
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
    const std::string self = SelfPath();
    const int slots = o.jobs > 0 ? o.jobs : std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
    outputfile taskLog;
    if (!taskLog.Open(st.campaignDir + "/run/tasks.log")) Fail(taskLog.Name() + ": " + taskLog.Error());
    KeepStopSignals();
    std::vector<Task> running;
    size_t next = 0;
    try {
        while (next < plan.days.size() || !running.empty()) {
            while (!StopRequest() && next < plan.days.size() && static_cast<int>(running.size()) < slots) {
                Task t;
                for (int k = 0; k < o.daysPerTask && next < plan.days.size(); ++k) t.days.push_back(plan.days[next++].first);
                std::vector<std::string> argv = {pgsentry, self, "task", st.campaignDir};
                argv.insert(argv.end(), t.days.begin(), t.days.end());
                const int spawned = Spawn(argv, taskLog.Fd(), t.pid);
                if (spawned != 0) Fail(pgsentry + ": cannot start a task: " + std::strerror(spawned));
                t.started = std::chrono::steady_clock::now();
                t.limit = o.timeout * static_cast<double>(t.days.size());
                running.push_back(t);
            }
            if (StopRequest())
                for (Task& t : running) Terminate(t);

            // Reap whatever ended.
            bool reaped = false;
            for (size_t i = 0; i < running.size();) {
                int ws = 0;
                if (waitpid(running[i].pid, &ws, WNOHANG) != running[i].pid) {
                    ++i;
                    continue;
                }
                const Task t = running[i];
                running.erase(running.begin() + static_cast<long>(i));
                if (t.termed) EndGroup(t.pid);
                Collect(t, WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws), packets, days, st, progress);
                reaped = true;
            }
            EnforceLimits(running);
            StoreFinished(catalog, st, false);
            if (StopRequest() && next < plan.days.size()) next = plan.days.size();
            if (!reaped && !running.empty()) {
                progress.Line(false);
                Doze(250);
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
