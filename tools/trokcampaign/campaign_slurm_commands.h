#ifndef CAMPAIGN_SLURM_COMMANDS_H
#define CAMPAIGN_SLURM_COMMANDS_H

#include <map>
#include <string>
#include <utility>
#include <vector>

// What the campaign asks of Slurm, through its own commands (sbatch,
// squeue, sacct, scontrol, scancel), found on PATH.
namespace campaign {

// The array job script: $TROKARRAY when set, else jobs/trokarray.sbatch of
// the source tree beside a build folder, else share/trokproc/trokarray.sbatch
// of an installation; "" when none is found.
std::string LocateArrayScript();

struct ArrayJob {
    std::string script;                 // trokarray.sbatch
    std::string list;                   // one line per unit of work
    std::string logDir;                 // the tasks' own logs, JOB_TASK.log
    std::vector<std::string> command;   // run by each task with its lines after it
    size_t tasks = 0;
    int linesPerTask = 1;
    int throttle = 0;                   // tasks at a time; 0: as the cluster allows
    int minutes = 15;                   // time limit of a task
    std::string name;                   // the job's name
    std::vector<std::pair<std::string, std::string>> env;   // added to the job's environment
};

// Submits the job; its id, or false with sbatch's message.
bool SubmitArray(const ArrayJob& job, std::string& jobId, std::string& error);

// The tasks of a job that are still in the queue (pending, running,
// completing), by index, with their state. False with Slurm's message when
// the queue cannot be read; a job the controller no longer knows has no
// tasks in the queue.
bool QueuedTasks(const std::string& jobId, std::map<long, std::string>& tasks, std::string& error);

// How the tasks of a job ended, by index, as "STATE EXITCODE" (for example
// "CANCELLED 0:15"): from the accounting storage when the cluster keeps
// one, else from the controller while it still remembers the job (for
// MinJobAge after its end). `source` names where the answer came from:
// "sacct", "scontrol", or "" when neither knows the job.
std::map<long, std::string> EndedTasks(const std::string& jobId, std::string& source);

// scancel of the whole job.
void CancelJob(const std::string& jobId);

} // namespace campaign

#endif
