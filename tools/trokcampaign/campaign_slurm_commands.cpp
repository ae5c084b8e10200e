#include "campaign_slurm_commands.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "campaign_fields.h"
#include "platform/child_process.h"
#include "platform/path_names.h"
#include "platform/program_lookup.h"

namespace campaign {

namespace {

// Runs a Slurm command (from PATH: they are the cluster's, not ours), `env`
// set in its environment; its standard output and error, and whether it
// ended with status 0. One that is not there says so, with `missing` set.
bool Ask(const std::vector<std::string>& argv, std::string& out,
         const std::vector<std::pair<std::string, std::string>>& env = {}, bool* missing = nullptr)
{
    platform::ChildSpec launch;
    launch.argv = argv;
    launch.argv[0] = platform::FindOnPath(argv[0]);
    launch.env = env;
    if (missing) *missing = launch.argv[0].empty();
    if (launch.argv[0].empty()) {
        out = argv[0] + ": not found on PATH (is Slurm installed here?)";
        return false;
    }
    const platform::ChildEnd r = platform::RunChild(launch, &out, true);
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

} // namespace campaign
